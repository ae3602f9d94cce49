#!/usr/bin/env bash
# vantalink-cli update and erase against vanta7-sim with generated images: the Update button's
# flow, --firmware-only with --fast and --verify, image file and verify failures with their exit
# statuses, erase refusing without --yes, and erase with it. Arguments: build, source directory.
source "$(dirname "$0")/cli_common.bash" "$@"

img=$work/img
mkdir -p "$img" "$work/empty" "$work/bad"
"$imagegen" --firmware 9 --size 16384 --out "$img" >/dev/null
"$imagegen" --jedec 7 --out "$img" >/dev/null
start_sim probe --com 1 --serial 12345678 --firmware-version 3 --logic-version 2

# The Update button's flow: firmware and logic, versions before and after in the table.
expect 0 update --port COM1 --speed 115200 --image-dir "$img" --stay-in-loader
grep -qE '^COM1 +12345678 +[^ ]+ +0\.03 -> 0\.09 +0\.02 -> 0\.07 +[0-9.]+ s +ok$' <<<"$out" ||
  fail "update table: $out"
contains "$err" "COM1: Firmware: Programming Flash ... passed!" "firmware progress"
contains "$err" "COM1: Logic: Verifying ... ( 90% )" "logic progress"
contains "$err" "COM1: Updating firmware and logic passed!" "update result"
expect 0 info --port COM1 --image-dir "$img" --json --stay-in-loader
[ "$(json 'j["firmware"], j["logic"], j["updateAvailable"]')" = "0.09 0.07 False" ] ||
  fail "versions after the update: $out"

# Nothing differs now: the flow writes nothing and still passes.
expect 0 update --port COM1 --image-dir "$img" --stay-in-loader --json
! grep -q "Firmware: Erasing" <<<"$err" || fail "an up-to-date probe was reprogrammed: $err"
[ "$(json 'j[0]["result"], j[0]["after"]["firmware"]')" = "ok 0.09" ] || fail "$out"

# --firmware-only programs the newest image whatever the probe holds; --fast and --verify.
expect 0 update --firmware-only --fast --verify --port COM1 --speed 57600 --image-dir "$img" \
  --stay-in-loader
contains "$err" "COM1: Firmware: Programming Flash ... passed!" "--firmware-only"
expect 0 read-memory 0x01040000 8 --port COM1 --stay-in-loader
contains "$out" "01040000  AA 55 55 AA 16 09" "marker and version after --fast"

# Image file failures: exit status 5, the probe untouched.
expect 5 update --firmware-only --port COM1 --image-dir "$work/empty"
contains "$err" "no firmware image VT7PP4FW.nnn in $work/empty/" "no image"
{ head -n 3 "$img/VT7PP4FW.009"; echo "S1130000BAD"; } >"$work/bad/VT7PP4FW.011"
expect 5 update --port COM1 --image-dir "$work/bad" --stay-in-loader
contains "$err" "Firmware update failed!" "bad record"
contains "$out" "$work/bad/VT7PP4FW.011: bad record on line 4" "bad record"
# A JEDEC row cut short on line 12: the JSON detail names the file and the row's last line.
mkdir -p "$work/badlogic"
cp "$img/VT7PP4FW.009" "$work/badlogic/"
sed '12s/^./x/' "$img/PP4JEDK0.007" >"$work/badlogic/PP4JEDK0.008"
expect 5 update --port COM1 --image-dir "$work/badlogic" --stay-in-loader --json
[ "$(json 'j[0]["error"]["stage"], j[0]["error"]["detail"]')" = \
  "logic file $work/badlogic/PP4JEDK0.008: bad fuse row ending on line 13 (expected 240 fuses '0' or '1' in every row of four lines)" ] ||
  fail "bad fuse row: $out"
expect 0 info --port COM1 --json --stay-in-loader
[ "$(json 'j["firmware"]')" = "0.09" ] || fail "a bad file must not cost the firmware: $out"

# Verify: a probe that stores one bit wrong in its sixth write (address 0x010400A0).
start_sim flaky --com 2 --corrupt-program-write 5
expect 6 update --firmware-only --verify --port COM2 --speed 115200 --image-dir "$img" \
  --stay-in-loader
contains "$out" "Read back differs at 0x010400A" "verify failure"
# With --fast the sector that read back wrong is erased and written again, and passes.
start_sim flakyfast --com 3 --corrupt-program-write 2
expect 0 update --firmware-only --fast --verify --port COM3 --speed 115200 --image-dir "$img" \
  --stay-in-loader --json
[ "$(json 'j[0]["rewrittenSectors"]')" = 1 ] || fail "a wrong bit under --fast --verify: $out"

# Erase: refused without --yes when standard input is no terminal; nothing sent.
expect 8 erase --port COM1
contains "$err" "erase refused" "erase without --yes"
expect 0 read-memory 0x01040000 4 --port COM1 --stay-in-loader
contains "$out" "01040000  AA 55 55 AA" "firmware kept after a refused erase"
# On a terminal the question is asked; "n" keeps everything.
if command -v script >/dev/null; then
  set +e
  printf 'n\n' | script -qec "'$cli' erase --port COM1 --stay-in-loader" /dev/null >"$work/tty" 2>&1
  status=$?
  set -e
  [ "$status" = 8 ] || fail "erase answered n exited $status: $(cat "$work/tty")"
  contains "$(cat "$work/tty")" "Erase Flash and EPLD? [y/N]" "the question on a terminal"
  contains "$(cat "$work/tty")" "erase not confirmed; nothing erased" "answer n"
fi
expect 0 erase --yes --port COM1 --stay-in-loader
grep -qE '^COM1 +12345678 +[^ ]+ +0\.09 -> unknown +0\.07 -> unknown +[0-9.]+ s +ok$' <<<"$out" ||
  fail "erase table: $out"
expect 0 read-memory 0x01008000 4 --port COM1 --stay-in-loader
contains "$out" "01008000  FF FF FF FF" "setup sector erased"
# A probe whose last two sector erases outlast the erase's reply wait (10.33 s at 115200 bit/s)
# and that carries a repeated request out again: the first attempt times out, the second goes out,
# and both are answered. Every reply must go with its own request: the command succeeds with the
# sectors erased when it ends (the probe's flash is saved the moment it is stopped), or fails.
slow_probe() {
  python3 -c "import sys; open(sys.argv[1], 'wb').write(b'\x42' * 1048576)" "$work/slow.flash"
  start_sim slow --pace --redo-repeats --erase-busy-ms 10600 --erase-busy-from 0x01080000 \
    --flash "$work/slow.flash"
}
stop_slow_probe() {
  kill "${sim_pids[-1]}"
  wait "${sim_pids[-1]}" 2>/dev/null || true
}
# erased FLASH SECTOR...: prints the sectors whose first 16 bytes are not erased.
erased() {
  python3 - "$@" <<'PY'
import sys
flash = open(sys.argv[1], 'rb').read()
for sector in sys.argv[2:]:
    offset = int(sector, 16) - 0x01000000
    if flash[offset:offset + 16] != b'\xff' * 16:
        print(sector)
PY
}
slow_probe
expect 0 erase --yes --port "$slow" --speed 115200
stop_slow_probe
left=$(erased "$work/slow.flash" 0x01008000 0x0100C000 0x01010000 0x01040000 0x01080000 0x010C0000)
[ -z "$left" ] || fail "erase --yes passed with these sectors not erased: $left"
slow_probe
expect 0 update --firmware-only --fast --verify --port "$slow" --speed 115200 --image-dir "$img"
stop_slow_probe
left=$(erased "$work/slow.flash" 0x01080000 0x010C0000)
[ -z "$left" ] || fail "the update passed with these sectors not erased: $left"
echo "cli_update: ok"
