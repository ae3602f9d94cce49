#!/usr/bin/env bash
# Peak resident memory (max RSS) of the command line during a full update and of the window after
# Connect, each against vanta7-sim, with settings and port links in a temporary directory.
# Prints "cli KIB" and "window KIB" lines (window only when xvfb-run and xdotool exist).
#   bench/memory_peak.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: memory_peak.sh BUILD_DIR}" && pwd)
cli=$build/cli/vantalink-cli
sim=$build/sim/vanta7-sim
imagegen=$build/tests/vanta7-imagegen
window=$build/app/vantalink
for program in "$cli" "$sim" "$imagegen"; do
  [ -x "$program" ] || { echo "memory_peak: missing $program" >&2; exit 1; }
done

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME" "$work/img"

# The largest firmware the three firmware sectors hold less a margin, and a logic image.
"$imagegen" --firmware 9 --size 262144 --out "$work/img" >/dev/null
"$imagegen" --jedec 7 --out "$work/img" >/dev/null

"$sim" --serial 12345678 --firmware-version 3 --logic-version 2 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 200); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
device=$(head -n 1 "$work/sim.out")
[ -n "$device" ] || { echo "memory_peak: vanta7-sim printed no device" >&2; exit 1; }

# wait4's rusage of the command line itself, through GNU time.
/usr/bin/time -f %M -o "$work/cli.rss" "$cli" update --port "$device" --speed 115200 \
  --image-dir "$work/img" --quiet --stay-in-loader >"$work/cli.out" 2>&1 ||
  { cat "$work/cli.out" >&2; echo "memory_peak: the update failed" >&2; exit 1; }
echo "cli $(cat "$work/cli.rss")"
kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true
sim_pid=

if [ ! -x "$window" ] || ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
  echo "memory_peak: no window measured (needs $window, xvfb-run and xdotool)" >&2
  exit 0
fi

# The window under an X server of its own: Connect (Alt+C), then its high-water mark (VmHWM)
# once the identity has been read.
cat >"$work/window.sh" <<'INNER'
set -euo pipefail
sim=$1 window=$2 work=$3
"$sim" --com 1 --serial 12345678 --firmware-version 3 --logic-version 2 --verbose \
  >"$work/wsim.out" 2>"$work/wsim.err" &
probe=$!
"$window" 2>"$work/window.err" &
app=$!
trap 'kill $app $probe 2>/dev/null || true; wait 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$work/wsim.out" ] && break; sleep 0.05; done
wid=$(xdotool search --sync --onlyvisible --name 'Vanta7 Update/Setup' | head -n1)
sleep 0.5
xdotool windowfocus --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid"
xdotool key --clearmodifiers alt+c
for _ in $(seq 200); do grep -q LDR_IDENTIFY "$work/wsim.err" && break; sleep 0.05; done
grep -q LDR_IDENTIFY "$work/wsim.err" || { echo "window did not connect" >&2; exit 1; }
sleep 1
awk '/^VmHWM:/ {print "window", $2}' "/proc/$app/status"
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/window.sh" "$sim" "$window" "$work"
