# Run by the build (cmake -P) for one sub-folder of src/: stops the build
# when a file of it includes the headers of an outside library the
# sub-folder's row in ../CMakeLists.txt does not name.
#   CONCERN    the sub-folder
#   FILES      its sources and headers
#   FORBIDDEN  include prefixes it must not use ("unicode/", "expat.h")
#   STAMP      the file written when every include is allowed
set(offences)
foreach(file IN LISTS FILES)
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" header "${line}")
    foreach(prefix IN LISTS FORBIDDEN)
      string(FIND "${header}" "${prefix}" at)
      if(at EQUAL 0)
        list(APPEND offences "${file}: ${header}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(offences)
  list(JOIN offences "\n  " text)
  message(FATAL_ERROR "src/${CONCERN}/ may not include these (see src/README.md):\n  ${text}")
endif()
file(TOUCH ${STAMP})
