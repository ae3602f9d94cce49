# The checks of scripts/vm-test (sourced by it): vantalink-cli in the guest against vanta7-sim on
# the host, over the kernel's 16550 driver and over its FTDI USB serial driver. One line per
# check; the exit status counts the failures.

passed=0
failed=0
firmware_image=$cache/images/VT7PP4FW.009

# report DRIVER NAME STARTED_AT FAILURE: one output line; an empty FAILURE is a pass.
report() {
  if [ -z "$4" ]; then
    passed=$((passed + 1))
    printf 'ok    %-6s %s (%d s)\n' "$1" "$2" $((SECONDS - $3))
  else
    failed=$((failed + 1))
    printf 'FAIL  %-6s %s: %s\n' "$1" "$2" "$4"
  fi
}

# flash_differs FLASH_FILE: empty when the saved flash (1 MiB from 0x01000000) holds the
# firmware image at 0x01040000 with the validity marker AA 55 55 AA programmed over its first
# four bytes, else what differs.
flash_differs() {
  [ -s "$1" ] || { echo "the probe saved no flash"; return; }
  srec_cat "$firmware_image" -offset -0x01040000 -o "$work/image.bin" -binary 2>&1 ||
    { echo "srec_cat cannot read $firmware_image"; return; }
  local first marker=(170 85 85 170) i octal=
  read -r -a first < <(od -An -tu1 -N4 "$work/image.bin")
  # Programming flash only clears bits: the marker is ANDed into what the image put there.
  for i in 0 1 2 3; do octal+=$(printf '\\%03o' $((first[i] & marker[i]))); done
  printf "$octal" | dd of="$work/image.bin" conv=notrunc status=none
  cmp -n "$(stat -c %s "$work/image.bin")" -i 0:0x40000 "$work/image.bin" "$1" 2>&1 || true
}

# attach_sim NAME: the running guest's probe is swapped for the one started as NAME. The UART
# takes the new pty as it is; the USB adapter is pulled out, and a new one on a new character
# device plugged in (QEMU keeps a removed character device's id taken).
attach_sim() {
  local pty=${!1}
  if [ "$driver" = 16550 ]; then
    monitor "chardev-change p1 serial,path=$pty" || die "chardev-change: $monitor_out"
    return
  fi
  monitor "device_del $ftdi_id" || die "device_del: $monitor_out"
  guest 'while [ -e $PORT ]; do sleep 0.1; done' 20
  # The chardev is free only once QEMU has finished with the adapter.
  local i
  for i in $(seq 20); do
    monitor "chardev-remove $chardev_id" && break
    sleep 0.2
  done
  [ -z "$monitor_out" ] || die "chardev-remove: $monitor_out"
  chardev_id=p$((${chardev_id#p} + 1))
  monitor "chardev-add serial,id=$chardev_id,path=$pty" || die "chardev-add: $monitor_out"
  plug
}

# plug: a new FTDI adapter on the current character device; waits for the guest's device.
plug() {
  ftdi_id=ftdi$((plugged += 1))
  monitor "device_add usb-serial,chardev=$chardev_id,id=$ftdi_id" || die "device_add: $monitor_out"
  guest 'for i in $(seq 100); do [ -e $PORT ] && exit 0; sleep 0.1; done; exit 1' 30
  [ "$status" = 0 ] || die "no $guest_port after plugging the adapter in"
}

# update_check DRIVER NAME SPEED PROBE [FIRMWARE]: a full update (firmware and logic) with
# --fast --verify of a probe that shows FIRMWARE (0.03) before, then the probe's flash compared
# with the image.
update_check() {
  local start=$SECONDS why= before=${5:-0.03}
  guest "vantalink-cli update --fast --verify --port \$PORT --speed $3 --image-dir /images" 240
  if [ "$status" != 0 ]; then
    why="exit status $status: $(tail -n 5 <<<"$out")"
  elif ! grep -qE " ${before//./\\.} -> 0\.09 +0\.02 -> 0\.07 .* ok$" <<<"$out"; then
    why="firmware and logic not both updated: $(tail -n 3 <<<"$out")"
  else
    stop_sim "$4"
    why=$(flash_differs "$work/$4.flash")
  fi
  report "$1" "$2" "$start" "$why"
}

probe_options=(--firmware-version 3 --logic-version 2 --serial 12345678)

for driver in ${VM_TEST_DRIVERS:-16550 ftdi}; do
  boot_start=$SECONDS
  start_sim paced --pace "${probe_options[@]}" --flash "$work/paced.flash"
  boot "$driver" "$paced"
  chardev_id=p1 ftdi_id=ftdi plugged=1
  guest 'for i in $(seq 100); do [ -c $PORT ] && exit; sleep 0.1; done; echo "no $PORT"' 30
  report "$driver" "boot to a shell, $guest_port present" "$boot_start" "$out"

  start=$SECONDS
  guest 'vantalink-cli info --port $PORT --speed 115200 --image-dir /images --json' 60
  why=
  [ "$status" = 0 ] || why="exit status $status: $(tail -n 5 <<<"$out")"
  [ -n "$why" ] || grep -q '"serial": "12345678"' <<<"$out" || why="no serial number: $out"
  [ -n "$why" ] || grep -q '"firmware": "0.03"' <<<"$out" || why="no firmware version: $out"
  [ -n "$why" ] || grep -q "\"device\": \"$guest_port\"" <<<"$out" || why="no device: $out"
  report "$driver" "info --json" "$start" "$why"

  update_check "$driver" "update --fast --verify at 115200, paced; flash equals the image" \
    115200 paced

  start_sim unpaced "${probe_options[@]}" --flash "$work/unpaced.flash"
  attach_sim unpaced
  update_check "$driver" "update --fast --verify at 9600, unpaced; flash equals the image" \
    9600 unpaced

  if [ "$driver" = 16550 ]; then
    start_sim line "${probe_options[@]}"
    attach_sim line

    # The line is left as it was found: every setting, the speed included.
    start=$SECONDS
    guest 'stty -F $PORT 4800 && stty -F $PORT -g' 30
    before=$out
    guest 'vantalink-cli info --port $PORT --speed 115200' 60
    why=
    [ "$status" = 0 ] || why="info exited $status: $(tail -n 3 <<<"$out")"
    guest 'stty -F $PORT -g; stty -F $PORT speed' 30
    [ -n "$why" ] || [ "$(head -n 1 <<<"$out")" = "$before" ] ||
      why="line settings changed: speed $(tail -n 1 <<<"$out") after the run, 4800 before"
    report "$driver" "line settings after a 115200 run as before it" "$start" "$why"

    # Another program holds the device: refused, and the holder named.
    start=$SECONDS
    guest 'sleep 1000 <$PORT >/dev/null 2>&1 & echo $!' 30
    holder=$out
    guest 'vantalink-cli info --port $PORT --speed 115200' 60
    why=
    if [ "$status" != 3 ]; then
      why="exit status $status, expected 3: $(tail -n 3 <<<"$out")"
    elif ! grep -qF "sleep (pid $holder)" <<<"$out"; then
      why="the holder sleep (pid $holder) is not named: $(tail -n 3 <<<"$out")"
    fi
    guest "kill $holder; vantalink-cli info --port \$PORT --speed 115200" 60
    [ -n "$why" ] || [ "$status" = 0 ] ||
      why="after the holder ended: exit status $status: $(tail -n 3 <<<"$out")"
    report "$driver" "a device held by sleep: refused naming it, free after it ends" "$start" "$why"

    # DTR and RTS off after the open, as the driver reports them (TIOCMGET).
    start=$SECONDS
    guest 'vantalink-cli link-check --port $PORT --speed 115200' 60
    why=
    if [ "$status" != 0 ]; then
      why="exit status $status: $(tail -n 3 <<<"$out")"
    elif ! grep -qF "$guest_port: modem lines: DTR off, RTS off" <<<"$out"; then
      why="modem lines not both off: $(tail -n 2 <<<"$out")"
    fi
    report "$driver" "link-check: DTR and RTS off after the open" "$start" "$why"
  fi

  if [ "$driver" = ftdi ]; then
    # The adapter pulled out in the middle of the firmware: the command fails at once with the
    # communication status, and a new adapter updates the same probe (its firmware unmarked,
    # so "unknown", until then).
    start_sim pulled --pace "${probe_options[@]}" --flash "$work/pulled.flash"
    attach_sim pulled
    start=$SECONDS
    # Progress and message on standard error first, then the JSON behind a marker line.
    # (The agent takes one line a command.)
    update='vantalink-cli update --json --fast --verify --port $PORT --speed 115200'
    guest_send "$update --image-dir /images >/tmp/json; s=\$?; echo @@JSON; cat /tmp/json; exit \$s"
    why=
    if ! wait_console 'Programming Flash' "$guest_from" 120; then
      guest_wait 1
      why="the update did not reach the firmware: $(tail -n 5 <<<"$out")"
    else
      monitor "device_del $ftdi_id" || die "device_del: $monitor_out"
      pulled_at=$(date +%s%3N)
      guest_wait 30
      took=$(($(date +%s%3N) - pulled_at))
      if [ "$status" = 124 ]; then
        why="still running 30 s after the adapter was pulled out"
      elif [ "$status" != 4 ]; then
        why="exit status $status, expected 4: $(tail -n 5 <<<"$out")"
      elif [ "$took" -gt "${VM_TEST_UNPLUG_MS:-2000}" ]; then
        why="took $took ms after the adapter was pulled out"
      else
        gone="the serial device $guest_port disappeared (unplugged?)"
        sed '/^@@JSON$/,$d' <<<"$out" | grep -qF "$gone" ||
          why="the message does not say '$gone': $(sed '/^@@JSON$/,$d' <<<"$out" | tail -n 2)"
        [ -n "$why" ] || sed '1,/^@@JSON$/d' <<<"$out" | grep -qF "$gone" ||
          why="the JSON does not say '$gone': $(sed '1,/^@@JSON$/d' <<<"$out" | grep -A5 '"error"')"
      fi
    fi
    report "$driver" "adapter pulled out mid-update: exit 4 at once (${took:-?} ms)" "$start" "$why"
    plug
    update_check "$driver" "the same probe on a new adapter: update; flash equals the image" \
      115200 pulled unknown
  fi
  halt
done

echo "vm-test: $passed passed, $failed failed"
[ "$failed" = 0 ]
