#!/usr/bin/env bash
# Start-up time of the window: from launch until the main window is mapped
# (viewable) on an Xvfb display, polled with xwininfo every few milliseconds.
# One unmeasured warm-up launch fills the caches, then RUNS measured ones.
#
#   bench/startup.sh PIXQUILL [RUNS]
set -euo pipefail
app=$1
runs=${2:-5}
title="Pixquill by Zorvex"
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.05; done

viewable() {
  local id
  id=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$title\"" 'index($0, t) {print $1; exit}')
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'
}

for run in $(seq 0 "$runs"); do
  start=$(date +%s%N)
  QT_QPA_PLATFORM=xcb "$app" >/dev/null 2>&1 &
  pid=$!
  until viewable; do
    kill -0 "$pid" 2>/dev/null || { echo "startup: the program ended before showing its window" >&2; exit 1; }
    if [ $(( ($(date +%s%N) - start) / 1000000 )) -gt 20000 ]; then
      echo "startup: no window after 20 s" >&2
      kill "$pid"
      exit 1
    fi
  done
  end=$(date +%s%N)
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  [ "$run" -gt 0 ] && echo "run $run $(( (end - start) / 1000000 )) ms"
done
