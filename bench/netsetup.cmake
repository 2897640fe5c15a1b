# vz-netsetup's benchmark runs the command and the probe as whole processes
# over the same generated stores.
if(TARGET vz_bench_Netsetup)
  target_compile_definitions(vz_bench_Netsetup PRIVATE
    VZ_PROBE_PATH="$<TARGET_FILE:zorvex-modem-status>"
    VZ_NETSETUP_PATH="$<TARGET_FILE:vz-netsetup>")
  add_dependencies(vz_bench_Netsetup zorvex-modem-status vz-netsetup)
endif()
