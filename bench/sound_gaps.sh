#!/usr/bin/env bash
# Gaps of silence per second in a held organ note through a PulseAudio null sink while both
# cores are busy, for each audio latency (ms) given (the default latency is the lowest with none);
# then bench_sound's report for the default latency under the same load.
#   sound_gaps.sh <bench_sound> [seconds per take] [takes] [latency ms...]
# The player runs without the right to real-time scheduling, as an ordinary desktop user does,
# unless KIVRA_REALTIME=1. KIVRA_LOAD=0 leaves the cores idle (to check the measurement itself).
set -euo pipefail
BENCH=$1
SECONDS_PER_TAKE=${2:-8}
TAKES=${3:-3}
shift $(( $# < 3 ? $# : 3 ))
LATENCIES=("$@")
[ ${#LATENCIES[@]} -gt 0 ] || LATENCIES=(2 5 10 15 20 30 40)
for tool in pulseaudio pactl parec; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

source "$(dirname "$0")/../tests/e2e/session.sh"
start_null_sink

PLAYER=("$BENCH")
if [ "$(id -u)" = 0 ] && [ "${KIVRA_REALTIME:-0}" != 1 ] && command -v setpriv >/dev/null; then
  PLAYER=(setpriv --bounding-set=-sys_nice "$BENCH")
fi

# Both cores busy, as with a build running.
for _ in $(seq "$(( ${KIVRA_LOAD:-1} ? $(nproc) : 0 ))"); do
  ( while :; do :; done ) &
  PIDS+=($!)
done
sleep 2

echo "cores: $(nproc)  load average at start: $(cut -d' ' -f1-3 /proc/loadavg)  real-time: ${KIVRA_REALTIME:-0}  busy loops: $(( ${KIVRA_LOAD:-1} ? $(nproc) : 0 ))"
printf '%-12s %-14s %s\n' "latency_ms" "gaps_per_s" "per take"
for latency in "${LATENCIES[@]}"; do
  rates=()
  for _ in $(seq "$TAKES"); do
    parec --device=kivra_null.monitor --format=s16le --channels=1 --rate=44100 >"$WORK/take.raw" &
    rec=$!
    sleep 0.3
    "${PLAYER[@]}" --hold "$SECONDS_PER_TAKE" --latency "$latency" >"$WORK/player.log" 2>&1 || { cat "$WORK/player.log"; exit 1; }
    kill -INT "$rec" 2>/dev/null || true
    wait "$rec" 2>/dev/null || true
    read -r _ _ _ _ _ rate _ < <("$BENCH" --gaps "$WORK/take.raw")
    rates+=("$rate")
  done
  mean=$(printf '%s\n' "${rates[@]}" | awk '{ s += $1 } END { printf "%.2f", s / NR }')
  printf '%-12s %-14s %s\n' "$latency" "$mean" "${rates[*]}"
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
# The default latency's delay and buffering, under the same load.
"${PLAYER[@]}"
