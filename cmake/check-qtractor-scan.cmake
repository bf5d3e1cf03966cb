# Qtractor's own plug-in scanner, as Qtractor runs it on each plug-in file it finds,
# reads both plug-ins: the instrument (no audio in, two out, one MIDI in), its
# parameters (none over VST 2.4, the settings and the program over CLAP) and its editor.
#   cmake -DSCANNER=qtractor_plugin_scan -DVST=bytone.so -DCLAP=bytone.clap -P check-qtractor-scan.cmake
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/qtractor-scan.txt "VST2:${VST}\nCLAP:${CLAP}\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${SCANNER}
                INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/qtractor-scan.txt OUTPUT_VARIABLE scanned
                RESULT_VARIABLE failed TIMEOUT 60)
if(failed)
  message(FATAL_ERROR "the scanner failed (${failed}): ${scanned}")
endif()
foreach(expected "VST|BYTONE|0:2|1:0|0:0|GUI,EXT,RT|${VST}|0|" "CLAP|Bytone|0:2|1:0|14:0|GUI,EXT,RT|${CLAP}|0|")
  string(FIND "${scanned}" "${expected}" at)
  if(at LESS 0)
    message(FATAL_ERROR "Qtractor's scanner did not read '${expected}'; it read:\n${scanned}")
  endif()
endforeach()
message(STATUS "${scanned}")
