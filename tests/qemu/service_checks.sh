#!/bin/sh
# Runs inside the booted guest as a unit of its own, beside the installed
# dcf77tx service, and reports on the kernel console (COM1), one line per
# finding: "dcf77tx-check: PASS ..." or "dcf77tx-check: FAIL ...", then
# "dcf77tx-check: DONE" and powers the guest off.
#
# Checks the command lines systemd makes of settings files (one of an
# earlier version, one for sound with options) and of the installed one;
# what the unit grants the running program: active, its own non-root user,
# real-time scheduling, locked memory, status lines in the journal; then
# kills it with SIGKILL at second 35 of a minute and checks that systemd
# starts it again and that it keys frames again.

say() { echo "<2>dcf77tx-check: $*" >/dev/kmsg; }
pass() { say "PASS $*"; }
fail() { say "FAIL $*"; }
done_() {
    say "DONE"
    systemctl poweroff
    exit 0
}

# The status lines of the program with process id $1 (all when empty).
status_log() {
    if [ -n "$1" ]; then journalctl -q -u dcf77tx _PID="$1" -o cat; else journalctl -q -u dcf77tx -o cat; fi |
        grep ' UTC  DCF77 '
}
status_lines() { status_log "$1" | wc -l; }

# Waits up to $2 seconds for $1 status lines of process $3; true if they
# came. Every 5 s only: journalctl is heavy in an emulated CPU, and the
# checks must not load the guest that is keying.
wait_for_lines() {
    i=0
    while [ "$(status_lines "$3")" -lt "$1" ]; do
        i=$((i + 5))
        [ $i -le "$2" ] || return 1
        sleep 5
    done
}

main_pid() { systemctl show -p MainPID --value dcf77tx; }

# A copy of the unit named $1 whose program prints its arguments, "[arg]"
# each, instead of keying, with the settings given as the further arguments.
settings_unit() {
    name=$1
    shift
    printf '%s\n' "$@" >/run/$name.env
    sed -e "s|^EnvironmentFile=.*|EnvironmentFile=/run/$name.env|" \
        -e 's|^ExecStart=dcf77tx|ExecStart=printf [%%s] dcf77tx|' \
        -e "s|^StandardOutput=.*|StandardOutput=truncate:/run/$name.out|" \
        /usr/lib/systemd/system/dcf77tx.service >/run/systemd/system/$name.service
}
expect_arguments() {
    systemctl start --wait "$1.service"
    got=$(cat /run/"$1".out)
    [ "$got" = "$3" ] && pass "settings $2: $got" || fail "settings $2: '$got', expected '$3'"
}
settings_unit dcf77tx-old DEVICE=/dev/ttyS3 ZONE=local FACTOR=97
settings_unit dcf77tx-sound OUTPUT=--audio DEVICE=plughw:CARD=Device,DEV=0 FACTOR=100 \
    'OPTIONS=--station msf --window 01:55-02:15,02:55-03:15 --wait-sync'
systemctl daemon-reload
expect_arguments dcf77tx-old "of an earlier version" \
    "[dcf77tx][--device][/dev/ttyS3][--factor][97][--follow][--verbose][--zone][local]"
expect_arguments dcf77tx-sound "for sound" \
    "[dcf77tx][--audio][plughw:CARD=Device,DEV=0][--factor][100][--follow][--verbose][--station][msf][--window][01:55-02:15,02:55-03:15][--wait-sync]"

# Three status lines: the frame begun at the first minute after the start,
# and two whole frames after it (the first is not whole on the line: the
# open asserts the lines until its first pulse ends).
if ! wait_for_lines 3 300 ""; then
    fail "fewer than three status lines within 5 minutes: $(systemctl is-active dcf77tx)"
    journalctl -q -u dcf77tx -o cat | while read -r line; do say "journal: $line"; done
    done_
fi
pid=$(main_pid)

state=$(systemctl is-active dcf77tx)
[ "$state" = active ] && pass "service $state, main process $pid" || fail "service $state"

arguments=$(tr '\0' ' ' </proc/"$pid"/cmdline | cut -d' ' -f2-)
expected="--device /dev/ttyS1 --factor 100 --follow --verbose --zone utc "
[ "$arguments" = "$expected" ] && pass "command line: $arguments" || fail "command line: '$arguments'"

uid=$(sed -n 's/^Uid:[[:space:]]*\([0-9]*\).*/\1/p' /proc/"$pid"/status)
user=$(getent passwd "$uid" | cut -d: -f1)
[ -n "$uid" ] && [ "$uid" != 0 ] && pass "runs as user ${user:-?} (uid $uid)" || fail "runs as uid '$uid'"

policy=$(chrt -p "$pid" | sed -n 's/.*policy: //p')
priority=$(chrt -p "$pid" | sed -n 's/.*priority: //p')
[ "$policy" = SCHED_FIFO ] && pass "scheduling $policy priority $priority" || fail "scheduling '$policy' priority '$priority'"

locked=$(sed -n 's/^VmLck:[[:space:]]*\([0-9]*\).*/\1/p' /proc/"$pid"/status)
[ "${locked:-0}" -gt 0 ] && pass "memory locked: $locked kB" || fail "memory locked: '${locked}' kB"

lines=$(status_lines "")
pass "journal: $lines status lines, the last: $(status_log "" | tail -1)"

# Kill at second 35: the restart comes 10 s later, well before the next
# minute, whose frame is the first after the restart.
sleep $(((94 - $(date -u +%-S)) % 60))
while [ "$(date -u +%S)" != 35 ]; do sleep 0.2; done
kill -KILL "$pid"
say "KILLED $pid at $(date -u +%s)"

i=0
while :; do
    new=$(main_pid)
    [ "$new" != 0 ] && [ "$new" != "$pid" ] && [ "$(systemctl is-active dcf77tx)" = active ] && break
    i=$((i + 2))
    if [ $i -gt 60 ]; then
        fail "not restarted within 60 s: $(systemctl is-active dcf77tx)"
        done_
    fi
    sleep 2
done
pass "restarted as process $new within ${i} s (restarts: $(systemctl show -p NRestarts --value dcf77tx))"

# The second status line of the new process starts its first whole frame;
# power off once that frame is over.
if wait_for_lines 2 150 "$new"; then
    pass "keying again: $(status_log "$new" | tail -1)"
    sleep 62
else
    fail "no whole frame begun within 150 s of the restart"
fi
done_
