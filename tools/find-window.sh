# Sourced by tools/demo.sh and bench/run.sh, which set $me to name themselves in
# messages. window TITLE waits up to 15 s for a visible window whose title
# matches the pattern and prints its id; it fails with a message if none shows.
window() {
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.05
  done
  echo "$me: no window '$1' appeared" >&2
  return 1
}
