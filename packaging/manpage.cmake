# Writes a man page from its template, with %HELP% replaced by the program's
# own --help text (less its usage line and opening paragraph, which the page
# has as SYNOPSIS and DESCRIPTION), so the page lists exactly the options the
# program takes. Run at build time:
#   cmake -DTEMPLATE=x.1 -DOUTPUT=x.1 [-DPROGRAM=exe] -P manpage.cmake
# The template's other @VARIABLES@ are filled in by configure_file beforehand.
file(READ ${TEMPLATE} page)
if(DEFINED PROGRAM)
  execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
  endif()
  # Drop the first two paragraphs.
  foreach(paragraph 1 2)
    string(FIND "${help}" "\n\n" end)
    math(EXPR start "${end} + 2")
    string(SUBSTRING "${help}" ${start} -1 help)
  endforeach()
  string(REGEX REPLACE "\n+$" "" help "${help}")
  # Text, not requests: backslashes and minus signs escaped, a line starting
  # with a dot or quote kept from being read as a request.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REPLACE "-" "\\-" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(REPLACE "%HELP%" "${help}" page "${page}")
endif()
file(WRITE ${OUTPUT}.tmp "${page}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
