#!/usr/bin/env bash
# Usage: run-kernel-test.sh GUEST_DIR VIRTUAL_SCOPE
# Boots the test guest under QEMU (pure emulation) with QEMU's FTDI-compatible USB serial device,
# whose byte stream reaches this side on a unix socket. socat joins it to a virtual scope: the boot
# loader with an erased flash first, the screen firmware once the guest asks for it (which the
# guest sees as an unplug and a plug). Hot unplug and plug during the hotplug step go through QEMU's
# machine protocol (QMP). Guest and host keep in step through lines on the guest's serial console.
# Passes when the guest reports every expected check, and each as passed.
set -uo pipefail
guest=$1 scope=$2
expected=(list latency-root latency-root-bridge latency-user latency-user-bridge second-open
    hello-round-trip block-round-trip screen-round-trip unplug-read unplug-count replug permission-denied)
time_limit_s=150

fail() {
    echo "FAIL: $*"
    exit 1
}
ms() { local t=${EPOCHREALTIME//[^0-9]/}; echo $((t / 1000)); }

[ -f "$guest/unavailable.txt" ] &&
    fail "the guest was not prepared at build time: $(cat "$guest/unavailable.txt")"
for tool in qemu-system-x86_64 socat; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (run tools/install-deps.sh)"
done
if [ ! -f "$guest/kernel-image" ] || [ ! -f "$guest/initramfs.cpio" ]; then
    fail "no guest in $guest (build the target kernel_guest)"
fi
[ -x "$scope" ] || fail "no virtual scope at $scope"

work=$(mktemp -d)
cleanup() {
    local running
    mapfile -t running < <(jobs -p)
    [ ${#running[@]} -gt 0 ] && kill "${running[@]}" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# start_scope NAME OPTIONS...: a virtual scope in a runtime folder of its own; sets pty to its slave.
start_scope() {
    local name=$1 link=$work/$1/virtual-bridges/$1
    shift
    mkdir -m 700 "$work/$name"
    XDG_RUNTIME_DIR=$work/$name "$scope" --name "$name" "$@" 2>"$work/$name.err" &
    for _ in $(seq 500); do [ -L "$link" ] && break; sleep 0.01; done
    pty=$(readlink "$link") || fail "virtual scope $name did not start: $(cat "$work/$name.err")"
}
# join PTY: the device's byte stream to that pseudo-terminal, instead of the previous one.
join() {
    if [ -n "${joiner:-}" ]; then
        kill "$joiner"
        wait "$joiner" 2>/dev/null
    fi
    socat UNIX-CONNECT:"$work/link.sock" FILE:"$1",rawer 2>>"$work/socat.err" &
    joiner=$!
}
# qmp COMMAND [ARGUMENTS]: one command to QEMU's machine protocol; prints the answer.
qmp() {
    printf '{"execute": "qmp_capabilities"}\n{"execute": "%s", "arguments": {%s}}\n' "$1" "${2:-}" |
        socat -t 0.3 - UNIX-CONNECT:"$work/qmp.sock" | grep -E '"(return|error)"' | tail -1
}
# The device's chardev is free again only once QEMU has finished the unplug, some time after
# device_del: plug in again as soon as QEMU accepts it.
plug() {
    local answer
    for attempt in $(seq 100); do
        answer=$(qmp device_add '"driver": "usb-serial", "id": "bridge", "chardev": "link", "bus": "xhci.0"')
        echo "device_add, attempt $attempt: $answer" >>"$work/qmp.log"
        case $answer in *'"return"'*) return 0 ;; esac
        sleep 0.05
    done
}

start_scope boot --firmware bootloader --flash-initial erased
boot_pty=$pty
start_scope screen --firmware screen
screen_pty=$pty

mkfifo "$work/console"
start=$(ms)
# Kernel messages below errors stay off the console, where they could cut into the guest's lines.
qemu-system-x86_64 -accel tcg -machine pc -nodefaults -m 256 -display none -no-reboot \
    -kernel "$guest/kernel-image" -initrd "$guest/initramfs.cpio" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1" \
    -serial stdio -qmp unix:"$work/qmp.sock",server=on,wait=off \
    -chardev socket,id=link,path="$work/link.sock",server=on,wait=off \
    -device qemu-xhci,id=xhci -device usb-serial,id=bridge,chardev=link \
    </dev/null >"$work/console" 2>"$work/qemu.err" &
exec {console}<"$work/console"
for _ in $(seq 500); do [ -S "$work/link.sock" ] && break; sleep 0.01; done
[ -S "$work/link.sock" ] || fail "QEMU did not start: $(cat "$work/qemu.err")"
join "$boot_pty"

declare -A verdicts
failed=()
boot_ms="" unplug_ms="" done=""
while IFS= read -r -t 60 line <&"$console"; do
    line=${line%$'\r'}
    echo "guest: $line"
    case $line in
    "BOOT "*) boot_ms=$(($(ms) - start)) ;;
    "CHECK "*)
        read -r _ name verdict _ <<<"$line"
        verdicts[$name]=$verdict
        [ "$verdict" = PASS ] || failed+=("$name")
        ;;
    "SYNC screen") join "$screen_pty" ;;
    "SYNC unplug")
        unplug_at=$(ms)
        { echo "device_del: $(qmp device_del '"id": "bridge"')" >>"$work/qmp.log"; } &
        ;;
    "EVENT read returned") unplug_ms=$(($(ms) - ${unplug_at:-0})) ;;
    "SYNC plug") plug & ;;
    "GUEST done") done=yes ;;
    esac
    [ $(($(ms) - start)) -lt $((time_limit_s * 1000)) ] || break
done
total_ms=$(($(ms) - start))

for name in "${expected[@]}"; do
    [ -n "${verdicts[$name]:-}" ] || failed+=("$name (not reported)")
done
[ -n "$done" ] || failed+=("the guest did not finish")
echo "guest boot: /dev/ttyUSB0 ready ${boot_ms:-?} ms after QEMU started"
echo "hot unplug: the guest's blocked read returned ${unplug_ms:-?} ms after device_del was sent"
echo "guest run: ${total_ms} ms in all"
echo "QEMU's machine protocol:"
cat "$work/qmp.log" 2>/dev/null
if [ ${#failed[@]} -gt 0 ]; then
    for log in qemu socat boot screen; do
        [ -s "$work/$log.err" ] && echo "--- standard error of $log:" && cat "$work/$log.err"
    done
    fail "${failed[*]}"
fi
echo "PASS: ${#expected[@]} checks against the kernel's ftdi_sio driver"
