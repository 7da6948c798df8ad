# cmake -DCOMPILER=... -DINCLUDES=a|b -DDEFINES=X=1|Y -DOWN=<header>
#       -DREFUSED=<header>|<header> -DWORK=<folder> -P refused_includes.cmake
# Compiles (syntax only) a unit of one include per header: OWN must compile,
# each of REFUSED must fail for want of that very header. Lists every header
# that does otherwise, then fails.
foreach(_var COMPILER OWN WORK)
  if(NOT DEFINED ${_var} OR "${${_var}}" STREQUAL "")
    message(FATAL_ERROR "refused_includes.cmake: -D${_var}= is missing")
  endif()
endforeach()

set(_flags -std=c++20 -fsyntax-only)
string(REPLACE "|" ";" _includes "${INCLUDES}")
foreach(_dir IN LISTS _includes)
  list(APPEND _flags "-I${_dir}")
endforeach()
string(REPLACE "|" ";" _defines "${DEFINES}")
foreach(_def IN LISTS _defines)
  list(APPEND _flags "-D${_def}")
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(_unit "${WORK}/unit.cpp")

# _compile(<header> <result var> <output var>)
function(_compile header result output)
  file(WRITE "${_unit}" "#include \"${header}\"\n")
  execute_process(COMMAND "${COMPILER}" ${_flags} "${_unit}"
                  RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  set(${result} "${_rc}" PARENT_SCOPE)
  set(${output} "${_out}" PARENT_SCOPE)
endfunction()

set(_wrong "")
_compile("${OWN}" _rc _out)
if(NOT _rc EQUAL 0)
  string(APPEND _wrong "its own header ${OWN} does not compile:\n${_out}\n")
endif()

string(REPLACE "|" ";" _refused "${REFUSED}")
foreach(_header IN LISTS _refused)
  _compile("${_header}" _rc _out)
  string(REPLACE "." "\\." _pattern "${_header}")
  if(_rc EQUAL 0)
    string(APPEND _wrong "${_header} is reachable\n")
  elseif(NOT _out MATCHES "${_pattern}: No such file|'${_pattern}' file not found")
    string(APPEND _wrong "${_header} fails for another reason than its absence:\n${_out}\n")
  endif()
endforeach()

list(LENGTH _refused _count)
if(_wrong)
  message(FATAL_ERROR "${_wrong}")
endif()
message(STATUS "${OWN} compiles; ${_count} headers out of reach")
