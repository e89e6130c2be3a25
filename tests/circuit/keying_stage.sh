#!/usr/bin/env bash
# Simulates the coupling stage's keying and loop (docs/hardware/keying.cir)
# with ngspice for each line level the hardware notes promise, and checks
# ngspice's own measurements of the loop current: its amplitude while the
# lines are asserted is 10-20 % of that while they are negated, and each
# change of the envelope has passed 90 % within 1 ms of the line's edge.
#   keying_stage.sh NETLIST WORK_DIR
# Exits 77 (skipped) without ngspice.
set -euo pipefail
netlist=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$2
mkdir -p "$work"

if ! command -v ngspice >/dev/null; then
    echo "SKIPPED: ngspice is not installed (apt-get install ngspice)"
    exit 77
fi

# One row per way of connecting a port and per carrier: name, connector,
# negated and asserted voltage, loop inductance, C3, carrier frequency.
rows=(
    "rs232      J1 -12  12  22u 180n 77.5k"  # a PC's own port
    "usb-rs232  J1  -6   6  22u 180n 77.5k"  # the usual USB to RS-232 adapter
    "rs232-min  J1  -5   5  22u 180n 77.5k"  # the least an RS-232 driver may give
    "ttl3v3-inv J2 3.3   0  22u 180n 77.5k"  # USB to TTL adapter, 3.3 V, asserted = 0 V
    "ttl5v-inv  J2   5   0  22u 180n 77.5k"  # USB to TTL adapter, 5 V, asserted = 0 V
    "ttl3v3     J1   0 3.3  22u 180n 77.5k"  # a logic-level adapter that is not inverted
    "ttl5v      J1   0   5  22u 180n 77.5k"
    "loop-15uH  J1  -6   6  15u 180n 77.5k"  # a home-wound loop a third off
    "loop-33uH  J1  -6   6  33u 180n 77.5k"
    "60kHz      J1  -6   6  22u 330n 60k"    # MSF, WWVB, JJY Kyushu: X1 and C3 changed
    "40kHz      J1  -6   6  22u 680n 40k"    # JJY Fukushima
)

# The lines are negated, asserted at 1 ms and negated again at 3 ms, each
# edge taking 10 us. The envelope is the loop current's half peak-to-peak
# value over one carrier period, stepped a period at a time, so the times
# are late by up to a period (12.9 us at 77.5 kHz).
deck() { # name connector negated asserted inductance capacitance frequency
    local line="PWL(0 $3 1m $3 1.01m $4 3m $4 3.01m $3)" dtr=dtr rts=rts pulse
    [[ $2 == J2 ]] && dtr=tdtr rts=trts
    pulse=$(awk -v f="${7%k}" 'BEGIN { printf "0 5 0 20n 20n %.6gu %.6gu", 500/f - 0.02, 1000/f }')
    cat <<DECK
* $1: lines on $2, negated $3 V, asserted $4 V, L1 $5H, C3 $6F, $7Hz
.include $netlist
Vdtr $dtr 0 $line
Vrts $rts 0 $line
.control
alter L1 = $5
alter C3 = $6
alter @vosc[pulse] = [ $pulse ]
save vloop#branch
tran 20n 5m 0 20n
let per = 1/$7
meas tran fh MAX vloop#branch from=0.5m to=0.99m
meas tran fl MIN vloop#branch from=0.5m to=0.99m
meas tran rh MAX vloop#branch from=2.5m to=2.99m
meas tran rl MIN vloop#branch from=2.5m to=2.99m
let afull = (fh-fl)/2
let ared = (rh-rl)/2
let ratio = ared/afull
let span = afull-ared
* Full to reduced after the edge at 1 ms, reduced to full after 3 ms.
let down10 = 0
let down90 = 0
let t = 1m
while t lt 2.5m
  let t2 = t+per
  meas tran wh MAX vloop#branch from=\$&t to=\$&t2
  meas tran wl MIN vloop#branch from=\$&t to=\$&t2
  let a = (wh-wl)/2
  if down10 eq 0 and a le afull-0.1*span
    let down10 = t2-1m
  end
  if a le afull-0.9*span
    let down90 = t2-1m
    break
  end
  let t = t+per
end
let up10 = 0
let up90 = 0
let t = 3m
while t lt 4.5m
  let t2 = t+per
  meas tran wh MAX vloop#branch from=\$&t to=\$&t2
  meas tran wl MIN vloop#branch from=\$&t to=\$&t2
  let a = (wh-wl)/2
  if up10 eq 0 and a ge ared+0.1*span
    let up10 = t2-3m
  end
  if a ge ared+0.9*span
    let up90 = t2-3m
    break
  end
  let t = t+per
end
echo RESULT $&afull $&ratio $&down10 $&down90 $&up10 $&up90
quit
.endc
.end
DECK
}

failed=0
printf '%-11s %-3s %13s %10s %7s %22s %22s\n' level in "lines (V)" "full (mA)" ratio \
       "down 10-90/edge-90 us" "up 10-90/edge-90 us"
for row in "${rows[@]}"; do
    read -r name connector negated asserted inductance capacitance frequency <<<"$row"
    deck "$name" "$connector" "$negated" "$asserted" "$inductance" "$capacitance" "$frequency" >"$work/$name.cir"
    if ! ngspice -b "$work/$name.cir" >"$work/$name.log" 2>&1 \
       || ! result=$(grep '^RESULT ' "$work/$name.log"); then
        echo "$name: ngspice failed, its output ($work/$name.log) ends:"
        tail -20 "$work/$name.log"
        failed=1
        continue
    fi
    read -r _ afull ratio down10 down90 up10 up90 <<<"$result"
    awk -v n="$name" -v c="$connector" -v lv="$negated/$asserted" -v af="$afull" -v r="$ratio" \
        -v d10="$down10" -v d90="$down90" -v u10="$up10" -v u90="$up90" 'BEGIN {
        printf "%-11s %-3s %13s %10.3f %6.1f%% %11.1f %10.1f %11.1f %10.1f\n",
               n, c, lv, af*1e3, r*100, (d90-d10)*1e6, d90*1e6, (u90-u10)*1e6, u90*1e6
        bad = 0
        if (!(r >= 0.10 && r <= 0.20)) {
            printf "%s: asserted amplitude is %.1f %% of the negated one, not 10-20 %%\n", n, r*100; bad = 1
        }
        if (!(d90 > 0 && d90 < 1e-3)) {
            printf "%s: the carrier has not come down 90 %% within 1 ms of the lines asserting\n", n; bad = 1
        }
        if (!(u90 > 0 && u90 < 1e-3)) {
            printf "%s: the carrier has not come back 90 %% within 1 ms of the lines negating\n", n; bad = 1
        }
        exit bad }' || failed=1
done
exit $failed
