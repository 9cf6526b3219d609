#!/usr/bin/env bash
# What a player hears of the sound settings, through the real program under Xvfb and a PulseAudio
# null sink: key A4 clicked and held 1 s with each settings file below, recorded from the sink's
# monitor. Prints the level of the held note and how long the click is heard, from its first
# sound until it stays below -60 dBFS (the same 1 s press each time: a longer time is the tail).
#   sound_expression.sh <kivra>
set -euo pipefail
KIVRA=$1
for tool in Xvfb pulseaudio parecord xdotool python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
unset QT_QPA_PLATFORM
source "$(dirname "$0")/../tests/e2e/session.sh"
start_xvfb
start_null_sink
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

take() {  # take <name> <settings file text>
  mkdir -p "$XDG_CONFIG_HOME/Kivra"
  printf '%b' "$2" >"$XDG_CONFIG_HOME/Kivra/Kivra.conf"
  "$KIVRA" >"$WORK/$1.log" 2>&1 &
  local pid=$! wid
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kivra$' | head -1)
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  # Key 69 at the default octave, in twips from the layout (15 twips a pixel), below the menu bar.
  local x=$(( (120 + 120 + 2520 + 1800 + 187) / 15 )) y=$(( (1080 + 1080 + 700) / 15 + HEIGHT - 4215 / 15 ))
  parecord --latency-msec=20 --device=kivra_null.monitor --file-format=wav --rate=44100 --channels=1 "$WORK/$1.wav" &
  local rec=$!
  sleep 0.5
  xdotool mousemove --window "$wid" "$x" "$y" mousedown 1; sleep 1.0; xdotool mouseup 1; sleep 3
  kill -INT "$rec"; wait "$rec" 2>/dev/null || true
  kill "$pid"; wait "$pid" 2>/dev/null || true
}

take default ''
take velocity_30 '[Playing]\nVelocity=30\n'
take reverb_full '[Sound]\nReverb=true\nReverbAmount=100\n'

python3 - "$WORK" <<'PY'
import math, struct, sys, wave
def windows(name):  # RMS of 10 ms windows
    w = wave.open(f'{sys.argv[1]}/{name}.wav'); n = w.getframerate() // 100
    x = [s / 32768 for s in struct.unpack(f'<{w.getnframes()}h', w.readframes(w.getnframes()))]
    return [math.sqrt(sum(v * v for v in x[i:i + n]) / n) for i in range(0, len(x) - n, n)]
level = {}
for name in ['default', 'velocity_30', 'reverb_full']:
    w = windows(name)
    start = next(i for i, v in enumerate(w) if v > 1e-3)  # the click's first sound
    held = w[start + 10:start + 90]
    level[name] = math.sqrt(sum(v * v for v in held) / len(held))
    heard = max(i for i, v in enumerate(w) if v > 1e-3) - start
    print(f'{name}: held note {20 * math.log10(level[name]):.1f} dBFS, heard for {10 * heard} ms')
print(f"velocity 30 against the default: {20 * math.log10(level['velocity_30'] / level['default']):.1f} dB")
PY
