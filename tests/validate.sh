#!/bin/sh
# Runs a plug-in validator of the folder beside the project against a built plug-in:
#   validate.sh <validators folder> <work folder> vst3|clap|lv2lint|pluginval-vst3|pluginval-lv2 <plug-in>
# Each must pass whole. Without the folder there is nothing to run: it says so and exits
# 77, which the test counts as skipped.
set -u
validators=$1 work=$2 kind=$3 plugin=$4
if [ ! -d "$validators" ]; then
    echo "skipped: no validators at $validators"
    exit 77
fi
rm -rf "$work" && mkdir -p "$work" || exit 1
log=$work/output.txt
case $kind in
vst3)
    "$validators/vst3-validator" -e "$plugin" >"$log" 2>&1
    ;;
clap)
    "$validators/clap-validator" validate "$plugin" >"$log" 2>&1 && grep -q ' 0 failed' "$log"
    ;;
lv2lint)
    # Warnings fail too, but the one the editor's design asks for: it reaches the
    # instrument through instance-access.
    "$validators/lv2lint" -I "$plugin/" -S all -E warn -t 'UI Instance Access' urn:kelmo:bytone >"$log" 2>&1
    ;;
pluginval-vst3 | pluginval-lv2)
    # A home of its own: pluginval keeps its settings there, and its LV2 host finds
    # plug-ins only in ~/.lv2 and the system's folders, by URI.
    target=$plugin
    if [ "$kind" = pluginval-lv2 ]; then
        mkdir -p "$work/.lv2" && ln -s "$plugin" "$work/.lv2/bytone.lv2" || exit 1
        target=urn:kelmo:bytone
    fi
    HOME=$work "$validators/pluginval" --validate-in-process --strictness-level 10 --timeout-ms 600000 \
        --output-dir "$work" --validate "$target" >"$log" 2>&1 && grep -q '^SUCCESS' "$log"
    ;;
*)
    echo "no validator $kind" >&2
    exit 2
    ;;
esac
status=$?
tail -n 40 "$log"
[ $status -eq 0 ] || echo "the $kind validator failed: $log"
exit $status
