# Sourced by the cli_*.sh checks (arguments: build directory, source directory): a private
# settings home, virtual probes started on demand and stopped on exit, and a runner that keeps
# the command line's exit status and output.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
cli=$build/cli/vantalink-cli
sim=$build/sim/vanta7-sim
imagegen=$build/tests/vanta7-imagegen
for program in "$cli" "$sim" "$imagegen"; do
  [ -x "$program" ] || { echo "missing $program: build it first" >&2; exit 1; }
done

work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
mkdir -p "$XDG_CONFIG_HOME"
sim_pids=()

cleanup() {
  local pid
  for pid in "${sim_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# start_sim NAME [vanta7-sim options]: starts a virtual probe and puts its device path into
# the variable NAME.
start_sim() {
  local name=$1
  shift
  "$sim" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  sim_pids+=($!)
  local i
  for i in $(seq 200); do
    [ -s "$work/$name.out" ] && break
    sleep 0.05
  done
  local device
  device=$(head -n 1 "$work/$name.out")
  [ -n "$device" ] || fail "vanta7-sim $* printed no device: $(cat "$work/$name.err")"
  printf -v "$name" '%s' "$device"
}

# run ARGS...: runs vantalink-cli without a terminal on standard input; sets status, out, err.
run() {
  set +e
  "$cli" "$@" >"$work/stdout" 2>"$work/stderr" </dev/null
  status=$?
  set -e
  out=$(cat "$work/stdout")
  err=$(cat "$work/stderr")
}

# expect STATUS ARGS...: run, then insist on the exit status.
expect() {
  local want=$1
  shift
  run "$@"
  if [ "$status" != "$want" ]; then
    printf 'stdout:\n%s\nstderr:\n%s\n' "$out" "$err" >&2
    fail "vantalink-cli $* exited $status, expected $want"
  fi
}

# contains TEXT PATTERN WHAT: a fixed-string search with a helpful failure.
contains() {
  grep -qF -- "$2" <<<"$1" || { printf '%s\n' "$1" >&2; fail "$3: '$2' missing"; }
}

# json EXPRESSION: evaluates a Python expression over the JSON on stdout (as j).
json() {
  python3 -c "import json,sys; j=json.load(open(sys.argv[1])); print($1)" "$work/stdout"
}
