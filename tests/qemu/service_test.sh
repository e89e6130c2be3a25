#!/usr/bin/env bash
# Installs the project's Debian package into a minimal Debian system with
# systemd, boots it in an emulated PC and checks the dcf77tx service as a
# user gets it: from inside (service_checks.sh: user, scheduling, locked
# memory, journal, restart after SIGKILL, reported on the console, COM1)
# and from outside (the frames on COM2, decoded from QEMU's trace of the
# UART registers).
#
#   service_test.sh BUILD_DIR
#
# Needs root, qemu-system-x86_64, mmdebstrap, mkfs.ext4 and cpack, and the
# Debian package archive (until the system is built); exits 77 (skipped)
# without them. The Debian system is built once and kept in
# BUILD_DIR/guest-service/cache.
set -euo pipefail

build=$(cd "$1" && pwd)
decoder=$build/tests/decode_trace
work=$build/guest-service
cache=$work/cache
here=$(cd "$(dirname "$0")" && pwd)
started=$(date +%s)

skip() {
    echo "SKIPPED: $*"
    exit 77
}
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (apt-get install qemu-system-x86)"
command -v mmdebstrap >/dev/null || skip "mmdebstrap is not installed (apt-get install mmdebstrap)"
command -v mkfs.ext4 >/dev/null || skip "mkfs.ext4 is not installed (apt-get install e2fsprogs)"
command -v cpack >/dev/null || skip "cpack is not installed (apt-get install cmake)"
[[ $(id -u) == 0 ]] || skip "building the Debian system needs root"
[[ -x $decoder ]] || { echo "build $decoder first"; exit 1; }

mkdir -p "$work" "$cache"

# A minimal Debian of this machine's release with systemd, udev (which
# gives the serial devices to group dialout), the sound library the
# package depends on and a kernel with its
# initramfs, from the archive this machine's apt uses.
. /etc/os-release
packages=systemd,systemd-sysv,udev,dbus,libnss-systemd,libasound2,linux-image-amd64,initramfs-tools
sources=/etc/apt/sources.list.d/debian.sources
[[ -f $sources ]] || sources=http://deb.debian.org/debian
recipe="$VERSION_CODENAME $packages $sources"
build_image=false
[[ -f $cache/debian.tar && $(cat "$cache/debian.recipe" 2>/dev/null) == "$recipe" ]] || build_image=true
if $build_image; then
    # The archive answers (its release file, through apt and its settings)
    # before a build that would otherwise fail half-way.
    archive=$sources
    [[ -f $sources ]] && archive=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' "$sources" | head -1)
    probe=$(mktemp -d)
    timeout 60 /usr/lib/apt/apt-helper download-file "$archive/dists/$VERSION_CODENAME/InRelease" "$probe/InRelease" \
        >"$work/probe.log" 2>&1 || { rm -rf "$probe"; skip "the Debian package archive $archive does not answer"; }
    rm -rf "$probe"
fi

# The package, as `cpack -G DEB` makes it.
rm -rf "$work/package"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
package=$(ls "$work"/package/dcf77tx_*.deb)

if $build_image; then
    echo "building a Debian $VERSION_CODENAME system with systemd (once; kept in $cache)"
    image_started=$(date +%s)
    rm -f "$cache/debian.tar"
    mmdebstrap --mode=root --format=tar --variant=apt --include="$packages" "$VERSION_CODENAME" "$cache/debian.tar.part" \
        "$sources" >"$work/mmdebstrap.log" 2>&1 || { tail -30 "$work/mmdebstrap.log"; exit 1; }
    mv "$cache/debian.tar.part" "$cache/debian.tar"
    echo "$recipe" >"$cache/debian.recipe"
    echo "built in $(($(date +%s) - image_started)) s"
fi

# This run's system: the package installed and configured as the README
# tells users to, the checks added, and nothing else touching COM1's lines.
root=$work/root
rm -rf "$root" && mkdir -p "$root"
tar -C "$root" -xf "$cache/debian.tar"
cp "$package" "$root/tmp/dcf77tx.deb"
chroot "$root" dpkg -i /tmp/dcf77tx.deb >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
rm "$root/tmp/dcf77tx.deb"
sed -i -e 's|^DEVICE=.*|DEVICE=/dev/ttyS1|' -e 's|^OPTIONS=.*|OPTIONS=--zone utc|' "$root/etc/default/dcf77tx"
grep -qx 'DEVICE=/dev/ttyS1' "$root/etc/default/dcf77tx" && grep -qx 'OPTIONS=--zone utc' "$root/etc/default/dcf77tx" ||
    { echo "the settings file has no DEVICE= or OPTIONS= line to set"; exit 1; }
chroot "$root" systemctl enable dcf77tx.service >/dev/null 2>&1
echo dcf77tx-test >"$root/etc/hostname"
echo "/dev/vda / ext4 rw 0 1" >"$root/etc/fstab"
# Nobody opens COM1 as a terminal: each open and close would write its
# modem-control register, which the trace cannot tell from COM2's.
ln -sf /dev/null "$root/etc/systemd/system/serial-getty@ttyS0.service"
install -m 755 "$here/service_checks.sh" "$root/usr/local/sbin/dcf77tx-service-checks"
cat >"$root/etc/systemd/system/dcf77tx-trace-marker.service" <<'UNIT'
[Unit]
Description=Marks the start of COM2's keying in the UART trace
Before=dcf77tx.service
[Service]
Type=oneshot
ExecStart=/bin/sh -c 'echo "<2>DCF77TX-START" >/dev/kmsg; sleep 1'
[Install]
WantedBy=multi-user.target
UNIT
cat >"$root/etc/systemd/system/dcf77tx-checks.service" <<'UNIT'
[Unit]
Description=Checks the running dcf77tx service
After=dcf77tx.service
[Service]
ExecStart=/usr/local/sbin/dcf77tx-service-checks
[Install]
WantedBy=multi-user.target
UNIT
chroot "$root" systemctl enable dcf77tx-trace-marker.service dcf77tx-checks.service >/dev/null 2>&1
kernel=$(ls "$root"/boot/vmlinuz-*)
initrd=$(ls "$root"/boot/initrd.img-*)
cp "$kernel" "$work/vmlinuz"
cp "$initrd" "$work/initrd.img"
rm -f "$work/disk.img"
mkfs.ext4 -q -F -L dcf77tx -d "$root" "$work/disk.img" 3G >/dev/null
rm -rf "$root"

echo serial_write >"$work/events"
rm -f "$work/console.log" "$work/trace.log"
echo "booting the system; the checks take about six minutes"
boot_started=$(date +%s)
status=0
# Two processors: the checks' own work does not hold up the keying's. The
# kernel prints on COM1 (the last console= names /dev/console, which
# systemd opens: a virtual terminal that goes nowhere).
timeout 1200 qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m 1024 -nodefaults -display none -no-reboot \
    -kernel "$work/vmlinuz" -initrd "$work/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0,115200 console=tty0 quiet printk.devkmsg=on systemd.show_status=0" \
    -drive "file=$work/disk.img,format=raw,if=virtio" \
    -serial "file:$work/console.log" -serial null -monitor none \
    -msg timestamp=on -trace "events=$work/events,file=$work/trace.log" >"$work/qemu.log" 2>&1 ||
    { echo "FAIL: the emulated PC did not power off by itself"; tail -5 "$work/qemu.log"; status=1; }
echo "the guest ran $(($(date +%s) - boot_started)) s"
rm -f "$work/disk.img"

console=$(tr -d '\r' <"$work/console.log")
echo "== inside the guest"
grep -o 'dcf77tx-check: .*' <<<"$console" || true
if ! grep -q 'dcf77tx-check: DONE' <<<"$console" || grep -q 'dcf77tx-check: FAIL' <<<"$console"; then
    echo "FAIL: the checks inside the guest failed or did not finish; its console:"
    tail -40 <<<"$console"
    status=1
fi
for finding in "settings of an earlier version" "settings for sound" "command line" "service active" "runs as user" "scheduling SCHED_FIFO" "memory locked" "journal:" "restarted as" \
               "keying again"; do
    grep -q "dcf77tx-check: PASS $finding" <<<"$console" || { echo "FAIL: no finding '$finding'"; status=1; }
done
echo "== on COM2"
killed=$(sed -n 's/.*dcf77tx-check: KILLED [0-9]* at \([0-9]*\).*/\1/p' <<<"$console")
"$decoder" service "$work/trace.log" "${killed:-0}" || status=1
echo "took $(($(date +%s) - started)) s in all"
exit $status
