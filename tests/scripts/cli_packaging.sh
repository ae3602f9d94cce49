#!/usr/bin/env bash
# Install layout and the Debian package: `cmake --install` gives bin/ with the programs, the
# desktop entry and the icons; the installed command line finds image files beside itself; CPack
# builds a .deb that depends on the Qt 6 runtime. Arguments: build directory, source directory.
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

# The .deb.
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
  deb=$(ls "$work"/package/vantalink_*.deb)
  [ -n "$deb" ] || fail "no .deb built"
  contents=$(dpkg-deb -c "$deb")
  for path in ./usr/bin/vantalink-cli ./usr/bin/vanta7-sim \
    ./usr/share/applications/vantalink.desktop; do
    contains "$contents" "$path" ".deb contents"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  if [ "$gui" = yes ]; then
    contains "$contents" "./usr/bin/vantalink" ".deb contents"
    for package in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins; do
      contains "$depends" "$package" ".deb dependencies"
    done
  fi
  [ "$(dpkg-deb -f "$deb" Package)" = vantalink ] || fail "package name"
fi
echo "cli_packaging: ok"
