#!/usr/bin/env bash
# vantalink-cli serving four virtual probes at once through the whole Update flow (firmware and
# logic), one of which fails half-way through its firmware: the others finish, the JSON array and
# the table report each probe, and the exit status is the failing probe's class. Then scan among
# them, commands without --port, and --watch serving probes as they appear in a directory.
# Arguments: build directory, source directory.
source "$(dirname "$0")/cli_common.bash" "$@"

img=$work/img
mkdir -p "$img"
"$imagegen" --firmware 9 --size 32768 --out "$img" >/dev/null  # 1024 records of 32 bytes
"$imagegen" --jedec 4 --out "$img" >/dev/null
for n in 1 2 3 4; do
  faults=()
  [ "$n" = 3 ] && faults=(--fail-program-write 500)  # half-way through the records
  start_sim "probe$n" --com "$n" --serial "1000000$n" --firmware-version 3 --logic-version 2 \
    --pace "${faults[@]}"
done

start=$(date +%s.%N)
expect 4 update --ports COM1,COM2,COM3,COM4 --speed 115200 --image-dir "$img" \
  --stay-in-loader --json
elapsed=$(python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$start" \
  "$(date +%s.%N)")
[ "$(json 'len(j)')" = 4 ] || fail "one result a probe: $out"
[ "$(json '" ".join(r["port"] for r in j)')" = "COM1 COM2 COM3 COM4" ] || fail "order: $out"
[ "$(json '" ".join(r["serial"] for r in j)')" = "10000001 10000002 10000003 10000004" ] ||
  fail "serials: $out"
[ "$(json '" ".join(r["result"] for r in j)')" = "ok ok failed ok" ] || fail "results: $out"
[ "$(json '" ".join(r["after"]["firmware"] for r in j)')" = "0.09 0.09 unknown 0.09" ] ||
  fail "versions after: $out"
[ "$(json '" ".join(r["after"]["logic"] for r in j)')" = "0.04 0.04 0.02 0.04" ] ||
  fail "logic after: $out"
[ "$(json 'j[2]["exitStatus"], j[2]["before"]["firmware"]')" = "4 0.03" ] || fail "$out"
# Each probe had its own progress; all four ran at once: well under four runs one after another.
for n in 1 2 3 4; do contains "$err" "COM$n: Firmware: Programming Flash ..." "progress of COM$n"; done
longest=$(json 'max(r["seconds"] for r in j)')
total=$(json 'sum(r["seconds"] for r in j)')
python3 -c "import sys; e, l, t = map(float, sys.argv[1:]); sys.exit(0 if e < l + 0.5 * (t - l) else 1)" \
  "$elapsed" "$longest" "$total" || fail "probes were not served in parallel: $elapsed s for $total s"

# Text mode: the table with one row a probe; a port without a probe fails alone.
expect 3 info --ports COM1,COM2,COM3,COM4,COM11 --stay-in-loader
for n in 1 2 4; do
  grep -qE "^COM$n +1000000$n +[^ ]+ +0\.09 +0\.04 +[0-9.]+ s +ok$" <<<"$out" ||
    fail "table row COM$n: $out"
done
grep -qE "^COM3 +10000003 +[^ ]+ +unknown +0\.02 +[0-9.]+ s +ok$" <<<"$out" ||
  fail "table row COM3: $out"
grep -qE "^COM11 +- .* FAILED \(3\) connect: .* \(LINK_E_PORT\)$" <<<"$out" || fail "COM11: $out"
contains "$out" "== COM4 ==" "info blocks"

# scan: every device once, all tried at once. COM4 is held by another program (reported busy
# with its holders, never served), COM6 points at a device that is gone, COM7 reaches COM1's
# device by another path. Only these links count: the host's own serial ports may show too.
flock -x "$probe4" sleep 30 &
locker=$!
sim_pids+=($locker)
for i in $(seq 100); do
  pgrep -P "$locker" -x sleep >/dev/null && break
  sleep 0.05
done
holder=$(pgrep -P "$locker" -x sleep)
ln -s "$probe1" "$work/alias"
expect 0 ports --map COM6 /dev/vanta-unplugged-adapter
expect 0 ports --map COM7 "$work/alias"
ours='sorted((r for r in j if set(r["com"]) & {"COM1", "COM2", "COM3", "COM4", "COM6", "COM7"}), key=lambda r: r["com"])'
expect 0 scan --json --stay-in-loader
[ "$(json "' '.join(','.join(r['com']) + '=' + r.get('serial', r.get('reason', {}).get('class', '')) for r in $ours)")" = \
  "COM1,COM7=10000001 COM2=10000002 COM3=10000003 COM4=busy COM6=no-device" ] || fail "scan: $out"
[ "$(json "[h['pid'] for r in $ours for h in r.get('reason', {}).get('holders', []) if h['command'] == 'sleep']")" = \
  "[$holder]" ] || fail "scan names the holder: $out"
# Without --port and with several probes a command stops with the list.
expect 2 info --stay-in-loader --json
contains "$err" "the scan found 3 probes; name one with --port" "several probes"
[ "$(json 'j["exitStatus"], j["error"]["stage"], len([r for r in j["scan"] if r["probe"]])')" = \
  "2 probe search 3" ] || fail "several probes as JSON: $out"
grep -qE "^$probe4 +COM4 +- +busy: open in .*sleep \(pid $holder\)" <<<"$err" || fail "busy row: $err"
kill "$locker"
wait "$locker" 2>/dev/null || true
# With exactly one probe the command serves it and says which.
XDG_CONFIG_HOME=$work/solo "$cli" ports --map COM3 "$probe3" >/dev/null
XDG_CONFIG_HOME=$work/solo expect 0 info --json --stay-in-loader
[ "$(json 'j["port"], j["serial"]')" = "COM3 10000003" ] || fail "the one probe: $out"
contains "$err" "no --port given; using COM3 ($probe3), the one probe found" "the one probe"

# A bench: devices plugged into a watched directory one after another are each served once, two
# at a time, one unplugged and plugged back is served again, one whose link leads nowhere yet is
# tried again, and Ctrl-C lets the probe in the middle of its update finish first.
expect 2 update --watch --port COM1
contains "$err" "leave out --port" "--watch with --port"
mkdir -p "$work/img2"
"$imagegen" --firmware 9 --size 4096 --out "$work/img2" >/dev/null
"$imagegen" --jedec 4 --out "$work/img2" >/dev/null
start_sim w1 --serial 20000001 --firmware-version 3 --logic-version 2
start_sim w2 --serial 20000002 --firmware-version 3 --logic-version 2
start_sim w3 --serial 20000003 --firmware-version 3 --fail-program-write 5
start_sim w4 --serial 20000004 --firmware-version 3 --logic-version 2 --program-busy-ms 20
bench=$work/bench
mkdir -p "$bench"
"$cli" update --watch --watch-dir "$bench" --log "$work/bench.log" --speed 115200 \
  --image-dir "$work/img2" --stay-in-loader >"$work/watch.out" 2>"$work/watch.err" </dev/null &
watch_pid=$!
sim_pids+=("$watch_pid")
# await TEXT FILE WHAT: waits up to 60 s for FILE to contain TEXT.
await() {
  local i
  for i in $(seq 600); do
    grep -qF -- "$1" "$2" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "$3: '$1' never came: $(cat "$work/watch.err")"
}
# logged N: waits until the log holds N objects.
logged() {
  local i
  for i in $(seq 600); do
    [ "$(wc -l <"$work/bench.log" 2>/dev/null || echo 0)" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "$1 probes logged: $(cat "$work/bench.log" "$work/watch.err")"
}
await "watching $bench" "$work/watch.err" "watch start"
ln -s "$w1" "$bench/a"
logged 1
ln -s "$w2" "$bench/b"
ln -s "$w3" "$bench/c"
logged 3
rm "$bench/a"
await "$bench/a: unplugged" "$work/watch.err" "unplug"
ln -s "$w1" "$bench/a"
logged 4
ln -s "$work/late" "$bench/e"
await "$bench/e: could not be opened yet; trying again (2 of 5)" "$work/watch.err" "retry"
ln -s "$w2" "$work/late"
logged 5
ln -s "$w4" "$bench/d"
await "d: Firmware: Programming Flash" "$work/watch.err" "d's update"
kill -INT "$watch_pid"
set +e
wait "$watch_pid"
status=$?
set -e
[ "$status" = 4 ] || fail "watch exited $status, expected 4: $(cat "$work/watch.err")"
contains "$(cat "$work/watch.err")" "stopping: the 1 probe(s) being served are finished first" \
  "stop message"
contains "$(cat "$work/watch.out")" "watch ended: 6 served, 5 passed, 1 failed" "summary"
grep -qE "^[0-9-]+ [0-9:]+  $bench/d  serial 20000004  loader 1.02  firmware 0.03 -> 0.09 .* ok  \[passed 5, failed 1\]$" \
  "$work/watch.out" || fail "d's line: $(cat "$work/watch.out")"
python3 - "$work/bench.log" "$bench" <<'PY' || fail "log: $(cat "$work/bench.log")"
import json, sys
log = [json.loads(line) for line in open(sys.argv[1])]
got = [(r["port"].rsplit("/", 1)[1], r["serial"], r["before"]["firmware"], r["after"]["firmware"],
        r["exitStatus"]) for r in log]
want = {("a", "20000001", "0.03", "0.09", 0), ("a", "20000001", "0.09", "0.09", 0),
        ("b", "20000002", "0.03", "0.09", 0), ("c", "20000003", "0.03", "unknown", 4),
        ("e", "20000002", "0.09", "0.09", 0), ("d", "20000004", "0.03", "0.09", 0)}
assert len(got) == 6 and set(got) == want, got
assert got[-1][0] == "d" and all("time" in r for r in log), log
PY
# The probe that was in the middle of its update when Ctrl-C came holds the whole image.
expect 0 read-memory 0x01040004 4092 --port "$w4" --json --stay-in-loader
python3 - "$work/stdout" "$work/img2/VT7PP4FW.009" <<'PY' || fail "flash of d differs"
import json, sys
flash = bytes.fromhex(json.load(open(sys.argv[1]))["data"])
image = bytearray(b"\xff" * 4096)
for line in open(sys.argv[2]):
    if line.startswith("S3"):
        count, address = int(line[2:4], 16), int(line[4:12], 16) - 0x01040000
        data = bytes.fromhex(line[12:12 + 2 * (count - 5)])
        image[address:address + len(data)] = data
assert flash == bytes(image[4:]), "differs"
PY
# A second Ctrl-C abandons the probe half way and names it and its step, also when standard error
# is a file; the log says so too.
start_sim w5 --serial 20000005 --firmware-version 3 --program-busy-ms 200
mkdir -p "$work/bench2"
"$cli" update --watch --watch-dir "$work/bench2" --log "$work/bench2.log" --speed 115200 \
  --image-dir "$work/img2" --stay-in-loader >"$work/watch.out" 2>"$work/watch.err" </dev/null &
watch_pid=$!
sim_pids+=("$watch_pid")
await "watching $work/bench2" "$work/watch.err" "second watch start"
ln -s "$w5" "$work/bench2/f"
await "f: Firmware: Programming Flash" "$work/watch.err" "f's update"
kill -INT "$watch_pid"
await "stopping: the 1 probe(s)" "$work/watch.err" "first stop"
kill -INT "$watch_pid"
set +e
wait "$watch_pid"
status=$?
set -e
[ "$status" = 1 ] || fail "abandoned watch exited $status, expected 1: $(cat "$work/watch.err")"
contains "$(cat "$work/watch.err")" "$work/bench2/f: ABANDONED during \"Firmware: Programming Flash" \
  "abandoned probe named"
contains "$(cat "$work/watch.out")" "watch ended: 1 served, 0 passed, 1 failed (1 abandoned)" \
  "abandoned summary"
grep -q '"result":"abandoned"' "$work/bench2.log" || fail "log: $(cat "$work/bench2.log")"
echo "cli_many: ok"
