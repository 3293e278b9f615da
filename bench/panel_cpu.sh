#!/usr/bin/env bash
# The panel's share of one core, standing and jogging, for one or more
# builds of the simulator edition, measured in one run on a desktop of its
# own (Xvfb, openbox, the accessibility bus on, as under a screen reader):
#   tests/desktop/with-desktop bench/panel_cpu.sh NAME=PROGRAM [NAME=PROGRAM...]
# For each program: opens the panel, waits 3 s, counts the CPU time of 10 s
# standing, then drags the jog slider to the right and counts 10 s jogging.
set -euo pipefail
seconds=10
ticks=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
share() { # pid -> percent of one core over $seconds
  local before after
  before=$(cpu_ticks "$1")
  sleep "$seconds"
  after=$(cpu_ticks "$1")
  awk -v d=$((after - before)) -v t="$ticks" -v s="$seconds" 'BEGIN { printf "%.1f", 100 * d / t / s }'
}

printf '%-12s %10s %10s\n' build standing jogging
for named in "$@"; do
  name=${named%%=*} program=${named#*=}
  "$program" >/dev/null 2>&1 &
  pid=$!
  dialog=$(xdotool search --sync --onlyvisible --name '^Select Device$' | head -n 1)
  xdotool mousemove --window "$dialog" 148 308 click 1 # OK
  panel=$(xdotool search --sync --onlyvisible --name '^KVX-340 Stepper Motor Control Panel$' | head -n 1)
  sleep 3
  standing=$(share "$pid")
  # The jog slider's handle from its middle most of the way to the right.
  xdotool mousemove --window "$panel" 264 308 mousedown 1 mousemove --window "$panel" 460 308 mouseup 1
  sleep 1
  jogging=$(share "$pid")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  printf '%-12s %9s%% %9s%%\n' "$name" "$standing" "$jogging"
done
