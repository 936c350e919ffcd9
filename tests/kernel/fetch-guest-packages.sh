#!/usr/bin/env bash
# Usage: fetch-guest-packages.sh CACHE_DIR
# Fetches what the test guest boots from Debian's archive, without installing anything: the kernel
# package that linux-image-amd64 depends on now, and busybox-static. Each is unpacked with dpkg-deb
# into a temporary folder, of which only the pieces the guest needs are kept:
#   CACHE_DIR/kernel -> linux-image-<abi>/ with kernel-image (uncompressed where possible: boots
#                       twice as fast under emulation) and modules/ (*.ko plus load-order)
#   CACHE_DIR/busybox/busybox
# A package already in the cache is not fetched again: the kernel's name changes with its ABI.
set -euo pipefail
cache=$1
mkdir -p "$cache"
cd "$cache"

# The USB host controller, the USB serial core and the bridge's driver, with their dependencies.
wanted_modules=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)

kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '$1 == "Depends:" { print $2; exit }'
}

kernel=$(kernel_package || true)
if [ -z "$kernel" ]; then
    # Package lists not downloaded yet (a fresh machine): refresh them once if allowed.
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq >&2 || true
    elif command -v sudo >/dev/null; then
        sudo -n apt-get update -qq >&2 || true
    fi
    kernel=$(kernel_package || true)
fi
if [ -z "$kernel" ]; then
    if [ -f kernel/ready ] && [ -f busybox/ready ]; then
        echo "note: no package lists to check the kernel against; the cached $(readlink kernel) is used" >&2
        exit 0
    fi
    echo "cannot tell which kernel package linux-image-amd64 depends on" \
        "(apt-cache depends linux-image-amd64 found none; run apt-get update)" >&2
    exit 1
fi

download() { # package -> the .deb in the current folder
    local options=()
    # As root apt drops to its sandbox user, who may not write here; nothing is installed anyway.
    [ "$(id -u)" -eq 0 ] && options=(-o APT::Sandbox::User=root)
    apt-get download -qq "${options[@]}" "$1" >&2 || { echo "apt-get download $1 failed" >&2; return 1; }
    ls ./"$1"_*.deb
}

# The kernel for QEMU's -kernel: the uncompressed ELF inside the image where it can be taken out
# (an xz or zstd stream: try each magic until one unpacks to ELF), else the compressed image itself.
extract_kernel() { # vmlinuz output
    local magic tool offset
    for magic in '\xFD7zXZ\x00:xz --single-stream' '\x28\xB5\x2F\xFD:zstd'; do
        tool=${magic#*:}
        command -v "${tool%% *}" >/dev/null || continue
        while read -r offset; do
            tail -c +$((offset + 1)) "$1" | $tool -dcq >"$2" 2>/dev/null || true
            [ "$(head -c 4 "$2" | od -An -c | tr -d ' ')" = '177ELF' ] && return 0
        done < <(LC_ALL=C grep -obUaP "${magic%:*}" "$1" | cut -d: -f1)
    done
    echo "note: no uncompressed kernel found in $1; the guest boots the compressed image (slower)" >&2
    cp "$1" "$2"
}

module_file() { # name -> path of its .ko[.xz] under the unpacked tree ('-' and '_' are one)
    local pattern=${1//[-_]/[-_]}
    find unpacked/lib/modules -regex ".*/${pattern}\.ko\(\.xz\)?" | head -1
}

add_module() { # name: its dependencies first, then itself, into modules/
    local name=${1//-/_} file dep
    grep -qx "$name" "$dir/modules/load-order" 2>/dev/null && return 0
    file=$(module_file "$1")
    [ -n "$file" ] || { echo "module $1 is not in $kernel" >&2; return 1; }
    case $file in
    *.xz) xz -dc "$file" >"$dir/modules/$name.ko" ;;
    *) cp "$file" "$dir/modules/$name.ko" ;;
    esac
    for dep in $(tr '\0' '\n' <"$dir/modules/$name.ko" | sed -n 's/^depends=//p' | tr ',' ' '); do
        add_module "$dep"
    done
    echo "$name" >>"$dir/modules/load-order"
}

dir=$kernel
if [ ! -f "$dir/ready" ] || [ ! -f "$dir/kernel-image" ]; then
    rm -rf "$dir" unpacked ./*.deb
    mkdir -p "$dir/modules"
    deb=$(download "$kernel")
    dpkg-deb -x "$deb" unpacked
    extract_kernel "$(ls unpacked/boot/vmlinuz-*)" "$dir/kernel-image"
    for module in "${wanted_modules[@]}"; do add_module "$module"; done
    rm -rf unpacked "$deb"
    touch "$dir/ready"
fi
# Older kernels are of no further use.
for old in linux-image-*; do [ "$old" = "$dir" ] || rm -rf "$old"; done
ln -sfn "$dir" kernel

dir=busybox
if [ ! -f "$dir/ready" ]; then
    rm -rf "$dir" unpacked ./*.deb
    deb=$(download busybox-static)
    dpkg-deb -x "$deb" unpacked
    mkdir -p "$dir"
    cp unpacked/bin/busybox "$dir/busybox"
    rm -rf unpacked "$deb"
    touch "$dir/ready"
fi
