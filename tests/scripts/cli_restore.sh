#!/usr/bin/env bash
# vantalink-cli backup and restore against vanta7-sim: a backup restored only onto the probe it
# names (another probe's refused before anything is erased, taken with --other-probe, its setup
# block kept with --keep-setup), a file cut short refused, a restore over a line whose replies
# flip single bits, and a restore whose erase fails naming the sectors it left erased. Arguments: build directory, source directory.
source "$(dirname "$0")/cli_common.bash" "$@"

start_sim first --serial 11111111
start_sim second --serial 22222222
start_sim broken --serial 11111111 --fail-erase 0x01040000
start_sim noisy --serial 11111111 --bit-flip-rate 0.006
fast=(--speed 115200 --stay-in-loader)

# setup_block DEVICE: the 104 bytes at 0x01008000 as hex.
setup_block() {
  expect 0 read-memory 0x01008000 104 --port "$1" "${fast[@]}" --json
  json 'j["data"]'
}
# firmware_head DEVICE: the first 64 bytes of the firmware sector as hex.
firmware_head() {
  expect 0 read-memory 0x01040000 64 --port "$1" "${fast[@]}" --json
  json 'j["data"]'
}

# Each probe gets a setup of its own; the first one a firmware head as well.
expect 0 transmit --port "$first" --ip 10.0.0.1 --host 10.0.0.9 "${fast[@]}"
expect 0 transmit --port "$second" --ip 10.0.0.2 --host 10.0.0.9 "${fast[@]}"
expect 0 transmit --port "$broken" --ip 10.0.0.3 --host 10.0.0.9 "${fast[@]}"
expect 0 backup "$work/first.s19" --port "$first" "${fast[@]}"
first_setup=$(setup_block "$first")
second_setup=$(setup_block "$second")
second_firmware=$(firmware_head "$second")
[ "$first_setup" != "$second_setup" ] || fail "the two probes hold the same setup block"

# Another probe's backup: refused, named, nothing erased.
expect 2 restore "$work/first.s19" --port "$second" "${fast[@]}"
contains "$err" "is a backup of probe 11111111, this probe is 22222222; nothing erased" "refusal"
contains "$err" "--other-probe" "the option that takes it"
expect 2 restore "$work/first.s19" --port "$second" "${fast[@]}" --json
[ "$(json 'j["error"]["stage"]')" = "other probe" ] || fail "refusal stage: $out"
[ "$(setup_block "$second")" = "$second_setup" ] || fail "a refused restore changed the setup block"

# Taken on request, keeping the probe's own setup block: the sector is not even erased.
expect 0 restore "$work/first.s19" --port "$second" "${fast[@]}" --other-probe --keep-setup --json
[ "$(json '",".join(j["sectors"])')" = "0x0100C000,0x01010000,0x01040000,0x01080000,0x010C0000" ] ||
  fail "sectors of a restore that keeps the setup: $out"
[ "$(setup_block "$second")" = "$second_setup" ] || fail "--keep-setup lost the probe's setup block"

# Taken as it is: the first probe's setup block now.
expect 0 restore "$work/first.s19" --port "$second" "${fast[@]}" --other-probe
[ "$(setup_block "$second")" = "$first_setup" ] || fail "--other-probe did not write the setup block"

# A file cut short at a record boundary: refused, the line named.
head -n 100 "$work/first.s19" >"$work/short.s19"
expect 5 restore "$work/short.s19" --port "$first" "${fast[@]}"
contains "$err" "short.s19 line 100: the file ends without an S7 end record" "cut short"

# Two whole sectors over a line that flips one bit in about one reply byte in 170: replies that
# pass their check with a wrong byte are read again before they count, and the flash is the file's.
expect 0 backup "$work/part.s19" --port "$first" --range 0x01008000:0x8000 "${fast[@]}"
expect 0 restore "$work/part.s19" --port "$noisy" "${fast[@]}"
[ "$(setup_block "$noisy")" = "$first_setup" ] || fail "restore over a noisy line: $out"

# The erase of the firmware sector fails: the sectors before it are named as left erased.
expect 4 restore "$work/first.s19" --port "$broken" "${fast[@]}"
contains "$err" "erasing sector 0x01040000 failed; erased and not written back: 0x01008000, 0x0100C000, 0x01010000" "erased sectors"
contains "$err" "restore $work/first.s19 again" "what to do"
expect 0 read-memory 0x01008000 104 --port "$broken" "${fast[@]}" --json
[ "$(json 'j["data"]')" = "$(printf 'ff%.0s' $(seq 104))" ] || fail "the erased setup sector: $out"
