# Ardour plays the test sequence from a MIDI region through the VST 2.4, VST3 and LV2
# plug-ins, each on the same one of its presets, and exports the session: the VST3 and LV2
# exports must hold the VST 2.4 export's samples. Ardour plays a region's pitch bend and
# controllers as ramps between its points (and the first point's value before it), so
# the formats meet them as many values per block, each at its frame.
#
# Ardour's headless tools never scan for plug-ins, so its scanners run first into a home
# folder of the test's own; its Lua tool cannot make a MIDI region, so the region, its
# source and the session range are written into the saved session. The export loads the
# session again, so the preset reaches it through the plug-in's saved state. Session and
# export run at 48 kHz; the export starts at the region's start.
#   cmake -DLUA=ardour7-lua -DEXPORT=ardour7-export -DSCANNERS=/usr/lib/ardour7
#         -DSEQUENCE=sequence_file -DSECONDS=11 -DSESSION_SCRIPT=ardour_session.lua
#         -DVST=bytone.so -DVST3=Bytone.vst3 -DLV2=bytone.lv2 -DPRESET="009 Velocity"
#         -DWORK=dir -P check-ardour-render.cmake
file(REMOVE_RECURSE ${WORK})
set(plugins ${WORK}/plugins)
file(MAKE_DIRECTORY ${WORK}/home ${plugins}/vst ${plugins}/vst3 ${plugins}/lv2)
file(COPY ${VST} DESTINATION ${plugins}/vst)
file(COPY ${VST3} DESTINATION ${plugins}/vst3)
file(COPY ${LV2} DESTINATION ${plugins}/lv2)
get_filename_component(vst_name ${VST} NAME)
get_filename_component(vst3_name ${VST3} NAME)
set(environment HOME=${WORK}/home LD_LIBRARY_PATH=${SCANNERS} LXVST_PATH=${plugins}/vst VST3_PATH=${plugins}/vst3
                LV2_PATH=${plugins}/lv2)

include(${CMAKE_CURRENT_LIST_DIR}/ardour-run.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/wav-samples.cmake)

run(${SCANNERS}/ardour-vst-scanner -f ${plugins}/vst/${vst_name})
run(${SCANNERS}/ardour-vst3-scanner -f ${plugins}/vst3/${vst3_name})
run(${SEQUENCE} ${WORK}/notes.mid)

# The session range: SECONDS from the start. Ardour counts time in 282,240,000ths of a
# second, and in 1,920ths of a beat at 120 beats a minute.
math(EXPR end "${SECONDS} * 282240000")
math(EXPR region_length "${SECONDS} * 2 * 1920")
set(region "<Region name=\"notes\" position=\"a0\" length=\"b${region_length}@a0\" start=\"b0\" sync-position=\"a0\"
  ancestral-start=\"a0\" ancestral-length=\"b0@a0\" layer=\"0\" muted=\"0\" opaque=\"1\" locked=\"0\" type=\"midi\"
  source-0=\"900\" master-source-0=\"900\"")

foreach(format vst vst3 lv2)
  if(format STREQUAL "vst")
    set(plugin BYTONE)
  else()
    set(plugin Bytone)
  endif()
  set(session ${WORK}/${format})
  run(${LUA} ${SESSION_SCRIPT} ${session} ${format} ${format} ${plugin} "${PRESET}" FRESH ${session})

  file(READ ${session}/${format}.ardour xml)
  foreach(empty "<Sources/>" "<Regions/>" "<Locations/>")
    string(FIND "${xml}" "${empty}" at)
    if(at LESS 0)
      message(FATAL_ERROR "the saved session has no ${empty}")
    endif()
  endforeach()
  string(REPLACE "<Sources/>" "<Sources><Source name=\"notes.mid\" type=\"midi\" flags=\"\" id=\"900\" origin=\"\"/></Sources>"
         xml "${xml}")
  string(REPLACE "<Regions/>" "<Regions>${region} id=\"901\"/></Regions>" xml "${xml}")
  string(REGEX REPLACE "(<Playlist [^>]*type=\"midi\"[^>]*)/>" "\\1>${region} id=\"902\"/></Playlist>" xml "${xml}")
  string(REPLACE "<Locations/>" "<Locations><Location id=\"903\" name=\"session\" start=\"a0\" end=\"a${end}\"
  flags=\"IsSessionRange\" locked=\"0\" timestamp=\"0\" cue=\"0\"/></Locations>" xml "${xml}")
  file(WRITE ${session}/${format}.ardour "${xml}")
  file(COPY ${WORK}/notes.mid DESTINATION ${session}/interchange/${format}/midifiles)

  run(${EXPORT} -b float -o ${WORK}/${format}.wav ${session} ${format})
  wav_samples(${WORK}/${format}.wav exported)
  string(LENGTH "${exported}" digits)
  math(EXPR frames "${digits} / 16")
  if(format STREQUAL "vst")
    math(EXPR expected_frames "${SECONDS} * 48000")
    if(NOT frames EQUAL expected_frames OR NOT exported MATCHES "[1-9a-f]")
      message(FATAL_ERROR "the export through the VST 2.4 plug-in has ${frames} frames, or is silent")
    endif()
    set(expected "${exported}")
  elseif(NOT exported STREQUAL expected)
    message(FATAL_ERROR "the export through the ${format} plug-in differs from the VST 2.4 plug-in's")
  endif()
  message(STATUS "${format}: ${frames} frames")
endforeach()
