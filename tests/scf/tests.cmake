# The editing tests check at least one store as Python's plistlib reads it:
# an implementation of the format independent of ours sees what the library
# sees (store_summary.py).
find_package(Python3 COMPONENTS Interpreter)
if(TARGET vz_scf_tests AND Python3_Interpreter_FOUND)
  target_compile_definitions(vz_scf_tests PRIVATE
    VZ_PYTHON3="${Python3_EXECUTABLE}"
    VZ_STORE_SUMMARY_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/store_summary.py")
endif()
