#!/bin/sh
# Regenerates the MIDI corpus: valid files from the sources with abc2midi and csvmidi, hostile
# files byte by byte. Run from this folder; the results are checked in.
set -e
abc2midi source/two_voices.abc -o valid/abc2midi_two_voices_480.mid -silent
abc2midi source/drums_long.abc -o valid/abc2midi_triplets_chords_480.mid -silent
csvmidi source/tempo_map_sysex_480.csv valid/csvmidi_tempo_map_sysex_480.mid
csvmidi source/format0_running_status.csv valid/csvmidi_format0_running_status.mid
python3 make_hostile.py
