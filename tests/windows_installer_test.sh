#!/usr/bin/env bash
# The Windows installer and zip, made by cpack in the Windows build folder,
# and the installer run under Wine in a fresh prefix: a silent installation
# with the logon task, the programs run from the installation folder, the
# Start-menu entries (with the Windows Time service's NTP server), the task,
# installations again (/LOGON= values, another folder with every kind of
# character), the logon launcher with a table of settings, its log kept
# small, and the uninstaller, which keeps edited settings.
# Skipped (status 77) without makensis or wine64.
#   windows_installer_test.sh BUILD_DIR VERSION
set -euo pipefail
# Names sort and compare byte by byte; Wine reads arguments as UTF-8.
export LC_ALL=C.UTF-8
build=$(cd "$1" && pwd)
version=$2
wine=$(command -v wine64 || true)
[[ -n $wine ]] || [[ ! -x /usr/lib/wine/wine64 ]] || wine=/usr/lib/wine/wine64
if [[ -z $wine ]] || ! command -v makensis >/dev/null; then
  echo "wine64 or makensis (Debian: nsis) is not installed: skipped"
  exit 77
fi
wineserver=$(dirname "$wine")/wineserver
[[ -x $wineserver ]] || wineserver=wineserver

fail() { echo "FAIL: $*"; exit 1; }
pass() { echo "ok (${SECONDS} s): $*"; }

cd "$build"
rm -f dcf77tx-*-win64.exe dcf77tx-*-win64.zip
cpack -G NSIS >cpack.log 2>&1 || { cat cpack.log; fail "cpack -G NSIS"; }
cpack -G ZIP >>cpack.log 2>&1 || { cat cpack.log; fail "cpack -G ZIP"; }
installer=$build/dcf77tx-$version-win64.exe
zip=$build/dcf77tx-$version-win64.zip
[[ -f $installer && -f $zip ]] || fail "no dcf77tx-$version-win64.exe and .zip"
# What both carry: the zip's list, each file under its top folder; the
# logon launcher and its settings need the installer.
expected="LICENSE.txt README.txt dcf77tx-manual.txt dcf77tx.exe quaver-manual.txt quaver.exe"
zipped=$(cmake -E tar tf "$zip" | sed -n "s|^dcf77tx-$version-win64/||p" | grep -v '/$' | sort | xargs)
[[ $zipped == "$expected" ]] || fail "the zip holds [$zipped], not [$expected]"
pass "installer $(stat -c %s "$installer") bytes, zip $(stat -c %s "$zip") bytes: $zipped"

export WINEPREFIX=$build/wine-installer-test WINEDEBUG=-all
# No menus on this machine's desktop, no prompts for Mono or Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
rm -rf "$WINEPREFIX"
"$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -w
c=$WINEPREFIX/drive_c
folder=$c/dcf77tx-test
menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/dcf77tx"
task=$c/windows/system32/tasks/dcf77tx
settings=$c/ProgramData/dcf77tx/settings.txt
log=$c/ProgramData/dcf77tx/dcf77tx.log
# The folder to install into, in Windows' words.
target='C:\dcf77tx-test'
install() {
  # /D= goes unquoted: its words as separate arguments, which Wine joins
  # with one space each and quotes none of.
  local words
  read -ra words <<<"/D=$target"
  "$wine" "$installer" /S "$@" "${words[@]}" || fail "the installer $* ended with status $?"
  # Wine's own processes end within seconds of the last program.
  timeout 120 "$wineserver" -w || true
}
# Runs a program of the installation, its output in $out, its status in $status.
run() { status=0; out=$("$wine" "$@" 2>&1 | tr -d '\r') || status=$?; }

# The Windows Time service's servers, each with its flags: the first one's
# name goes into the settings and the Start menu (and is never asked).
"$wine" reg add 'HKLM\SYSTEM\CurrentControlSet\Services\W32Time\Parameters' /v NtpServer \
  /d 'ntp.example.org,0x9 time.example.net,0x1' /f >/dev/null 2>&1 || fail "reg add"
install /LOGON=1
installed=$(cd "$folder" && ls | sort | xargs)
[[ $installed == "$(echo "$expected" Uninstall.exe dcf77tx-task.xml dcf77tx-logon.exe settings-default.txt | xargs -n1 | sort | xargs)" ]] ||
  fail "the installation folder holds [$installed]"
cmp -s "$folder/settings-default.txt" "$settings" || fail "no settings in ProgramData"
grep -qx $'NTP=ntp.example.org\r' "$settings" || fail "the settings lack the NTP server: $(grep NTP "$settings")"
rm -rf unzipped && mkdir unzipped && (cd unzipped && cmake -E tar xf "$zip")
# Stripping stamps each copy of a program with its own time: those compare by size.
for file in $expected; do
  if [[ $file == *.exe ]]; then
    [[ $(stat -c %s "$folder/$file") == $(stat -c %s "unzipped/dcf77tx-$version-win64/$file") ]]
  else
    cmp -s "$folder/$file" "unzipped/dcf77tx-$version-win64/$file"
  fi || fail "the installed $file is not the zip's"
done
rm -rf unzipped
grep -q 'Uninstall\\\\dcf77tx\]' "$WINEPREFIX/system.reg" || fail "no entry in Apps"
grep -q $'NAME\r$' "$folder/dcf77tx-manual.txt" && grep -q 'dcf77tx --audio list' "$folder/dcf77tx-manual.txt" ||
  fail "dcf77tx-manual.txt is not the manual as text with Windows line ends"
! grep -q $'\b' "$folder/dcf77tx-manual.txt" "$folder/quaver-manual.txt" || fail "the manuals hold overstriking"
pass "installed silently: $installed"

run 'C:\dcf77tx-test\dcf77tx.exe' --version
[[ $status == 0 && $out == "dcf77tx $version" ]] || fail "dcf77tx.exe --version: $status [$out]"
run 'C:\dcf77tx-test\quaver.exe' --version
[[ $status == 0 && $out == "quaver $version" ]] || fail "quaver.exe --version: $status [$out]"
run 'C:\dcf77tx-test\dcf77tx.exe' --wav 'C:\dcf77tx-test.wav' --rate 48000 --minutes 1 --time '2026-12-07 10:15'
# Second 59, then one frame: 61 s of 16-bit mono, after a 44-byte header.
[[ $status == 0 && $(head -c 4 "$c/dcf77tx-test.wav") == RIFF && $(stat -c %s "$c/dcf77tx-test.wav") == $((44 + 61 * 48000 * 2)) ]] ||
  fail "--wav made no 61 s WAV file: $status [$out]"
pass "dcf77tx.exe --version, quaver.exe --version and --wav run from the installation"

# The Start menu: console windows running the programs from the
# installation folder; Notepad opens the settings with administrator
# rights (the shortcut's flag 0x2000), and the log.
link() { strings -el "$menu/$1.lnk" | xargs -0; }
[[ $(link "Set clocks now (sound card, Central European Time)") == *'C:\dcf77tx-test'*'/k .\dcf77tx.exe --audio default --zone cet --verbose --ntp ntp.example.org'* ]] ||
  fail "no Start-menu entry sets clocks now: $(link "Set clocks now (sound card, Central European Time)")"
[[ $(link "List sound devices") == *'C:\dcf77tx-test'*'/k .\dcf77tx.exe --audio list'* ]] || fail "no entry lists the sound devices"
[[ $(link "Measure the timing factor") == *'C:\dcf77tx-test'*'/k .\quaver.exe'* ]] || fail "no entry runs quaver"
[[ $(link "dcf77tx settings") == *'"C:\ProgramData\dcf77tx\settings.txt"'* ]] || fail "no entry opens the settings"
[[ $(link "dcf77tx log") == *'"C:\ProgramData\dcf77tx\dcf77tx.log"'* ]] || fail "no entry opens the log"
(( $(od -An -tu1 -j21 -N1 "$menu/dcf77tx settings.lnk") & 0x20 )) || fail "the settings' entry runs without administrator rights"
for entry in "dcf77tx manual" "quaver manual" README "Uninstall dcf77tx"; do
  [[ -f "$menu/$entry.lnk" ]] || fail "no Start-menu entry $entry"
done
pass "Start menu: $(cd "$menu" && ls | sed 's/\.lnk$//' | paste -sd, -)"

# The task as made (UTF-16) and what Wine's task scheduler kept of it.
made=$(iconv -f UTF-16 -t UTF-8 "$folder/dcf77tx-task.xml" | tr -d '\r')
for part in '<LogonTrigger><Enabled>true</Enabled><UserId>' '<LogonType>InteractiveToken</LogonType>' \
            '<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>' '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>' \
            '<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>' \
            '<RestartOnFailure><Interval>PT5M</Interval><Count>255</Count></RestartOnFailure>' \
            '<Command>C:\dcf77tx-test\dcf77tx-logon.exe</Command>'; do
  [[ $made == *"$part"* ]] || fail "the task lacks $part"
done
[[ -f $task ]] || fail "no task dcf77tx in Wine's task scheduler"
kept=$(tr -d '\r' <"$task")
for part in '<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>' '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>' \
            '<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>' '<Priority>4</Priority>'; do
  [[ $kept == *"$part"* ]] || fail "the registered task lacks $part"
done
pass "task dcf77tx registered: logon trigger, interactive token, no time limit, on battery, restarted"

# Again, over a running dcf77tx (waiting at its first question, its input
# held open), which the installer ends: the edited settings and the task
# stay; /LOGON= takes 1, yes, true, 0, no, false in any case, and refuses
# other values.
sed -i 's/^FACTOR=.*/FACTOR=98.7\r/' "$settings"
rm -f prompt && mkfifo prompt
"$wine" 'C:\dcf77tx-test\dcf77tx.exe' <prompt >asked 2>&1 &
running=$!
exec 3>prompt
for _ in {1..60}; do grep -q 'Serial Port Number' asked && break; sleep 0.5; done
kill -0 $running 2>/dev/null && grep -q 'Serial Port Number' asked || fail "dcf77tx did not wait at its question"
install
kill -0 $running 2>/dev/null && { kill $running; fail "installing again did not end the running dcf77tx"; }
exec 3>&-
rm prompt asked
grep -qx $'FACTOR=98.7\r' "$settings" || fail "installing again replaced the edited settings"
[[ -f $task ]] || fail "installing again without /LOGON removed the task"
status=0
"$wine" "$installer" /S /LOGON=maybe '/D=C:\dcf77tx-test' || status=$?
[[ $status == 2 && -f $task ]] || fail "/LOGON=maybe: status $status"
install /LOGON=No
[[ ! -f $task && ! -f $folder/dcf77tx-task.xml ]] || fail "/LOGON=No left the task"
install /LOGON=TRUE
[[ -f $task ]] || fail "/LOGON=TRUE made no task"
pass "installed again: the running program ended, edited settings kept; the task kept, refused /LOGON=maybe, /LOGON=No took it away, /LOGON=TRUE back"

# Into another folder, every kind of character in its name: the first
# installation goes, its edited settings stay.
target='C:\Wow! & ^%PATH% (x) ü;Ω=,'"'"'\dcf77tx'
install
old=$folder
folder="$c/Wow! & ^%PATH% (x) ü;Ω=,'/dcf77tx"
[[ ! -e $old && -f $folder/dcf77tx-logon.exe ]] || fail "installed into [$(ls "$c")], the first one left: $(ls "$old" 2>&1)"
grep -qx $'FACTOR=98.7\r' "$settings" || fail "moving the installation lost the edited settings"
[[ $(iconv -f UTF-16 -t UTF-8 "$folder/dcf77tx-task.xml") == *"<Command>${target//&/&amp;}\\dcf77tx-logon.exe</Command>"* ]] ||
  fail "the task runs $(iconv -f UTF-16 -t UTF-8 "$folder/dcf77tx-task.xml" | grep -o '<Command>.*</Command>')"
[[ $(grep -c 'Uninstall\\\\dcf77tx\]' "$WINEPREFIX/system.reg") == 1 ]] || fail "not one entry in Apps"
pass "installed into $target: the first installation removed"

# The logon launcher, one row per settings file (\n between its lines): the
# launcher's status, then what the log says. "going": a missing port, tried
# again while the launcher goes on, its log kept under 200 bytes (moved to
# dcf77tx.log.old) while the program runs. No row lets the program ask an
# NTP server, whether or not it knows --ntp.
logon=${target}'\dcf77tx-logon.exe'
rows=0
while IFS='|' read -r text want said; do
  [[ -z $text || $text == '#'* ]] && continue
  rows=$((rows + 1))
  IFS='|' read -ra said <<<"$said"
  printf '%b' "$text" >"$settings"
  rm -f "$log" "$log.old"
  if [[ $want == going ]]; then
    printf 'x%.0s' {1..149} >"$log" && echo >>"$log"
    "$wine" "$logon" --log-limit 200 </dev/null &
    for _ in {1..60}; do grep -qs 'next try in' "$log" && break; sleep 0.5; done
    kill $!
    [[ $(stat -c %s "$log") -le 200 && $(stat -c %s "$log.old") -le 200 ]] && ! grep -q xxxxxxxx "$log" "$log.old" ||
      fail "the log was not kept under 200 bytes: $(ls -l "$log"*)"
    got=$(cat "$log.old" "$log" | tr -d '\r')
  else
    run "$logon" </dev/null
    [[ $status == "$want" ]] || fail "the launcher with [$text]: status $status, not $want; the log: $(cat "$log")"
    got=$(tr -d '\r' <"$log")
  fi
  for part in "${said[@]}"; do
    [[ $got == *"$part"* ]] || fail "the launcher with [$text]: the log lacks [$part]: $got"
  done
done <<'EOF'
# Keys in any case, blanks around; the port missing: tried again after 10 s.
output = --Device\n  device= COM99  \nNTP=\n|going|--device COM99 --factor 100 --follow --verbose --zone cet|dcf77tx: COM99: File not found|dcf77tx ended with status 1; next try in 10 s
# Any case for the output and "default"; dcf77tx refuses an option: it stops.
OUTPUT=--AUDIO\nDEVICE=DEFAULT  \nNTP=\nOPTIONS=--bogus|2|dcf77tx.exe" --audio default --factor 100 --follow --verbose --bogus|ended with status 2 (a bad setting in C:\ProgramData\dcf77tx\settings.txt, said above): stopped
# NTP servers, each with --ntp; what the options hold is never a command.
OUTPUT=--device\nDEVICE=COM99\nNTP=127.0.0.1:9 [::1]:9\nOPTIONS=--zone cet & echo injected >C:\\injected.txt|2|--device COM99 --factor 100 --follow --verbose --ntp 127.0.0.1:9 --ntp [::1]:9 --zone cet & echo injected >C:\injected.txt
# Mistakes the launcher finds, each with its line.
OUTPUTT=--device|2|C:\ProgramData\dcf77tx\settings.txt, line 1: unknown setting 'OUTPUTT' (OUTPUT, DEVICE, FACTOR, NTP or OPTIONS): stopped
\nDEVICE="Speakers"|2|line 2: the value goes without quotes ('"Speakers"'): stopped
FACTOR=abc|2|line 1: FACTOR is a number such as 100 or 98.7 ('abc'): stopped
EOF
[[ $rows == 6 && ! -e $c/injected.txt ]] || fail "$rows rows, or a setting ran as a command"
pass "the logon launcher: $rows settings files"

# The uninstaller copies itself away and returns at once: wait for Wine.
"$wine" "$target\\Uninstall.exe" /S || fail "the uninstaller ended with status $?"
"$wineserver" -w
[[ ! -e $folder ]] || fail "left in the installation folder: $(ls "$folder")"
[[ ! -e $menu ]] || fail "left in the Start menu: $(ls "$menu")"
[[ ! -e $task ]] || fail "left the task"
[[ ! -e $log ]] || fail "left the log"
! grep -q 'Uninstall\\\\dcf77tx\]' "$WINEPREFIX/system.reg" || fail "left the entry in Apps"
grep -qx 'FACTOR=abc' "$settings" || fail "the edited settings are gone"
# Unedited settings go with the rest.
rm "$settings"
install
"$wine" "$target\\Uninstall.exe" /S
"$wineserver" -w
[[ ! -e $c/ProgramData/dcf77tx && ! -e $folder ]] || fail "unedited settings or files were left"
pass "uninstalled: programs, Start menu, task and log gone, edited settings kept, unedited ones removed"
# The prefix takes some 700 MB: kept only when a check fails.
rm -rf "$WINEPREFIX"
