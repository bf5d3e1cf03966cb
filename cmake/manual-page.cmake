# Makes the manual page of the bytone tool with help2man: the main help, a section with
# every subcommand's help as the tool prints it, and the sections of cmake/bytone.1.h2m
# (examples, exit status, files, environment, see also).
#   cmake -DTOOL=path/to/bytone -DHELP2MAN=path/to/help2man -DOUTPUT=bytone.1 -DSECTIONS=cmake/bytone.1.h2m
#         -P manual-page.cmake
set(include_file "${OUTPUT}.h2m")
file(READ ${SECTIONS} text)
string(APPEND text "\n[SUBCOMMANDS]\n")
foreach(subcommand render programs info eval scope note)
  execute_process(COMMAND ${TOOL} ${subcommand} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} ${subcommand} --help failed")
  endif()
  # Verbatim in roff: backslashes escaped, and no line may begin with a control character.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS ${subcommand}\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${include_file} "${text}")
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr
                        "--name=plays formulas through the Bytone VST 2.4 instrument"
                        --include=${include_file} --output=${OUTPUT} ${TOOL}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man failed on ${TOOL}")
endif()
