#!/usr/bin/env bash
# End to end: two pianos, each a real Kivra of its own, on one relay with Band Play checked in
# their ZuduvIvev windows. Play clicked in the first one's Music Maker starts both songs together
# after one bar's count-in, as a JACK MIDI client on both pianos' outputs hears; Stop clicked in the
# second one's Music Maker stops the first one too.
#   band_play.sh <kivra> <kivra-relay>
set -euo pipefail
KIVRA=$1 RELAY=$2
for tool in jackd jack_midi_dump Xvfb xdotool pulseaudio pactl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

unset QT_QPA_PLATFORM  # the real window system: Xvfb
source "$(dirname "$0")/session.sh"
fail() { echo "$1"; tail -n 20 "$WORK"/*.log "$WORK"/dump.txt; exit 1; }
# poll <command...>: true as soon as the command is, tried for 5 s.
poll() { for _ in $(seq 50); do "$@" && return; sleep 0.1; done; false; }
start_xvfb
start_null_sink
start_jackd
export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native  # the pianos' runtime folders are their own
"$RELAY" --port 0 --listen 127.0.0.1 >"$WORK/relay.log" 2>&1 & PIDS+=($!)
poll grep -q listening "$WORK/relay.log" || fail "the relay did not start"
PORT=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$WORK/relay.log")

# song <key>: 128 steps of one note each, 4 to the beat at 120 per minute (16 s).
song() { printf 'MThd\0\0\0\6\0\0\0\1\0\4MTrk\0\0\2\4'; for _ in $(seq 128); do printf "\1\220$1d"; done; printf '\0\377/\0'; }
# window <pid> <title>: the visible window of that piano with that title, waiting up to 20 s.
window() { timeout 20 xdotool search --all --sync --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null | tail -1 || true; }
# click <window> <x twips> <y twips> [height of the window's client in twips]: a click as a user
# makes it, the window raised first; a menu bar is the window's height beyond its client's.
click() {
  local client=${4:-0} && eval "$(xdotool getwindowgeometry --shell "$1")"
  local y=$(( $3 / 15 + (client ? HEIGHT - client / 15 : 0) ))
  xdotool windowraise "$1" mousemove --window "$1" $(( $2 / 15 )) "$y" click 1 sleep 0.3
}
# piano <name> <key> <number>: the <number>th Kivra of its own (home, runtime folder, single instance)
# opening a song of <key> and playing on "Kivra Virtual Output", joined to the relay and the band.
piano() {
  local home=$WORK/$1 ports port pid mm link dialog
  ports=$(jack_lsp)
  mkdir -p "$home/.config/Kivra" "$home/run" && chmod 700 "$home/run"
  printf '[MIDI%%20Devices]\nOutput%%20Device=Kivra Virtual Output\n' >"$home/.config/Kivra/Kivra.conf"
  song "$2" >"$home/song.mid"
  HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/run "$KIVRA" "$home/song.mid" >"$WORK/$1.log" 2>&1 &
  pid=$! && PIDS+=("$pid")
  mm=$(window "$pid" 'Kivra - Music Maker')
  [ -n "$mm" ] || fail "$1: the Music Maker did not show"
  # Its JACK client's name is the first free one of "Kivra", "Kivra-01", ...
  new_port() { port=$(jack_lsp | grep -x 'Kivra[-0-9]*:out' | grep -vxF "$ports"); }
  poll new_port && jack_connect "$port" dump:input || fail "$1: no output port in $(jack_lsp)"
  click "$(window "$pid" Kivra)" $(( 7920 + 607 )) $(( 120 + 427 )) 4215  # ZuduvIvev
  link=$(window "$pid" ZuduvIvev)
  [ -n "$link" ] || fail "$1: the ZuduvIvev window did not show"
  click "$link" $(( 120 + 607 )) $(( 120 + 247 ))  # Connect
  asked() { dialog=$(xdotool search --all --onlyvisible --pid "$pid" --name '^ZuduvIvev$' | grep -vx "$link"); }
  poll asked || fail "$1: no address asked"
  # Typed into the address box, as focused as a window manager would leave it.
  xdotool windowfocus --sync "$dialog" && xdotool type --delay 20 "127.0.0.1:$PORT" && xdotool key Return
  joined() { [ "$(grep -c joined "$WORK/relay.log")" = "$1" ]; }
  poll joined "$3" || fail "$1: did not join the relay"
  click "$link" 200 $(( 1320 + 127 ))  # Band Play
  eval "MM_$1=$mm"
}

stdbuf -oL jack_midi_dump -a dump >"$WORK/dump.txt" 2>&1 & PIDS+=($!)
dump_up() { jack_lsp | grep -q '^dump:'; }
poll dump_up || fail "jack_midi_dump did not start"
piano a '<' 1
piano b '@' 2
sleep 0.5  # a few delay probes between the two

# first <note-on>: the JACK frame (48 kHz) of the first such message since Play was clicked.
first() { tail -n +"$BEFORE" "$WORK/dump.txt" | awk -v m="$1" '$2" "$3" "$4 == m { print $1 + 0; exit }'; }
ms() { date +%s%3N; }
BEFORE=$(( $(wc -l <"$WORK/dump.txt") + 1 ))
T0=$(ms)
click "$MM_a" $(( 6480 + 100 )) $(( 4800 + 127 )) 5175  # Play
for _ in $(seq 100); do [ -n "$(first '90 3c 64')" ] && [ -n "$(first '91 40 64')" ] && break; sleep 0.05; done
COUNT_IN=$(( $(ms) - T0 ))
A=$(first '90 3c 64') B=$(first '91 40 64')
[ -n "$A" ] && [ -n "$B" ] || fail "not both pianos started: A at ${A:-never}, B at ${B:-never}"
APART=$(awk -v a="$A" -v b="$B" 'BEGIN { d = (a - b) / 48; printf "%.1f", d < 0 ? -d : d }')
echo "both started about $COUNT_IN ms after the click, $APART ms apart (JACK periods of 5.3 ms)"
# The count-in: a bar at 120 per minute is 2 s; the check cannot see the click's own delay.
[ "$COUNT_IN" -ge 1900 ] || fail "no count-in: notes $COUNT_IN ms after the click"
awk -v d="$APART" 'BEGIN { exit !(d <= 30) }' || fail "the pianos started $APART ms apart"

sleep 1
click "$MM_b" $(( 6480 + 100 )) $(( 4800 + 127 )) 5175  # Stop, at the other piano
sleep 0.5
BEFORE=$(( $(wc -l <"$WORK/dump.txt") + 1 ))
sleep 2.5  # longer than a count-in: a click that started the band again would be heard
[ -z "$(first '90 3c 64')$(first '91 40 64')" ] || fail "Stop at the second piano did not stop both"
echo "PASS: two pianos on one relay with Band Play start together after a bar, and stop together"
