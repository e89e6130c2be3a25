#!/usr/bin/env bash
# The program against a real NTP server: chronyd on 127.0.0.1 at a free
# unprivileged port, never touching the system clock, and the program under
# libfaketime with its clock 2.5 s slow; the offset it prints must be
# 2.500 s slow within 5 ms. chronyd needs root (it refuses otherwise).
#   ntp_chrony_test.sh DCF77TX
set -uo pipefail
program=$1
chronyd=$(command -v chronyd || echo /usr/sbin/chronyd)
faketime=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
[[ -x $chronyd ]] || { echo "SKIP: chronyd is missing (apt-get install chrony)"; exit 77; }
[[ -n $faketime ]] || { echo "SKIP: libfaketime is missing (apt-get install libfaketime)"; exit 77; }
[[ $(id -u) == 0 ]] || { echo "SKIP: chronyd runs only as root"; exit 77; }

work=$(mktemp -d /tmp/dcf77tx-chrony.XXXXXX)
chmod 755 "$work"
pids=()
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    [[ -s $work/chronyd.pid ]] && kill "$(cat "$work/chronyd.pid")" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT

# A port nobody has open over UDP (the kernel's table lists them in hex).
listening() { grep -qi ":$(printf %04X "$1") " /proc/net/udp /proc/net/udp6 2>/dev/null; }
for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    listening "$port" || break
done
cat >"$work/chrony.conf" <<CONF
port $port
bindaddress 127.0.0.1
allow 127.0.0.1
local stratum 8
cmdport 0
pidfile $work/chronyd.pid
CONF
"$chronyd" -x -d -f "$work/chrony.conf" >"$work/chronyd.log" 2>&1 &
for _ in $(seq 50); do listening "$port" && break; sleep 0.1; done
listening "$port" || { echo "chronyd did not open port $port:"; cat "$work/chronyd.log"; exit 1; }

server=127.0.0.1:$port
LD_PRELOAD=$faketime FAKETIME=-2.5 FAKETIME_DONT_FAKE_MONOTONIC=1 \
    "$program" --dry-run --ntp "$server" --verbose >"$work/out.txt" 2>&1 &
pids+=($!)
pattern="system clock [0-9.]* s (slow|fast) of $server "
# Up to 30 s, while the program runs.
for _ in $(seq 300); do
    grep -Eq "$pattern" "$work/out.txt" && break
    kill -0 "${pids[0]}" 2>/dev/null || break
    sleep 0.1
done
line=$(grep -Eo "$pattern" "$work/out.txt" | head -1)
echo "${line:-no offset line; the program said:}"
[[ -n $line ]] || { head -20 "$work/out.txt"; exit 1; }
read -r _ _ seconds _ direction _ <<<"$line"
# 2.495 to 2.505 s slow, in whole milliseconds.
milliseconds=$((10#${seconds/./}))
[[ $direction == slow && $milliseconds -ge 2495 && $milliseconds -le 2505 ]] ||
    { echo "the offset is not 2.500 s slow within 5 ms"; exit 1; }
echo "ok: within 5 ms of 2.500 s slow"
