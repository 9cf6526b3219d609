#!/usr/bin/env bash
# End to end: the real program under Xvfb with a PulseAudio null sink. Clicking key 69 (A4) must
# be heard on the sink's monitor near 440 Hz.
#   piano_sounds.sh <kivra> <pitch_of_wav>
set -euo pipefail
KIVRA=$1
PITCH=$2
for tool in Xvfb pulseaudio parecord xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

unset QT_QPA_PLATFORM  # the real window system: Xvfb
WORK=$(mktemp -d)
export HOME=$WORK/home XDG_RUNTIME_DIR=$WORK/run XDG_CONFIG_HOME=$WORK/home/.config XDG_DATA_HOME=$WORK/home/.local/share
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

DISPLAY_NUM=$(( 90 + RANDOM % 100 ))
export DISPLAY=:$DISPLAY_NUM
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)

# A private PulseAudio with only a null sink; root needs --system-less daemon flags spelled out.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
  --load="module-null-sink sink_name=kivra_null" \
  --load="module-native-protocol-unix" >"$WORK/pulse.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start"; cat "$WORK/pulse.log"; exit 1; }
pactl set-default-sink kivra_null
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

"$KIVRA" >"$WORK/kivra.log" 2>&1 &
PIDS+=($!)
WID=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kivra$' | head -1 || true)
[ -n "$WID" ] || { echo "the piano window did not show"; cat "$WORK/kivra.log"; exit 1; }
sleep 1.5  # the synthesizer opens its audio output

# Records the sink while "$@" runs, then checks the loudest part's pitch: expect_tone <Hz> <what> <command...>
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
  read -r _ rms _ hz <<<"$result"
  echo "$what: $result"
  awk -v rms="$rms" -v hz="$hz" -v want="$want" \
    'BEGIN { exit !(rms > 0.002 && hz > want * 0.97 && hz < want * 1.03) }' || {
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
echo "PASS: the mouse and the computer keyboard sound their notes"
