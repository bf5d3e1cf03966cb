# The samples of a 32-bit float WAV file, as hexadecimal digits.
function(wav_samples file out)
  file(READ ${file} hex HEX)
  string(FIND "${hex}" "64617461" at)  # "data"
  math(EXPR odd "${at} % 2")
  if(at LESS 0 OR odd)
    message(FATAL_ERROR "${file} has no data chunk")
  endif()
  math(EXPR at "${at} + 16")
  string(SUBSTRING "${hex}" ${at} -1 samples)
  set(${out} "${samples}" PARENT_SCOPE)
endfunction()
