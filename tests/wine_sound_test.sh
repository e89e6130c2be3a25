#!/usr/bin/env bash
# The Windows program's sound through Wine's own WASAPI into PulseAudio:
# a null sink (which keeps time) recorded from its monitor, the recording
# demodulated and decoded: two whole frames on end, in 2 to 3 minutes.
# Wine's PulseAudio driver refuses exclusive mode, so the shared mode at
# the mix's 48 kHz must be what plays. Wine's position is synthetic: the
# edges' timing is shown, not judged. It also says how much processor
# time the program took (Wine's own work included).
#   wine_sound_test.sh DCF77TX_EXE SOUND_EDGES_EXE [RATE]   48000 or 192000
set -uo pipefail
program=$1 edges=$2 rate=${3:-48000}
tone=$([[ $rate == 192000 ]] && echo 77500 || echo 15500)
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
for tool in "$wine" pulseaudio parec pactl; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done

work=$(mktemp -d /tmp/dcf77tx-wine-sound.XXXXXX)
export HOME=$work XDG_RUNTIME_DIR=$work/run WINEPREFIX=$work/prefix WINEDEBUG=-all
export PULSE_SERVER=unix:$work/run/pulse.sock
# Wine's PulseAudio stream holds three of its periods (10 ms each at
# PulseAudio's default latency), refilled by a timer thread: on a machine
# busy with builds the sound then runs dry every few seconds (gaps of 4 to
# 36 ms in the recording, each a slip that ends the frame in progress),
# even with Wine at real-time priority. 300 ms.
export PULSE_LATENCY_MSEC=300
mkdir -p "$XDG_RUNTIME_DIR"
cd "$work" || exit 1
pids=()
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null
    wait 2>/dev/null
}
trap finish EXIT

# As root PulseAudio warns but runs; --system is not wanted here.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --load="module-native-protocol-unix socket=$work/run/pulse.sock auth-anonymous=1" \
    --load="module-null-sink sink_name=dcf rate=$rate channels=2" >pulse.log 2>&1 &
pids+=($!)
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.2; done
pactl info >/dev/null 2>&1 || { echo "SKIP: PulseAudio did not start"; tail -3 pulse.log; exit 77; }

"$wine" wineboot -i >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1
"$wine" "$program" --audio list 2>&1 | tr -d '\r' >list.txt
echo "--audio list:"; cat list.txt
grep -q "^Null Output " list.txt || { echo "FAIL: Wine's endpoints do not include the null sink"; exit 1; }

parec --device=dcf.monitor --rate=$rate --channels=1 --format=s16le --raw >capture.raw &
pids+=($!)
capture_start=$(date -u +%s%N)
(sleep 10; pactl list sink-inputs >inputs.txt) &
TIMEFORMAT='%U %S %R'
{ time timeout 240 "$wine" "$program" --audio null --rate "$rate" --minutes 2 --verbose >out.crlf 2>err.txt; } 2>time.txt
status=$?
read -r user system real <time.txt
echo "processor time: ${user} s user + ${system} s system over ${real} s: $(awk "BEGIN { printf \"%.2f\", 100 * ($user + $system) / $real }") % of a core"
tr -d '\r' <out.crlf >out.txt
sleep 0.5
kill "${pids[1]}"
echo "dcf77tx status $status"; cat out.txt err.txt
ok=1
[[ $status == 0 ]] || { echo "FAIL: dcf77tx did not end by itself after two frames"; ok=0; }
[[ $(head -1 out.txt) == "Null Output at $rate Hz (shared at the mix rate): $tone Hz"* ]] || { echo "FAIL: not opened at $rate Hz in shared mode"; ok=0; }
# The shared mode's mix format (float), not the exclusive one asked first.
format=$(sed -n 's/^\tSample S[p]ecification: //p' inputs.txt | head -1)
echo "Wine's stream into PulseAudio: $format"
[[ $format == "float32le 2ch ${rate}Hz" ]] || { echo "FAIL: the stream is not shared mode's float at $rate Hz"; ok=0; }

# The recording's frames on the machine's clock, taking the capture as
# starting when parec did (its own latency shows as a constant offset).
frames=$(($(stat -c %s capture.raw) / 2))
{
    echo "CLOCK 0 $capture_start"
    echo "RATE $rate"
    for ((k = 0; k <= frames; k += rate / 10)); do echo "CAPTURED $k $((k * 1000000000 / rate))"; done
    echo "END $frames"
} >console.txt
"$wine" "$edges" program console.txt capture.raw $tone dcf77 $((capture_start / 1000000000 / 60 * 60)) 2 |
    tr -d '\r' | tee edges.txt
# The two whole frames sent, in two minutes on end (a restart would cut
# one): each one's text is the minute after the one it starts in (UTC, the
# default zone), read from the program's own lines.
sent=($(sed -n 's/^\([0-9-]* [0-9:]*\):00 UTC  DCF77 .*/\1/p' out.txt | tr ' ' T))
if [[ ${#sent[@]} != 2 ]] ||
    [[ $(date -u -d "${sent[0]/T/ } UTC + 1 minute" '+%F %R') != "${sent[1]/T/ }" ]]; then
    echo "FAIL: the program did not send two frames on end: ${sent[*]}"; ok=0
fi
for minute in "${sent[@]}"; do
    carries=$(date -u -d "${minute/T/ } UTC + 1 minute" '+%Y-%m-%d %H:%M')
    grep -q "^frame from .* UTC: $carries$" edges.txt ||
        { echo "FAIL: no frame decoded carrying $carries"; ok=0; }
done
# The tone within 500 ppm (the program corrects it by Wine's synthetic
# position), at -1 dBFS (0.891 of full scale).
awk -v tone="$tone" '/^program: carrier/ { ok = ($3 - tone)^2 < (tone * 5e-4)^2 && $10 ~ /^0\.89[0-9]$/ } END { exit !ok }' edges.txt ||
    { echo "FAIL: no $tone Hz carrier at -1 dBFS"; ok=0; }
if [[ $ok == 1 ]]; then
    echo "PASS"
    cd / && rm -rf "$work"
    exit 0
fi
echo "kept in $work"
exit 1
