#!/usr/bin/env bash
# End to end: the key filter under a real X server with auto-repeat on. A computer key held for
# two seconds sounds once; with a Russian layout the Z key plays middle C and shows its letter.
#   x11_keyboard.sh <test_keyboard>
set -euo pipefail
TESTS=$1
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

export QT_QPA_PLATFORM=xcb  # the real window system: Xvfb
source "$(dirname "$0")/session.sh"
# Auto-repeat as desktops have it: after 250 ms, every 30 ms.
start_xvfb -ardelay 250 -arinterval 30
if command -v xset >/dev/null; then xset r on; fi

"$TESTS" --gtest_filter='X11Keyboard.*' | tee "$WORK/out.txt"
if grep -q '^\[  SKIPPED \]' "$WORK/out.txt"; then echo "SKIP: a check could not run here"; exit 77; fi
