#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12.
set -euo pipefail
packages=(
  cmake make g++ pkg-config
  qt6-base-dev libgl-dev          # Qt 6 Widgets, Gui, PrintSupport, DBus
  libgtest-dev libgmock-dev       # the test framework
  clang-format                    # the formatting check
  fonts-noto-cjk                  # Korean-capable dialog font
  xvfb xauth                      # headless window tests and screenshots
  dbus-daemon                     # the window test's own bus, with logind and the taskbar stood in for
  poppler-utils imagemagick       # read printed PDFs and saved bitmaps back in tests
  qemu-system-x86 socat           # the kernel driver test's guest (seabios comes with it) and its joiner
  cpio xz-utils                   # its initramfs, and its kernel unpacked from Debian's package
  dpkg-dev                        # the Debian package's dependencies (dpkg-shlibdeps)
  desktop-file-utils appstream    # the package test validates desktop entries and metainfo
  valgrind                        # bench/run.sh counts instructions per frame with callgrind
  xdotool man-db                  # it drives the installed programs' windows, reads the man pages
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
