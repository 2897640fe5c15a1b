# The probe's benchmark runs the built probe and a parse-only baseline as
# whole processes over generated stores.
add_executable(vz-parse-only ${CMAKE_CURRENT_LIST_DIR}/tools/parse-only.cpp)
target_link_libraries(vz-parse-only PRIVATE vz_platform EXPAT::EXPAT)
# The floor of the whole-process ratios: expat alone, in a process that
# loads nothing else (C, so not even the C++ runtime).
add_executable(vz-bare-expat ${CMAKE_CURRENT_LIST_DIR}/tools/bare-expat.c)
target_link_libraries(vz-bare-expat PRIVATE EXPAT::EXPAT)
if(TARGET vz_bench_Probe)
  target_link_libraries(vz_bench_Probe PRIVATE vz_platform)
  target_compile_definitions(vz_bench_Probe PRIVATE
    VZ_PROBE_PATH="$<TARGET_FILE:zorvex-modem-status>"
    VZ_PARSE_ONLY_PATH="$<TARGET_FILE:vz-parse-only>"
    VZ_BARE_EXPAT_PATH="$<TARGET_FILE:vz-bare-expat>")
  add_dependencies(vz_bench_Probe zorvex-modem-status vz-parse-only vz-bare-expat)
endif()
