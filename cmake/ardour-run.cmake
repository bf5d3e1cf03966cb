# Ardour's headless tools now and then die on their own threads' races: a double free in
# the export's finish on its main thread, a crash while the Lua tool sets up a session, or
# a plug-in not found when the machine is loaded. A run that fails is run again, twice at
# most, each failure printed; what a run that succeeds writes is checked in full. With
# FRESH, that folder is removed before each attempt.
function(run)
  cmake_parse_arguments(PARSE_ARGV 0 run "" FRESH "")
  foreach(attempt 1 2 3)
    if(run_FRESH)
      file(REMOVE_RECURSE ${run_FRESH})
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E env ${environment} ${run_UNPARSED_ARGUMENTS}
                    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE failed TIMEOUT 300)
    if(NOT failed)
      return()
    endif()
    set(report "${run_UNPARSED_ARGUMENTS} failed (${failed}), attempt ${attempt} of 3:\n${output}")
    if(attempt LESS 3)
      message(WARNING "${report}")
    endif()
  endforeach()
  message(FATAL_ERROR "${report}")
endfunction()
