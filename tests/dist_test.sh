#!/bin/sh
# Unpacks the release archives into a fresh folder and uses them from there: the Linux
# tool plays through the plug-in beside it and shows its manual page; the Windows
# plug-in loads under wine beside a host program; the web page's site is whole.
#   dist_test.sh VERSION DIST_FOLDER WINDOWS_HOST_TEST_PROGRAM
set -eu
version=$1 dist=$2 host=$3
where=$(mktemp -d)
trap 'rm -rf "$where"' EXIT
fail() { echo "dist test: $*" >&2; exit 1; }

tar -C "$where" -xzf "$dist/bytone-$version-linux-x86_64.tar.gz"
linux="$where/bytone-$version-linux-x86_64"
for file in bin/bytone lib/vst/bytone.so lib/clap/bytone.clap lib/vst3/Bytone.vst3/Contents/x86_64-linux/Bytone.so \
  lib/lv2/bytone.lv2/bytone.so lib/lv2/bytone.lv2/bytone_ui.so lib/lv2/bytone.lv2/manifest.ttl lib/lv2/bytone.lv2/presets.ttl share/man/man1/bytone.1 README.md LICENSE share/doc/bytone/formulas.md \
  share/doc/bytone/presets.md share/doc/bytone/presets/038.png share/doc/bytone/LICENSE share/doc/bytone/third-party.md \
  INSTALL.md share/doc/bytone/install.md share/doc/bytone/editor/screenshot.png share/doc/bytone/web/screenshot.png; do
  [ -f "$linux/$file" ] || fail "the Linux archive lacks $file"
done
for binary in bin/bytone lib/vst/bytone.so lib/clap/bytone.clap lib/lv2/bytone.lv2/bytone.so; do
  file -b "$linux/$binary" | grep -q ", stripped" || fail "the Linux archive's $binary is not stripped"
done
# Every link of the guide, at the top and installed, leads to a file of the archive.
for document in "$linux"/*.md "$linux"/share/doc/bytone/*.md; do
  for link in $(grep -o '](\([^)#:]*\)' "$document" | sed 's/^](//'); do
    [ -e "$(dirname "$document")/$link" ] || fail "$document links to $link, which the archive lacks"
  done
done
"$linux/bin/bytone" --version | grep -qx "bytone $version" || fail "bytone --version does not say $version"
"$linux/bin/bytone" info > "$where/info.txt"
grep -q "plug-in file    $linux/lib/vst/bytone.so" "$where/info.txt" || fail "the tool does not use the plug-in beside it"
grep -q "bytone          $version" "$where/info.txt" || fail "bytone info does not say $version"
"$linux/bin/bytone" render -o "$where/demo.wav" > /dev/null || fail "the unpacked tool cannot render the demo"
for subcommand in render programs info eval scope note; do
  grep -q "^\.SS $subcommand" "$linux/share/man/man1/bytone.1" || fail "the manual page lacks $subcommand"
done
for section in EXAMPLES "EXIT STATUS" FILES ENVIRONMENT "SEE ALSO"; do
  grep -q "^\.SH \"\?$section" "$linux/share/man/man1/bytone.1" || fail "the manual page lacks $section"
done

unzip -q "$dist/bytone-$version-windows-x64.zip" -d "$where/windows"
windows="$where/windows/bytone-$version-windows-x64"
for plugin in bytone.dll bytone.clap Bytone.vst3/Contents/x86_64-win/Bytone.vst3; do
  [ -f "$windows/$plugin" ] || fail "the Windows archive lacks $plugin"
  x86_64-w64-mingw32-objdump -p "$windows/$plugin" | grep -q "debugging information removed" ||
    fail "the Windows archive's $plugin is not stripped"
done
for file in README.md LICENSE docs/formulas.md docs/presets.md docs/presets/001.png docs/third-party.md docs/install.md \
  editor/screenshot.png web/screenshot-phone.png; do
  [ -f "$windows/$file" ] || fail "the Windows archive lacks $file"
done
[ -f "$dist/bytone-$version-windows-x64-setup.exe" ] || fail "no Windows installer"
cp "$host" "$windows/"
(cd "$windows" && wine "./$(basename "$host")" --gtest_filter='PluginHostTest.TheEffectRecordDescribesTheInstrument:PluginHostTest.NotesSoundThroughTheRecord' > "$where/wine.txt" 2>&1) ||
  { cat "$where/wine.txt"; fail "the unpacked bytone.dll does not load under wine"; }
grep -q "2 tests" "$where/wine.txt" || fail "no test ran on the unpacked bytone.dll"
tar -C "$where" -xzf "$dist/bytone-$version-web.tar.gz"
site="$where/bytone-$version-web"
for file in index.html page.css page.js page_dom.js instances.js editor_window.js programs.js notes.js recording.js transport.js \
  worklet.js instrument.js editor_host.js share_link.js wavefile.js bytone.wasm LICENSE.txt third-party.md wavefile-LICENSE.txt \
  presets/001.png presets/038.png; do
  [ -f "$site/$file" ] || fail "the web archive lacks $file"
done
[ "$(head -c 4 "$site/bytone.wasm" | od -An -c | tr -d ' ')" = '\0asm' ] || fail "the web archive's bytone.wasm is no WebAssembly module"

echo "The release archives unpack, load and play."
