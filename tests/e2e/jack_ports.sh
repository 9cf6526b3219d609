#!/usr/bin/env bash
# End to end: the real program in a JACK graph (jackd's dummy driver under a server name of this
# test's own). While Kivra runs, jack_lsp lists "Kivra:out" and "Kivra:in"; with "Kivra Virtual
# Output" chosen, a clicked key reaches a JACK MIDI client connected to "Kivra:out" as a note-on;
# ended by SIGTERM while the key is held, Kivra releases the note and closes cleanly, and its
# ports are gone. Without a JACK server Kivra says nothing of JACK.
#   jack_ports.sh <kivra>
set -euo pipefail
KIVRA=$1
command -v jackd >/dev/null || { echo "SKIP: jackd missing"; exit 77; }
for tool in Xvfb xdotool pulseaudio pactl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

unset QT_QPA_PLATFORM  # the real window system: Xvfb
source "$(dirname "$0")/session.sh"
start_xvfb
start_null_sink  # the built-in synthesizer opens, as on a desktop

# start_kivra <log>: the piano window's id in WID once it shows.
start_kivra() {
  "$KIVRA" >"$1" 2>&1 &
  KIVRA_PID=$!
  PIDS+=("$KIVRA_PID")
  WID=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kivra$' | head -1 || true)
  [ -n "$WID" ] || { echo "the piano window did not show"; cat "$1"; exit 1; }
}
# This xdotool cannot close a window, and no window manager runs: the program ends as on logout,
# on SIGTERM, and must end cleanly.
stop_kivra() {
  kill "$KIVRA_PID"
  local status=0
  wait "$KIVRA_PID" 2>/dev/null || status=$?
  [ "$status" = 0 ] || { echo "Kivra ended with status $status on SIGTERM"; exit 1; }
}

# Without a server (none runs under this name yet): nothing of JACK printed.
start_kivra "$WORK/alone.log"
stop_kivra
if grep -i jack "$WORK/alone.log"; then echo "Kivra printed about JACK without a server"; exit 1; fi

mkdir -p "$XDG_CONFIG_HOME/Kivra"
printf '[MIDI%%20Devices]\nOutput%%20Device=Kivra Virtual Output\n' >"$XDG_CONFIG_HOME/Kivra/Kivra.conf"
start_jackd

start_kivra "$WORK/kivra.log"
for _ in $(seq 50); do jack_lsp | grep -qx 'Kivra:in' && break; sleep 0.1; done
jack_lsp | grep -qx 'Kivra:out' && jack_lsp | grep -qx 'Kivra:in' || {
  echo "Kivra's ports are not in the graph:"; jack_lsp; cat "$WORK/kivra.log"; exit 1; }

stdbuf -oL jack_midi_dump dump >"$WORK/dump.txt" 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do jack_lsp | grep -q '^dump:' && break; sleep 0.1; done
jack_connect Kivra:out "$(jack_lsp | grep '^dump:' | head -1)"

# Key 69 (A4), placed as in piano_sounds.sh: the menu bar's height is the window's extra height.
eval "$(xdotool getwindowgeometry --shell "$WID")"
MENU=$(( HEIGHT - 4215 / 15 ))
xdotool mousemove --window "$WID" $(( (120 + 120 + 2520 + 1800 + 187) / 15 )) $(( (1080 + 1080 + 700) / 15 + MENU )) \
  mousedown 1
for _ in $(seq 50); do grep -qi '90 45' "$WORK/dump.txt" && break; sleep 0.1; done
grep -qi '90 45' "$WORK/dump.txt" || { echo "no note-on 90 45 arrived:"; cat "$WORK/dump.txt" "$WORK/kivra.log"; exit 1; }

# Ended while the key is held (logout mid-note): the note must not stay stuck on the device.
stop_kivra
xdotool mouseup 1
grep -qi '90 45 00' "$WORK/dump.txt" || { echo "the held note was not released on SIGTERM:"; cat "$WORK/dump.txt"; exit 1; }
for _ in $(seq 50); do jack_lsp | grep -q '^Kivra' || break; sleep 0.1; done
if jack_lsp | grep -q '^Kivra'; then echo "Kivra's ports stayed after it closed:"; jack_lsp; exit 1; fi
echo "PASS: Kivra's ports live as long as Kivra, a clicked key arrives at a client of Kivra:out, and SIGTERM releases it"
