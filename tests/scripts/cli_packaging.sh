#!/usr/bin/env bash
# Install layout and the Debian package: `cmake --install` gives bin/ with the programs, the
# desktop entry, the icons, the manual pages, bash completion and the system's image directory;
# the installed command line finds image files beside itself; CPack builds a .deb that depends on
# the Qt 6 runtime and holds the same. Arguments: build directory, source directory.
source "$(dirname "$0")/cli_common.bash" "$@"

prefix=$work/install
cmake --install "$build" --prefix "$prefix" >/dev/null
for program in vantalink-cli vanta7-sim; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program not installed"
done
gui=no
if [ -x "$build/app/vantalink" ]; then
  gui=yes
  [ -x "$prefix/bin/vantalink" ] || fail "bin/vantalink not installed"
fi
desktop=$prefix/share/applications/vantalink.desktop
[ -f "$desktop" ] || fail "desktop entry not installed"
grep -qx "Exec=vantalink" "$desktop" && grep -qx "Icon=vantalink" "$desktop" &&
  grep -qx "Type=Application" "$desktop" || fail "desktop entry: $(cat "$desktop")"
if [ -f "$source_dir/app/icons/vantalink-128.png" ]; then
  [ -f "$prefix/share/icons/hicolor/128x128/apps/vantalink.png" ] || fail "icon not installed"
fi

# The installed programs work from there; image files are looked up beside the program.
"$imagegen" --firmware 12 --size 1024 --out "$prefix/bin" >/dev/null
sim=$prefix/bin/vanta7-sim
start_sim probe --serial 55555555 --firmware-version 4
cli=$prefix/bin/vantalink-cli
expect 0 info --port "$probe" --json --stay-in-loader
[ "$(json 'j["serial"], j["newestFirmware"], j["updateAvailable"]')" = "55555555 0.12 True" ] ||
  fail "installed info: $out"
[ -d "$prefix/share/vantalink/images" ] || fail "share/vantalink/images not installed"

# The manual pages render without warnings; the command line's has a subsection for every
# command its --help lists, the window's names its files.
man1=$prefix/share/man/man1
pages=(vantalink-cli vanta7-sim)
[ "$gui" = yes ] && pages+=(vantalink)
for page in "${pages[@]}"; do
  [ -f "$man1/$page.1.gz" ] || fail "share/man/man1/$page.1.gz not installed"
  warnings=$(zcat "$man1/$page.1.gz" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "$page(1) has warnings: $warnings"
done
manual=$(LC_ALL=C MANWIDTH=100 man -l "$man1/vantalink-cli.1.gz")
expect 0 --help
commands=$(sed -n '/^COMMANDS$/,/^$/p' <<<"$out" | awk 'NR > 1 && NF { print $1 }')
[ "$(wc -l <<<"$commands")" -ge 10 ] || fail "--help lists too few commands: $commands"
for command in $commands; do
  grep -qE "^ +$command - " <<<"$manual" || fail "vantalink-cli(1) has no subsection $command"
done
for text in --firmware-only --stay-in-loader "EXIT STATUS" vantaLink.conf; do
  contains "$manual" "$text" "vantalink-cli(1)"
done
# The virtual probe's page lists its options and its faults, as its --help does.
manual=$(LC_ALL=C MANWIDTH=100 man -l "$man1/vanta7-sim.1.gz")
for option in $("$sim" --help | grep -Eo -- '--[a-z-]+' | sort -u); do
  [ "$option" = --help ] || contains "$manual" "$option" "vanta7-sim(1)"
done
contains "$manual" "Faults" "vanta7-sim(1)"
if [ "$gui" = yes ]; then
  manual=$(LC_ALL=C MANWIDTH=100 man -l "$man1/vantalink.1.gz")
  for text in COM19 Norvane/ports/COMn vantaLink.conf /usr/share/vantalink/images; do
    contains "$manual" "$text" "vantalink(1)"
  done
fi

# Bash completion, from the installed script and program: commands, a command's options, the
# mapped COM names.
completion=$prefix/share/bash-completion/completions/vantalink-cli
[ -f "$completion" ] || fail "bash completion not installed"
complete_word() {  # WORDS...: what completing the last word offers, one a line
  bash --norc --noprofile -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _vantalink_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$cli" "$@"
}
mkdir -p "$XDG_CONFIG_HOME/Norvane/ports"
ln -s /dev/null "$XDG_CONFIG_HOME/Norvane/ports/COM7"
[ "$(complete_word read-m)" = read-memory ] || fail "completing read-m: $(complete_word read-m)"
offered=$(complete_word update --f)
[ "$offered" = $'--firmware-only\n--fast' ] || fail "completing update --f: $offered"
[ "$(complete_word info --port CO)" = COM7 ] || fail "completing --port CO: $(complete_word info --port CO)"
[ "$(complete_word info --speed 11)" = 115200 ] || fail "completing --speed 11"
[ "$(complete_word setup "")" = show ] || fail "completing setup's action"
# --watch and its options only with the commands a watch serves.
[ -z "$(complete_word restore --w)" ] || fail "restore offers $(complete_word restore --w)"
[ "$(complete_word update --watch-)" = --watch-dir ] || fail "completing update --watch-"

# The .deb.
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
  deb=$(ls "$work"/package/vantalink_*.deb)
  [ -n "$deb" ] || fail "no .deb built"
  contents=$(dpkg-deb -c "$deb")
  for path in ./usr/bin/vantalink-cli ./usr/bin/vanta7-sim \
    ./usr/share/applications/vantalink.desktop ./usr/share/man/man1/vantalink-cli.1.gz \
    ./usr/share/bash-completion/completions/vantalink-cli ./usr/share/vantalink/images/ \
    ./usr/share/man/man1/vanta7-sim.1.gz ./usr/share/doc/vantalink/copyright \
    ./usr/share/doc/vantalink/changelog.gz; do
    contains "$contents" "$path" ".deb contents"
  done
  # The changelog's newest entry is the package's version.
  version=$(dpkg-deb -f "$deb" Version)
  first=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vantalink/changelog.gz | zcat |
    head -1)
  [ "$first" = "vantalink ($version) unstable; urgency=medium" ] ||
    fail "changelog.gz starts with '$first', not version $version"
  # Debian's own checks of the package: no errors and no warnings.
  if command -v lintian >/dev/null; then
    report=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $report"
  else
    echo "lintian is not installed: the package's Debian checks skipped"
  fi
  depends=$(dpkg-deb -f "$deb" Depends)
  if [ "$gui" = yes ]; then
    contains "$contents" "./usr/bin/vantalink" ".deb contents"
    contains "$contents" "./usr/share/man/man1/vantalink.1.gz" ".deb contents"
    for package in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins; do
      contains "$depends" "$package" ".deb dependencies"
    done
  fi
  [ "$(dpkg-deb -f "$deb" Package)" = vantalink ] || fail "package name"
fi
echo "cli_packaging: ok"
