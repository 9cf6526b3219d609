#!/usr/bin/env bash
# Start-up time and memory of Kivra beside VMPK, a peer virtual MIDI keyboard, in one run on the
# same headless display. For each program and run: the time from launch until its main window is
# shown (polling xdotool search --name), and the peak resident memory over launch and two seconds of idle
# (/usr/bin/time -v). Prints a side-by-side table of medians and ranges; asserts nothing.
#
#   bench/startup/startup_vs_vmpk.sh <path to kivra> [runs, default 5]
#
# Needs: Xvfb, xdotool, GNU time (Debian: xvfb xdotool time). VMPK is measured when installed
# (apt-get install -y vmpk); a PulseAudio null sink is started when pulseaudio is installed, so
# that both programs find a sound server as on a desktop.
set -euo pipefail

kivra=${1:?usage: $0 <path to kivra> [runs]}
runs=${2:-5}
[ -x "$kivra" ] || { echo "not an executable: $kivra" >&2; exit 2; }
for tool in Xvfb xdotool /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install xvfb xdotool time)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kivra-startup.XXXXXX")
xvfb_pid=""; pulse_pid=""
cleanup() {
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and writes it to the pipe.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display_number=$(head -n 1 "$work/display")
[ -n "$display_number" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display_number"
unset WAYLAND_DISPLAY

if command -v pulseaudio >/dev/null && [ -z "${PULSE_SERVER:-}" ]; then
  mkdir -p "$work/pulse"
  XDG_RUNTIME_DIR=$work/pulse pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load="module-null-sink sink_name=bench" \
    --load="module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" \
    >"$work/pulse.log" 2>&1 &
  pulse_pid=$!
  for _ in $(seq 50); do [ -S "$work/pulse/native" ] && break; sleep 0.1; done
  [ -S "$work/pulse/native" ] && export PULSE_SERVER="unix:$work/pulse/native"
fi

# measure <label> <window-name-regex> <command...>: one launch; appends "ms kib" to $work/<label>
measure() {
  local label=$1 name=$2; shift 2
  local home=$work/home-$label
  rm -rf "$home"; mkdir -p "$home"
  local start end time_pid child
  start=$(date +%s%N)
  HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
    /usr/bin/time -v -o "$work/time-$label.txt" "$@" >"$work/out-$label.txt" 2>&1 &
  time_pid=$!
  # Poll xdotool every 10 ms rather than use its --sync, which sleeps half a second between
  # looks; stop early if the program has exited.
  local found=no deadline=$(( start + 30000000000 ))
  while kill -0 "$time_pid" 2>/dev/null && [ "$(date +%s%N)" -lt "$deadline" ]; do
    if xdotool search --onlyvisible --name "$name" >/dev/null 2>&1; then found=yes; break; fi
    sleep 0.01
  done
  end=$(date +%s%N)
  [ "$found" = yes ] || end=""
  sleep 2
  child=$(pgrep -P "$time_pid" || true)
  [ -n "$child" ] && kill -TERM "$child" 2>/dev/null
  wait "$time_pid" 2>/dev/null || true
  local kib
  kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time-$label.txt")
  if [ -z "$end" ]; then
    echo "$label: no window named /$name/ (the program exited, or 30 s passed); its output:" >&2
    tail -n 5 "$work/out-$label.txt" >&2
    return 1
  fi
  echo "$(( (end - start) / 1000000 )) ${kib:-0}" >>"$work/$label"
}

# stats <file> <column>: "median (min-max)"
stats() {
  cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.0f (%d-%d)", m, v[1], v[NR] }'
}

programs=(kivra)
have_vmpk=no
if command -v vmpk >/dev/null; then have_vmpk=yes; programs+=(vmpk); fi

for i in $(seq "$runs"); do
  # Alternate the order so that neither program always starts with warm caches.
  measure kivra '^Kivra$' "$kivra" || true
  if [ "$have_vmpk" = yes ]; then measure vmpk 'VMPK|Virtual MIDI Piano Keyboard' vmpk || true; fi
  echo "run $i/$runs done" >&2
done

echo
echo "Start-up to a shown window and peak memory, $runs runs each, Xvfb $DISPLAY" \
     "${PULSE_SERVER:+with a PulseAudio null sink}"
printf '%-8s %-24s %-24s %s\n' program "window shown, ms" "peak RSS, MiB" "runs ok"
for p in "${programs[@]}"; do
  if [ -s "$work/$p" ]; then
    mib=$(awk '{ printf "%d %d\n", $1, $2 / 1024 }' "$work/$p" > "$work/$p.mib"; stats "$work/$p.mib" 2)
    printf '%-8s %-24s %-24s %s\n' "$p" "$(stats "$work/$p" 1)" "$mib" "$(wc -l <"$work/$p")/$runs"
  else
    printf '%-8s %-24s %-24s %s\n' "$p" "-" "-" "0/$runs"
  fi
done
[ "$have_vmpk" = yes ] || echo "(VMPK not installed: apt-get install -y vmpk to compare)"
