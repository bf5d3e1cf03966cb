#!/bin/sh
# jalv, JACK's LV2 host, loads the bundle on a JACK server of the test's own (the dummy
# backend at 48 kHz) and plays an A4 that JACK's MIDI sequencer sends it for half of every
# second; JACK's recorder takes both outputs for two seconds. The recording must hold the
# notes: about half of its samples sound (a quarter to three quarters), and both channels
# are equal, as the instrument's are.
#   jalv_test.sh BUNDLE WORK_FOLDER
set -eu
bundle=$1 work=$2
fail() { echo "jalv test: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work/lv2"
cp -r "$bundle" "$work/lv2/"
# lilv reads every folder in LV2_PATH as bundles: a folder that holds only this one.
# One server name for every run: JACK keeps a few server slots in shared memory, and a
# run that ends uncleanly (a timeout) leaves its slot taken until a new server of the
# same name takes it over; names of their own filled them ("Too many servers already
# active") after enough interrupted runs on one machine.
export LV2_PATH="$work/lv2" JACK_DEFAULT_SERVER=bytone-test JACK_NO_AUDIO_RESERVATION=1

pids=
trap 'kill $pids 2>/dev/null || true; wait 2>/dev/null || true' EXIT
jackd -r -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 1024 > "$work/jackd.log" 2>&1 &
pids="$pids $!"
jack_wait -w -t 20 > /dev/null || fail "the JACK server did not start: $(cat "$work/jackd.log")"

# jalv reads commands from its input: a pipe that this script holds open and says nothing to.
mkfifo "$work/commands"
jalv -n bytone urn:kelmo:bytone < "$work/commands" > "$work/jalv.log" 2>&1 &
pids="$pids $!"
exec 3> "$work/commands"
jack_midiseq seq 48000 0 69 24000 > /dev/null 2>&1 &
pids="$pids $!"
tries=0
until jack_lsp 2> /dev/null | grep -q '^bytone:out_right$' && jack_lsp 2> /dev/null | grep -q '^seq:out$'; do
  tries=$((tries + 1))
  [ $tries -lt 100 ] || fail "jalv did not load the plug-in: $(cat "$work/jalv.log")"
  sleep 0.2
done
jack_connect seq:out bytone:midi_in
jack_rec -f "$work/out.wav" -d 2 -b 16 bytone:out_left bytone:out_right > /dev/null 2>&1

# The 16-bit frames after the 44-byte header: left and right in turn.
od -An -v -t d2 -j 44 "$work/out.wav" | tr -s ' ' '\n' | grep -v '^$' | awk '
  NR % 2 == 1 { left = $1; next }
  { frames++; if (left != $1) differ++; if ($1 != 0) sounding++; if ($1 > peak) peak = $1 }
  END {
    printf "%d frames, %d sounding, peak %d, %d with channels unequal\n", frames, sounding, peak, differ
    exit !(frames >= 90000 && sounding > frames / 4 && sounding < frames * 3 / 4 && peak > 1000 && differ == 0)
  }' || fail "the recording does not hold the notes"
