# Ardour's own VST3 scanner, as Ardour runs it before it offers a plug-in, reads the
# bundle: its name, vendor and category, no audio input, two outputs and one MIDI input.
# It writes its cache under a home folder of the test's own.
#   cmake -DSCANNER=ardour-vst3-scanner -DBUNDLE=Bytone.vst3 -DHOME=dir -P check-ardour-scan.cmake
get_filename_component(libraries ${SCANNER} DIRECTORY)
file(REMOVE_RECURSE ${HOME})
file(MAKE_DIRECTORY ${HOME})
execute_process(COMMAND ${CMAKE_COMMAND} -E env HOME=${HOME} LD_LIBRARY_PATH=${libraries} ${SCANNER} -f -v ${BUNDLE}
                OUTPUT_VARIABLE scanned ERROR_VARIABLE scanned RESULT_VARIABLE failed TIMEOUT 60)
if(failed)
  message(FATAL_ERROR "the scanner failed (${failed}):\n${scanned}")
endif()
foreach(expected "name=\"Bytone\"" "vendor=\"Kelmo\"" "category=\"Instrument|Synth\"" "n_inputs=\"0\""
                 "n_outputs=\"2\"" "n_midi_inputs=\"1\"")
  string(FIND "${scanned}" "${expected}" at)
  if(at LESS 0)
    message(FATAL_ERROR "Ardour's scanner did not read ${expected}:\n${scanned}")
  endif()
endforeach()
message(STATUS "${scanned}")
