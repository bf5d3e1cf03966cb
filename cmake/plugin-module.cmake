# bytone_plugin_module(<target> OUTPUT_NAME <name> EXPORTS <version script>
#                      [SUFFIX <suffix>] [DIRECTORY <folder>] [LINK_OPTIONS <option>...]
#                      SOURCES <file>... LIBRARIES <library>...)
#
# A plug-in binary as hosts load it: a module without the "lib" prefix, in the build
# folder (or DIRECTORY, a bundle's), exporting only what its version script names. On
# Linux it refuses undefined symbols and stays loaded once loaded: pixman and cairo,
# which the editor draws with, allocate when they are loaded, and unloading them with the
# plug-in would leak that at every load. (On Windows the exports are the entry points'
# own attributes or a .def file among the sources.)
function(bytone_plugin_module target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "OUTPUT_NAME;EXPORTS;SUFFIX;DIRECTORY" "LINK_OPTIONS;SOURCES;LIBRARIES")
  add_library(${target} MODULE ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES})
  if(NOT ARG_DIRECTORY)
    set(ARG_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${ARG_OUTPUT_NAME}
                                             LIBRARY_OUTPUT_DIRECTORY ${ARG_DIRECTORY})
  if(ARG_SUFFIX)
    set_target_properties(${target} PROPERTIES SUFFIX ${ARG_SUFFIX})
  endif()
  if(NOT WIN32)
    target_link_options(${target} PRIVATE ${ARG_LINK_OPTIONS} -Wl,--version-script=${ARG_EXPORTS} -Wl,--no-undefined
                        -Wl,-z,nodelete)
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${ARG_EXPORTS})
  endif()
endfunction()
