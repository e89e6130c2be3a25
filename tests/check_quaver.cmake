# Runs the real calibration tool (under EMULATOR, if set) with each command
# line below and checks its exit status and what it prints. Its output is
# captured, not a terminal: the measurement must print no progress line.
#   cmake -DPROGRAM=... -DVERSION=... -DSETTINGS=regex [-DEMULATOR=...] -P check_quaver.cmake
# SETTINGS matches where the system keeps the factor of an unattended run.
function(check status out err)
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGN}
                  OUTPUT_VARIABLE o ERROR_VARIABLE e RESULT_VARIABLE s)
  # Windows text output ends lines with \r\n; any other \r is a redrawn line.
  string(REPLACE "\r\n" "\n" o "${o}")
  string(REPLACE "\r\n" "\n" e "${e}")
  if(NOT s EQUAL status OR NOT o MATCHES "${out}" OR NOT e MATCHES "${err}")
    message(SEND_ERROR "quaver ${ARGN}: status ${s}, standard output:\n[${o}]\nstandard error:\n[${e}]")
  endif()
endfunction()

# Status, standard output, standard error, arguments.
# The help says how long, and where the factor goes.
check(0 "^Usage: quaver \\[SECONDS\\]\n.*default 30.*--factor X.*FACTOR=X in ${SETTINGS}.*--follow" "^$" --help)
check(0 "^Usage: quaver" "^$" -h)
# The project's one version number.
check(0 "^quaver ${VERSION}\n$" "^$" --version)
check(0 "^quaver ${VERSION}\n$" "^$" -V)
# Refusals: one line, then where to look.
check(2 "^$" "^quaver: unknown option '--bogus'\nTry 'quaver --help'\\.\n$" --bogus)
check(2 "^$" "^quaver: the length must be whole seconds, 2 to 86400, not '1'\nTry 'quaver --help'\\.\n$" 1)
check(2 "^$" "^quaver: the length must be whole seconds, 2 to 86400, not '30s'\nTry 'quaver --help'\\.\n$" 30s)
check(2 "^$" "^quaver: unexpected argument '3'\nTry 'quaver --help'\\.\n$" 2 3)
# A real two-second measurement into a pipe: no \r anywhere, and the
# result names both places the factor goes.
check(0 "^Timing 2 s of dcf77tx pauses against the UTC clock\\.\nPauses ran [-+][0-9.]+ % against UTC\\.\n\nTiming Fudge Factor: [0-9]+\\.[0-9]\n[^\r]*--factor [0-9]+\\.[0-9][^\r]*FACTOR=[0-9]+\\.[0-9] in ${SETTINGS}[^\r]*pulse widths\\.\n$" "^$" 2)
