# Runs sgio-roundtrip on the simulated nodes and compares what it prints, and
# what the simulated drives logged, with what the set-up makes them do.
set(DIR ${CMAKE_CURRENT_BINARY_DIR})
file(REMOVE sgio-roundtrip.log)
configure_file(${SOURCE}/roundtrip.cfg.in roundtrip.cfg @ONLY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_PRELOAD=${PRELOAD}
                        FLASH_SIM_CONFIG=${DIR}/roundtrip.cfg ${PROGRAM}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result)
file(READ ${SOURCE}/roundtrip.expected expected)
file(READ sgio-roundtrip.log log)
foreach(line "open /dev/sr1 read-write exclusive: EBUSY" "close /dev/sr0"
        "WRITE BUFFER mode 7 id 0 offset 0x4000 length 0x4000: good"
        "READ BUFFER mode 2 id 0 offset 0x4000 length 0x4000: good")
    string(FIND "${log}" "${line}" at)
    if(at EQUAL -1 OR NOT output STREQUAL expected OR NOT result EQUAL 1)
        message(FATAL_ERROR "exit ${result}, printed:\n${output}${errors}\nexpected:\n${expected}"
                            "the log should hold \"${line}\":\n${log}")
    endif()
endforeach()
