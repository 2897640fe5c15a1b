# Interoperability with Python's plistlib, an independent implementation of
# the format, in both directions, through vz-plutil.
if(TARGET vz-plutil)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    foreach(direction ours-reads-plistlib plistlib-reads-ours)
      add_test(NAME plist_interop_${direction}
               COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/plistlib_interop.py
                       ${direction} $<TARGET_FILE:vz-plutil> ${CMAKE_CURRENT_LIST_DIR}/../data/plist)
      set_tests_properties(plist_interop_${direction} PROPERTIES TIMEOUT 300)
    endforeach()
  endif()
endif()

# The reader's fuzz target replays its seed corpus and the property-list test
# data as an ordinary test of every build.
add_executable(vz_replay_plist_reader ${CMAKE_CURRENT_LIST_DIR}/PlistReaderFuzz.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/../support/FuzzReplay.cpp)
target_link_libraries(vz_replay_plist_reader PRIVATE vz_platform_internal)
add_test(NAME fuzz_replay_plist_reader
         COMMAND vz_replay_plist_reader ${CMAKE_CURRENT_LIST_DIR}/../data/fuzz/plist-reader
                 ${CMAKE_CURRENT_LIST_DIR}/../data/plist)

# A libFuzzer target for the reader, outside the default build: configure a
# clang build with -DVZ_FUZZ=ON (see PlistReaderFuzz.cpp for the run command).
option(VZ_FUZZ "Build the libFuzzer target of the property-list reader (clang only)" OFF)
if(VZ_FUZZ)
  foreach(part IN LISTS VZ_PLATFORM_PARTS)
    target_compile_options(${part} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  add_executable(vz_fuzz_plist_reader ${CMAKE_CURRENT_LIST_DIR}/PlistReaderFuzz.cpp)
  target_link_libraries(vz_fuzz_plist_reader PRIVATE vz_platform_internal)
  target_compile_options(vz_fuzz_plist_reader PRIVATE -fsanitize=fuzzer)
  target_link_options(vz_fuzz_plist_reader PRIVATE -fsanitize=fuzzer)
endif()
