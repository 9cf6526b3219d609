#!/usr/bin/env bash
# Start-up time and memory of Kivra beside VMPK, a peer virtual MIDI keyboard, in one run on the
# same headless display. For each program and run: the time from launch until its main window is
# mapped (the MapNotify event on the root window, as xev reports it, for a window of that name),
# and the peak resident memory over launch and two seconds of idle (/usr/bin/time -v). The order
# alternates from run to run. Prints the load average at the start, then a side-by-side table of
# medians and ranges; asserts nothing.
#
#   bench/startup/startup_vs_vmpk.sh <path to kivra> [runs, default 5]
#
# Needs: Xvfb, xev, xdotool, GNU time (Debian: xvfb x11-utils xdotool time). VMPK is measured when installed
# (apt-get install -y vmpk); a PulseAudio null sink is started when pulseaudio is installed, so
# that both programs find a sound server as on a desktop.
set -euo pipefail

kivra=${1:?usage: $0 <path to kivra> [runs]}
runs=${2:-5}
[ -x "$kivra" ] || { echo "not an executable: $kivra" >&2; exit 2; }
for tool in Xvfb xev xdotool /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install xvfb x11-utils xdotool time)" >&2; exit 2; }
done
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) on $(nproc) cores"

work=$(mktemp -d "${TMPDIR:-/tmp}/kivra-startup.XXXXXX")
xvfb_pid=""; pulse_pid=""; xev_pid=""
cleanup() {
  # Each kill may find its process gone already; that must not end the cleaning early.
  for pid in $xev_pid $pulse_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
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

# One xev for the whole run reports every window mapped on the display (no window manager: the
# programs' windows are children of the root window) and every change of a root property.
coproc XEV { exec stdbuf -oL xev -root -event substructure -event property; }
xev_pid=$XEV_PID
# It listens once it reports a change of the property set here (set again until it does).
xev_ready=no
for attempt in $(seq 50); do
  xprop -root -f _KIVRA_BENCH 8s -set _KIVRA_BENCH "ready $attempt"
  while read -r -t 0.2 -u "${XEV[0]}" line; do
    [[ $line == PropertyNotify* ]] && { xev_ready=yes; break 2; }
  done
done
[ "$xev_ready" = yes ] || { echo "xev does not answer" >&2; exit 1; }

# wait_mapped <window-name-regex> <pid>: returns once a window of that name is mapped (0), or
# when the program has exited or 30 s passed (1). Only events are read: nothing is polled.
wait_mapped() {
  local name=$1 pid=$2 line deadline=$(( ${EPOCHREALTIME/./} + 30000000 ))
  while [ "${EPOCHREALTIME/./}" -lt "$deadline" ]; do
    if ! read -r -t 1 -u "${XEV[0]}" line; then
      kill -0 "$pid" 2>/dev/null || return 1
      continue
    fi
    # "event 0x..., window 0x..., override NO": the second line of a MapNotify report (read strips
    # its indent).
    [[ $line =~ ^event\ 0x[0-9a-f]+,\ window\ (0x[0-9a-f]+),\ override\ NO ]] || continue
    [[ $(xdotool getwindowname "${BASH_REMATCH[1]}" 2>/dev/null) =~ $name ]] && return 0
  done
  return 1
}

# measure <label> <window-name-regex> <command...>: one launch; appends "ms kib" to $work/<label>
measure() {
  local label=$1 name=$2; shift 2
  local home=$work/home-$label
  rm -rf "$home"; mkdir -p "$home"
  local line start end="" time_pid child
  while read -r -t 0.05 -u "${XEV[0]}" line; do :; done  # what the previous program left
  start=${EPOCHREALTIME/./}
  HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
    /usr/bin/time -v -o "$work/time-$label.txt" "$@" >"$work/out-$label.txt" 2>&1 &
  time_pid=$!
  if wait_mapped "$name" "$time_pid"; then end=${EPOCHREALTIME/./}; fi
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
  echo "$(( (end - start) / 1000 )) ${kib:-0}" >>"$work/$label"
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
  order=("${programs[@]}")
  if (( i % 2 == 0 )); then order=(); for p in "${programs[@]}"; do order=("$p" "${order[@]}"); done; fi
  for p in "${order[@]}"; do
    case $p in
      kivra) measure kivra '^Kivra( - .*)?$' "$kivra" || true ;;
      vmpk) measure vmpk 'VMPK|Virtual MIDI Piano Keyboard' vmpk || true ;;
    esac
  done
  echo "run $i/$runs done (${order[*]})" >&2
done

echo
echo "Start-up to a mapped window and peak memory, $runs runs each, Xvfb $DISPLAY" \
     "${PULSE_SERVER:+with a PulseAudio null sink}"
printf '%-8s %-24s %-24s %s\n' program "window mapped, ms" "peak RSS, MiB" "runs ok"
for p in "${programs[@]}"; do
  if [ -s "$work/$p" ]; then
    mib=$(awk '{ printf "%d %d\n", $1, $2 / 1024 }' "$work/$p" > "$work/$p.mib"; stats "$work/$p.mib" 2)
    printf '%-8s %-24s %-24s %s\n' "$p" "$(stats "$work/$p" 1)" "$mib" "$(wc -l <"$work/$p")/$runs"
  else
    printf '%-8s %-24s %-24s %s\n' "$p" "-" "-" "0/$runs"
  fi
done
[ "$have_vmpk" = yes ] || echo "(VMPK not installed: apt-get install -y vmpk to compare)"
