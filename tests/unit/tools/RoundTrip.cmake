# Combines the payload probe with a known image and runs both programs: the
# combined copy must print what was combined, the original must stay
# unfilled. Called by ctest with -DTOOL=... -DPROBE=... -DWORK=... and, for
# cross-built programs, -DEMULATOR=... (a ;-list).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# 131072 bytes of "ABCDEFG" repeated: 18724 whole runs of 476 plus "ABCD"
# (266) sum to 8912890, which is 0xFFFA modulo 65536.
string(REPEAT "ABCDEFG" 18725 image)
string(SUBSTRING "${image}" 0 131072 image)
file(WRITE "${WORK}/image.bin" "${image}")

get_filename_component(probeName "${PROBE}" NAME)
set(original "${WORK}/${probeName}")
file(COPY_FILE "${PROBE}" "${original}")
string(REPLACE "payload-probe" "payload-probe-combined" combined "${original}")

function(run expectedOutput)
    execute_process(COMMAND ${EMULATOR} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    string(REPLACE "\r\n" "\n" out "${out}")
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${ARGN} failed (${rc}):\n${out}${err}")
    endif()
    if(NOT out MATCHES "${expectedOutput}")
        message(FATAL_ERROR "${ARGN} printed:\n${out}\nexpected to match:\n${expectedOutput}")
    endif()
endfunction()

run("^placeholder: yes\n" "${original}")
run("payload block at 0x[0-9A-F]+: unfilled\n" "${TOOL}" --inspect "${original}")
run("wrote " "${TOOL}" "${original}" "${WORK}/image.bin" "1.58" "4" "${combined}")
run("^placeholder: no\nstored checksum: FFFA\nimage checksum: FFFA\nmodel: 4\n$" "${combined}")
run("filled\nversion: 1.58\nchecksum text: FFFA\nimage checksum: FFFA \\(matches\\)\nmodel digit: 4\n"
    "${TOOL}" --inspect "${combined}")
# The tool never changes its input.
run("^placeholder: yes\n" "${original}")
