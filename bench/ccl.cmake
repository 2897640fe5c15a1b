# The catalogue's benchmark sorts the same folder with readdir and one ICU
# collator in the same binary, for the floor under any sorted listing.
if(TARGET vz_bench_ModemScripts)
  target_link_libraries(vz_bench_ModemScripts PRIVATE vz_ccl PkgConfig::ICU)
endif()
