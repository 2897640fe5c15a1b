# The installed tree: each command's manual page against the command, and an
# install into a temporary prefix that two programs from outside the tree
# build against and run on the demo machine.
find_program(VZ_MANDOC mandoc)
if(NOT VZ_MANDOC)
  message(FATAL_ERROR "mandoc is missing (scripts/install-deps installs it)")
endif()
get_property(commands GLOBAL PROPERTY VZ_INSTALLED_COMMANDS)
foreach(command IN LISTS commands)
  get_property(page GLOBAL PROPERTY VZ_MANPAGE_${command})
  add_test(NAME manpage_${command}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-manpage.sh ${VZ_MANDOC}
                   $<TARGET_FILE:${command}> ${page})
endforeach()

# The consumers share the sanitizers the libraries were built with.
set(consumer_flags "")
if(VZ_SANITIZE)
  set(consumer_flags "-fsanitize=address,undefined")
endif()
set(shared OFF)
if(BUILD_SHARED_LIBS)
  set(shared ON)
endif()
add_test(NAME install_consumers
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/consumer-test.sh ${PROJECT_BINARY_DIR}
                 ${PROJECT_SOURCE_DIR} ${shared}
                 ${CMAKE_CXX_COMPILER} "${consumer_flags}")
set_tests_properties(install_consumers PROPERTIES TIMEOUT 300)

# The boot unit and the tmpfiles.d entry (cmake/machine/).
add_test(NAME machine_files
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-machine-files.sh ${PROJECT_BINARY_DIR}/machine
                 ${VZ_MACHINE_ROOT_DIR} ${VZ_MACHINE_RUN_DIR})
