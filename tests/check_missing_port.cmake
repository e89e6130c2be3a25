# Runs the real transmitter (under EMULATOR, if set) with port 99, which has
# no device behind it, and checks every byte it prints and its exit status.
#   cmake -DPROGRAM=... -DDEVICE=... [-DEMULATOR=...] -DWORK=dir -P check_missing_port.cmake
file(WRITE ${WORK}/missing_port_input "99\n100\n")
execute_process(COMMAND ${EMULATOR} ${PROGRAM}
                INPUT_FILE ${WORK}/missing_port_input
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
# Windows text output ends lines with \r\n.
string(REPLACE "\r" "" out "${out}")
string(REPLACE "\r" "" err "${err}")
set(expected "\nInput your Serial Port Number: \nTiming Fudge Factor (run quaver.exe)\nInput your Timing Fudge Factor: 100\t200\t800\t900\t1000\n\nProgram will wait until next 00 second rollover.\n")
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "standard output was:\n[${out}]")
endif()
string(REPLACE "\\" "\\\\" device_pattern "${DEVICE}")
string(REPLACE "." "\\." device_pattern "${device_pattern}")
if(NOT err MATCHES "^CreateFile failed: ${device_pattern} \\(([0-9a-f]+)\\)\n$" OR NOT CMAKE_MATCH_1 MATCHES "^[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]$")
  message(FATAL_ERROR "standard error was:\n[${err}]")
endif()
if(NOT status EQUAL 1)
  message(FATAL_ERROR "exit status was ${status}")
endif()
message(STATUS "ok: ${err}")
