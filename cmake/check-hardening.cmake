# Checks that release binaries are hardened: ELF files with Debian's hardening-check
# (stack protector, fortified libc calls, read-only relocations, immediate binding, and
# position independence for programs; not the control-flow marks, which Debian 12's own
# start-up files lack, so that no program linked there carries them), PE files by their
# DLL characteristics (address randomisation with 64-bit entropy, no-execute data).
#   cmake -DHARDENING_CHECK=hardening-check -DFILES="a;b" -P check-hardening.cmake
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DFILES=bytone.dll -P check-hardening.cmake
foreach(file ${FILES})
  if(OBJDUMP)
    execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE header RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${OBJDUMP} could not read ${file}")
    endif()
    foreach(flag HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT)
      if(NOT header MATCHES "\n[ \t]*${flag}")
        message(FATAL_ERROR "${file} is not marked ${flag}")
      endif()
    endforeach()
  else()
    execute_process(COMMAND ${HARDENING_CHECK} --nocfprotection ${file} OUTPUT_VARIABLE report ERROR_VARIABLE report
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${file} is not hardened:\n${report}")
    endif()
  endif()
  message(STATUS "${file}: hardened")
endforeach()
