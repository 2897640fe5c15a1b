# The port scanner's benchmark writes its registries with the snapshot writer
# of the tests (tests/support/RegistryText.h, a header of its own).
if(TARGET vz_bench_PortScan)
  target_link_libraries(vz_bench_PortScan PRIVATE vz_ports)
  target_include_directories(vz_bench_PortScan PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
endif()
