# VaviVAZInstall.cmake: what `cmake --install` puts where, and the two
# packages (CMake and pkg-config) through which other programs link the
# libraries. Each folder declares its own install, after its targets:
#
#   vz_install_library(vz_scf)                          the library and the
#                                                       headers of its include/
#   vz_install_command(vz-scutil MANPAGE vz-scutil.1)   the command and its page
#
# and the top level calls vz_install_packages() once, after every folder, in
# an order where a library comes after the libraries it links.
#
# Under PREFIX:
#   bin/                    the commands
#   lib/                    libvavivaz-<name>.a, or libvavivaz-<name>.so.<ABI>
#                           with BUILD_SHARED_LIBS
#   lib/cmake/vavivaz/      find_package(vavivaz): one target vavivaz::<name>
#                           per library (vz_scf is vavivaz::scf)
#   lib/pkgconfig/          vavivaz.pc, every library at once
#   include/vavivaz/        every public header. The platform's framework
#                           folders (CoreFoundation/, ...) have the names of
#                           other software's headers, so they never go
#                           straight into include/; both packages put
#                           include/vavivaz on the include path, so the
#                           sources include them as in the build tree.
#   share/man/man1/         a page per command
#   share/bash-completion/completions/
#                           a bash completion per command, named as it
#   lib/systemd/system/     vavivaz-apply.service, which publishes the
#                           committed configuration at boot
#   lib/tmpfiles.d/         vavivaz.conf: the machine root's dynamic store on
#                           /run, linked from the root
#   lib/udev/               vavivaz-port-name and rules.d/70-vavivaz-ports.rules,
#                           which give the maker's modem ports the registry's
#                           names as links in /dev
#
# and, when installing for the prefix the build was configured with (a
# package's staging folder, DESTDIR, included), that link in the machine's
# root itself; the commands of another prefix would not use that root.
#
# Test hooks (testing/), internal headers and the platform tools' header are
# outside the include/ folders of the libraries, so nothing here installs
# them. The build tree is left as it was: targets, include paths and output
# folders are those the folders declare.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VZ_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/vavivaz)

# The machine's own root: where the installed commands keep their files when
# VAVIVAZ_ROOT names no other root (compiled into the platform). Empty means
# the default, LOCALSTATEDIR/lib/vavivaz (/var/lib/vavivaz for a /usr
# install), which follows the prefix. Never the top of the file system.
set(VZ_MACHINE_ROOT "" CACHE PATH
    "The machine's own root folder (default: LOCALSTATEDIR/lib/vavivaz)")
set(VZ_MACHINE_ROOT_DIR "${VZ_MACHINE_ROOT}")
if(VZ_MACHINE_ROOT_DIR STREQUAL "")
  set(VZ_MACHINE_ROOT_DIR "${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/vavivaz")
endif()
string(REGEX REPLACE "/+$" "" VZ_MACHINE_ROOT_DIR "${VZ_MACHINE_ROOT_DIR}")
if(NOT IS_ABSOLUTE "${VZ_MACHINE_ROOT_DIR}" OR VZ_MACHINE_ROOT_DIR STREQUAL "")
  message(FATAL_ERROR "VZ_MACHINE_ROOT must be an absolute folder other than /, "
                      "not '${VZ_MACHINE_ROOT}'")
endif()
# The machine root's dynamic store is runtime state, kept in this folder on
# /run so that every boot starts it empty.
set(VZ_MACHINE_RUN_DIR "/run/vavivaz" CACHE PATH
    "The folder on /run that holds the machine root's dynamic store")
set(VZ_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vavivaz)
# The ABI version in the shared libraries' SONAME (libvavivaz-scf.so.0):
# raised with every change that breaks programs linked against an earlier
# build.
set(VZ_SOVERSION 0)

# Installed shared libraries find each other, and the commands find them,
# relative to where they are, so that a prefix can be moved.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VZ_COMMAND_RPATH "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH VZ_COMMAND_RPATH /prefix/${CMAKE_INSTALL_BINDIR}
       /prefix/${CMAKE_INSTALL_LIBDIR})
  set(VZ_COMMAND_RPATH "$ORIGIN/${VZ_COMMAND_RPATH}")
endif()

# vz_install_library(TARGET): installs the library vz_NAME as
# libvavivaz-NAME, exported as vavivaz::NAME, and the headers of the include/
# folder beside its CMakeLists.txt under include/vavivaz.
function(vz_install_library target)
  string(REGEX REPLACE "^vz_" "" name ${target})
  get_target_property(folder ${target} SOURCE_DIR)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name} OUTPUT_NAME vavivaz-${name})
  if(BUILD_SHARED_LIBS)
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION}
                          SOVERSION ${VZ_SOVERSION} INSTALL_RPATH "$ORIGIN")
    # Every symbol a shared library uses comes from a library it links: one
    # left for the program to supply would not load in a program that links
    # only what the packages name.
    target_link_options(${target} PRIVATE LINKER:-z,defs)
  endif()
  # The folder's include paths name the source tree, which an installed
  # package cannot; there they become include/vavivaz.
  get_property(includes TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES)
  set(exported)
  foreach(dir IN LISTS includes)
    if(IS_ABSOLUTE "${dir}")
      list(APPEND exported "$<BUILD_INTERFACE:${dir}>")
    else()
      list(APPEND exported "${dir}")
    endif()
  endforeach()
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${exported}")

  install(TARGETS ${target} EXPORT vavivazTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          INCLUDES DESTINATION ${VZ_INSTALL_INCLUDEDIR})
  install(DIRECTORY ${folder}/include/ DESTINATION ${VZ_INSTALL_INCLUDEDIR}
          FILES_MATCHING PATTERN "*.h")
  set_property(GLOBAL APPEND PROPERTY VZ_INSTALLED_LIBRARIES ${name})
endfunction()

# vz_install_command(TARGET MANPAGE PAGE): installs the command and its
# manual page (PAGE, relative to the calling folder; its extension is its
# section). The tests check every page registered here against its command.
function(vz_install_command target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "MANPAGE" "")
  if(NOT arg_MANPAGE)
    message(FATAL_ERROR "vz_install_command(${target}): a command needs its MANPAGE")
  endif()
  get_filename_component(page ${arg_MANPAGE} ABSOLUTE)
  string(REGEX MATCH "[0-9]$" section ${page})
  if(BUILD_SHARED_LIBS)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${VZ_COMMAND_RPATH}")
  endif()
  # Every command reports the package's version, from the one place it is set.
  target_compile_definitions(${target} PRIVATE VAVIVAZ_VERSION="${PROJECT_VERSION}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  set_property(GLOBAL APPEND PROPERTY VZ_INSTALLED_COMMANDS ${target})
  set_property(GLOBAL PROPERTY VZ_MANPAGE_${target} ${page})
endfunction()

# vz_install_packages(): the CMake package and the pkg-config file over every
# library installed so far.
function(vz_install_packages)
  get_property(libraries GLOBAL PROPERTY VZ_INSTALLED_LIBRARIES)
  set(dir ${PROJECT_BINARY_DIR}/package)

  install(EXPORT vavivazTargets NAMESPACE vavivaz:: DESTINATION ${VZ_INSTALL_CMAKEDIR})
  # Static libraries bring the platform's own dependencies into the programs
  # that link them; shared ones load them themselves.
  if(BUILD_SHARED_LIBS)
    set(VZ_PACKAGE_STATIC FALSE)
  else()
    set(VZ_PACKAGE_STATIC TRUE)
  endif()
  set(VZ_PACKAGE_COMPONENTS ${libraries})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vavivazConfig.cmake.in
                                ${dir}/vavivazConfig.cmake
                                INSTALL_DESTINATION ${VZ_INSTALL_CMAKEDIR})
  # 0.x releases may break what they offer at every minor version.
  write_basic_package_version_file(${dir}/vavivazConfigVersion.cmake
                                   COMPATIBILITY SameMinorVersion)
  install(FILES ${dir}/vavivazConfig.cmake ${dir}/vavivazConfigVersion.cmake
          DESTINATION ${VZ_INSTALL_CMAKEDIR})

  # pkg-config: the libraries in link order (each before those it links),
  # and the dependencies a static link needs as plain requirements, so that
  # `pkg-config --libs vavivaz` links either build.
  list(REVERSE libraries)
  set(VZ_PC_LIBS "")
  foreach(name IN LISTS libraries)
    string(APPEND VZ_PC_LIBS " -lvavivaz-${name}")
  endforeach()
  set(VZ_PC_DEPENDENCIES "libxxhash expat")
  set(VZ_PC_SYSTEM_LIBS "-pthread")
  foreach(lib IN LISTS CMAKE_DL_LIBS)
    string(APPEND VZ_PC_SYSTEM_LIBS " -l${lib}")
  endforeach()
  if(BUILD_SHARED_LIBS)
    set(VZ_PC_REQUIRES "Requires.private: ${VZ_PC_DEPENDENCIES}")
    set(VZ_PC_PRIVATE_LIBS "Libs.private: ${VZ_PC_SYSTEM_LIBS}")
  else()
    set(VZ_PC_REQUIRES "Requires: ${VZ_PC_DEPENDENCIES}")
    string(APPEND VZ_PC_LIBS " ${VZ_PC_SYSTEM_LIBS}")
    set(VZ_PC_PRIVATE_LIBS "")
  endif()
  set(VZ_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
  if(NOT IS_ABSOLUTE "${VZ_PC_LIBDIR}")
    set(VZ_PC_LIBDIR "\${prefix}/${VZ_PC_LIBDIR}")
  endif()
  set(VZ_PC_INCLUDEDIR "${VZ_INSTALL_INCLUDEDIR}")
  if(NOT IS_ABSOLUTE "${VZ_PC_INCLUDEDIR}")
    set(VZ_PC_INCLUDEDIR "\${prefix}/${VZ_PC_INCLUDEDIR}")
  endif()
  # The prefix is known only when installing (`cmake --install --prefix`), so
  # the file is written then, from a template holding everything else.
  set(VZ_PC_PREFIX "@VZ_PC_PREFIX@")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vavivaz.pc.in ${dir}/vavivaz.pc.in @ONLY)
  install(CODE "
    set(VZ_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${dir}/vavivaz.pc.in\" \"${dir}/vavivaz.pc\" @ONLY)")
  install(FILES ${dir}/vavivaz.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

# vz_install_machine_files(): what a machine that runs the commands needs
# besides them: the boot unit that publishes the committed configuration, the
# tmpfiles.d entry that puts the machine root's dynamic store on /run, the
# link to it in the machine's root, and the udev rule that names the maker's
# modem ports in /dev. The tests get a copy of the unit whose
# command is the built vz-netsetup (machine/test/), to check it with
# systemd-analyze.
function(vz_install_machine_files)
  set(dir ${PROJECT_BINARY_DIR}/machine)
  set(source ${PROJECT_SOURCE_DIR}/cmake/machine)
  set(VZ_APPLY_COMMAND "${CMAKE_INSTALL_FULL_BINDIR}/vz-netsetup")
  configure_file(${source}/vavivaz-apply.service.in ${dir}/vavivaz-apply.service @ONLY)
  set(VZ_APPLY_COMMAND "$<TARGET_FILE:vz-netsetup>")
  configure_file(${source}/vavivaz-apply.service.in ${dir}/test/vavivaz-apply.service.in @ONLY)
  file(GENERATE OUTPUT ${dir}/test/vavivaz-apply.service
       INPUT ${dir}/test/vavivaz-apply.service.in)
  configure_file(${source}/vavivaz.tmpfiles.in ${dir}/vavivaz.conf @ONLY)
  set(VZ_PORT_NAME_COMMAND "${CMAKE_INSTALL_PREFIX}/lib/udev/vavivaz-port-name")
  configure_file(${source}/70-vavivaz-ports.rules.in ${dir}/70-vavivaz-ports.rules @ONLY)

  install(FILES ${dir}/vavivaz-apply.service DESTINATION lib/systemd/system)
  install(FILES ${dir}/vavivaz.conf DESTINATION lib/tmpfiles.d)
  install(PROGRAMS ${source}/vavivaz-port-name DESTINATION lib/udev)
  install(FILES ${dir}/70-vavivaz-ports.rules DESTINATION lib/udev/rules.d)
  install(CODE "
    if(\"\${CMAKE_INSTALL_PREFIX}\" STREQUAL \"${CMAKE_INSTALL_PREFIX}\")
      set(link \"\$ENV{DESTDIR}${VZ_MACHINE_ROOT_DIR}/var/run/SystemConfiguration\")
      if(NOT EXISTS \"\${link}\" AND NOT IS_SYMLINK \"\${link}\")
        get_filename_component(parent \"\${link}\" DIRECTORY)
        file(MAKE_DIRECTORY \"\${parent}\")
        file(CREATE_LINK \"${VZ_MACHINE_RUN_DIR}\" \"\${link}\" SYMBOLIC)
      endif()
    endif()")
endfunction()

# Shell completion. completions/ holds a bash completion for each command, in
# a file named as the command: bash-completion loads a command's completion
# by that name the first time the command is completed, from this folder of
# the prefix (and of each folder in $XDG_DATA_DIRS).
set(VZ_INSTALL_BASHCOMPDIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
file(GLOB VZ_COMPLETIONS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/completions/*)
install(FILES ${VZ_COMPLETIONS} DESTINATION ${VZ_INSTALL_BASHCOMPDIR})
