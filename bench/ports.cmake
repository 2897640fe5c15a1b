# The port scanner's benchmark writes its registries with the snapshot writer
# of the tests (tests/support/RegistryText.h, a header of its own).
if(TARGET vz_bench_PortScan)
  target_link_libraries(vz_bench_PortScan PRIVATE vz_ports)
  target_include_directories(vz_bench_PortScan PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
endif()
# The live registry's benchmark builds its sysfs trees with the tests' fake
# sysfs (tests/support/FakeSysfs.h) and calls the platform's builder itself.
if(TARGET vz_bench_LiveRegistry)
  target_link_libraries(vz_bench_LiveRegistry PRIVATE vz_ports vz_platform_internal)
  target_include_directories(vz_bench_LiveRegistry PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
endif()
