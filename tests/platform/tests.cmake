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
