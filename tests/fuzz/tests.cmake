# Fuzz targets: each *Fuzz.cpp here defines LLVMFuzzerTestOneInput over one
# kind of input the system reads from outside. Every build makes
# vz_replay_NAME, which runs the target over its corpus (data/fuzz/NAME/) and
# the test data that seeded it, as an ordinary test (fuzz_replay_NAME) under
# the test build's sanitizers, with any compiler and no fuzzing engine. With
# -DVZ_FUZZ=ON under clang the build also makes vz_fuzz_NAME, the target
# under libFuzzer, and instruments every library for it; scripts/fuzz NAME
# SECONDS builds and runs one.
option(VZ_FUZZ "Build the libFuzzer targets (clang only)" OFF)
set(VZ_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VZ_FUZZ_DATA ${CMAKE_CURRENT_LIST_DIR}/../data)

if(VZ_FUZZ)
  # libFuzzer's coverage in every library of the project, however the folders
  # split them.
  function(vz_fuzz_instrument dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      if(type MATCHES "^(STATIC|SHARED|OBJECT)_LIBRARY$")
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
      endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir ${subdirs})
      vz_fuzz_instrument(${subdir})
    endforeach()
  endfunction()
  vz_fuzz_instrument(${PROJECT_SOURCE_DIR})
endif()

# vz_fuzz_target(NAME SOURCE LIBRARIES libs... [SEEDS folders...]): the
# replay and, with VZ_FUZZ, the fuzzer of one target; the replay runs the
# corpus data/fuzz/NAME and the SEEDS folders (relative to tests/data).
function(vz_fuzz_target name source)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "LIBRARIES;SEEDS")
  foreach(library ${arg_LIBRARIES})
    if(NOT TARGET ${library})
      return()
    endif()
  endforeach()
  string(REPLACE "-" "_" stem ${name})
  set(folders ${VZ_FUZZ_DATA}/fuzz/${name})
  foreach(seed ${arg_SEEDS})
    list(APPEND folders ${VZ_FUZZ_DATA}/${seed})
  endforeach()
  add_executable(vz_replay_${stem} ${VZ_FUZZ_DIR}/${source} ${VZ_FUZZ_DIR}/../support/FuzzReplay.cpp)
  target_link_libraries(vz_replay_${stem} PRIVATE ${arg_LIBRARIES})
  target_include_directories(vz_replay_${stem} PRIVATE ${VZ_FUZZ_DIR} ${VZ_FUZZ_DIR}/../support)
  add_test(NAME fuzz_replay_${stem} COMMAND vz_replay_${stem} ${folders})
  set(fuzz_targets vz_replay_${stem})
  if(VZ_FUZZ)
    add_executable(vz_fuzz_${stem} ${VZ_FUZZ_DIR}/${source})
    target_link_libraries(vz_fuzz_${stem} PRIVATE ${arg_LIBRARIES})
    target_include_directories(vz_fuzz_${stem} PRIVATE ${VZ_FUZZ_DIR} ${VZ_FUZZ_DIR}/../support)
    target_compile_options(vz_fuzz_${stem} PRIVATE -fsanitize=fuzzer)
    target_link_options(vz_fuzz_${stem} PRIVATE -fsanitize=fuzzer)
    list(APPEND fuzz_targets vz_fuzz_${stem})
  endif()
  set(VZ_FUZZ_TARGETS_${stem} ${fuzz_targets} PARENT_SCOPE)
endfunction()

vz_fuzz_target(plist-reader PlistReaderFuzz.cpp LIBRARIES vz_platform_internal SEEDS plist)
vz_fuzz_target(probe-read-path ProbeReadPathFuzz.cpp LIBRARIES vz_scf vz_platform_testing
               SEEDS probe)
vz_fuzz_target(registry-snapshot RegistrySnapshotFuzz.cpp
               LIBRARIES vz_ports vz_platform_testing SEEDS ioregistry)
vz_fuzz_target(strings-tables StringsTablesFuzz.cpp
               LIBRARIES vz_platform_internal vz_platform_testing SEEDS main-bundle)
vz_fuzz_target(sysfs-reader SysfsReaderFuzz.cpp LIBRARIES vz_platform_internal vz_platform_testing)
vz_fuzz_target(netsetup-input NetsetupInputFuzz.cpp LIBRARIES vz_netsetup vz_platform_testing)
foreach(target ${VZ_FUZZ_TARGETS_netsetup_input})
  # The machine the commands run on: a copy of the demo root, made per process.
  target_compile_definitions(${target} PRIVATE
                             VZ_FUZZ_EXAMPLE_ROOT="${PROJECT_SOURCE_DIR}/examples/root")
endforeach()
