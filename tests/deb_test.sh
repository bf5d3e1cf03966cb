#!/bin/sh
# The Debian package as a user has it: installed with dpkg, the tool renders through the
# installed plug-in and an LV2 host lists it, every packaged binary is hardened, and a
# purge leaves nothing behind. Needs root (or sudo): it installs into the system.
#   deb_test.sh PACKAGE.deb
set -eu
deb=$1
as_root=; [ "$(id -u)" = 0 ] || as_root=sudo
where=$(mktemp -d)
trap 'rm -rf "$where"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

$as_root dpkg -i "$deb" > "$where/dpkg.txt" 2>&1 || { cat "$where/dpkg.txt"; fail "dpkg -i failed"; }
dpkg -L bytone | LC_ALL=C sort > "$where/files.txt"
for file in /usr/bin/bytone /usr/lib/vst/bytone.so /usr/lib/clap/bytone.clap \
  /usr/lib/vst3/Bytone.vst3/Contents/x86_64-linux/Bytone.so /usr/lib/lv2/bytone.lv2/manifest.ttl \
  /usr/share/man/man1/bytone.1.gz /usr/share/doc/bytone/copyright /usr/share/doc/bytone/README.md \
  /usr/share/doc/bytone/install.md /usr/share/doc/bytone/editor/screenshot.png; do
  [ -f "$file" ] || fail "the package lacks $file"
done
/usr/bin/bytone render -o "$where/demo.wav" > "$where/render.txt" 2>&1 || { cat "$where/render.txt"; fail "render failed"; }
grep -q "wrote $where/demo.wav" "$where/render.txt" || fail "the installed tool did not render"
/usr/bin/bytone info | grep -q "plug-in file    /usr/lib/vst/bytone.so" || fail "the tool does not use the packaged plug-in"
lv2ls | grep -qx "urn:kelmo:bytone" || fail "lv2ls does not list the packaged bundle"
# Every link of the installed guide leads to a file beside it.
for document in /usr/share/doc/bytone/*.md; do
  for link in $(grep -o '](\([^)#:]*\)' "$document" | sed 's/^](//'); do
    [ -e "/usr/share/doc/bytone/$link" ] || fail "$document links to $link, which is not installed"
  done
done
for file in $(cat "$where/files.txt"); do
  if [ -f "$file" ] && head -c 4 "$file" | grep -q 'ELF'; then
    hardening-check --nocfprotection "$file" > "$where/hardening.txt" 2>&1 || { cat "$where/hardening.txt"; fail "$file is not hardened"; }
  fi
done

$as_root dpkg --purge bytone > "$where/dpkg.txt" 2>&1 || { cat "$where/dpkg.txt"; fail "dpkg --purge failed"; }
for path in $(cat "$where/files.txt"); do
  case $path in /usr/bin/bytone | /usr/lib/*/bytone* | /usr/lib/*/Bytone* | /usr/share/doc/bytone* | /usr/share/man/man1/bytone*)
    [ ! -e "$path" ] || fail "the purge left $path" ;;
  esac
done
! dpkg -s bytone > /dev/null 2>&1 || fail "dpkg still knows the package"
echo "package test: installed, rendered, hardened and purged without a trace"
