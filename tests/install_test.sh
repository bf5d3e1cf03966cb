#!/bin/sh
# make install and make uninstall as a packager and a user run them, on a build: an
# uninstall takes away what its install put in its DESTDIR and PREFIX and the folders it
# made, nothing outside them, and no other install's files.
#   install_test.sh CMAKE BUILD INSTALL_SCRIPT WORK_FOLDER
set -eu
cmake=$1 build=$2 script=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
fail() { echo "install test: $*" >&2; exit 1; }
tree() { cd "$1" && find . | LC_ALL=C sort; }
place() { "$cmake" -DACTION="$1" -DBUILD="$build" -DPREFIX="$2" -DDESTDIR="${3:-}" -P "$script" > "$work/log" 2>&1 ||
  { cat "$work/log"; return 1; }; }

# The live system beside the staging folders: a prefix with a file where a staged install
# puts its own, and another plug-in in a folder the install shares.
live="$work/live"
mkdir -p "$live/share/doc/bytone" "$live/lib/vst"
echo live > "$live/share/doc/bytone/README.md"
echo other > "$live/lib/vst/other.so"
before=$(tree "$live")

place install "$live" "$work/stage"
place install "$live" "$work/second"
[ -f "$work/stage$live/lib/lv2/bytone.lv2/manifest.ttl" ] || fail "nothing was staged"
place uninstall "$live" "$work/stage"
[ ! -e "$work/stage" ] || fail "the staged install left: $(tree "$work/stage" | head -5)"
[ -f "$work/second$live/bin/bytone" ] || fail "uninstalling one DESTDIR took another's files"
[ "$(tree "$live")" = "$before" ] || fail "uninstalling a DESTDIR changed the live system"
place uninstall "$live" "$work/second"
[ ! -e "$work/second" ] || fail "the second staged install left files"

# Into the live prefix itself: its own folders and files stay, the bundles' folders go.
rm "$live/share/doc/bytone/README.md"
before=$(tree "$live")
place install "$live"
[ -f "$live/lib/vst3/Bytone.vst3/Contents/x86_64-linux/Bytone.so" ] || fail "nothing was installed"
place uninstall "$live"
[ "$(tree "$live")" = "$before" ] || fail "uninstall left or took: $(tree "$live")"
! place uninstall "$live" 2>/dev/null || fail "a second uninstall found something to take away"
grep -q "Nothing of this build is installed" "$work/log" || fail "a second uninstall did not say why"
echo "install test: installs and uninstalls, each in its own place"
