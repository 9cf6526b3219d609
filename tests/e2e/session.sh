# Sourced by the end-to-end tests and the sound benchmark: a private session in a scratch folder
# (own home and runtime folder, own JACK server name), every process started through it stopped at
# exit, and the stand-ins for a desktop: an X server, a PulseAudio server with only a null sink, and
# a JACK server.
WORK=$(mktemp -d)
export HOME=$WORK/home XDG_RUNTIME_DIR=$WORK/run XDG_CONFIG_HOME=$WORK/home/.config XDG_DATA_HOME=$WORK/home/.local/share
export JACK_DEFAULT_SERVER=kivra-e2e-$$-$RANDOM
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
PIDS=()
JACKD=
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait "${PIDS[@]}" 2>/dev/null || true
  if [ -n "$JACKD" ]; then
    # Only once it has let go of its clients: stopped while one's end is still pending, jackd dies
    # of SIGPIPE and leaves its name registered in /dev/shm for good, and eight such names leave
    # no room for any server.
    for _ in $(seq 100); do jack_lsp 2>/dev/null | grep -qv '^system:' || break; sleep 0.1; done
    kill "$JACKD" && wait "$JACKD" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# start_xvfb [Xvfb options...]: a display of its own, ready when this returns.
start_xvfb() {
  export DISPLAY=:$(( 90 + RANDOM % 200 ))
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp "$@" >"$WORK/xvfb.log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
}

# start_null_sink: PulseAudio with one null sink "kivra_null" as the default; root needs the
# daemon's flags spelled out. Record what plays from kivra_null.monitor.
start_null_sink() {
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load="module-null-sink sink_name=kivra_null" \
    --load="module-native-protocol-unix" >"$WORK/pulse.log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start"; cat "$WORK/pulse.log"; exit 1; }
  pactl set-default-sink kivra_null
}

# start_jackd: jackd's dummy driver under this session's server name, ready when this returns;
# stopped after everything else.
start_jackd() {
  jackd --no-realtime --name "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$WORK/jackd.log" 2>&1 &
  JACKD=$!
  for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
  jack_lsp >/dev/null 2>&1 || { echo "jackd did not start"; cat "$WORK/jackd.log"; exit 1; }
}
