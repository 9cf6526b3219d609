#!/usr/bin/env bash
# End to end: the real program under Xvfb with a PulseAudio null sink. Clicking key 69 (A4) must
# be heard on the sink's monitor near 440 Hz, Z and Q on the computer keyboard as C4 and C5, and a
# key held while a link server gives the piano another channel must fall silent when released.
#   piano_sounds.sh <kivra> <pitch_of_wav>
set -euo pipefail
KIVRA=$1
PITCH=$2
for tool in Xvfb pulseaudio parecord xdotool python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

unset QT_QPA_PLATFORM  # the real window system: Xvfb
source "$(dirname "$0")/session.sh"
start_xvfb
start_null_sink

"$KIVRA" >"$WORK/kivra.log" 2>&1 &
PIDS+=($!)
WID=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kivra$' | head -1 || true)
[ -n "$WID" ] || { echo "the piano window did not show"; cat "$WORK/kivra.log"; exit 1; }
sleep 1.5  # the synthesizer opens its audio output

# Records the sink while "$@" runs, then checks the loudest part's pitch (0: any pitch, only that
# it sounds): expect_tone <Hz> <what> <command...>
expect_tone() {
  local want=$1 what=$2; shift 2
  sleep 1.5  # the previous note's release tail fades
  parecord --device=kivra_null.monitor --file-format=wav --rate=44100 --channels=1 "$WORK/out.wav" &
  local rec=$!
  sleep 0.5
  "$@"
  sleep 0.5
  kill -INT "$rec" 2>/dev/null || true
  wait "$rec" 2>/dev/null || true
  local result rms hz
  result=$("$PITCH" "$WORK/out.wav")
  read -r _ rms _ hz _ <<<"$result"
  echo "$what: $result"
  awk -v rms="$rms" -v hz="$hz" -v want="$want" \
    'BEGIN { exit !(rms > 0.002 && (want == 0 || (hz > want * 0.97 && hz < want * 1.03))) }' || {
    echo "expected a tone near $want Hz for $what"; cat "$WORK/kivra.log"; exit 1; }
}

# Key 69 (A4): middle row, second octave, A; the centre of its lower half, below the black keys.
# The menu bar sits above the client area; its height is the window's extra height.
eval "$(xdotool getwindowgeometry --shell "$WID")"
MENU=$(( HEIGHT - 4215 / 15 ))
X=$(( (120 + 120 + 2520 + 1800 + 187) / 15 ))
Y=$(( (1080 + 1080 + 700) / 15 + MENU ))
click_key() {
  xdotool mousemove --window "$WID" "$X" "$Y" mousedown 1
  sleep 1.0
  xdotool mouseup 1
}
expect_tone 440 "mouse on key 69" click_key

# The shipped key map: Z is the C of the base octave (middle C at octave 4), Q the C above.
xdotool windowfocus --sync "$WID"
hold_key() {
  xdotool keydown "$1"
  sleep 1.0
  xdotool keyup "$1"
}
expect_tone 261.6 "computer key Z" hold_key z
expect_tone 523.3 "computer key Q" hold_key q

# A link server that sets channel 0 to an organ (a note that sounds until it is released), then
# gives the piano channel 3 while key 69 is held: the release must still stop the organ note.
cat >"$WORK/server.py" <<'PY'
import os, socket, sys, time
port_file, trigger = sys.argv[1], sys.argv[2]
srv = socket.create_server(("127.0.0.1", 0))
with open(port_file + ".new", "w") as f:
    f.write(str(srv.getsockname()[1]))
os.rename(port_file + ".new", port_file)
conn, _ = srv.accept()
conn.sendall(bytes([0xC0, 16, 0, 0]))  # drawbar organ on channel 0
while not os.path.exists(trigger):
    time.sleep(0.01)
conn.sendall(bytes([0xFF, 3, 0, 0]))  # the piano's channel becomes 3
while conn.recv(4096):
    pass
PY
python3 "$WORK/server.py" "$WORK/port" "$WORK/assign" &
PIDS+=($!)
for _ in $(seq 50); do [ -s "$WORK/port" ] && break; sleep 0.1; done
xdotool mousemove --window "$WID" $(( (7920 + 607) / 15 )) $(( (120 + 427) / 15 + MENU )) click 1
LINK=$(timeout 10 xdotool search --sync --onlyvisible --name '^ZuduvIvev$' | head -1 || true)
[ -n "$LINK" ] || { echo "the link window did not show"; exit 1; }
xdotool mousemove --window "$LINK" $(( (120 + 607) / 15 )) $(( (120 + 247) / 15 )) click 1
sleep 1
ASK=$(xdotool search --onlyvisible --name '^ZuduvIvev$' | grep -vx "$LINK" | head -1 || true)
[ -n "$ASK" ] || { echo "the link window did not ask for the address"; exit 1; }
xdotool windowfocus --sync "$ASK" type "127.0.0.1:$(cat "$WORK/port")"
xdotool key Return
sleep 1
hold_across_assignment() {
  xdotool mousemove --window "$WID" "$X" "$Y" mousedown 1
  sleep 0.7
  touch "$WORK/assign"
  sleep 0.5
  xdotool mouseup 1
  sleep 1.5  # the release tail fades; what sounds after this was never released
}
# The organ's strong low stops fool the pitch estimate by an octave or two: here it must sound.
expect_tone 0 "organ key 69 held across a channel assignment" hold_across_assignment
read -r _ rms _ _ _ tail <<<"$("$PITCH" "$WORK/out.wav")"
awk -v rms="$rms" -v tail="$tail" 'BEGIN { exit !(tail < rms * 0.05) }' || {
  echo "the organ note kept sounding after its key was released (tail $tail, note $rms)"; exit 1; }
echo "PASS: the mouse and the computer keyboard sound their notes, and a release stops what its press started"
