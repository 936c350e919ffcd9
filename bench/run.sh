#!/usr/bin/env bash
# Measures the programs against the virtual scope at its default link model and
# prints one table: each figure with its limit and the ratio to it.
#
#   bash bench/run.sh              the table (about 3 minutes)
#   bash bench/run.sh --soak 10    then a 10-minute memory run of both programs
#   bash bench/run.sh --only loader|idle|capture|driver    one part of the table
#   BENCH_KEEP=1 bash bench/run.sh keeps the logs and profiles (the folder is named)
#
# It builds what it needs in $BUILD_DIR (default build/), runs the real programs
# on a virtual X server of its own (Xvfb, Qt's xcb platform) with xdotool
# pressing their keys, and reads times from the virtual scope's event log.
# Needs Xvfb, xdotool and valgrind (tools/install-deps.sh installs them).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
soak=0
only=""
while [ $# -gt 0 ]; do
  case $1 in
  --soak) soak=${2:-10}; shift 2 ;;
  --only) only=$2; shift 2 ;;
  *) echo "usage: bash bench/run.sh [--soak MINUTES] [--only loader|idle|capture|driver]" >&2; exit 2 ;;
  esac
done
want() { [ -z "$only" ] || [ "$only" = "$1" ]; }

for tool in Xvfb xdotool valgrind callgrind_control; do
  command -v $tool >/dev/null || { echo "bench: $tool is missing (apt-get install xvfb xdotool valgrind)" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target ftd2xx virtual-scope haldrin quorvex loader-bare-host \
  tick-floor frame-cost driver-bench capture-bench >/dev/null
bin=$build/bin

work=$(mktemp -d /tmp/scope-bench-XXXXXX)
export XDG_RUNTIME_DIR=$work/run # a bridge folder of our own: our scope is device 0
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${BENCH_KEEP:-}" ]; then echo "bench: logs and profiles kept in $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- the virtual X server -------------------------------------------------------
# It picks a free display number itself and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
n=$(head -n 1 "$work/display")
[ -n "$n" ] || { echo "bench: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$n QT_QPA_PLATFORM=xcb

# --- helpers ---------------------------------------------------------------------
rows=()
row() { # measurement, value, limit, ratio, verdict
  rows+=("$(printf '%-58s|%-24s|%-24s|%-8s|%s' "$1" "$2" "$3" "$4" "$5")")
}
verdict() { awk -v r="$1" -v op="$2" -v l="$3" 'BEGIN { ok = (op == "<=") ? r <= l : r >= l; print ok ? "ok" : "ABOVE GOAL" }'; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

scope=""
start_scope() { # log file, options...
  local log=$1
  shift
  "$bin/virtual-scope" --log "$log" "$@" 2>>"$work/scope.err" &
  scope=$!
  pids+=($scope)
  for _ in $(seq 200); do [ -e "$XDG_RUNTIME_DIR/virtual-bridges/scope0" ] && return; sleep 0.02; done
  echo "bench: the virtual scope did not start" >&2
  exit 1
}
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
me=bench
source "$top/tools/find-window.sh"
wait_log() { # log, pattern, seconds
  for _ in $(seq $(($3 * 20))); do grep -q -- "$2" "$1" 2>/dev/null && return; sleep 0.05; done
  echo "bench: '$2' not in the scope's log after $3 s" >&2
  exit 1
}
cpu_ns() { # CPU time of every thread of a process, in nanoseconds
  cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%d", s }'
}
wakeups() { # times the main thread went to sleep and was woken
  awk '/^voluntary_ctxt_switches/ { print $2 }' /proc/"$1"/task/"$1"/status
}
peak_kib() { awk '/^VmHWM/ { print $2 }' /proc/"$1"/status; }
rss_kib() { awk '/^VmRSS/ { print $2 }' /proc/"$1"/status; }

# Download time on the scope's clock, from the geometry query to the end
# command, and the shortest and median gap from a reply to the next command.
download_figures() { # log -> "seconds mingap_ms p1gap_ms mediangap_ms"
  local span gaps
  span=$(awk '/ ev=cmd / && /code=0xFA/ && !s { s = substr($1, 3) } / ev=cmd / && /code=0xFB/ { e = substr($1, 3) }
              END { printf "%.3f", (e - s) / 1000 }' "$1")
  # gaps after the first step of the run (the query), in milliseconds, sorted
  gaps=$(awk '
    function f(k,   i) { for (i = 2; i <= NF; ++i) if (index($i, k "=") == 1) return substr($i, length(k) + 2); return "" }
    / ev=reply / { replied[f("n")] = substr($1, 3) + 0 }
    / ev=cmd / { n = f("n") + 0; if (/code=0xFA/) run = 1; if (run && (n - 1) in replied && !/code=0xFA/) printf "%.3f\n", substr($1, 3) - replied[n - 1] }' "$1" | sort -n)
  echo "$span $(echo "$gaps" | awk '{ v[NR] = $1 } END { print v[1], v[int(NR / 100) + 1], v[int((NR + 1) / 2)] }')"
}

# --- Haldrin: the real window against the bare host --------------------------------
haldrin_run() { # image, log -> pid of haldrin in $app, flash checked
  local image=$1 log=$2
  start_scope "$log" --firmware bootloader --flash-file "$work/flash.bin"
  "$bin/haldrin" 2>>"$work/haldrin.err" &
  app=$!
  pids+=($app)
  local w
  w=$(window "Select Bin File") # opens by itself once the boot loader answers
  xdotool windowfocus --sync "$w" type --delay 2 "$image"
  xdotool key Return
  wait_log "$log" "code=0xFB" 120
  haldrin_peak=$(peak_kib "$app")
  stop "$app"
  stop "$scope"
  cmp -s -n "$(stat -c %s "$image")" "$image" "$work/flash.bin" || { echo "bench: Haldrin's flash differs" >&2; exit 1; }
}
bare_run() { # image, log
  start_scope "$2" --firmware bootloader --flash-file "$work/flash.bin"
  "$bin/loader-bare-host" "$1"
  stop "$scope"
  cmp -s -n "$(stat -c %s "$1")" "$1" "$work/flash.bin" || { echo "bench: the bare host's flash differs" >&2; exit 1; }
}
if want loader; then
haldrin_peak_max=0
for size in 1048576 8386559; do
  image=$work/IMAGE$size.BIN
  head -c "$size" /dev/urandom >"$image"
  haldrin_run "$image" "$work/haldrin-$size.log"
  [ "$haldrin_peak" -gt "$haldrin_peak_max" ] && haldrin_peak_max=$haldrin_peak
  bare_run "$image" "$work/bare-$size.log"
  read -r hs hmin hp1 hmed <<<"$(download_figures "$work/haldrin-$size.log")"
  read -r bs bmin bp1 bmed <<<"$(download_figures "$work/bare-$size.log")"
  ratio=$(calc %.3f "$hs / $bs")
  row "Haldrin window, $size-byte image, query to end" "$hs s ($(calc %.0f "$size / $hs") B/s)" \
    "1.03 x bare host $bs s" "$ratio" "$(verdict "$ratio" "<=" 1.03)"
  # The scope logs a reply just after its last byte left: when it is held up
  # in between, a single gap reads short on its clock; the 1st percentile does not.
  row "  gap reply -> next command, Haldrin (min / 1st pct / median)" "$hmin / $hp1 / $hmed ms" "1st pct >= 1 ms" \
    "$(calc %.3f "$hp1 / 1")" "$(verdict "$hp1" ">=" 1)"
  row "  gap reply -> next command, bare host (min / 1st pct / median)" "$bmin / $bp1 / $bmed ms" "" "" ""
done
fi

# --- Quorvex idle, against a Qt program that only ticks ------------------------------
measure_idle() { # pid, seconds -> "cpu_share_percent wakeups_per_s"
  local c0 w0 c1 w1 t0 t1
  c0=$(cpu_ns "$1"); w0=$(wakeups "$1"); t0=$(date +%s%N)
  sleep "$2"
  c1=$(cpu_ns "$1"); w1=$(wakeups "$1"); t1=$(date +%s%N)
  awk -v c=$((c1 - c0)) -v w=$((w1 - w0)) -v t=$((t1 - t0)) 'BEGIN { printf "%.3f %.1f", 100 * c / t, w * 1e9 / t }'
}
if want idle; then
idle_s=15
"$bin/tick-floor" >"$work/floor.out" &
floor=$!
pids+=($floor)
sleep 1
read -r floor_cpu floor_wake <<<"$(measure_idle $floor $idle_s)"
stop $floor
floor_ticks=$(sed -n 's/.*rate=\([0-9.]*\).*/\1/p' "$work/floor.out")
# The same on the display's platform (QApplication, no window): what Qt's GUI
# event loop adds by itself.
"$bin/tick-floor" --gui >"$work/gui-floor.out" &
floor=$!
pids+=($floor)
sleep 1
read -r gui_cpu gui_wake <<<"$(measure_idle $floor $idle_s)"
stop $floor

start_scope "$work/idle.log"
"$bin/quorvex" 2>>"$work/quorvex.err" &
app=$!
pids+=($app)
window "Quorvex Ver 1.2" >/dev/null
sleep 1
read -r q_cpu q_wake <<<"$(measure_idle $app $idle_s)"
kill -USR1 "$scope" # unplugged: the message box opens, the window keeps polling
window "^Quorvex$" >/dev/null
sleep 1
read -r qa_cpu qa_wake <<<"$(measure_idle $app $idle_s)"
quorvex_idle_peak=$(peak_kib $app)
stop $app
stop "$scope"
floor_text="$floor_cpu % (${floor_wake}/s woken, $floor_ticks ticks/s)"
for what in present absent; do
  if [ $what = present ]; then cpu=$q_cpu wake=$q_wake; else cpu=$qa_cpu wake=$qa_wake; fi
  ratio=$(calc %.3f "$cpu / $floor_cpu")
  row "Quorvex idle, scope $what$([ $what = absent ] && echo ', message box open'): CPU" "$cpu % of a core" \
    "1.15 x floor $floor_cpu %" "$ratio" "$(verdict "$ratio" "<=" 1.15)"
  ratio=$(calc %.3f "$wake / $floor_wake")
  row "  ticks per second (main thread woken)" "$wake /s" "0.97 x floor $floor_wake /s" "$ratio" \
    "$(verdict "$ratio" ">=" 0.97)"
done
row "  floor: Qt program with one 1 ms precise timer" "$floor_text" "" "" ""
row "  the same floor as a QApplication on xcb" "$gui_cpu % (${gui_wake}/s woken)" "" "" ""
row "  Quorvex idle per tick, present / absent / floor / xcb floor" \
  "$(calc %.1f "$q_cpu * 10000 / $q_wake") / $(calc %.1f "$qa_cpu * 10000 / $qa_wake") / $(calc %.1f "$floor_cpu * 10000 / $floor_wake") / $(calc %.1f "$gui_cpu * 10000 / $gui_wake") us" "" "" ""
fi

# --- Quorvex real time in the window, and the window's paint per frame ------------
if want capture; then
start_scope "$work/realtime.log"
"$bin/quorvex" 2>>"$work/quorvex.err" &
app=$!
pids+=($app)
w=$(window "Quorvex Ver 1.2")
xdotool windowfocus --sync "$w" key space # Real Time has the focus at start
sleep 2
t0=$(tail -n 1 "$work/realtime.log" | sed 's/^t=\([0-9.]*\).*/\1/')
n0=$(grep -c "kind=screen" "$work/realtime.log")
sleep 10
t1=$(tail -n 1 "$work/realtime.log" | sed 's/^t=\([0-9.]*\).*/\1/')
n1=$(grep -c "kind=screen" "$work/realtime.log")
quorvex_rt_peak=$(peak_kib $app)
stop $app
stop "$scope"
fps=$(calc %.1f "($n1 - $n0) * 1000 / ($t1 - $t0)")
limit=$(calc %.2f "1 / ((3 + 8410) / 1000000 + 0.001 + 0.001)")
ratio=$(calc %.3f "$fps / $limit")
row "Quorvex Real Time in the window" "$fps frames/s" "0.97 x $limit frames/s" "$ratio" "$(verdict "$ratio" ">=" 0.97)"

# One frame received and rendered, through the bound table (callgrind).
frames=200
valgrind --tool=callgrind --callgrind-out-file="$work/frame.cg" --toggle-collect=ReceiveOneFrame \
  "$bin/frame-cost" $frames >/dev/null 2>"$work/frame.vg"
ir=$(awk '/^summary:/ { print $2 }' "$work/frame.cg")
per=$(calc %.0f "$ir / $frames")
row "Quorvex: one frame received and rendered (callgrind)" "$per instructions" "800000" \
  "$(calc %.3f "$per / 800000")" "$(verdict "$per" "<=" 800000)"

# The window's share: what Qt does for each new frame's update (paint and flush).
start_scope "$work/paint.log"
valgrind --tool=callgrind --callgrind-out-file="$work/paint.cg" --toggle-collect='QWidgetRepaintManager::sync()' \
  --collect-atstart=no "$bin/quorvex" 2>"$work/paint.vg" &
app=$!
pids+=($app)
w=$(window "Quorvex Ver 1.2")
sleep 2
callgrind_control -z $app >/dev/null 2>&1 || true
xdotool windowfocus --sync "$w" key space
sleep 20
xdotool key --window "$w" Escape
wait $app 2>/dev/null || true
stop "$scope"
paint=$(awk '
  /^summary:/ { ir = $2 }
  /^cfn=.*CaptureDialog::paintEvent/ { want = 1; next }
  want && /^calls=/ { split($1, c, "="); calls += c[2]; want = 0 }
  END { if (calls) printf "%.0f %d", ir / calls, calls; else print "0 0" }' "$work"/paint.cg*)
read -r paint_per paint_frames <<<"$paint"
row "Quorvex window: repaint per frame, picture only (callgrind)" "$paint_per instructions ($paint_frames frames)" \
  "100000" "$(calc %.3f "$paint_per / 100000")" "$(verdict "$paint_per" "<=" 100000)"
fi

[ -n "${haldrin_peak_max:-}" ] && row "Peak resident size: Haldrin (up to an 8 MiB download)" "$haldrin_peak_max KiB" "" "" ""
[ -n "${quorvex_idle_peak:-}" ] && row "Peak resident size: Quorvex (idle, with the message box)" "$quorvex_idle_peak KiB" "" "" ""
[ -n "${quorvex_rt_peak:-}" ] && row "Peak resident size: Quorvex (real time)" "$quorvex_rt_peak KiB" "" "" ""

# --- the driver library's own figures ---------------------------------------------------
touch "$work/driver.out"
if want driver; then "$bin/driver-bench" >"$work/driver.out" || true; fi

echo
printf '%-58s|%-24s|%-24s|%-8s|%s\n' "measurement" "value" "limit" "ratio" "verdict"
printf '%s\n' "${rows[@]}"
echo
cat "$work/driver.out"

# --- memory over a long run ------------------------------------------------------------
if [ "$soak" -gt 0 ]; then
  echo
  echo "Memory over $soak minutes (resident KiB: after a 30 s warm-up, at the end, and the peak):"
  start_scope "$work/soak.log"
  "$bin/quorvex" 2>>"$work/quorvex.err" &
  qv=$!
  pids+=($qv)
  w=$(window "Quorvex Ver 1.2")
  xdotool windowfocus --sync "$w" key space
  sleep 30
  q_first=$(rss_kib $qv)
  # Haldrin writes one 1 MiB image after another into a second virtual scope.
  image=$work/IMAGE1048576.BIN
  [ -f "$image" ] || head -c 1048576 /dev/urandom >"$image"
  XDG_RUNTIME_DIR=$work/run2
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
  start_scope "$work/soak-loader.log" --firmware bootloader
  loader_scope=$scope
  "$bin/haldrin" 2>>"$work/haldrin.err" &
  hd=$!
  pids+=($hd)
  downloads=0
  h_first=""
  ends() { grep -c "code=0xFB" "$work/soak-loader.log" || true; }
  end=$(($(date +%s) + soak * 60))
  while [ "$(date +%s)" -lt "$end" ]; do
    n=$(ends)
    w=$(window "Select Bin File") # after the first, opened again by Continue
    xdotool windowfocus --sync "$w" type --delay 2 "$image"
    xdotool key Return
    for _ in $(seq 600); do [ "$(ends)" -gt "$n" ] && break; sleep 0.1; done
    downloads=$((downloads + 1))
    fw=$(window "^Haldrin$") # the completion dialog; Escape is its Continue
    xdotool windowfocus --sync "$fw" key Escape
    [ -z "$h_first" ] && h_first=$(rss_kib $hd)
    echo "$downloads $(rss_kib $hd) $(rss_kib $qv)" >>"$work/soak-rss"
  done
  printf '%-10s %12s %12s %12s  %s\n' program first last peak "over the run"
  printf '%-10s %12s %12s %12s  %s\n' quorvex "$q_first" "$(rss_kib $qv)" "$(peak_kib $qv)" \
    "real time, $(grep -c kind=screen "$work/soak.log") frames"
  printf '%-10s %12s %12s %12s  %s\n' haldrin "$h_first" "$(rss_kib $hd)" "$(peak_kib $hd)" \
    "$downloads downloads of 1 MiB"
  echo "resident KiB after each download (Haldrin, Quorvex), at 1, 2, 5, 10, 20, 50, 100, 150 and the last:"
  awk 'NR == 1 || NR == 2 || NR == 5 || NR == 10 || NR == 20 || NR == 50 || NR == 100 || NR == 150 { print "  " $0 }
       { last = $0 } END { print "  " last }' "$work/soak-rss"
  stop $hd
  stop $qv
  stop "$loader_scope"
fi
