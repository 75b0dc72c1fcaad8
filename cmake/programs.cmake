# The window programs, one row each. The executable's name finds the program's
# entry in commands/ (its descriptor), which its man page is made from; the rest
# is what a desktop says about it; KEY is pxctl's --program. The apps, desktop entries and packages
# iterate this list.
set(PX_PROGRAMS "")
function(px_program executable)
  cmake_parse_arguments(ARG "" "KEY;NAME;COMMENT" "" ${ARGN})
  set(PX_PROGRAMS ${PX_PROGRAMS} ${executable} PARENT_SCOPE)
  set(PX_PROGRAM_${executable}_KEY "${ARG_KEY}" PARENT_SCOPE)
  set(PX_PROGRAM_${executable}_NAME "${ARG_NAME}" PARENT_SCOPE)
  set(PX_PROGRAM_${executable}_COMMENT "${ARG_COMMENT}" PARENT_SCOPE)
endfunction()

px_program(px7700_02_reva KEY a NAME "PX7700_02 RevA"
  COMMENT "Set the wipers of a PX7700/PX7702 potentiometer through the parallel port")
px_program(px7702_reva KEY b NAME "PX7702 RevA"
  COMMENT "Set the wipers of a PX7702 potentiometer through the parallel port")
