# The NetworkManager benchmark starts the tests' own bus and fake
# NetworkManager (tests/support), as the tests do.
if(TARGET vz_bench_NetworkManager)
  target_sources(vz_bench_NetworkManager PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/PrivateBus.cpp)
  target_include_directories(vz_bench_NetworkManager PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(vz_bench_NetworkManager PRIVATE
    VZ_PRIVATE_BUS_CONFIG="${PROJECT_SOURCE_DIR}/tests/support/private-bus.conf"
    VZ_FAKE_NETWORKMANAGER="${PROJECT_SOURCE_DIR}/tests/support/fake_networkmanager.py")
endif()
