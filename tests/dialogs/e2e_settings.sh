#!/bin/bash
# The settings dialog end to end: the real program under its own Xvfb, driven by xdotool.
# The first start in an empty folder opens "設定"; the test changes the interval and the
# server, picks a country mode through "国別制御", sets the Anonymous list to a local server
# through "リスト設定" (trying it there), turns the upload off, presses OK and checks the
# settings file and the restarted countdown; then "手動実行" writes that list's address, and a
# second start in the folder brings the minimised window back. Screenshots of the dialogs go
# to the folder given as the second argument.
#
# usage: e2e_settings.sh PROGRAM SCREENSHOT_DIR
set -euo pipefail
# The windows looked for carry their Japanese titles, whatever the machine's locale.
export LANG=C.UTF-8
unset LANGUAGE LC_ALL LC_MESSAGES

program=$(realpath "$1")
shots=$(realpath -m "$2")
mkdir -p "$shots"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

scratch=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# Xvfb picks a display no other X server holds and tells which through -displayfd.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset 3>"$scratch/display" \
  >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$scratch/display" ] && break
  sleep 0.1
done
[ -s "$scratch/display" ] || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
export DISPLAY=":$(head -1 "$scratch/display")"
xdpyinfo >/dev/null 2>&1 || fail "Xvfb does not answer on $DISPLAY"

# The list, on a local server.
mkdir "$scratch/lists"
printf '192.0.2.7\n<html>\n' >"$scratch/lists/anonymous.txt"
/usr/bin/python3 "$(dirname "$0")/../servers/http_server.py" "$scratch/lists" >"$scratch/http.port" &
server_pid=$!
for _ in $(seq 100); do
  [ -s "$scratch/http.port" ] && break
  sleep 0.1
done
list_url="http://127.0.0.1:$(head -1 "$scratch/http.port")/anonymous.txt"

# The program keeps its settings in its working directory.
mkdir "$scratch/work"
cd "$scratch/work"
unset QT_QPA_PLATFORM
"$program" >"$scratch/program.log" 2>&1 &
program_pid=$!

# Waits for a visible window whose whole name is $1, other than those in $2 ..., and prints its id.
find_window() {
  local name=$1
  shift
  for _ in $(seq 100); do
    for id in $(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null || true); do
      local known=0
      for other in "$@"; do
        [ "$id" = "$other" ] && known=1
      done
      [ $known = 0 ] && echo "$id" && return 0
    done
    sleep 0.1
  done
  return 1
}

# Clicks at a point given in pixels relative to the window's client area.
click_at() {
  local window=$1 x=$2 y=$3
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove --sync $((X + x)) $((Y + y)) click 1
  sleep 0.3
}

# Replaces the text of the box at a point with $4.
retype_at() {
  local window=$1
  click_at "$window" "$2" "$3"
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 20 "$4"
}

shoot() {
  sleep 0.5
  import -window "$1" "$shots/$2.png"
}

main_window=$(find_window 'Palisor|待機中\([0-9]+秒\)') || fail "the main window did not open"

# No palisor.ini yet: the settings dialog opens by itself.
settings=$(find_window '設定' "$main_window") || fail "the first start did not open the settings"
shoot "$settings" settings-dialog

# Text1 (server): Frame1 at 120,1920 + 360,480. Text7 (interval): Frame2 at 120,5880 + 360,540.
retype_at "$settings" $(((120 + 360) / 15 + 60)) $(((1920 + 480) / 15 + 9)) " ftp.e2e.example/ "
retype_at "$settings" $(((120 + 360) / 15 + 20)) $(((5880 + 540) / 15 + 9)) "900"
shoot "$settings" settings-dialog-edited

# "国別制御" (Command1 at 6960,1320): the notice first, then the country dialog.
click_at "$settings" $((6960 / 15 + 40)) $((1320 / 15 + 12))
notice=$(find_window 'Palisor' "$main_window") || fail "the country notice did not open"
shoot "$notice" country-notice
xdotool windowfocus --sync "$notice" key Return
countries=$(find_window '国別制御') || fail "the country dialog did not follow the notice"
shoot "$countries" country-dialog
# China's "拒否する": Frame2 at 120,840 + 2880,240; then OK at 4680,120.
click_at "$countries" $(((120 + 2880) / 15 + 20)) $(((840 + 240) / 15 + 8))
shoot "$countries" country-dialog-china-denied
click_at "$countries" $((4680 / 15 + 40)) $((120 / 15 + 12))

# "リスト設定" (Command2 at 6960,1800) opens with the Anonymous address focused.
click_at "$settings" $((6960 / 15 + 40)) $((1800 / 15 + 12))
lists=$(find_window 'リスト設定') || fail "the list dialog did not open"
xdotool windowfocus --sync "$lists" key --clearmodifiers ctrl+a BackSpace
xdotool type --delay 10 "$list_url"
xdotool key Tab space
sleep 2
shoot "$lists" list-dialog-tried
# China's mode, as 国別制御 chose it, back to 未指定 so that the run fetches the local list only:
# its box lies left, below 中国.
click_at "$lists" 73 543
xdotool key Up Up Return
sleep 0.3
shoot "$lists" list-dialog-china-unspecified
# Its OK, at the bottom right of its 760 x 600 pixels.
click_at "$lists" 620 577
xdotool search --onlyvisible --name '^リスト設定$' >/dev/null 2>&1 && fail "the list dialog stayed open"
# The upload off: Check4 at 5520,1920.
click_at "$settings" $((5520 / 15 + 8)) $((1920 / 15 + 8))

# OKButton at 6960,240.
click_at "$settings" $((6960 / 15 + 40)) $((240 / 15 + 12))
for _ in $(seq 50); do
  [ -f palisor.ini ] && grep -q '^IPG_CN=' palisor.ini && break
  sleep 0.1
done
[ -f palisor.ini ] || fail "OK wrote no settings file"
cp palisor.ini "$shots/palisor.ini"

expect_line() {
  grep -qxF -- "$1" palisor.ini || fail "palisor.ini lacks the line '$1'"
}
expect_line "SVNAME=ftp.e2e.example"
expect_line "TMINT=900"
expect_line "IPG_CN=0"
expect_line "FTPSW=0"
expect_line "URL1=$list_url"
expect_line "CHARBF=deny from  "
grep -q '^LCFILE=' palisor.ini && fail "LCFILE was written"
[ "$(head -1 palisor.ini)" = "[FTP]" ] || fail "the file does not start with [FTP]"

# The countdown restarted from the new interval.
sleep 1.5
caption=$(xdotool getwindowname "$main_window")
[[ "$caption" =~ ^待機中\((89[0-9]|900)秒\)$ ]] || fail "main window caption is '$caption'"
xdotool search --onlyvisible --name '^設定$' >/dev/null 2>&1 && fail "the settings dialog is still open"
import -window root "$shots/desktop-after-ok.png"

# "手動実行" is Command1: left 1200 twips, 835 wide.
click_at "$main_window" $((1200 / 15 + 20)) 12
for _ in $(seq 100); do
  [ -f htaccess.txt ] && break
  sleep 0.1
done
[ "$(cat htaccess.txt 2>/dev/null)" = "deny from 192.0.2.7" ] || fail "htaccess.txt: $(cat htaccess.txt)"

# A second start in the folder brings the minimised window back and exits 0.
xdotool windowminimize --sync "$main_window"
"$program" 2>"$scratch/second.err" || fail "the second start exited $?"
grep -q "already runs in" "$scratch/second.err" || fail "the second start said: $(cat "$scratch/second.err")"
for _ in $(seq 50); do
  xdotool search --onlyvisible --name '^待機中' | grep -qx "$main_window" && break
  sleep 0.1
done
xdotool search --onlyvisible --name '^待機中' | grep -qx "$main_window" ||
  fail "the window did not come back"
echo "PASS: settings saved through the dialogs; screenshots in $shots"
