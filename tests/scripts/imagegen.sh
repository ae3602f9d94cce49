#!/usr/bin/env bash
# vanta7-imagegen writes images under the names the tool looks for, and its firmware files are
# S-records that Debian's srecord tools read without complaint, over the range asked for.
# Arguments: build directory, source directory.
set -euo pipefail
build=$1
gen=$build/tests/vanta7-imagegen
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

"$gen" --firmware 7 --size 4096 --out "$out" --record-len 32 >/dev/null
"$gen" --firmware 8 --size 1000 --out "$out" --type 2 --address 0x10000 --crlf >/dev/null
"$gen" --jedec 12 --out "$out" --base PP4JEDK1 --width 60 >/dev/null
[ -f "$out/VT7PP4FW.007" ] && [ -f "$out/VT7PP4FW.008" ] && [ -f "$out/PP4JEDK1.012" ]

if command -v srec_info >/dev/null; then
  info=$(srec_info "$out/VT7PP4FW.007" 2>&1)
  grep -q "Data:   01040000 - 01040FFF" <<<"$info" || { echo "$info"; exit 1; }
  ! grep -qi "warning" <<<"$info"
  info=$(srec_info "$out/VT7PP4FW.008" 2>&1)
  grep -q "Data:   010000 - 0103E7" <<<"$info" || { echo "$info"; exit 1; }
fi
grep -qx "\*L00000" "$out/PP4JEDK1.012"
# 134 rows of 240 fuses in lines of 60.
[ "$(grep -cE '^[01]{60}\*?$' "$out/PP4JEDK1.012")" -eq 536 ]

# --gap-fill: every other block of 4096 bytes is 0xFF, the first block holding the version.
"$gen" --firmware 9 --size 16384 --gap-fill 4096 --out "$out" >/dev/null
[ "$(grep -cE '^S325[0-9A-F]{8}(FF){32}[0-9A-F]{2}$' "$out/VT7PP4FW.009")" -eq 256 ]
grep -qE '^S32501041000(FF){32}' "$out/VT7PP4FW.009"
grep -qE '^S32501040000FFFFFFFF1609' "$out/VT7PP4FW.009"
! grep -qE '^S32501042000(FF){32}' "$out/VT7PP4FW.009"

# Refusals: S1 records cannot reach the firmware sector; no output directory.
! "$gen" --firmware 7 --size 16 --out "$out" --type 1 2>/dev/null
! "$gen" --firmware 7 --size 16 2>/dev/null
echo "imagegen: ok"
