# Fuzz targets: each *Fuzz.cpp here defines LLVMFuzzerTestOneInput. Every
# build replays each target's seed corpus as an ordinary test; with
# -DVZ_FUZZ=ON under clang the build also makes the libFuzzer targets (see
# each source for the run command).
option(VZ_FUZZ "Build the libFuzzer targets (clang only)" OFF)

add_executable(vz_replay_plist_reader ${CMAKE_CURRENT_LIST_DIR}/PlistReaderFuzz.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/../support/FuzzReplay.cpp)
target_link_libraries(vz_replay_plist_reader PRIVATE vz_platform_internal)
add_test(NAME fuzz_replay_plist_reader
         COMMAND vz_replay_plist_reader ${CMAKE_CURRENT_LIST_DIR}/../data/fuzz/plist-reader
                 ${CMAKE_CURRENT_LIST_DIR}/../data/plist)
if(TARGET vz_scf)
  add_executable(vz_replay_probe_read_path ${CMAKE_CURRENT_LIST_DIR}/ProbeReadPathFuzz.cpp
                                           ${CMAKE_CURRENT_LIST_DIR}/../support/FuzzReplay.cpp)
  target_link_libraries(vz_replay_probe_read_path PRIVATE vz_scf)
  add_test(NAME fuzz_replay_probe_read_path
           COMMAND vz_replay_probe_read_path ${CMAKE_CURRENT_LIST_DIR}/../data/probe)
endif()

if(VZ_FUZZ)
  foreach(library vz_platform vz_cfq vz_scf vz_sysversion vz_digest)
    target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  add_executable(vz_fuzz_plist_reader ${CMAKE_CURRENT_LIST_DIR}/PlistReaderFuzz.cpp)
  target_link_libraries(vz_fuzz_plist_reader PRIVATE vz_platform_internal)
  add_executable(vz_fuzz_probe_read_path ${CMAKE_CURRENT_LIST_DIR}/ProbeReadPathFuzz.cpp)
  target_link_libraries(vz_fuzz_probe_read_path PRIVATE vz_scf)
  foreach(target vz_fuzz_plist_reader vz_fuzz_probe_read_path)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()
