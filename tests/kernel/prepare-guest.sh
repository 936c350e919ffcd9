#!/usr/bin/env bash
# Usage: prepare-guest.sh GUEST_DIR CHECK_PROGRAM LIBRARY SOURCE_DIR
# Makes the kernel test guest in GUEST_DIR: kernel-image (from the package cache GUEST_DIR/packages)
# and initramfs.cpio with busybox, the USB modules, our library, the check program, the shared
# libraries these need (copied from this machine) and the guest's init. When the guest cannot be
# made, the reason goes to GUEST_DIR/unavailable.txt, which fails the test; the build goes on.
set -euo pipefail
guest=$1 program=$2 library=$3 source=$4
mkdir -p "$guest"
rm -f "$guest/unavailable.txt"

unavailable() {
    echo "$*" >"$guest/unavailable.txt"
    echo "warning: the kernel test guest is not ready: $*" >&2
    exit 0
}

for tool in apt-get dpkg-deb xz cpio ldd; do
    command -v "$tool" >/dev/null || unavailable "$tool is missing (run tools/install-deps.sh)"
done
if ! bash "$source/fetch-guest-packages.sh" "$guest/packages" 2>"$guest/packages.log"; then
    unavailable "the guest's Debian packages could not be fetched:" \
        "$(tail -3 "$guest/packages.log" | tr '\n' ' ')"
fi

root=$guest/root
rm -rf "$root"
mkdir -p "$root"/{bin,dev,etc,lib/modules,opt/scope,proc,root,sys,tmp}
chmod 1777 "$root/tmp"
cp "$guest/packages/busybox/busybox" "$root/bin/"
cp "$guest/packages/kernel/modules/"* "$root/lib/modules/"
cp "$program" "$library" "$root/opt/scope/"
install -m 755 "$source/guest-init.sh" "$root/init"

# The shared libraries at the paths the dynamic loader looks in, as on this machine.
for binary in "$program" "$library"; do
    ldd "$binary" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'
done | sort -u | while read -r path; do
    [ "$(basename "$path")" = "$(basename "$library")" ] && continue
    mkdir -p "$root$(dirname "$path")"
    cp -L "$path" "$root$path"
done

# root, and a workshop technician in the tty's group.
cat >"$root/etc/passwd" <<'END'
root:x:0:0:root:/root:/bin/sh
tech:x:1000:1000:Workshop technician:/tmp:/bin/sh
END
cat >"$root/etc/group" <<'END'
root:x:0:
dialout:x:20:tech
tech:x:1000:
END
printf 'passwd: files\ngroup: files\n' >"$root/etc/nsswitch.conf"
echo /bin/sh >"$root/etc/shells"

(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$guest/initramfs.cpio.new"
mv "$guest/initramfs.cpio.new" "$guest/initramfs.cpio"
ln -sfn packages/kernel/kernel-image "$guest/kernel-image"
