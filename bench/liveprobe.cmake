# The probe on a live root runs against the tests' own private bus and fake
# ModemManager (tests/support), which it starts itself.
if(TARGET vz_bench_LiveProbe)
  target_sources(vz_bench_LiveProbe PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/PrivateBus.cpp)
  target_include_directories(vz_bench_LiveProbe PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(vz_bench_LiveProbe PRIVATE vz_platform)
  target_compile_definitions(vz_bench_LiveProbe PRIVATE
    VZ_PROBE_PATH="$<TARGET_FILE:zorvex-modem-status>"
    VZ_PRIVATE_BUS_CONFIG="${PROJECT_SOURCE_DIR}/tests/support/private-bus.conf")
  add_dependencies(vz_bench_LiveProbe zorvex-modem-status)
endif()
