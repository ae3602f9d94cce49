#!/usr/bin/env bash
# Transfers that adapt, measured with vantalink-cli against paced vanta7-sim probes (every byte
# takes ten bit times), each probe's flash saved on exit and compared with the image.
#   bench/transfers.sh PART BUILD_DIR [--runs N] [--jobs N]
# PART:
#   noisy   update --firmware-only --fast --verify of 256 KiB at 115200 bit/s, bytes corrupted
#           both ways at 0, 0.05%, 0.2% and 1%; --runs updates a rate (default 10) and twice as
#           many at 0.2% (its target counts in twenties), --jobs of them at once (default 4), each
#           its own command line and probe, the rates interleaved
#   kinds   update --firmware-only --fast --verify at 0.2% both ways, once with single-bit flips
#           and once with byte replacement, of a 32 KB and a 256 KiB image; --runs updates a
#           kind and size (default 20), --size-runs N for the 256 KiB ones (default --runs)
#   backup  backup --range 0x010C0000:120000 on a clean line (--runs times, default 20; with
#           BASE_CLI=path the same by that earlier vantalink-cli beside it), and --runs backups
#           with one bit flipped in 0.2% of the reply bytes, each compared with the flash
#   erased  update --firmware-only --fast of 256 KiB, half 0xFF gap fill, with and without
#           --no-skip-erased
#   speed   the noisy part's update on a clean line with a probe that takes 921600 bit/s
#   many    update --fast (firmware and logic) of 16 probes in one command line, then of one
# Each part prints its figures, then lines starting "figure" that bench/run reads.
set -euo pipefail
part=${1:?usage: transfers.sh noisy|erased|speed|many BUILD_DIR [--runs N] [--jobs N]}
build=$(cd "${2:?usage: transfers.sh PART BUILD_DIR}" && pwd)
shift 2
runs=10
jobs=4
size_runs=
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --size-runs) size_runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    *) echo "transfers: unknown option $1" >&2; exit 2 ;;
  esac
done
cli=$build/cli/vantalink-cli
sim=$build/sim/vanta7-sim
imagegen=$build/tests/vanta7-imagegen
for program in "$cli" "$sim" "$imagegen"; do
  [ -x "$program" ] || { echo "transfers: missing $program" >&2; exit 1; }
done

work=$(mktemp -d)
cleanup() {
  local file
  for file in "$work"/*.pid; do
    [ -f "$file" ] && kill "$(cat "$file")" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"

# Erasing a sector takes 50 ms, as in the other update benchmarks.
probe_options=(--pace --erase-busy-ms 50 --firmware-version 3 --logic-version 2)

# start_probe NAME [vanta7-sim options]: a probe whose flash is saved in $work/NAME.flash and
# whose counters go to $work/NAME.err when it stops; its device path in $work/NAME.out.
start_probe() {
  local name=$1
  shift
  rm -f "$work/$name.flash"
  "$sim" --flash "$work/$name.flash" --verbose "$@" >"$work/$name.out" 2>"$work/$name.err" &
  echo $! >"$work/$name.pid"
  local i
  for i in $(seq 200); do
    [ -s "$work/$name.out" ] && break
    sleep 0.05
  done
  [ -s "$work/$name.out" ] || { echo "transfers: vanta7-sim printed no device" >&2; return 1; }
}
device() { head -n 1 "$work/$1.out"; }
stop_probe() {
  local pid
  pid=$(cat "$work/$1.pid")
  kill "$pid" 2>/dev/null || true
  while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
}
# The probe's wire time plus its busy time, in seconds, from the counters it printed on exit.
wire_bound() {
  sed -n 's/.*wire time \([0-9.]*\) s, busy \([0-9.]*\) s$/\1 \2/p' "$work/$1.err" |
    awk '{printf "%.3f", $1 + $2}'
}

# flash_check FLASH IMAGE: "same" when the three firmware sectors hold the image (records over
# erased flash, the validity marker ANDed into its first word) and 0xFF elsewhere.
flash_check() {
  python3 - "$1" "$2" <<'PY'
import sys
flash = open(sys.argv[1], 'rb').read()
want = bytearray(b'\xff' * 0xC0000)  # 0x01040000 up to the end of flash
for line in open(sys.argv[2]):
    line = line.strip()
    if line[:2] != 'S3':
        continue
    count, address = int(line[2:4], 16), int(line[4:12], 16)
    data = bytes.fromhex(line[12:12 + 2 * (count - 5)])
    want[address - 0x01040000:address - 0x01040000 + len(data)] = data
for i, marker in enumerate(b'\xaa\x55\x55\xaa'):
    want[i] &= marker
print('same' if len(flash) == 0x100000 and flash[0x40000:] == want else 'differs')
PY
}

# update NAME [vantalink-cli options]: the command line under GNU time; its exit status, elapsed,
# user and system CPU seconds and max RSS (KiB) in $work/NAME.time.
update() {
  local name=$1
  shift
  local status=0
  /usr/bin/time -f '%e %U %S %M' -o "$work/$name.time" "$cli" update --quiet --stay-in-loader \
    --json "$@" >"$work/$name.json" 2>"$work/$name.cli.err" </dev/null || status=$?
  echo "$status $(tail -n 1 "$work/$name.time")"
}

# The stage and what failed, from the command line's JSON ("" after success).
failure() {
  python3 -c 'import json, sys
j = json.load(open(sys.argv[1]))
e = (j[0] if isinstance(j, list) else j).get("error")
if e: print(e["stage"], e["name"], hex(e["address"]) if "address" in e else "")' \
    "$work/$1.json" 2>/dev/null || true
}

# throttle: after starting a run in the background, waits while $jobs of them are running.
running=0
throttle() {
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
}

median() { sort -n | awk '{v[NR] = $1} END {if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

img=$work/img
mkdir -p "$img"
firmware=$img/VT7PP4FW.009
"$imagegen" --firmware 9 --size 262144 --out "$img" >/dev/null

case $part in
  noisy)
    rates=(0 0.0005 0.002 0.01)
    results=$work/noisy.txt
    : >"$results"
    one_run() {
      local rate=$1 run=$2 name="noisy-$1-$2" seed=$((1000 * $3 + $2))
      start_probe "$name" "${probe_options[@]}" --seed "$seed" --corrupt-rate "$rate" \
        --request-corrupt-rate "$rate"
      local outcome
      outcome=$(update "$name" --firmware-only --fast --verify --speed 115200 \
        --port "$(device "$name")" --image-dir "$img")
      stop_probe "$name"
      echo "rate $rate run $run seed $seed status ${outcome%% *} seconds $(cut -d' ' -f2 <<<"$outcome") flash $(flash_check "$work/$name.flash" "$firmware") $(failure "$name")" >>"$results"
    }
    echo "noisy line: update --firmware-only --fast --verify, 256 KiB, 115200 bit/s, bytes" \
      "corrupted both ways; $runs runs a rate ($((2 * runs)) at 0.2%), $jobs at once"
    running=0
    for run in $(seq "$((2 * runs))"); do
      for i in "${!rates[@]}"; do
        [ "$run" -gt "$runs" ] && [ "${rates[$i]}" != 0.002 ] && continue
        one_run "${rates[$i]}" "$run" "$i" &
        throttle
      done
    done
    wait
    sort -k2,2g -k4,4n "$results"
    clean=$(awk '$2 == 0 && $8 == 0 {print $10}' "$results" | median)
    for rate in "${rates[@]}"; do
      made=$(awk -v r="$rate" '$2 == r' "$results" | wc -l)
      ok=$(awk -v r="$rate" '$2 == r && $8 == 0' "$results" | wc -l)
      # Runs that reported success with a flash that differs from the image.
      wrong=$(awk -v r="$rate" '$2 == r && $8 == 0 && $12 != "same"' "$results" | wc -l)
      med=$(awk -v r="$rate" '$2 == r && $8 == 0 {print $10}' "$results" | median)
      share=$(awk -v c="$clean" -v t="$med" 'BEGIN {if (t > 0) printf "%.2f", c / t}')
      echo "figure noisy $rate runs $made succeeded $ok wrong $wrong median ${med:--} goodput ${share:--}"
    done
    ;;

  kinds)
    mkdir -p "$work/img32"
    "$imagegen" --firmware 9 --size 32768 --out "$work/img32" >/dev/null
    results=$work/kinds.txt
    : >"$results"
    one_kind() {
      local kind=$1 size=$2 run=$3 rate=${4:-0.002} name="kind-$1-$2-$3" seed=$((3000 + $3))
      local noise=(--bit-flip-rate "$rate" --request-bit-flip-rate "$rate")
      [ "$kind" = bytes ] && noise=(--corrupt-rate "$rate" --request-corrupt-rate "$rate")
      [ "$kind" = clean ] && noise=()
      local dir=$img
      [ "$size" = 32 ] && dir=$work/img32
      start_probe "$name" "${probe_options[@]}" --seed "$seed" "${noise[@]}"
      local outcome
      outcome=$(update "$name" --firmware-only --fast --verify --speed 115200 \
        --port "$(device "$name")" --image-dir "$dir")
      stop_probe "$name"
      echo "kind $kind size $size run $run status ${outcome%% *} seconds $(cut -d' ' -f2 <<<"$outcome") flash $(flash_check "$work/$name.flash" "$dir/VT7PP4FW.009") $(failure "$name")" >>"$results"
    }
    echo "kinds of noise: update --firmware-only --fast --verify at 0.2% both ways, 115200 bit/s;" \
      "$runs runs a kind of the 32 KB image, ${size_runs:-$runs} of the 256 KiB one, $jobs at once"
    running=0
    for size in 32 256; do
      count=$runs
      [ "$size" = 256 ] && count=${size_runs:-$runs}
      for run in $(seq "$count"); do
        for kind in clean bits bytes; do
          [ "$kind" = clean ] && [ "$run" -gt 3 ] && continue
          one_kind "$kind" "$size" "$run" &
          throttle
        done
      done
    done
    wait
    sort -k4,4n -k2,2 -k6,6n "$results"
    for size in 32 256; do
      clean=$(awk -v z="$size" '$2 == "clean" && $4 == z && $8 == 0 {print $10}' "$results" | median)
      for kind in bits bytes; do
        sel() { awk -v z="$size" -v k="$kind" '$2 == k && $4 == z'"$1" "$results"; }
        made=$(sel '' | wc -l)
        ok=$(sel ' && $8 == 0' | wc -l)
        wrong=$(sel ' && $8 == 0 && $12 != "same"' | wc -l)
        med=$(sel ' && $8 == 0 {print $10}' | median)
        ratio=$(awk -v c="$clean" -v t="$med" 'BEGIN {if (c > 0 && t > 0) printf "%.2f", t / c}')
        echo "figure kinds $kind $size runs $made succeeded $ok wrong $wrong median ${med:--} clean ${clean:--} ratio ${ratio:--}"
      done
    done
    ;;

  backup)
    range=0x010C0000:120000
    # A probe whose config sector holds a pattern the backup must reproduce byte for byte.
    python3 - "$work/pattern.flash" <<'PY'
import sys
flash = bytearray(b'\xff' * 0x100000)
for i in range(0xC0000, 0xC0000 + 120000):
    flash[i] = (i * 7 + i // 251) & 0xFF
open(sys.argv[1], 'wb').write(flash)
PY
    # backup_once NAME CLI [vanta7-sim options]: seconds, then "same" or the count of wrong bytes.
    backup_once() {
      local name=$1 program=$2
      shift 2
      cp "$work/pattern.flash" "$work/$name.flash"
      "$sim" --flash "$work/$name.flash" --pace "$@" >"$work/$name.out" 2>"$work/$name.err" &
      echo $! >"$work/$name.pid"
      local i
      for i in $(seq 200); do [ -s "$work/$name.out" ] && break; sleep 0.05; done
      local status=0
      /usr/bin/time -f '%e' -o "$work/$name.time" "$program" backup "$work/$name.s19" \
        --range "$range" --quiet --stay-in-loader --speed 115200 --port "$(device "$name")" \
        >/dev/null 2>"$work/$name.cli.err" </dev/null || status=$?
      stop_probe "$name"
      local wrong
      wrong=$(python3 - "$work/$name.s19" "$work/pattern.flash" <<'PY'
import sys
flash = open(sys.argv[2], 'rb').read()
wrong = seen = 0
try:
    for line in open(sys.argv[1]):
        if line[:2] != 'S3':
            continue
        count, address = int(line[2:4], 16), int(line[4:12], 16)
        data = bytes.fromhex(line[12:12 + 2 * (count - 5)])
        seen += len(data)
        wrong += sum(a != b for a, b in zip(data, flash[address - 0x01000000:]))
except OSError:
    pass
print(wrong if seen == 120000 else 'none')
PY
)
      echo "$status $(tail -n 1 "$work/$name.time") $wrong"
    }
    echo "backup --range $range at 115200 bit/s: $runs on a clean line, $runs with one bit" \
      "flipped in 0.2% of the reply bytes${BASE_CLI:+, and $runs clean by $BASE_CLI}"
    : >"$work/backup.txt"
    for run in $(seq "$runs"); do
      echo "clean $(backup_once "clean-$run" "$cli")" >>"$work/backup.txt"
      [ -n "${BASE_CLI:-}" ] && echo "base $(backup_once "base-$run" "$BASE_CLI")" >>"$work/backup.txt"
      echo "noisy $(backup_once "noisy-$run" "$cli" --seed "$((4000 + run))" --bit-flip-rate 0.002)" \
        >>"$work/backup.txt"
    done
    cat "$work/backup.txt"
    clean=$(awk '$1 == "clean" && $2 == 0 {print $3}' "$work/backup.txt" | median)
    base=$(awk '$1 == "base" && $2 == 0 {print $3}' "$work/backup.txt" | median)
    made=$(awk '$1 == "noisy"' "$work/backup.txt" | wc -l)
    ok=$(awk '$1 == "noisy" && $2 == 0' "$work/backup.txt" | wc -l)
    wrong=$(awk '$1 == "noisy" && $2 == 0 && $4 != 0 {n++} END {print n + 0}' "$work/backup.txt")
    bytes=$(awk '$1 == "noisy" && $2 == 0 && $4 ~ /^[0-9]+$/ {n += $4} END {print n + 0}' "$work/backup.txt")
    echo "figure backup clean ${clean:--} base ${base:--} noisy $made succeeded $ok wrong $wrong bytes $bytes"
    ;;

  erased)
    gap=$work/gap
    mkdir -p "$gap"
    "$imagegen" --firmware 9 --size 262144 --gap-fill 4096 --out "$gap" >/dev/null
    echo "erased runs: update --firmware-only --fast, 256 KiB of which half is 0xFF gap fill" \
      "(blocks of 4 KiB), 115200 bit/s"
    for mode in skip write; do
      extra=()
      [ "$mode" = write ] && extra=(--no-skip-erased)
      start_probe "$mode" "${probe_options[@]}"
      read -r status seconds _ < <(update "$mode" --firmware-only --fast "${extra[@]}" \
        --speed 115200 --port "$(device "$mode")" --image-dir "$gap")
      stop_probe "$mode"
      flash=$(flash_check "$work/$mode.flash" "$gap/VT7PP4FW.009")
      echo "  $mode: status $status, $seconds s, wire-time bound $(wire_bound "$mode") s, flash $flash"
      echo "figure erased $mode status $status seconds $seconds flash $flash"
    done
    ;;

  speed)
    echo "speed: update --firmware-only --fast --verify, 256 KiB, --speed 921600 against a probe" \
      "with --top-speed 921600"
    start_probe fast921600 "${probe_options[@]}" --top-speed 921600
    read -r status seconds _ < <(update fast921600 --firmware-only --fast --verify --speed 921600 \
      --port "$(device fast921600)" --image-dir "$img")
    stop_probe fast921600
    flash=$(flash_check "$work/fast921600.flash" "$firmware")
    bound=$(wire_bound fast921600)
    grep -o 'line now at [0-9]* bit/s' "$work/fast921600.err" | tail -n 1 | sed 's/^/  /'
    echo "  status $status, $seconds s, wire-time bound $bound s, flash $flash"
    echo "figure speed status $status seconds $seconds bound $bound flash $flash"
    ;;

  many)
    "$imagegen" --jedec 7 --out "$img" >/dev/null
    echo "many probes: update --fast (firmware and logic), 256 KiB firmware, 115200 bit/s"
    for count in 16 1; do
      ports=()
      for n in $(seq "$count"); do
        start_probe "p$count-$n" "${probe_options[@]}" --serial "$((10000000 + n))"
        ports+=(--port "$(device "p$count-$n")")
      done
      read -r status seconds user sys rss < <(update "many$count" --fast --speed 115200 \
        "${ports[@]}" --image-dir "$img")
      same=0
      longest=0
      for n in $(seq "$count"); do
        stop_probe "p$count-$n"
        [ "$(flash_check "$work/p$count-$n.flash" "$firmware")" = same ] && same=$((same + 1))
        longest=$(awk -v a="$longest" -v b="$(wire_bound "p$count-$n")" 'BEGIN {print (b > a) ? b : a}')
      done
      ok=$(python3 -c 'import json, sys
j = json.load(open(sys.argv[1]))
print(sum(r["result"] == "ok" for r in (j if isinstance(j, list) else [j])))' \
        "$work/many$count.json" 2>/dev/null || echo 0)
      cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%.2f", u + s}')
      echo "  $count probes: status $status, $ok ok, $same with the image in flash, $seconds s" \
        "(longest wire-time bound $longest s), CPU $cpu s (user $user, system $sys), max RSS $rss KiB"
      echo "figure many $count status $status ok $ok same $same seconds $seconds bound $longest cpu $cpu rss $rss"
    done
    ;;

  *)
    echo "transfers: no part $part" >&2
    exit 2
    ;;
esac
