#!/bin/sh
# The Windows installer under wine, as a user runs it silently: it installs the three
# plug-ins where it says, registers its uninstaller, the installed plug-ins load in the
# project's own host tests, and the uninstaller leaves nothing of it behind.
#   installer_test.sh SETUP.EXE WINDOWS_BUILD_FOLDER
set -eu
setup=$1 build=$2
where=$(mktemp -d)
trap 'rm -rf "$where"' EXIT
fail() { echo "installer test: $*" >&2; exit 1; }
drive=$(winepath -u 'C:\' 2>/dev/null)
common="$drive/Program Files/Common Files"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Bytone'
vst2="$drive/Audio/VST2"
[ ! -e "$drive/Audio" ] || fail "a folder of an earlier run is in the way: $drive/Audio"
before=$(cd "$drive" && find . -path ./windows -prune -o -path ./users -prune -o -print | LC_ALL=C sort)

# (No space in /D=: wine quotes such an argument, and the installer reads /D= unquoted.)
wine "$setup" /S '/D=C:\Audio\VST2' && wineserver -w
for file in "$common/VST3/Bytone.vst3/Contents/x86_64-win/Bytone.vst3" "$common/CLAP/bytone.clap" "$vst2/bytone.dll" \
  "$drive/Program Files/Bytone/uninstall.exe" "$drive/Program Files/Bytone/LICENSE" \
  "$drive/Program Files/Bytone/docs/install.md"; do
  [ -f "$file" ] || fail "the installer did not install $file"
done
wine reg query "$key" /v DisplayName 2>/dev/null | grep -q "Bytone" || fail "no uninstall entry in Add or Remove Programs"
wine reg query "$key" /v QuietUninstallString 2>/dev/null | grep -q 'uninstall.exe" /S' || fail "no quiet uninstall"

# The host tests from a folder of their own, each run where the installer put its plug-in.
cp "$build/clap_host_test.exe" "$build/vst3_host_test.exe" "$build/plugin_host_test.exe" "$where/"
run() {
  (cd "$1" && wine "$where/$2" --gtest_filter="$3") > "$where/log" 2>&1 || { cat "$where/log"; fail "$2 failed on $1"; }
  grep -q "PASSED" "$where/log" || { cat "$where/log"; fail "$2 ran no test on $1"; }
}
run "$common/CLAP" clap_host_test.exe 'ClapTest.TheFactoryMakesOneInstrumentWithItsPortsAndExtensions:ClapTest.FormulasFollowTheHostsTransportAndTheirNote'
run "$common/VST3" vst3_host_test.exe 'Vst3Test.TheFactoryDescribesOneInstrumentWithItsBusesParametersAndPrograms:Vst3Test.ValuesAndTextsConvertBothWays'
run "$vst2" plugin_host_test.exe 'PluginHostTest.TheEffectRecordDescribesTheInstrument:PluginHostTest.NotesSoundThroughTheRecord'

wine "$drive/Program Files/Bytone/uninstall.exe" /S && wineserver -w
after=$(cd "$drive" && find . -path ./windows -prune -o -path ./users -prune -o -print | LC_ALL=C sort)
[ "$after" = "$before" ] || fail "the uninstaller left: $(echo "$after" | grep -vxF "$before" | head -5)"
! wine reg query "$key" > /dev/null 2>&1 || fail "the uninstall entry is still there"
echo "installer test: installed, loaded in the hosts and uninstalled without a trace"
