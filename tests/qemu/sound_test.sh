#!/usr/bin/env bash
# Plays through a real kernel sound driver in an emulated PC: the Debian
# kernel's loopback card (snd-aloop), whose capture side records what its
# playback side plays. sound_capture records it there, on the guest's own
# clocks, to a raw disk; the host decodes the samples and times them
# (sound_edges). First the sound probe, a steady tone through the
# program's own ALSA output, whose reported timing is compared with when
# the frames arrived; then the installed dcf77tx, whose frames are decoded
# and whose edges are timed against the guest's UTC seconds.
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
if [[ ! -f $work/vmlinuz || ! -d $work/modules ]]; then
    image=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
    [[ -n $image ]] || { echo "cannot find the kernel package (run apt-get update)"; exit 1; }
    rm -rf "$work/kernel" "$work/modules" && mkdir -p "$work/kernel"
    (cd "$work/kernel" && apt-get download "$image" >/dev/null 2>&1 && dpkg -x ./*.deb .) ||
        { echo "cannot download $image"; exit 1; }
    for part in sound/core sound/drivers sound/soundcore.ko drivers/virtio drivers/block/virtio_blk.ko; do
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
# clock to $2, starts the capture and then runs $4, a shell fragment.
boot() {
    local dir=$1 date=$2 seconds=$3 body=$4
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
    timeout 600 qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m 512 -nodefaults -display none -no-reboot \
        -kernel "$work/vmlinuz" -initrd "$dir/initramfs.gz" \
        -append "console=ttyS0,115200 quiet loglevel=1 rdinit=/init" \
        -drive "file=$dir/capture.raw,format=raw,if=virtio" \
        -serial "file:$dir/console.log" -monitor none >"$dir/qemu.log" 2>&1 ||
        { echo "FAIL: the emulated PC did not power off by itself"; tail -5 "$dir/qemu.log"; }
    tr -d '\r' <"$dir/console.log" >"$dir/console.txt"
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
    grep -v '^CAPTURED\|^CLOCK\|^RATE\|^END' "$work/$name/console.txt" | grep -v '^\[ *[0-9.]*\]' || true
    "$build/tests/sound_edges" program "$work/$name/console.txt" "$work/$name/capture.raw" "$tone" "$station" \
        "$(date -u -d '2024-06-01 11:59:00' +%s)" 2 | tee "$work/$name/edges.txt" || true
    local ok=1
    grep -q "dcf77tx status 0" "$work/$name/console.txt" || { echo "FAIL: dcf77tx did not end by itself"; ok=0; }
    grep -q "^FAIL" "$work/$name/edges.txt" && ok=0
    for frame in "11:59:00.000 UTC: $6" "12:00:00.000 UTC: $7"; do
        grep -q "^frame from $frame$" "$work/$name/edges.txt" || { echo "FAIL: no frame from $frame"; ok=0; }
    done
    if [[ $ok == 1 ]]; then rm -f "$work/$name/capture.raw"; else status=1; fi
}
run dcf77 192000 77500 dcf77 "--zone cet" "2024-06-01 14:00 summer time" "2024-06-01 14:01 summer time"
# MSF's 60 kHz at 48 kHz: its fifth subharmonic, the carrier off for a 1.
run msf 48000 20000 msf "--station msf" "2024-06-01 13:00" "2024-06-01 13:01"
echo "took $(($(date +%s) - started)) s in all"
exit $status
