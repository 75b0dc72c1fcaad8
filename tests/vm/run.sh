#!/usr/bin/env bash
# Boots Debian's own kernel under QEMU (TCG, no KVM) with a busybox initramfs
# holding pxctl, the libraries it needs, the parport/ppdev/lp/i2c modules and
# scenarios.sh, and writes what the guest prints on its serial console to
# OUT_DIR/console.log. A missing QEMU, kernel or busybox is a failure.
#   run.sh PXCTL OUT_DIR
set -euo pipefail
pxctl="$1"
out="$2"
here="$(cd "$(dirname "$0")" && pwd)"
fail() { echo "vm: $*" >&2; exit 1; }

command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 not found (apt-get install qemu-system-x86)"
[ -x /bin/busybox ] && { ldd /bin/busybox 2>&1 || true; } | grep -q 'not a dynamic' ||
  fail "a static /bin/busybox is needed (apt-get install busybox-static)"
version="$(ls /lib/modules 2>/dev/null | sort -V | tail -n 1)"
kernel="/boot/vmlinuz-$version"
[ -n "$version" ] && [ -r "$kernel" ] || fail "no kernel with modules in /boot (apt-get install linux-image-amd64)"
modules="/lib/modules/$version/kernel/drivers"

root="$out/root"
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,usr/bin,etc,proc,sys,dev,tmp,modules}
cp /bin/busybox "$root/bin/busybox"
for m in parport/parport parport/parport_pc char/ppdev char/lp i2c/i2c-dev i2c/i2c-stub; do
  cp "$modules/$m.ko" "$root/modules/" || fail "module $m.ko not found under $modules"
done
cp "$pxctl" "$root/usr/bin/pxctl"
# The shared libraries pxctl needs, at the paths the loader looks for them.
for lib in $(ldd "$pxctl" | grep -o '/[^ ]*'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
cp "$here/scenarios.sh" "$root/scenarios.sh"
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
export PATH=/bin:/sbin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /run/lock && chmod 1777 /run/lock
echo "VMBOOT up"
sh /scenarios.sh
echo "VMBOOT done"
poweroff -f
END
chmod +x "$root/init" "$root/scenarios.sh"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initramfs.gz"

start=$(date +%s)
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -nographic -no-reboot \
  -kernel "$kernel" -initrd "$out/initramfs.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1" </dev/null | tr -d '\r' >"$out/console.log" || true
echo "vm: booted $version, ran the scenarios in $(( $(date +%s) - start )) s"
grep -E '^(VMTEST|VMCHECK|  )' "$out/console.log" || true
grep -q '^VMBOOT done' "$out/console.log" || fail "the guest did not finish; see $out/console.log"
