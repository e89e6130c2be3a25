#!/usr/bin/env bash
# Runs the real dcf77tx in an emulated PC whose COM2 is a 16550 UART driven
# by the Debian kernel's own 8250 driver, and checks from QEMU's trace of
# the UART registers what the driver did with our open, settings and
# modem-line calls: the static program through its dialogue, and the
# program as `cmake --install` installs it, with the service's arguments.
#
#   guest_test.sh BUILD_DIR          the checks (CTest runs this)
#   guest_test.sh BUILD_DIR demo     keys the current time on COM2 and
#                                    prints each minute decoded, until Ctrl-C
#
# Needs qemu-system-x86_64, a static busybox and cpio; downloads the kernel
# package into BUILD_DIR/guest once. Exits 77 (skipped) without QEMU.
set -euo pipefail

build=$(cd "$1" && pwd)
mode=${2:-test}
program=$build/tests/dcf77tx_static
decoder=$build/tests/decode_trace
work=$build/guest
here=$(cd "$(dirname "$0")" && pwd)

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
[[ -x $program && -x $decoder ]] || { echo "build $program and $decoder first"; exit 1; }

mkdir -p "$work"
# The Debian kernel, unpacked from its package, not installed.
if [[ ! -f $work/vmlinuz ]]; then
    image=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
    [[ -n $image ]] || { echo "cannot find the kernel package (run apt-get update)"; exit 1; }
    rm -rf "$work/kernel" && mkdir -p "$work/kernel"
    (cd "$work/kernel" && apt-get download "$image" >/dev/null 2>&1 && dpkg -x ./*.deb .) ||
        { echo "cannot download $image"; exit 1; }
    cp "$work"/kernel/boot/vmlinuz-* "$work/vmlinuz"
    rm -rf "$work/kernel"
fi
printf 'serial_write\nserial_update_parameters\n' >"$work/events"

# The installed tree, with the shared libraries its program needs.
stage=$work/stage
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
for library in $(ldd "$stage/usr/bin/dcf77tx" | grep -o '/[^ ]*'); do
    mkdir -p "$stage$(dirname "$library")"
    cp -L "$library" "$stage$library"
done

# Boots a guest whose /init sets the UTC clock to $2 and then runs $3,
# a shell fragment; the console goes to $1/console.log, the trace to
# $1/trace.log. With a fourth argument, the installed tree is in the guest.
boot() {
    local dir=$1 date=$2 body=$3
    rm -rf "$dir" && mkdir -p "$dir/root/bin" "$dir/root/dev" "$dir/root/proc" "$dir/root/tmp"
    [[ -z ${4:-} ]] || cp -a "$stage/." "$dir/root/"
    cp "$busybox" "$dir/root/bin/busybox"
    cp "$program" "$dir/root/bin/dcf77tx"
    cat >"$dir/root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
date -u -s "$date" >/dev/null
# The trace reader starts here: after this line COM1 only sends text.
echo DCF77TX-START
$body
poweroff -f
INIT
    chmod +x "$dir/root/init"
    (cd "$dir/root" && find . | cpio -o -H newc 2>/dev/null | gzip -1 >"$dir/initramfs.gz")
    timeout 900 qemu-system-x86_64 -accel tcg -m 256 -nodefaults -display none -no-reboot \
        -kernel "$work/vmlinuz" -initrd "$dir/initramfs.gz" \
        -append "console=ttyS0,115200 quiet loglevel=1 rdinit=/init" \
        -serial "file:$dir/console.log" -serial null -monitor none \
        -msg timestamp=on -trace "events=$work/events,file=$dir/trace.log" >"$dir/qemu.log" 2>&1
}

if [[ $mode == demo ]]; then
    dir=$work/demo
    echo "Booting an emulated PC; dcf77tx keys its COM2 from the current UTC time."
    echo "The first whole minute is decoded about two minutes from now. Ctrl-C ends the demo."
    boot "$dir" "$(date -u '+%Y-%m-%d %H:%M:%S')" "printf '2\\n100\\n' | dcf77tx >/tmp/out 2>&1" &
    qemu=$!
    trap 'kill $qemu 2>/dev/null; pkill -f "$dir/initramfs.gz" 2>/dev/null; exit 0' INT TERM
    until [[ -f $dir/trace.log ]]; do sleep 1; done
    "$decoder" live "$dir/trace.log"
    exit 0
fi

# Keys from 23:57:55 until 00:01:02: the first frame after the open
# carries 23:59 and is not whole on the line (the open asserts the lines),
# the next two carry 00:00 and 00:01 of the new day.
keying="printf '2\\n100\\n' | timeout 187 dcf77tx >/tmp/out 2>&1; echo \"dcf77tx status \$?\"; cat /tmp/out"
# A second copy started while the first transmits must be refused.
exclusive="printf '2\\n100\\n' | dcf77tx >/tmp/first 2>&1 &
sleep 3
printf '2\\n100\\n' | dcf77tx >/tmp/second 2>&1
echo \"second status \$?\"
cat /tmp/second"

# The installed program as the service starts it, eight seconds before the
# frame that carries the spring change of 2010 (01:00 UTC, 03:00 CEST): it
# lets go of the lines at the open, so that first minute is a whole frame.
service="timeout 190 /usr/bin/dcf77tx --device /dev/ttyS1 --zone cet --factor 100 --follow --verbose >/tmp/out 2>&1
echo \"dcf77tx status \$?\"; cat /tmp/out"

boot "$work/new-year" "2009-12-31 23:57:55" "$keying" &
boot "$work/leap-day" "2024-02-28 23:57:55" "$keying" &
boot "$work/exclusive" "2024-06-01 12:00:00" "$exclusive" &
wait
boot "$work/installed" "2010-03-28 00:58:52" "$service" installed &
wait

status=0
check() {
    local name=$1
    shift
    echo "== $name"
    if ! grep -q "ZERO" "$work/$name/console.log" || ! grep -q "dcf77tx status 143" "$work/$name/console.log"; then
        echo "FAIL: the transmitter did not run until stopped:"
        tr -d '\r' <"$work/$name/console.log" | sed -n '/DCF77TX-START/,$p'
        status=1
        return
    fi
    "$decoder" check "$work/$name/trace.log" "$@" || status=1
}
check new-year 2010 1 1 0 0 5
check leap-day 2024 2 29 0 0 4
check installed 2010 3 28 3 0 7
if ! grep -q "^2010-03-28 00:59:00 UTC  DCF77  clocks show Sun 2010-03-28 03:00 CEST at 01:00 UTC" "$work/installed/console.log"; then
    echo "FAIL: the installed program printed no status line for 03:00 CEST"
    status=1
fi

echo "== exclusive"
console=$(tr -d '\r' <"$work/exclusive/console.log")
if grep -q "second status 1" <<<"$console" && grep -q "^CreateFile failed: /dev/ttyS1 (0000000b)$" <<<"$console"; then
    echo "a second copy got: $(grep '^CreateFile failed' <<<"$console"), status 1"
else
    echo "FAIL: a second copy was not refused the port:"
    sed -n '/DCF77TX-START/,$p' <<<"$console"
    status=1
fi
exit $status
