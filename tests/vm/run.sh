#!/usr/bin/env bash
# Boots Debian's own kernel under QEMU (TCG, no KVM) with a busybox initramfs
# holding pxctl, the adapter emulators, i2c-tools' i2ctransfer, the libraries
# they need, the parport/ppdev/lp, i2c and USB/HID modules and scenarios.sh,
# and writes what the guest prints on its serial console to OUT_DIR/console.log.
# A missing QEMU, kernel or busybox is a failure.
#   run.sh [BUILD_DIR [OUT_DIR]]   (defaults: build/dev, BUILD_DIR/tests/vm)
set -euo pipefail
case "${1:-}" in
  -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build/dev}"
out="${2:-$build/tests/vm}"
fail() { echo "vm: $*" >&2; exit 1; }

pxctl="$build/apps/pxctl"
cp2112="$build/tests/cp2112_emulator"
mcp2221="$build/tests/mcp2221_emulator"
tinyusb="$build/tests/tiny_usb_emulator"
ft232h="$build/tests/ft232h_emulator"
ftdiloop="$build/tests/ftdi_loop"
for program in "$pxctl" "$cp2112" "$mcp2221" "$tinyusb" "$ft232h" "$ftdiloop"; do
  [ -x "$program" ] || fail "$program not built (cmake --build --preset dev)"
done
command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 not found (apt-get install qemu-system-x86)"
[ -x /bin/busybox ] && { ldd /bin/busybox 2>&1 || true; } | grep -q 'not a dynamic' ||
  fail "a static /bin/busybox is needed (apt-get install busybox-static)"
i2ctransfer="$(command -v i2ctransfer || true)"
[ -x "$i2ctransfer" ] || fail "i2ctransfer not found (apt-get install i2c-tools)"
udevadm="$(command -v udevadm || true)"
[ -x "$udevadm" ] || fail "udevadm not found (apt-get install udev)"
version="$(ls /lib/modules 2>/dev/null | sort -V | tail -n 1)"
kernel="/boot/vmlinuz-$version"
[ -n "$version" ] && [ -r "$kernel" ] || fail "no kernel with modules in /boot (apt-get install linux-image-amd64)"
modules="/lib/modules/$version/kernel"

mkdir -p "$out"
root="$out/root"
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,usr/local/bin,etc,proc,sys,dev,tmp,modules}
cp /bin/busybox "$root/bin/busybox"
for m in drivers/parport/parport drivers/parport/parport_pc drivers/char/ppdev drivers/char/lp \
         drivers/i2c/i2c-dev drivers/i2c/i2c-stub \
         drivers/hid/hid drivers/hid/uhid drivers/hid/hid-cp2112 drivers/hid/hid-generic drivers/hid/hid-mcp2221 \
         drivers/usb/common/usb-common drivers/usb/core/usbcore drivers/usb/gadget/udc/udc-core \
         drivers/usb/gadget/udc/dummy_hcd drivers/usb/gadget/legacy/gadgetfs drivers/i2c/busses/i2c-tiny-usb; do
  cp "$modules/$m.ko" "$root/modules/" || fail "module $m.ko not found under $modules"
done
cp "$pxctl" "$root/usr/bin/pxctl"
cp "$cp2112" "$root/usr/bin/cp2112_emulator"
cp "$mcp2221" "$root/usr/bin/mcp2221_emulator"
cp "$tinyusb" "$root/usr/bin/tiny_usb_emulator"
cp "$ft232h" "$root/usr/bin/ft232h_emulator"
cp "$ftdiloop" "$root/usr/bin/ftdi_loop"
cp "$i2ctransfer" "$root/usr/local/bin/i2ctransfer"
cp "$udevadm" "$root/usr/local/bin/udevadm"
# The package's udev rules, for udevadm test against the kernel's own devices.
mkdir -p "$root/lib/udev/rules.d"
cp "$here/../../packaging/"60-px77xx-*.rules "$root/lib/udev/rules.d/"
# The shared libraries they need, at the paths the loader looks for them.
for program in "$pxctl" "$cp2112" "$mcp2221" "$tinyusb" "$ft232h" "$ftdiloop" "$i2ctransfer" "$udevadm"; do
  for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done
cp "$here/scenarios.sh" "$root/scenarios.sh"
cp "$here/checks.sh" "$root/checks.sh"
cp "$here/../support/line_states.awk" "$root/line_states.awk"
cat >"$root/etc/passwd" <<'END'
root:x:0:0:root:/:/bin/sh
outsider:x:1001:100:not in lp:/tmp:/bin/sh
operator:x:1002:100:in lp:/tmp:/bin/sh
END
cat >"$root/etc/group" <<'END'
root:x:0:
lp:x:7:operator
users:x:100:
END
cat >"$root/init" <<'END'
#!/bin/busybox sh
/bin/busybox --install -s
export PATH=/usr/local/bin:/bin:/sbin:/usr/bin:/usr/sbin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /run/lock && chmod 1777 /run/lock
echo "VMBOOT up $(uname -r)"
sh /scenarios.sh
echo "VMBOOT done"
poweroff -f
END
chmod +x "$root/init" "$root/scenarios.sh"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initramfs.gz"

start=$(date +%s)
# -icount: the guest's clock counts the instructions it runs (one a
# nanosecond), so the figures the scenarios time are the same whatever else
# loads the host, and a program's own work weighs against a USB transfer as
# it would on a real PC rather than slowed by the emulation alone.
timeout 300 qemu-system-x86_64 -accel tcg -icount shift=0,sleep=on -m 384 -nographic -no-reboot \
  -kernel "$kernel" -initrd "$out/initramfs.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1" </dev/null | tr -d '\r' >"$out/console.log" || true
echo "vm: booted $version, ran the scenarios in $(( $(date +%s) - start )) s"
grep -E '^(VMTEST|VMCHECK|VMFIGURE|  )' "$out/console.log" || true
grep -q '^VMBOOT done' "$out/console.log" || fail "the guest did not finish; see $out/console.log"
