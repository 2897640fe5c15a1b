# The property-list benchmark runs expat on its own as well, for the floor.
target_link_libraries(vz_bench_Plist PRIVATE EXPAT::EXPAT)

# Peak memory of a process that reads the 10 MB store; run by scripts/bench
# with the others (it ignores their arguments).
add_executable(vz_bench_plist_peak_memory ${CMAKE_CURRENT_LIST_DIR}/PlistPeakMemory.cpp)
target_link_libraries(vz_bench_plist_peak_memory PRIVATE vz_bench_support)
target_compile_definitions(vz_bench_plist_peak_memory PRIVATE
  VZ_PLUTIL_PATH="$<TARGET_FILE:vz-plutil>")
add_dependencies(vz_bench_plist_peak_memory vz-plutil)
# The whole-process benchmark of the reader runs vz-plutil and the bare expat
# process over generated store files.
if(TARGET vz_bench_PlistProcess)
  target_compile_definitions(vz_bench_PlistProcess PRIVATE
    VZ_PLUTIL_PATH="$<TARGET_FILE:vz-plutil>"
    VZ_BARE_EXPAT_PATH="$<TARGET_FILE:vz-bare-expat>")
  add_dependencies(vz_bench_PlistProcess vz-plutil vz-bare-expat)
endif()
