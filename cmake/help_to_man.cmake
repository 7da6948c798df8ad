# Writes a gzipped man page from a program's --help text, at build time.
# Usage: cmake -DPROGRAM=path -DNAME=tool -DSUMMARY=text -DVERSION=x.y.z
#              -DGZIP=path -DOUT=tool.1.gz -P help_to_man.cmake
# The help text is the one reference an operator already sees; the page only
# frames it, so the two cannot drift apart.
foreach(_var PROGRAM NAME SUMMARY VERSION GZIP OUT)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "help_to_man.cmake: ${_var} is not set")
  endif()
endforeach()

execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE _help RESULT_VARIABLE _status)
if(NOT _status EQUAL 0 OR _help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed (${_status})")
endif()
# The help names the program by the path it was started with.
string(REGEX REPLACE "Usage: [^ \n]*" "Usage: ${NAME}" _help "${_help}")
# roff: a backslash starts an escape, and a line starting with . or ' is a
# request.
string(REPLACE "\\" "\\e" _help "${_help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" _help "${_help}")
string(REPLACE "-" "\\-" _help "${_help}")

string(TOUPPER "${NAME}" _upper)
set(_page ".TH ${_upper} 1 \"\" \"${NAME} ${VERSION}\" \"Quillmoor operator tools\"\n")
string(APPEND _page ".SH NAME\n${NAME} \\- ${SUMMARY}\n")
string(APPEND _page ".SH DESCRIPTION\nThe text of\n.B ${NAME} \\-\\-help\n(each subcommand also takes\n.BR \\-\\-help ):\n")
string(APPEND _page ".PP\n.nf\n${_help}.fi\n")
string(APPEND _page ".SH SEE ALSO\n/usr/share/doc/quillmoor\\-tools/tools.md\n")

get_filename_component(_dir "${OUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" _plain "${OUT}")
file(WRITE "${_plain}" "${_page}")
# -n: no name or time stamp inside, so that a rebuild gives the same bytes.
execute_process(COMMAND "${GZIP}" -9nf "${_plain}" RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
  message(FATAL_ERROR "gzip ${_plain} failed")
endif()
