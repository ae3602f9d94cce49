#!/usr/bin/env bash
# vantalink-cli against vanta7-sim: info (plain and JSON), read-memory, link-check, --trace, the
# ports list and mapping, the hints for a missing device and a device the user may not open, and
# --help of every command. Arguments: build directory, source directory.
source "$(dirname "$0")/cli_common.bash" "$@"

start_sim probe --com 1 --serial 87654321 --firmware-version 5 --logic-version 7
mkdir -p "$work/img"
"$imagegen" --firmware 6 --size 2048 --out "$work/img" >/dev/null

# info, plain: the versions beside the newest images; the probe left running its firmware.
expect 0 info --port COM1 --image-dir "$work/img"
contains "$out" "Port:      COM1 ($probe)" "info"
contains "$out" "Serial:    87654321" "info"
contains "$out" "MAC:       0A4F19876543" "info"
contains "$out" "Firmware:  0.05  (newest image 0.06)" "info"
contains "$out" "Logic:     0.07  (newest image unknown)" "info"
contains "$out" "Update:    available" "info"
contains "$err" "COM1: Starting firmware please wait...." "leaving the probe"
# link-check on the probe that now runs its firmware: it connects first, as info does.
expect 0 link-check --port COM1 --speed 38400 --count 2
contains "$out" "COM1: link at 38400 bit/s (asked 38400); 2 of 2 transactions answered" "link-check"

# info, JSON, on the device path itself: one object (the probe answers from firmware first,
# and the connect's next attempt finds the loader again).
expect 0 info --port "$probe" --json --stay-in-loader
[ "$(json 'j["serial"], j["mac"], j["firmware"], j["logic"], j["result"]')" = \
  "87654321 0A4F19876543 0.05 0.07 ok" ] || fail "info --json: $out"
[ "$(json 'j["port"] == j["device"]')" = True ] || fail "info --json port: $out"
# A serial number with a byte that is no UTF-8 still gives JSON, the byte replaced.
start_sim odd --serial $'\xff2345678'
expect 0 info --port "$odd" --json --stay-in-loader
[ "$(json 'ascii(j["serial"])')" = "'\ufffd2345678'" ] || fail "odd serial: $out"

# Without --image-dir the user's data directory counts beside the program's own.
user_images=$XDG_DATA_HOME/Norvane/vantaLink/images
mkdir -p "$user_images"
"$imagegen" --firmware 7 --size 2048 --out "$user_images" >/dev/null
expect 0 info --port COM1 --stay-in-loader
contains "$out" "Firmware:  0.05  (newest image 0.07)" "images in the user's data directory"

# read-memory: the firmware marker and the version word the probe stores.
expect 0 read-memory 0x01040000 20 --port COM1 --stay-in-loader
contains "$out" "01040000  AA 55 55 AA 16 05 " "hex dump"
[ "$(wc -l <<<"$out")" -eq 2 ] || fail "20 bytes make two dump lines: $out"
expect 0 read-memory 0x01040000 6 --port COM1 --stay-in-loader --json
[ "$(json 'j["data"], j["address"], j["count"]')" = "aa5555aa1605 0x01040000 6" ] ||
  fail "read-memory --json: $out"

# On a terminal: a progress line redrawn in place, with a bar parsed from "( N% )".
if command -v script >/dev/null; then
  TERM=xterm script -qec "'$cli' read-memory 0x01000000 8192 --port COM1 --stay-in-loader" \
    /dev/null </dev/null >"$work/tty" 2>&1 || fail "read-memory on a terminal: $(cat "$work/tty")"
  grep -q $'\e\[1A' "$work/tty" || fail "no redraw on a terminal: $(cat -v "$work/tty")"
  grep -q 'COM1  \[############............\]  50%  Reading memory ...' "$work/tty" ||
    fail "no progress bar on a terminal: $(cat -v "$work/tty")"
fi

# A speed above the Speed list: asked of a probe that takes it, and the link goes on there.
start_sim fast --top-speed 460800
expect 0 link-check --port "$fast" --speed 921600 --count 2 --json
contains "$out" '"speedReached": 460800' "link-check above 115200"

# link-check at 115200 with --trace: frames with time stamps, headers and command names.
expect 0 link-check --port COM1 --speed 115200 --count 3 --trace --stay-in-loader
contains "$out" "COM1: link at 115200 bit/s (asked 115200); 3 of 3 transactions answered" "link-check"
contains "$out" "COM1: modem lines: not available" "link-check on a pseudo-terminal"
grep -qE '^\[ *[0-9]+\.[0-9]{3}\] COM1 -> seq 0 ch 0 len 1  LINK_SYNC' <<<"$err" ||
  fail "trace of LINK_SYNC: $err"
contains "$err" "LINK_SET_SPEED 115200" "trace"
contains "$err" "speed 115200 bit/s" "trace of the speed change"
contains "$err" "purge input" "trace of purges"
grep -qE 'COM1 -> seq [0-3] ch 1 len 1  LDR_IDENTIFY' <<<"$err" || fail "trace of LDR_IDENTIFY: $err"
grep -qE "COM1 <- seq [0-3] ch 1 len [0-9]+  echo 'd'" <<<"$err" || fail "trace of replies: $err"

# ports: COM1 is the probe's link; --map and --unmap.
expect 0 ports
grep -qE "^COM1 +$probe +exists +\(mapped\)" <<<"$out" || fail "ports: $out"
[ "$(grep -c '^COM' <<<"$out")" -eq 19 ] || fail "ports lists COM1 to COM19: $out"
expect 0 ports --map COM5 "$probe"
expect 0 info --port COM5 --stay-in-loader
contains "$out" "Port:      COM5 ($probe)" "a mapped COM5"
expect 0 ports --json
[ "$(json '[p["device"] for p in j if p["port"] == "COM5"][0]')" = "$probe" ] || fail "$out"
expect 0 ports --unmap COM5
expect 0 ports
grep -qE "^COM5 +/dev/ttyS4 " <<<"$out" || fail "COM5 unmapped: $out"
expect 2 ports --map COMX /dev/null

# A port that stands for nothing: connect failure with a hint.
if [ ! -e /dev/ttyS8 ]; then
  expect 3 info --port COM9
  contains "$err" "Cannot connect to Vanta loader!" "no probe"
  contains "$err" "hint: the port could not be opened: the device /dev/ttyS8 does not exist" \
    "no probe"
fi
expect 0 ports --map COM6 /dev/vanta-unplugged-adapter
expect 3 info --port COM6 --json
contains "$err" "COM6 is mapped to /dev/vanta-unplugged-adapter, which does not exist" "unplugged"
[ "$(json 'j["exitStatus"], j["error"]["reason"]["class"]')" = "3 no-device" ] ||
  fail "missing device: $out"

# A port another program holds with flock: refused at once as busy, naming the processes that
# have it open.
start_sim held --com 2
flock -x "$held" sleep 30 &
locker=$!
sim_pids+=($locker)
for i in $(seq 100); do
  [ -n "$(pgrep -P "$locker" -x sleep)" ] && break
  sleep 0.05
done
holder=$(pgrep -P "$locker" -x sleep)
expect 3 info --port COM2 --json
contains "$err" "hint: the port could not be opened: $held is open in " "held port"
contains "$err" "sleep (pid $holder)" "held port names the holder"
[ "$(json 'j["error"]["reason"]["class"]')" = busy ] || fail "held port reason: $out"
holders='[h["pid"] for h in j["error"]["reason"]["holders"] if h["command"] == "sleep"]'
[ "$(json "$holders[0]")" = "$holder" ] || fail "held port holders: $out"
kill "$locker"
wait "$locker" 2>/dev/null || true

# A device the user may not open: the permission hint (as nobody; root opens everything).
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  set +e
  setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_CONFIG_HOME=/nonexistent \
    "$cli" info --port "$probe" --json >"$work/stdout" 2>"$work/stderr" </dev/null
  status=$?
  set -e
  err=$(cat "$work/stderr")
  [ "$status" = 3 ] || fail "permission denied should exit 3, not $status: $err"
  group=$(stat -c %G "$probe")
  contains "$err" "permission denied: you may not open $probe (group '$group')" "permission hint"
  [ "$group" = root ] && group=dialout  # no one is told to join root's group
  contains "$err" "sudo usermod -aG $group \$USER" "permission hint"
  reason=$(json 'j["error"]["reason"]["class"], j["error"]["reason"]["group"]')
  [ "$reason" = "permission-denied $(stat -c %G "$probe")" ] || fail "permission reason: $out"
fi

# --help of every command: man-style sections and examples.
for command in link-check info read-memory update erase transmit backup restore setup scan ports; do
  expect 0 "$command" --help
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
    contains "$out" "$section" "$command --help"
  done
  contains "$out" "vantalink-cli $command" "$command --help"
done
expect 0 --help
contains "$out" "COMMANDS" "--help"
expect 2 bogus-command
expect 2 info --speed 300
echo "cli_info: ok"
