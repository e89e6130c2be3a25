#!/usr/bin/env bash
# The Windows installer and zip, made by cpack in the Windows build folder,
# and the installer run under Wine in a fresh prefix: a silent installation
# with the logon task, the programs run from the installation folder, the
# Start-menu entries, the task, the logon launcher with its settings, an
# installation again, and the uninstaller, which keeps edited settings.
# Skipped (status 77) without makensis or wine64.
#   windows_installer_test.sh BUILD_DIR VERSION
set -euo pipefail
# Names sort and compare byte by byte.
export LC_ALL=C
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
pass() { echo "ok: $*"; }

cd "$build"
rm -f dcf77tx-*-win64.exe dcf77tx-*-win64.zip
cpack -G NSIS >cpack.log 2>&1 || { cat cpack.log; fail "cpack -G NSIS"; }
cpack -G ZIP >>cpack.log 2>&1 || { cat cpack.log; fail "cpack -G ZIP"; }
installer=$build/dcf77tx-$version-win64.exe
zip=$build/dcf77tx-$version-win64.zip
[[ -f $installer && -f $zip ]] || fail "no dcf77tx-$version-win64.exe and .zip"
# What both carry: the zip's list, each file under its top folder.
expected="LICENSE.txt README.txt dcf77tx-logon.cmd dcf77tx-logon.vbs dcf77tx-manual.txt dcf77tx.exe quaver-manual.txt quaver.exe settings-default.txt"
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
install() {
  "$wine" "$installer" /S "$@" '/D=C:\dcf77tx-test' || fail "the installer $* ended with status $?"
  # Wine's own processes end within seconds of the last program.
  timeout 120 "$wineserver" -w || true
}
# Runs a program of the installation, its output in $out, its status in $status.
run() { status=0; out=$("$wine" "$@" 2>&1 | tr -d '\r') || status=$?; }

install /LOGON=1
installed=$(cd "$folder" && ls | sort | xargs)
[[ $installed == "$(echo "$expected" Uninstall.exe dcf77tx-task.xml | xargs -n1 | sort | xargs)" ]] ||
  fail "the installation folder holds [$installed]"
cmp -s "$folder/settings-default.txt" "$settings" || fail "no settings in ProgramData"
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

# The Start menu: console windows running the programs; Notepad opens the
# settings with administrator rights (the shortcut's flag 0x2000).
link() { strings -el "$menu/$1.lnk" | xargs -0; }
[[ $(link "Set clocks now (sound card, Central European Time)") == *'/k ""C:\dcf77tx-test\dcf77tx.exe" --audio default --zone cet --verbose"'* ]] ||
  fail "no Start-menu entry sets clocks now"
[[ $(link "List sound devices") == *'/k ""C:\dcf77tx-test\dcf77tx.exe" --audio list"'* ]] || fail "no entry lists the sound devices"
[[ $(link "Measure the timing factor") == *'/k ""C:\dcf77tx-test\quaver.exe""'* ]] || fail "no entry runs quaver"
[[ $(link "dcf77tx settings") == *'"C:\ProgramData\dcf77tx\settings.txt"'* ]] || fail "no entry opens the settings"
(( $(od -An -tu1 -j21 -N1 "$menu/dcf77tx settings.lnk") & 0x20 )) || fail "the settings' entry runs without administrator rights"
for entry in "dcf77tx manual" "quaver manual" README "Uninstall dcf77tx"; do
  [[ -f "$menu/$entry.lnk" ]] || fail "no Start-menu entry $entry"
done
pass "Start menu: $(cd "$menu" && ls | sed 's/\.lnk$//' | paste -sd, -)"

# The task as made (UTF-16) and what Wine's task scheduler kept of it.
made=$(iconv -f UTF-16 -t UTF-8 "$folder/dcf77tx-task.xml" | tr -d '\r')
for part in '<LogonTrigger><Enabled>true</Enabled><UserId>' '<LogonType>InteractiveToken</LogonType>' \
            '<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>' '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>' \
            '<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>' '<RestartOnFailure><Interval>PT1M</Interval>' \
            '<Command>C:\windows\system32\wscript.exe</Command><Arguments>//B //NoLogo "C:\dcf77tx-test\dcf77tx-logon.vbs"</Arguments>'; do
  [[ $made == *"$part"* ]] || fail "the task lacks $part"
done
[[ -f $task ]] || fail "no task dcf77tx in Wine's task scheduler"
kept=$(tr -d '\r' <"$task")
for part in '<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>' '<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>' \
            '<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>' '<Priority>4</Priority>'; do
  [[ $kept == *"$part"* ]] || fail "the registered task lacks $part"
done
pass "task dcf77tx registered: logon trigger, interactive token, no time limit, on battery, restarted"

# The launcher: the settings' options, the output appended to the log.
sed -i 's/^OUTPUT=.*/OUTPUT=--device/; s/^DEVICE=.*/DEVICE=COM99/' "$settings"
run cmd /c 'C:\dcf77tx-test\dcf77tx-logon.cmd'
[[ $status == 1 ]] || fail "the launcher with a port that is not there: status $status"
grep -q -- 'starting: dcf77tx --device "COM99" --factor "100" --follow --verbose --zone cet' "$log" &&
  grep -q 'COM99' <(grep -v starting "$log") && grep -q 'ended with status 1' "$log" ||
  fail "the log is: $(cat "$log")"
# A bad setting ends the hidden launcher at once with status 2; what the
# settings hold is never a command of its own.
sed -i 's/^FACTOR=.*/FACTOR=abc/; s/^OPTIONS=.*/OPTIONS=--zone cet \& echo injected >C:\\injected.txt/' "$settings"
run wscript //B //NoLogo 'C:\dcf77tx-test\dcf77tx-logon.vbs'
[[ $status == 2 ]] || fail "the hidden launcher with a bad setting: status $status"
[[ $(grep -c 'ended with status' "$log") == 2 ]] && grep -q "^dcf77tx: .*'abc'" <(tr -d '\r' <"$log") ||
  fail "the log is: $(cat "$log")"
[[ ! -e $c/injected.txt ]] || fail "a setting ran as a command"
pass "the launcher runs the settings' options, its output in the log"

# Again, over a running dcf77tx (waiting at its first question, its input
# held open), which the installer ends: the edited settings and the task
# stay; /LOGON=0 takes the task away.
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
grep -qx 'FACTOR=abc' "$settings" || fail "installing again replaced the edited settings"
[[ -f $task ]] || fail "installing again without /LOGON removed the task"
install /LOGON=0
[[ ! -f $task && ! -f $folder/dcf77tx-task.xml ]] || fail "/LOGON=0 left the task"
install /LOGON=1
pass "installed again: the running program ended, edited settings kept; the task kept, then taken away with /LOGON=0"

# The uninstaller copies itself away and returns at once: wait for Wine.
"$wine" 'C:\dcf77tx-test\Uninstall.exe' /S || fail "the uninstaller ended with status $?"
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
"$wine" 'C:\dcf77tx-test\Uninstall.exe' /S
"$wineserver" -w
[[ ! -e $c/ProgramData/dcf77tx && ! -e $folder ]] || fail "unedited settings or files were left"
pass "uninstalled: programs, Start menu, task and log gone, edited settings kept, unedited ones removed"
# The prefix takes some 700 MB: kept only when a check fails.
rm -rf "$WINEPREFIX"
