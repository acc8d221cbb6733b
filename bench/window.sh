#!/usr/bin/env bash
# One manual run in the window under Xvfb, timed from the click on 手動実行 to the run's line
# in palisor.log.  Usage: bench/window.sh PALISOR SITE_DIR   (prints the seconds)
# SITE_DIR holds the palisor.ini of the run; needs Xvfb, xdotool and xwininfo.
set -euo pipefail

exe=$(realpath "$1")
site=$2
Xvfb -displayfd 1 -screen 0 800x200x24 -nolisten tcp -noreset >"$site/.display" 2>/dev/null &
xvfb=$!
trap 'kill $palisor $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -s $site/.display ]] && break; sleep 0.05; done
export DISPLAY=:$(head -1 "$site/.display") QT_QPA_PLATFORM=xcb
rm -f "$site/.display" "$site/palisor.log"

(cd "$site" && exec "$exe") >/dev/null 2>&1 &
palisor=$!
window=$(xdotool search --sync --onlyvisible --pid "$palisor" --name '待機中' | head -1)
geometry=$(xwininfo -id "$window")
left=$(awk '/Absolute upper-left X/ { print $4 }' <<<"$geometry")
top=$(awk '/Absolute upper-left Y/ { print $4 }' <<<"$geometry")
width=$(awk '/Width:/ { print $2 }' <<<"$geometry")
height=$(awk '/Height:/ { print $2 }' <<<"$geometry")
# 手動実行: 835 twips wide from 1200 in a client area of 3840.
x=$((left + (1200 + 835 / 2) * width / 3840))
y=$((top + height / 2))

xdotool mousemove --sync "$x" "$y"
start=$(date +%s%N)
xdotool click 1
# Waits 5 ms at a time without starting a process: a read that times out on an idle pipe.
exec {idle}<> <(:)
until [[ -s $site/palisor.log ]]; do read -rt 0.005 -u "$idle" || true; done
end=$(date +%s%N)
if ! grep -q '  ok  ' "$site/palisor.log"; then
  echo "bench: the run in the window did not succeed: $(cat "$site/palisor.log")" >&2
  exit 1
fi
awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }'
