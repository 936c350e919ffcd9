#!/usr/bin/env bash
# The Debian package on this machine: built by cpack from the build tree,
# installed with dpkg, both installed programs started by their menu entries'
# commands against the installed virtual scope, entries, metainfo and man pages
# checked, then purged without a trace. Runs as root under xvfb-run, alone.
# Usage: package-test.sh BUILD_DIR SCRATCH_DIR DRIVER_DIR (/usr/lib/automotive-scope)
set -euo pipefail
build=$1
scratch=$2
package=automotive-scope
alternative=automotive-scope-driver
driver=$3/libftd2xx.so
bundled=$3/bundled/libftd2xx.so

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== $* (${SECONDS} s)"; }

[ "$(id -u)" -eq 0 ] || fail "must run as root: it installs the package with dpkg"
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps update-alternatives xdotool desktop-file-validate appstreamcli \
  man readelf ldd cmp; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done
[ -n "${DISPLAY:-}" ] || fail "no X display: run under xvfb-run"

rm -rf "$scratch"
mkdir -p "$scratch/home" "$scratch/unpacked"
mkdir -m 700 "$scratch/run"
scope=""
app=""
stop() { # stops the background process whose id variable is named $1
  local pid=${!1}
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  printf -v "$1" '%s' ""
}
cleanup() {
  stop app
  stop scope
  dpkg --purge "$package" >/dev/null 2>&1 || true
}
trap cleanup EXIT

if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
  echo "note: $package was installed (left by an earlier run?); purging it first"
  dpkg --purge "$package" >/dev/null
fi

step "building the package with cpack"
if ! (cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/cpack" >cpack.log 2>&1); then
  cat "$scratch/cpack.log"
  fail "cpack failed"
fi
debs=("$scratch"/cpack/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}

step "the source archive"
(cd "$scratch" && cpack --config "$build/CPackSourceConfig.cmake" -B "$scratch/source" >source.log 2>&1) ||
  fail "the source archive failed: $(cat "$scratch/source.log")"
tar -tzf "$scratch"/source/*.tar.gz >"$scratch/source.txt"
grep -qx '[^/]*/CMakeLists.txt' "$scratch/source.txt" || fail "the source archive has no CMakeLists.txt"
grep -qx '[^/]*/resources/udev/61-automotive-scope-uaccess.rules' "$scratch/source.txt" ||
  fail "the source archive lacks resources/"
grep -E '^[^/]*/(\.git|build[^/]*)(/|$)|CMakeCache\.txt' "$scratch/source.txt" >"$scratch/source-bad.txt" &&
  fail "the source archive holds version control or build trees: $(head -n 3 "$scratch/source-bad.txt")"

step "what the package holds"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-noto-cjk libqt6widgets6 libqt6printsupport6 libc6; do
  [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$scratch/contents.txt"
grep 'libftd2xx' "$scratch/contents.txt" | grep -vx "$bundled" >/dev/null && fail "a driver library outside $bundled"
grep -qx "$bundled" "$scratch/contents.txt" || fail "no $bundled"
grep -qx "$driver" "$scratch/contents.txt" && fail "the package ships $driver (update-alternatives owns it)"
dpkg-deb -x "$deb" "$scratch/unpacked"
for elf in usr/bin/quorvex usr/bin/haldrin usr/bin/scopectl usr/bin/virtual-scope "${bundled#/}"; do
  readelf -S "$scratch/unpacked/$elf" | grep -E '\.debug_info|\.symtab' >/dev/null && fail "$elf is not stripped"
done

# Every path the package brings, and those its maintainer scripts make: whether
# each is there before the installation, to compare with after the purge.
extras=("$driver" "/etc/alternatives/$alternative" "/var/lib/dpkg/alternatives/$alternative")
exists() { [ -e "$1" ] || [ -L "$1" ]; }
before=()
while read -r path; do exists "$path" && before+=("$path"); done < <(cat "$scratch/contents.txt"; printf '%s\n' "${extras[@]}")

step "installing with dpkg -i"
dpkg -i "$deb" >"$scratch/dpkg-install.log" 2>&1 || { cat "$scratch/dpkg-install.log"; fail "dpkg -i failed"; }
[ "$(update-alternatives --query "$alternative" | sed -n 's/^Value: //p')" = "$bundled" ] ||
  fail "the alternative $alternative does not point at $bundled"
[ "$(readlink -f "$driver")" = "$bundled" ] || fail "$driver does not lead to $bundled"
found=$(ldd /usr/bin/haldrin | sed -n 's/^\s*libftd2xx\.so => \(\S*\) .*/\1/p')
[ "$(dirname "$(realpath -s "$found")")" = "$(dirname "$driver")" ] && [ "$(readlink -f "$found")" = "$bundled" ] ||
  fail "haldrin's run path does not lead to $driver: libftd2xx.so => $found"

step "desktop entries, metainfo, icons, man pages"
entries=(/usr/share/applications/org.automotivescope.Quorvex.desktop /usr/share/applications/org.automotivescope.Haldrin.desktop)
desktop-file-validate "${entries[@]}" || fail "desktop entries do not validate"
appstreamcli validate --no-net /usr/share/metainfo/org.automotivescope.{Quorvex,Haldrin}.metainfo.xml ||
  fail "metainfo does not validate"
for entry in "${entries[@]}"; do
  icon=$(sed -n 's/^Icon=//p' "$entry")
  for size in 16 32 48 64 128 256; do
    [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" ] || fail "no ${size}px icon $icon"
  done
  [ -f "/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
done
for page in quorvex haldrin scopectl virtual-scope; do
  file=$(man -w "$page") || fail "no man page for $page"
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $file: $warnings"
done
for page in quorvex haldrin; do
  man -l "$(man -w "$page")" 2>/dev/null | grep "takes no options" >/dev/null ||
    fail "$page(1) does not say it takes no options"
done

# A program started as its desktop entry's Exec= says, in a clean environment
# whose PATH holds only the system's folders, on the virtual X server.
launch() { # entry id, output file
  local line argv
  line=$(sed -n 's/^Exec=//p' "/usr/share/applications/$1.desktop")
  line=${line//%[fFuUdDnNickvm]/}
  read -r -a argv <<<"$line"
  env -i PATH=/usr/bin:/bin HOME="$scratch/home" LANG=C.UTF-8 DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" \
    XDG_RUNTIME_DIR="$scratch/run" QT_QPA_PLATFORM=xcb "${argv[@]}" >"$2" 2>&1 &
  app=$!
}
start_scope() { # virtual-scope options...
  XDG_RUNTIME_DIR="$scratch/run" /usr/bin/virtual-scope --name package-test "$@" &
  scope=$!
  for _ in $(seq 100); do
    [ -L "$scratch/run/virtual-bridges/package-test" ] && return
    sleep 0.05
  done
  fail "the installed virtual scope did not plug in"
}
window() { # title pattern, seconds: prints the id of the first visible window whose title matches
  local end=$((SECONDS + $2)) id
  while [ $SECONDS -lt $end ]; do
    kill -0 "$app" 2>/dev/null || fail "the program ended while waiting for '$1'"
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$id" ] && {
      echo "$id"
      return
    }
    sleep 0.1
  done
  fail "no window '$1' within $2 s"
}
uses_installed_parts() { # program
  [ "$(readlink "/proc/$app/exe")" = "/usr/bin/$1" ] || fail "$1 did not run from /usr/bin"
  grep -q " $bundled\$" "/proc/$app/maps" || fail "$1 did not load $bundled"
}

step "Quorvex against the virtual scope's live screen"
start_scope --log "$scratch/quorvex-scope.log"
launch org.automotivescope.Quorvex "$scratch/quorvex.out"
w=$(window "^Quorvex Ver" 20)
uses_installed_parts quorvex
xdotool windowfocus --sync "$w" key space # Real Time has the focus at start
# Quorvex asks for the next frame only once it has taken the last one whole (8410
# bytes); a reply it did not take would hold it back a second before it asked
# again. So 20 requests within 2 s are 19 frames received.
requests() { grep -c 'ev=cmd .*kind=screen' "$scratch/quorvex-scope.log" || true; }
for _ in $(seq 100); do
  [ "$(requests)" -ge 20 ] && break
  sleep 0.1
done
[ "$(requests)" -ge 20 ] || fail "Quorvex sent $(requests) screen requests; output: $(cat "$scratch/quorvex.out")"
times=$(grep 'ev=cmd .*kind=screen' "$scratch/quorvex-scope.log" | sed -n '1p;20p' | sed 's/^t=\([0-9.]*\).*/\1/')
span=$(echo "$times" | awk 'NR==1{a=$1} NR==2{printf "%d", $1-a}')
[ "$span" -lt 2000 ] || fail "20 screen requests took $span ms: frames were not taken whole"
grep -q 'ev=reply .*bytes=8410' "$scratch/quorvex-scope.log" || fail "no whole frame was sent"
stop app
stop scope

step "Haldrin writing an image into the virtual scope's boot loader"
image=$scratch/PACKAGE.BIN
head -c 65536 /dev/urandom >"$image"
start_scope --firmware bootloader --flash-file "$scratch/flash.bin" --log "$scratch/haldrin-scope.log"
launch org.automotivescope.Haldrin "$scratch/haldrin.out"
w=$(window "^Select Bin File$" 20) # opens by itself once the boot loader answers
uses_installed_parts haldrin
xdotool windowfocus --sync "$w" type --delay 5 "$image"
xdotool key Return
for _ in $(seq 300); do
  grep -q 'ev=flash' "$scratch/haldrin-scope.log" && break # written at the end command
  sleep 0.1
done
grep -q 'ev=flash' "$scratch/haldrin-scope.log" || fail "the download did not end; output: $(cat "$scratch/haldrin.out")"
w=$(window "^Haldrin$" 10) # the completion dialog
xdotool windowfocus --sync "$w" key Return # Finish ends the program
for _ in $(seq 100); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$app" 2>/dev/null && fail "Haldrin did not end after Finish"
wait "$app" || fail "Haldrin ended with status $?"
app=""
stop scope
cmp -n 65536 "$image" "$scratch/flash.bin" || fail "the virtual scope's flash does not hold the image"

step "scopectl: listing, and the same image through the boot loader"
[ "$(command -v scopectl)" = /usr/bin/scopectl ] || fail "scopectl is not /usr/bin/scopectl"
found=$(ldd /usr/bin/scopectl | sed -n 's/^\s*libftd2xx\.so => \(\S*\) .*/\1/p')
[ "$(readlink -f "$found")" = "$bundled" ] || fail "scopectl's run path does not lead to $driver: $found"
completion=/usr/share/bash-completion/completions/scopectl
bash -c "source $completion && complete -p scopectl" >/dev/null || fail "$completion does not complete scopectl"
cli() { env -i PATH=/usr/bin:/bin HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" scopectl "$@"; }
start_scope --firmware bootloader --flash-file "$scratch/cli-flash.bin"
cli list | grep -qP '^0\tpackage-test\t.*\tvirtual\tready$' || fail "scopectl list: $(cli list 2>&1)"
cli flash "$image" --yes >"$scratch/scopectl.out" 2>&1 || fail "scopectl flash failed: $(cat "$scratch/scopectl.out")"
stop scope
cmp -n 65536 "$image" "$scratch/cli-flash.bin" || fail "scopectl did not write the image"

step "purging"
dpkg -L "$package" | grep -vx '/\.' >"$scratch/listed.txt"
dpkg --purge "$package" >"$scratch/dpkg-purge.log" 2>&1 || { cat "$scratch/dpkg-purge.log"; fail "dpkg --purge failed"; }
dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed && fail "$package is still installed"
left=()
while read -r path; do
  had=0
  for p in "${before[@]}"; do [ "$p" = "$path" ] && had=1 && break; done
  exists "$path" && [ $had -eq 0 ] && left+=("$path")
  ! exists "$path" && [ $had -eq 1 ] && left+=("$path (was there before, now gone)")
done < <(cat "$scratch/listed.txt"; printf '%s\n' "${extras[@]}")
[ ${#left[@]} -eq 0 ] || fail "left behind after the purge: ${left[*]}"
step "done"
