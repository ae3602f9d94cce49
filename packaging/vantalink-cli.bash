# bash completion for vantalink-cli: commands, the options of each command, ports, speeds, files.
# The commands and options come from the program itself (vantalink-cli --complete), so they are
# always those of the installed version.

# The mapped COM names, then the serial devices of this machine.
_vantalink_cli_ports() {
  local config=$HOME/.config entry
  if [[ ${XDG_CONFIG_HOME:-} == /* ]]; then config=$XDG_CONFIG_HOME; fi
  for entry in "$config"/Norvane/ports/COM*; do
    if [[ -L $entry ]]; then printf '%s\n' "${entry##*/}"; fi
  done
  _vantalink_cli_devices
}

_vantalink_cli_devices() {
  local device
  for device in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*; do
    if [[ -e $device ]]; then printf '%s\n' "$device"; fi
  done
}

# _vantalink_cli_values KIND WORD: fills COMPREPLY with the values of KIND that start with WORD.
_vantalink_cli_values() {
  local kind=$1 word=$2 head=
  case $kind in
    port | device | ports)
      if [[ $kind == ports && $word == *,* ]]; then
        head=${word%,*},
        word=${word##*,}
      fi
      local source=_vantalink_cli_ports
      if [[ $kind == device ]]; then source=_vantalink_cli_devices; fi
      mapfile -t COMPREPLY < <(compgen -P "$head" -W "$($source)" -- "$word")
      if [[ $kind == ports ]]; then
        compopt -o nospace 2>/dev/null || true
      elif ((${#COMPREPLY[@]} == 0)); then
        # Any other device path: a pseudo-terminal, a link of one's own.
        compopt -o filenames 2>/dev/null || true
        mapfile -t COMPREPLY < <(compgen -f -- "$word")
      fi
      ;;
    com) mapfile -t COMPREPLY < <(compgen -W "$(printf 'COM%d ' {1..19})" -- "$word") ;;
    speed)
      mapfile -t COMPREPLY < <(compgen -W "9600 19200 38400 57600 115200 230400 460800 921600" \
        -- "$word")
      ;;
    file)
      compopt -o filenames 2>/dev/null || true
      mapfile -t COMPREPLY < <(compgen -f -- "$word")
      ;;
    dir)
      compopt -o filenames 2>/dev/null || true
      mapfile -t COMPREPLY < <(compgen -d -- "$word")
      ;;
    words:*)
      local words=${kind#words:}
      mapfile -t COMPREPLY < <(compgen -W "${words//,/ }" -- "$word")
      ;;
  esac
}

_vantalink_cli() {
  COMPREPLY=()
  local program=${COMP_WORDS[0]}
  # A path typed as ~/bin/vantalink-cli reaches us with its tilde.
  # shellcheck disable=SC2088
  if [[ $program == "~/"* ]]; then program=$HOME/${program#"~/"}; fi
  local table
  table=$("$program" --complete 2>/dev/null) || return 0

  # The table: commands, each scope's options with the kinds of their values, positionals.
  local -a commands=()
  local -A kinds=() names=() positionals=()
  local what scope name rest
  while read -r what scope name rest; do
    case $what in
      command) commands+=("$scope") ;;
      option)
        kinds["$scope $name"]=$rest
        # A command's -h,--help is the program's too: offer it once.
        if [[ " ${names[-]:-} " != *" $name "* ]]; then names[$scope]+=" $name"; fi
        ;;
      positional) positionals[$scope]+=" $rest" ;;
    esac
  done <<<"$table"

  # Walk the words before the cursor: the command, the positionals given, and the values an
  # option still waits for. bash splits --port=COM1 into "--port" "=" "COM1".
  local word=${COMP_WORDS[COMP_CWORD]} command='' given=0 i key
  local -a pending=()
  if [[ $word == = ]]; then word=; fi
  for ((i = 1; i < COMP_CWORD; i++)); do
    local current=${COMP_WORDS[i]}
    if [[ $current == = ]]; then continue; fi
    if ((${#pending[@]})); then
      pending=("${pending[@]:1}")
    elif [[ $current == -* ]]; then
      key="- $current"
      if [[ -n $command && -n ${kinds["$command $current"]+set} ]]; then key="$command $current"; fi
      read -ra pending <<<"${kinds[$key]:-}"
    elif [[ -z $command && " ${commands[*]} " == *" $current "* ]]; then
      command=$current
    else
      given=$((given + 1))
    fi
  done

  if ((${#pending[@]})); then
    _vantalink_cli_values "${pending[0]}" "$word"
  elif [[ $word == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "${names[-]} ${command:+${names[$command]}}" -- "$word")
  elif [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "${commands[*]}" -- "$word")
  else
    local -a expected
    read -ra expected <<<"${positionals[$command]:-}"
    if ((given < ${#expected[@]})); then _vantalink_cli_values "${expected[given]}" "$word"; fi
  fi
  return 0
}

complete -F _vantalink_cli vantalink-cli
