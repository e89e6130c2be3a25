#!/usr/bin/env bash
# Plays through real kernel sound drivers in an emulated PC: the Debian
# kernel's loopback card (snd-aloop), whose capture side records what its
# playback side plays. sound_capture records it there, on the guest's own
# clocks, to a raw disk; the host decodes the samples and times them
# (sound_edges). First the sound probe, a steady tone through the
# program's own ALSA output, whose reported timing is compared with when
# the frames arrived; then the installed dcf77tx, whose frames are decoded
# and whose edges are timed against the guest's UTC seconds.
# The last boot also has a USB sound card (QEMU's usb-audio on an xHCI
# controller, the kernel's snd-usb-audio) and an HD Audio one (intel-hda
# with hda-output, snd-hda-intel): the program is pulled off the USB card
# through QEMU's monitor, plays on the HD Audio card while QEMU records
# what it plays, and is stopped for 400 ms on the loopback card.
#
#   sound_test.sh BUILD_DIR
#
# Needs qemu-system-x86_64, a static busybox and cpio; downloads the kernel
# package into BUILD_DIR/guest-sound once. Exits 77 (skipped) without them.
set -euo pipefail

build=$(cd "$1" && pwd)
work=$build/guest-sound
started=$(date +%s)

skip() {
    echo "SKIPPED: $*"
    exit 77
}
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (apt-get install qemu-system-x86 busybox-static cpio)"
command -v cpio >/dev/null || skip "cpio is not installed (apt-get install cpio)"
busybox=$(command -v busybox || true)
if [[ -z $busybox ]] || ldd "$busybox" >/dev/null 2>&1; then
    skip "no static busybox (apt-get install busybox-static)"
fi
[[ -d /usr/share/alsa ]] || skip "no ALSA configuration in /usr/share/alsa (apt-get install libasound2)"
for tool in sound_probe sound_capture sound_edges; do
    [[ -x $build/tests/$tool ]] || { echo "build $build/tests/$tool first"; exit 1; }
done

mkdir -p "$work"
# The Debian kernel and the modules the test loads, from its package.
if [[ ! -f $work/vmlinuz || -z $(find "$work/modules" -name 'snd-usb-audio.ko*' 2>/dev/null) ]]; then
    image=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
    [[ -n $image ]] || { echo "cannot find the kernel package (run apt-get update)"; exit 1; }
    rm -rf "$work/kernel" "$work/modules" && mkdir -p "$work/kernel"
    (cd "$work/kernel" && apt-get download "$image" >/dev/null 2>&1 && dpkg -x ./*.deb .) ||
        { echo "cannot download $image"; exit 1; }
    for part in sound/core sound/drivers sound/soundcore.ko drivers/virtio drivers/block/virtio_blk.ko \
        sound/hda sound/pci/hda sound/usb drivers/usb/common drivers/usb/core drivers/usb/host/xhci-* \
        drivers/media/mc drivers/leds/trigger/ledtrig-audio.ko; do
        for found in "$work"/kernel/lib/modules/*/kernel/$part; do
            target=$work/modules/${found#"$work/kernel/"}
            mkdir -p "$(dirname "$target")" && cp -a "$found" "$target"
        done
    done
    cp "$work"/kernel/boot/vmlinuz-* "$work/vmlinuz"
    rm -rf "$work/kernel"
fi

# The guest's files: busybox, the kernel's modules, the programs with the
# shared libraries they need and ALSA's configuration.
stage=$work/stage
rm -rf "$stage" && mkdir -p "$stage/bin" "$stage/dev" "$stage/proc" "$stage/sys" "$stage/tmp" "$stage/usr/share"
cp "$busybox" "$stage/bin/busybox"
cp -a "$work/modules/lib" "$stage/"
cp -a /usr/share/alsa "$stage/usr/share/"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
cp "$build/tests/sound_probe" "$build/tests/sound_capture" "$stage/bin/"
for program in "$stage/bin/sound_probe" "$stage/bin/sound_capture" "$stage/usr/bin/dcf77tx"; do
    for library in $(ldd "$program" | grep -o '/[^ ]*'); do
        mkdir -p "$stage$(dirname "$library")"
        cp -L "$library" "$stage$library"
    done
done

# Boots the guest with a capture disk of $3 seconds; its /init sets the UTC
# clock to $2, starts the capture and then runs $4, a shell fragment. With
# a fifth argument the guest also has the USB and HD Audio cards (named
# USBAudio and HDA), QEMU records the latter to $1/hda.wav, and the host
# pulls the USB card out when the guest's console says PULL-USB.
boot() {
    local dir=$1 date=$2 seconds=$3 body=$4 drivers=${5:-}
    local loads="" devices=(-monitor none)
    if [[ -n $drivers ]]; then
        loads="modprobe snd-hda-codec-generic && modprobe snd-hda-intel id=HDA && modprobe snd-usb-audio id=USBAudio && modprobe xhci-pci"
        # QEMU records at the rate played, 48 kHz. The codec moves the
        # guest's samples only when QEMU's audio timer takes them (with its
        # own timer, blocks of them went missing when the host was busy);
        # that timer runs every 2 ms so that it catches up quickly.
        devices=(-device qemu-xhci -audiodev none,id=usbout -device usb-audio,id=usbsnd,audiodev=usbout
            -audiodev "wav,id=hdaout,path=$dir/hda.wav,out.frequency=48000,timer-period=2000" -device intel-hda
            -device hda-output,audiodev=hdaout,mixer=off,use-timer=off -monitor "pipe:$dir/monitor")
    fi
    rm -rf "$dir" && mkdir -p "$dir/root"
    cp -a "$stage/." "$dir/root/"
    cat >"$dir/root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
depmod
modprobe snd-aloop pcm_substreams=1 && modprobe virtio_pci && modprobe virtio_blk
$loads
date -u -s "$date" >/dev/null
sound_capture hw:CARD=Loopback,DEV=1,SUBDEV=0 $rate $seconds /dev/vda &
sleep 1
$body
wait
sync
poweroff -f
INIT
    chmod +x "$dir/root/init"
    (cd "$dir/root" && find . | cpio -o -H newc 2>/dev/null | gzip -1 >"$dir/initramfs.gz")
    rm -rf "$dir/root"
    truncate -s $((rate * 2 * seconds + 1048576)) "$dir/capture.raw"
    local puller="" monitor=""
    if [[ -n $drivers ]]; then
        mkfifo "$dir/monitor.in" "$dir/monitor.out"
        cat "$dir/monitor.out" >"$dir/monitor.log" 2>/dev/null </dev/null &
        monitor=$!
        PullUsb "$dir" &
        puller=$!
    fi
    timeout 600 qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m 512 -nodefaults -display none -no-reboot \
        -kernel "$work/vmlinuz" -initrd "$dir/initramfs.gz" \
        -append "console=ttyS0,115200 quiet loglevel=1 rdinit=/init" \
        -drive "file=$dir/capture.raw,format=raw,if=virtio" \
        -serial "file:$dir/console.log" "${devices[@]}" >"$dir/qemu.log" 2>&1 ||
        { echo "FAIL: the emulated PC did not power off by itself"; tail -5 "$dir/qemu.log"; }
    local job
    for job in $puller $monitor; do
        kill "$job" 2>/dev/null || true
        wait "$job" 2>/dev/null || true
    done
    tr -d '\r' <"$dir/console.log" >"$dir/console.txt"
}

# Runs on the host beside the emulated PC: removes its USB sound card
# through QEMU's monitor once the guest asks, and writes to $1/pull.txt how
# long the program took to end after that (as the console shows it).
PullUsb() {
    local dir=$1 polls=0
    until grep -q '^PULL-USB' "$dir/console.log" 2>/dev/null; do
        ((++polls < 3000)) || return 0
        sleep 0.1
    done
    local pulled
    pulled=$(date +%s%N)
    echo "device_del usbsnd" >"$dir/monitor.in"
    polls=0
    until grep -q '^usb status' "$dir/console.log"; do
        ((++polls < 1000)) || return 0
        sleep 0.01
    done
    echo "$((($(date +%s%N) - pulled) / 1000000))" >"$dir/pull.txt"
}

status=0
rate=192000
echo "== the sound probe at $rate Hz"
boot "$work/probe" "2024-06-01 11:59:50" 25 "sound_probe hw:CARD=Loopback,DEV=0,SUBDEV=0 0 20"
# The recording is kept where the check fails.
if "$build/tests/sound_edges" probe "$work/probe/console.txt" "$work/probe/capture.raw"; then
    rm -f "$work/probe/capture.raw"
else
    status=1
    grep -v '^CAPTURED' "$work/probe/console.txt" | tail -20
fi

# Checks run $1 on the loopback card: the program (its output on the
# console) ended by itself, and from the capture, with tone $2 and station
# $3, whole frames from 11:59 and 12:00 UTC reading $4 and $5, every edge
# from then on within $6 ms of its UTC second. Clears `ok` on a failure.
check() {
    local name=$1 tone=$2 station=$3
    grep -v '^CAPTURED\|^CLOCK\|^RATE\|^END' "$work/$name/console.txt" | grep -v '^\[ *[0-9.]*\]' || true
    "$build/tests/sound_edges" program "$work/$name/console.txt" "$work/$name/capture.raw" "$tone" "$station" \
        "$(date -u -d '2024-06-01 11:59:00' +%s)" 2 "$6" | tee "$work/$name/edges.txt" || true
    grep -q "dcf77tx status 0" "$work/$name/console.txt" || { echo "FAIL: dcf77tx did not end by itself"; ok=0; }
    grep -q "^FAIL" "$work/$name/edges.txt" && ok=0
    for frame in "11:59:00.000 UTC: $4" "12:00:00.000 UTC: $5"; do
        grep -q "^frame from $frame$" "$work/$name/edges.txt" || { echo "FAIL: no frame from $frame"; ok=0; }
    done
}

# The installed program as a user starts it, at the rate the card offers
# (the capture's), from 11:58:51 UTC: whole frames from 11:59 and 12:00.
# $1: the run's name, $2: the rate, $3: the tone the program makes, then
# the station, the arguments and the two frames' decoded texts.
run() {
    local name=$1 hz=$2 tone=$3 station=$4 arguments=$5
    rate=$hz
    echo "== dcf77tx $arguments at $rate Hz"
    boot "$work/$name" "2024-06-01 11:58:50" 135 \
        "timeout 200 dcf77tx --audio hw:CARD=Loopback,DEV=0,SUBDEV=0 $arguments --minutes 2 --verbose >/tmp/out 2>&1
echo \"dcf77tx status \$?\"; cat /tmp/out"
    ok=1
    check "$name" "$tone" "$station" "$6" "$7" 2
    if [[ $ok == 1 ]]; then rm -f "$work/$name/capture.raw"; else status=1; fi
}
run dcf77 192000 77500 dcf77 "--zone cet" "2024-06-01 14:00 summer time" "2024-06-01 14:01 summer time"

# MSF's 60 kHz at 48 kHz: its fifth subharmonic, the carrier off for a 1;
# from 11:57:20 UTC, in the boot with the USB and HD Audio cards. First
# dcf77tx plays on the USB card until the host pulls it out. Then it plays
# DCF77 on the HD Audio card (one whole frame, from 11:58 or a minute
# later) while MSF plays on the loopback card; the latter is stopped for
# 400 ms at 11:58:20, which cuts its frame from 11:58: whole frames again
# from 11:59 and 12:00.
rate=48000
echo "== dcf77tx --station msf at $rate Hz, stopped for 400 ms; on a USB card pulled out; on HD Audio"
stop=$(date -u -d '2024-06-01 11:58:20' +%s)
boot "$work/msf" "2024-06-01 11:57:20" 230 "for card in USBAudio HDA; do
    n=0; while [ ! -e /proc/asound/\$card ] && [ \$n -lt 200 ]; do sleep 0.1; n=\$((n + 1)); done
done
cat /proc/asound/cards
dcf77tx --audio hw:CARD=USBAudio,DEV=0 --minutes 5 >/tmp/usb.out 2>/tmp/usb.err &
usb=\$!
sleep 3
echo PULL-USB
wait \$usb
echo \"usb status \$?\"; sed 's/^/usb stdout: /' /tmp/usb.out; sed 's/^/usb stderr: /' /tmp/usb.err
timeout 200 dcf77tx --audio hw:CARD=HDA,DEV=0 --rate 48000 --zone cet --minutes 1 --verbose >/tmp/hda.out 2>&1 &
hda=\$!
dcf77tx --audio hw:CARD=Loopback,DEV=0,SUBDEV=0 --station msf --minutes 2 --verbose >/tmp/out 2>/tmp/err &
msf=\$!
while [ \$(date +%s) -lt $stop ]; do sleep 0.05; done
kill -STOP \$msf; sleep 0.4; kill -CONT \$msf
echo STOPPED-AND-CONTINUED
wait \$msf
echo \"dcf77tx status \$?\"; cat /tmp/out; sed 's/^/stderr: /' /tmp/err
wait \$hda
echo \"hda status \$?\"; sed 's/^/hda: /' /tmp/hda.out" drivers
ok=1
check msf 20000 msf "2024-06-01 13:00" "2024-06-01 13:01" 1
console=$work/msf/console.txt
# The stop: the frame from 11:58 had begun, and was cut with one line.
grep -q '^2024-06-01 11:58:00 UTC' "$console" || { echo "FAIL: no frame from 11:58 began before the stop"; ok=0; }
grep -q '^frame from 11:58:00.000 UTC: [^I]*$' "$work/msf/edges.txt" &&
    { echo "FAIL: the frame from 11:58 arrived whole despite the stop"; ok=0; }
[[ $(grep -c '^stderr: ' "$console") == 1 ]] && grep -q '^stderr: dcf77tx: .*the frame in progress ends' "$console" ||
    { echo "FAIL: not one line on standard error for the stop"; ok=0; }
if [[ $ok == 1 ]]; then rm -f "$work/msf/capture.raw"; else status=1; fi

# The USB card pulled out: status 1 within a second, one line naming the
# device and ALSA's text for a device gone (the kernel wakes a blocked
# write with "bad state", later calls find no device).
pulled=$(cat "$work/msf/pull.txt" 2>/dev/null || echo none)
echo "USB card pulled out: the program ended $pulled ms later (as the host saw the console)"
grep -q '^usb stdout: hw:CARD=USBAudio,DEV=0 at ' "$console" || { echo "FAIL: the program did not play on the USB card"; status=1; }
grep -q '^usb status 1$' "$console" || { echo "FAIL: the program did not end with status 1"; status=1; }
[[ $pulled != none && $pulled -lt 1000 ]] || { echo "FAIL: not ended within a second of the pull"; status=1; }
[[ $(grep -c '^usb stderr: ' "$console") == 1 ]] &&
    grep -Eq '^usb stderr: dcf77tx: .*hw:CARD=USBAudio,DEV=0.*: (No such device|File descriptor in bad state)$' "$console" ||
    { echo "FAIL: not one line naming the device and ALSA's text"; status=1; }

# HD Audio: in what QEMU recorded, the whole frame the program ended
# after, the last it announced ("... clocks show Sat 2024-06-01 13:59 CEST
# at 11:59 UTC"), at the tone its first line names ("... Hz: TONE Hz, ...").
hdaOk=1
grep -q '^hda status 0$' "$console" || { echo "FAIL: dcf77tx on HD Audio did not end by itself"; hdaOk=0; }
hdaTone=$(sed -n 's/^hda: hw:CARD=HDA,DEV=0 at [0-9]* Hz: \([0-9.]*\) Hz.*/\1/p' "$console")
hdaFrame=$(sed -n 's/^hda: .* clocks show [A-Za-z]* \([0-9-]* [0-9:]*\) CEST .*/\1 summer time/p' "$console" | tail -1)
"$build/tests/sound_edges" recording "$work/msf/hda.wav" "${hdaTone:-0}" dcf77 1 | tee "$work/msf/hda.txt" || true
grep -q "^FAIL" "$work/msf/hda.txt" && hdaOk=0
grep -q "^frame from [0-9.]* s: ${hdaFrame:-none}$" "$work/msf/hda.txt" ||
    { echo "FAIL: the frame announced last (${hdaFrame:-none}) is not in the recording"; hdaOk=0; }
if [[ $hdaOk == 1 ]]; then rm -f "$work/msf/hda.wav"; else status=1; fi
echo "took $(($(date +%s) - started)) s in all"
exit $status
