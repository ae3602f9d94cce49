#!/usr/bin/env bash
# vantalink-cli transmit against vanta7-sim: the setup block from options and from the window's
# settings file, the window's validation, the stand-alone configuration with a register file,
# and a missing configuration file refused before anything is erased. Arguments: build, source.
source "$(dirname "$0")/cli_common.bash" "$@"

start_sim probe --com 1 --serial 12345678

# From options: the block's bytes, and a summary of what went where.
expect 0 transmit --port COM1 --ip 192.168.1.10 --mask 255.255.255.0 --gateway 192.168.1.1 \
  --host 192.168.1.2 --config probe.cfg --stay-in-loader
contains "$out" "COM1 (12345678): setup block of 104 bytes written at 0x01008000 and verified: IP 192.168.1.10, mask 255.255.255.0, gateway 192.168.1.1, host 192.168.1.2, file \"probe.cfg\"; configuration sector 0x010C0000 erased" "summary"
contains "$err" "COM1: Writing setup data passed" "status"
expect 0 read-memory 0x01008000 34 --port COM1 --stay-in-loader --json
[ "$(json 'j["data"]')" = "0a4f19123456ffffc0a8010affffff00c0a80101c0a80102$(printf probe.cfg | od -An -tx1 | tr -d ' \n')00" ] ||
  fail "setup block bytes: $out"

# Defaults from the window's settings file: port COM1, 115200 and the five texts.
mkdir -p "$XDG_CONFIG_HOME/Norvane"
cat >"$XDG_CONFIG_HOME/Norvane/vantaLink.conf" <<'INI'
[Vanta7%20PPC4xx]
Baudrate=4
ComPort=0
VantaIP=10.1.2.3
Subnet=255.0.0.0
Gateway=10.0.0.1
HostIP=10.0.0.2
ConfigFile="saved, with comma.cfg"
INI
expect 0 transmit --stay-in-loader --trace
contains "$out" "IP 10.1.2.3, mask 255.0.0.0, gateway 10.0.0.1, host 10.0.0.2, file \"saved, with comma.cfg\"" "settings defaults"
contains "$err" "LINK_SET_SPEED 115200" "the saved speed"
# An option still wins over the saved value.
expect 0 transmit --ip 10.9.9.9 --stay-in-loader
contains "$out" "IP 10.9.9.9, mask 255.0.0.0" "option over settings"

# The window's validation: nothing is written.
expect 2 transmit --ip 256.1.1.1 --stay-in-loader
contains "$err" "Invalid IP address!" "invalid probe address"
expect 2 transmit --ip 10.1.2.3 --mask 255.255.255.0000 --stay-in-loader
contains "$err" "Please enter no more than 15 characters." "16 characters"
expect 0 read-memory 0x01008008 4 --port COM1 --stay-in-loader
contains "$out" "01008008  0A 09 09 09" "refused transmits leave the block"

# Stand-alone: the configuration file and its register file ("$" = beside the configuration).
printf '[NET]\r\nX=1\r\n[REGS]\r\nFILE $regs.def\r\n' >"$work/probe.cfg"
printf 'REG A 0x10\n' >"$work/regs.def"
cfg_size=$(stat -c %s "$work/probe.cfg")
reg_size=$(($(stat -c %s "$work/regs.def") + 1))
expect 0 transmit --port COM1 --host 255.255.255.255 --config "$work/probe.cfg" --stay-in-loader
contains "$out" "stand-alone configuration: $cfg_size bytes of the file at 0x010C0000, register image of $reg_size bytes at 0x010D0000" "stand-alone summary"
expect 0 read-memory 0x010C0000 "$cfg_size" --port COM1 --stay-in-loader --json
[ "$(json 'j["data"]')" = "$(od -An -tx1 "$work/probe.cfg" | tr -d ' \n')" ] ||
  fail "configuration file in flash: $out"
expect 0 read-memory 0x010D0000 "$reg_size" --port COM1 --stay-in-loader --json
[ "$(json 'j["data"]')" = "80$(od -An -tx1 "$work/regs.def" | tr -d ' \n')" ] ||
  fail "register image in flash: $out"

# A missing configuration file: exit 7, and the block written before stays as it was.
expect 7 transmit --port COM1 --ip 10.7.7.7 --host 255.255.255.255 --config "$work/none.cfg" \
  --stay-in-loader --json
[ "$(json 'j[0]["exitStatus"], j[0]["result"]')" = "7 failed" ] || fail "$out"
contains "$err" "Transfer failed!" "missing configuration file"
expect 0 read-memory 0x01008008 4 --port COM1 --stay-in-loader
contains "$out" "01008008  0A 01 02 03" "nothing erased for a missing file"

# A register file that is missing, and one that fills the register image: each named, and told
# apart, on the line and in the outcome.
printf '[REGS]\nFILE $regs.def\nFILE $sub/gone.def\n' >"$work/gone.cfg"
expect 7 transmit --port COM1 --host 255.255.255.255 --config "$work/gone.cfg" --stay-in-loader --json
contains "$err" "the register file '$work/sub/gone.def' named in '$work/gone.cfg' is missing or cannot be opened" "missing register file"
[ "$(json 'j[0]["error"]["stage"]')" = "register file" ] || fail "register file stage: $out"
head -c 65535 /dev/zero >"$work/big.def"
printf '[REGS]\nFILE $big.def\n' >"$work/big.cfg"
expect 7 transmit --port COM1 --host 255.255.255.255 --config "$work/big.cfg" --stay-in-loader
contains "$err" "the register image reaches 64 KiB with the register file '$work/big.def'" "full image"

# setup show --extract into a directory that does not exist yet: the names the configuration
# uses, sub-folders kept, so the extracted configuration transmits again as it is.
mkdir -p "$work/x" "$work/y"
printf 'REG X\n' >"$work/x/r.def"
printf 'REG Y 1\n' >"$work/y/r.def"
printf '[REGS]\nFILE $x/r.def\nFILE $y/r.def\n' >"$work/two.cfg"
expect 0 transmit --port COM1 --host 255.255.255.255 --config "$work/two.cfg" --stay-in-loader
expect 0 read-memory 0x010D0000 20 --port COM1 --stay-in-loader --json
image=$(json 'j["data"]')
expect 0 setup show --port COM1 --extract "$work/out/new" --stay-in-loader
for name in two.cfg x/r.def y/r.def; do
  cmp -s "$work/$name" "$work/out/new/$name" || fail "extracted $name: $(ls -R "$work/out")"
done
expect 0 transmit --port COM1 --host 255.255.255.255 --config "$work/out/new/two.cfg" --stay-in-loader
expect 0 read-memory 0x010D0000 20 --port COM1 --stay-in-loader --json
[ "$(json 'j["data"]')" = "$image" ] || fail "the extracted configuration transmitted again: $out"
# A name that leads above the directory is refused and written nowhere; the others are written.
mkdir -p "$work/cfg"
printf 'REG U\n' >"$work/up.def"
printf '[REGS]\nFILE $../up.def\nFILE $../x/r.def\n' >"$work/cfg/up.cfg"
expect 0 transmit --port COM1 --host 255.255.255.255 --config "$work/cfg/up.cfg" --stay-in-loader
expect 1 setup show --port COM1 --extract "$work/cfg/deep" --stay-in-loader
contains "$err" "'\$../up.def' would be written outside $work/cfg/deep" "escaping name"
contains "$out" "Not extracted: \"\$../up.def\" would leave $work/cfg/deep" "refused name listed"
[ ! -e "$work/cfg/up.def" ] && [ -f "$work/cfg/deep/up.cfg" ] || fail "escape: $(ls -R "$work/cfg")"
echo "cli_transmit: ok"
