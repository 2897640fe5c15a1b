# The probe's read-path fuzz target replays the damaged-store corpus as an
# ordinary test of every build.
if(TARGET vz_scf)
  add_executable(vz_replay_probe_read_path ${CMAKE_CURRENT_LIST_DIR}/ProbeReadPathFuzz.cpp
                                           ${CMAKE_CURRENT_LIST_DIR}/../support/FuzzReplay.cpp)
  target_link_libraries(vz_replay_probe_read_path PRIVATE vz_scf)
  add_test(NAME fuzz_replay_probe_read_path
           COMMAND vz_replay_probe_read_path ${CMAKE_CURRENT_LIST_DIR}/../data/probe)
endif()

# A libFuzzer target for the status probe's road through the model, outside
# the default build: configure a clang build with -DVZ_FUZZ=ON (see
# ProbeReadPathFuzz.cpp for the run command).
if(VZ_FUZZ)
  foreach(library vz_cfq vz_scf vz_sysversion vz_digest)
    target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  add_executable(vz_fuzz_probe_read_path ${CMAKE_CURRENT_LIST_DIR}/ProbeReadPathFuzz.cpp)
  target_link_libraries(vz_fuzz_probe_read_path PRIVATE vz_scf)
  target_compile_options(vz_fuzz_probe_read_path PRIVATE -fsanitize=fuzzer)
  target_link_options(vz_fuzz_probe_read_path PRIVATE -fsanitize=fuzzer)
endif()
