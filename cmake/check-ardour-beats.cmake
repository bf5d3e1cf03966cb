# Ardour plays a held note at 140 BPM through the VST3 and the LV2 plug-in, each playing a
# formula that switches on the song's beat, and exports the session: in each export every
# change of level falls on a quarter note's first sample, the two exports are equal, and
# bytone render plays the same MIDI file as they do. (The file says its tempo in whole
# microseconds a quarter note: 428,571 is 140.0002 BPM, so that a change of the render's
# may come a frame earlier than the session's.)
#
# The session is made as check-ardour-render.cmake makes its own, the tempo and the
# plug-in's state (the formula in every program) written into the saved session: VST3's
# as the preset Ardour keeps, LV2's in the state folder's Turtle file.
#   cmake -DLUA=ardour7-lua -DEXPORT=ardour7-export -DSCANNERS=/usr/lib/ardour7
#         -DBEATS=beat_session -DTOOL=bytone -DSESSION_SCRIPT=ardour_session.lua
#         -DVST3=Bytone.vst3 -DLV2=bytone.lv2 -DWORK=dir -P check-ardour-beats.cmake
set(SECONDS 6)
set(TEMPO 140)
set(FORMULA "beat>>15&1?128:0")
file(REMOVE_RECURSE ${WORK})
set(plugins ${WORK}/plugins)
file(MAKE_DIRECTORY ${WORK}/home ${plugins}/vst3 ${plugins}/lv2)
file(COPY ${VST3} DESTINATION ${plugins}/vst3)
file(COPY ${LV2} DESTINATION ${plugins}/lv2)
get_filename_component(vst3_name ${VST3} NAME)
set(environment HOME=${WORK}/home LD_LIBRARY_PATH=${SCANNERS} VST3_PATH=${plugins}/vst3 LV2_PATH=${plugins}/lv2)

include(${CMAKE_CURRENT_LIST_DIR}/ardour-run.cmake)

function(base64 file out)
  execute_process(COMMAND python3 -c "import base64,sys; print(base64.b64encode(open(sys.argv[1],'rb').read()).decode(), end='')"
                          ${file} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot read ${file}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

run(${SCANNERS}/ardour-vst3-scanner -f ${plugins}/vst3/${vst3_name})
run(${BEATS} write ${WORK} 20 ${TEMPO} ${FORMULA})
base64(${WORK}/state.bin lv2_state)
base64(${WORK}/vst3-state.bin vst3_state)

# The session range: SECONDS. The region, longer than the range, in 1,920ths of a beat.
math(EXPR end "${SECONDS} * 282240000")
math(EXPR region_length "(${SECONDS} + 2) * ${TEMPO} * 1920 / 60")
set(region "<Region name=\"held\" position=\"a0\" length=\"b${region_length}@a0\" start=\"b0\" sync-position=\"a0\"
  ancestral-start=\"a0\" ancestral-length=\"b0@a0\" layer=\"0\" muted=\"0\" opaque=\"1\" locked=\"0\" type=\"midi\"
  source-0=\"900\" master-source-0=\"900\"")

foreach(format vst3 lv2)
  set(session ${WORK}/${format})
  run(${LUA} ${SESSION_SCRIPT} ${session} ${format} ${format} Bytone "001 Saw" FRESH ${session})
  file(READ ${session}/${format}.ardour xml)
  string(REPLACE "<Sources/>" "<Sources><Source name=\"held.mid\" type=\"midi\" flags=\"\" id=\"900\" origin=\"\"/></Sources>"
         xml "${xml}")
  string(REPLACE "<Regions/>" "<Regions>${region} id=\"901\"/></Regions>" xml "${xml}")
  string(REGEX REPLACE "(<Playlist [^>]*type=\"midi\"[^>]*)/>" "\\1>${region} id=\"902\"/></Playlist>" xml "${xml}")
  string(REPLACE "<Locations/>" "<Locations><Location id=\"903\" name=\"session\" start=\"a0\" end=\"a${end}\"
  flags=\"IsSessionRange\" locked=\"0\" timestamp=\"0\" cue=\"0\"/></Locations>" xml "${xml}")
  string(REGEX REPLACE "npm=\"120\" enpm=\"120\"" "npm=\"${TEMPO}\" enpm=\"${TEMPO}\"" xml "${xml}")
  if(format STREQUAL "vst3")
    string(REGEX REPLACE "<chunk>[^<]*</chunk>" "<chunk>${vst3_state}</chunk>" xml "${xml}")
  else()
    file(GLOB states ${session}/plugins/*/state*/state.ttl)
    list(LENGTH states count)
    if(NOT count EQUAL 1)
      message(FATAL_ERROR "the LV2 session has ${count} state files")
    endif()
    file(READ ${states} ttl)
    string(REGEX REPLACE "<urn:kelmo:bytone#state> \"\"\"[^\"]*\"\"\"" "<urn:kelmo:bytone#state> \"\"\"${lv2_state}\"\"\""
           ttl "${ttl}")
    file(WRITE ${states} "${ttl}")
  endif()
  file(WRITE ${session}/${format}.ardour "${xml}")
  file(COPY ${WORK}/held.mid DESTINATION ${session}/interchange/${format}/midifiles)

  run(${EXPORT} -b float -o ${WORK}/${format}.wav ${session} ${format})
  execute_process(COMMAND ${BEATS} edges ${WORK}/${format}.wav ${TEMPO} RESULT_VARIABLE wrong OUTPUT_VARIABLE said
                  ERROR_VARIABLE said)
  if(wrong)
    message(FATAL_ERROR "the export through the ${format} plug-in does not change on the beats: ${said}")
  endif()
  message(STATUS "${said}")
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/wav-samples.cmake)
wav_samples(${WORK}/vst3.wav vst3_export)
wav_samples(${WORK}/lv2.wav lv2_export)
if(NOT vst3_export STREQUAL lv2_export)
  message(FATAL_ERROR "the VST3 and LV2 exports differ")
endif()

run(${TOOL} render ${WORK}/held.mid --formula ${FORMULA} --format float --tail 0 -o ${WORK}/tool.wav)
execute_process(COMMAND ${BEATS} alike ${WORK}/vst3.wav ${WORK}/tool.wav RESULT_VARIABLE wrong OUTPUT_VARIABLE said
                ERROR_VARIABLE said)
if(wrong)
  message(FATAL_ERROR "bytone render plays the MIDI file otherwise than Ardour: ${said}")
endif()
message(STATUS "${said}")
