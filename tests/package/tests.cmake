# The Debian packages and the bash completion: completion_bash drives each
# built command's completion; package_debian builds the packages from this
# source tree into deb/ (a second, Release build of the whole project),
# checks them with lintian and against the README, and runs the commands and
# completion they hold. It is the longest test, and half of it uses one
# processor (debhelper, dpkg-deb, lintian): it starts first, beside the
# others.
foreach(program dpkg-buildpackage lintian)
  find_program(VZ_${program} ${program})
  if(NOT VZ_${program})
    message(FATAL_ERROR "${program} is missing (scripts/install-deps installs it)")
  endif()
endforeach()

get_property(commands GLOBAL PROPERTY VZ_INSTALLED_COMMANDS)
set(command_files)
foreach(command IN LISTS commands)
  list(APPEND command_files $<TARGET_FILE:${command}>)
endforeach()
add_test(NAME completion_bash
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/completion-test.sh ${PROJECT_SOURCE_DIR}/completions
                 ${PROJECT_SOURCE_DIR}/examples/root ${command_files})

add_test(NAME package_debian
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package-test.sh ${PROJECT_SOURCE_DIR}
                 ${PROJECT_BINARY_DIR}/deb)
set_tests_properties(package_debian PROPERTIES TIMEOUT 1200 COST 10000)
