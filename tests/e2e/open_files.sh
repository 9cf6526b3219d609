#!/usr/bin/env bash
# End to end: Kivra started from the shell. --help, --version and --render answer with no display at all
# (a plain start says that it needs one);
# under a real X server `kivra song.mid` opens the Music Maker; after a crash the socket left
# behind does not block the next start; a second `kivra other.mid` hands its file to the running
# Kivra and ends, and the running one shows it in its Music Maker.
#   open_files.sh <kivra>
set -euo pipefail
KIVRA=$1
for tool in Xvfb pulseaudio pactl xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

source "$(dirname "$0")/session.sh"
fail() { echo "$1"; cat "$WORK"/*.log; exit 1; }

# One track, one step: middle C.
printf 'MThd\0\0\0\6\0\0\0\1\0\4MTrk\0\0\0\10\1\220<d\0\377/\0' >"$WORK/song.mid"
(
  unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
  "$KIVRA" --help >"$WORK/help.txt"
  "$KIVRA" --version >"$WORK/version.txt"
  "$KIVRA" --render "$WORK/song.mid" "$WORK/song.wav"
  ! "$KIVRA" --render "$WORK/song.mid" "$WORK/no/such/folder.wav" 2>"$WORK/refused.txt"
  ! "$KIVRA" 2>"$WORK/nodisplay.txt"
) || fail "--help, --version or --render failed without a display"
grep -q 'no display to show the piano on' "$WORK/nodisplay.txt" || fail "no display: $(cat "$WORK/nodisplay.txt")"
grep -q '^Usage: .*kivra \[options\] \[file\]$' "$WORK/help.txt" || fail "--help: $(cat "$WORK/help.txt")"
grep -qx 'Kivra [0-9]*\.[0-9]*\.[0-9]*' "$WORK/version.txt" || fail "--version: $(cat "$WORK/version.txt")"
grep -q 'folder.wav could not be created: No such file or directory' "$WORK/refused.txt" || fail "--render: $(cat "$WORK/refused.txt")"
# The song's one step (a quarter of a beat at 120 per minute: 125 ms) and a tail of at most 5 s,
# 16-bit stereo at 44.1 kHz; loud enough to be heard.
file "$WORK/song.wav" | grep -q 'WAVE audio, Microsoft PCM, 16 bit, stereo 44100 Hz' || fail "--render: $(file "$WORK/song.wav")"
ms=$(( ($(stat -c %s "$WORK/song.wav") - 44) * 1000 / (4 * 44100) ))
[ "$ms" -gt 125 ] && [ "$ms" -le 5125 ] || fail "--render: $ms ms of sound"
peak=$(od -An -v -t d2 -j 44 "$WORK/song.wav" | tr -s ' ' '\n' | sed 's/-//' | sort -n | tail -1)
[ "$peak" -gt 1000 ] || fail "--render: peak $peak, silence"

unset QT_QPA_PLATFORM  # the real window system: Xvfb
start_xvfb
start_null_sink  # so that no "no sound output" message comes first
cp "$WORK/song.mid" "$WORK/other.mid"
# find_window <title>: the id of the visible window with that title, waiting up to 20 s.
find_window() { timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true; }
# opened <what>: the Music Maker shows, and no message says the file was refused.
opened() {
  [ -n "$(find_window 'Kivra - Music Maker')" ] || fail "$1 did not show the Music Maker"
  sleep 0.5
  [ -z "$(xdotool search --onlyvisible --name '^Import MIDI$' || true)" ] || fail "$1: the file was refused"
}

cd "$WORK"
"$KIVRA" song.mid >"$WORK/first.log" 2>&1 &
FIRST=$!
PIDS+=("$FIRST")
opened "kivra song.mid"

kill -KILL "$FIRST"
wait "$FIRST" 2>/dev/null || true
"$KIVRA" >"$WORK/second.log" 2>&1 &
SECOND=$!
PIDS+=("$SECOND")
[ -n "$(find_window Kivra)" ] || fail "a start after a crash did not show the piano"
sleep 1
[ -z "$(xdotool search --onlyvisible --name '^Kivra - Music Maker$' || true)" ] || fail "the Music Maker showed unasked"

timeout 10 "$KIVRA" other.mid >"$WORK/third.log" 2>&1 || fail "the second kivra did not hand over and end"
opened "the file handed over"
kill -0 "$SECOND" || fail "the running Kivra ended"
[ "$(xdotool search --onlyvisible --name '^Kivra$' | wc -l)" = 1 ] || fail "a second piano window showed"
echo "PASS: help, version and render need no display; a file given on the command line opens in the Music Maker, and a later start hands its file over"
