# Tests of the Windows build run on the host, included from tests/CMakeLists.txt after the test
# programs: the exchange with the Linux build and the openssl command, and the console under
# Wine (see the scripts).

# Containers exchanged with the Linux build and with `openssl enc`, run on the host.
set(KVELV_HOST_BINARY "" CACHE FILEPATH "The Linux build's kvelv, for the exchange test")
add_test(NAME windows_exchange
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/exchange.sh
    "$<TARGET_FILE:kvelv>" "${KVELV_HOST_BINARY}" ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(windows_exchange PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77
  LABELS "wine;system;peers")

# Ctrl-C, a closed terminal and a kill while a container is written, run on the host.
add_test(NAME windows_console_interrupt
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/console-interrupt.sh "$<TARGET_FILE:kvelv>" ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(windows_console_interrupt PROPERTIES TIMEOUT 400 LABELS "wine;system")

# Non-ASCII text on a real console (a pseudo-terminal under Wine), run on the host.
add_test(NAME windows_console_tty
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/console-tty.sh "$<TARGET_FILE:kvelv>" ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(windows_console_tty PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77
  LABELS "wine;system")
