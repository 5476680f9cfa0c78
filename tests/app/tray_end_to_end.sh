#!/usr/bin/env bash
# The tray program from the outside, on an X display of its own (scripts/run-on-xvfb): tunewell
# is started with two short songs, and xdotool works it as a person would.
#   with a tray host (TW_TRAY_HOST=1): the window hides and the icon appears; a right click opens
#     the menu, which must look like a menu of the expected Japanese items; one skip keeps the
#     program going; "終了(&X)" ends it. A second run skips both songs: skipping the last ends it.
#   without one: the icon cannot be registered; the error box shows, the window stays while the
#     song plays and offers the tray menu itself; "終了(&X)" ends it.
#   either way: the waiting window before any drop, and closing it ends the program.
# Screenshots go to SHOT_DIR, for a person to look at.
# usage: tray_end_to_end.sh TUNEWELL MENU_REFERENCE SHOT_DIR
set -euo pipefail

tunewell=$1
reference=$2
shots=$3
mkdir -p "$shots"
for tool in xdotool xwininfo import compare sox lame; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
tray=${TW_TRAY_HOST:-0}
suffix=$([ "$tray" = 1 ] && echo tray || echo no-tray)

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  import -window root "$shots/failure-$suffix.png" 2>/dev/null || true
  exit 1
}

# Sound: the session's sound server, or a null sink of our own that plays in real time.
if ! pactl info >/dev/null 2>&1; then
  command -v pulseaudio >/dev/null || { echo "SKIP: no sound server and no pulseaudio"; exit 77; }
  mkdir -p "$work/pulse"
  cat >"$work/pulse/null.pa" <<EOF
load-module module-null-sink sink_name=tunewell_e2e rate=44100 channels=2
set-default-sink tunewell_e2e
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/pulse/native
EOF
  HOME=$work/pulse pulseaudio --daemonize=no --exit-idle-time=-1 -n -F "$work/pulse/null.pa" \
    --disable-shm=true >/dev/null 2>&1 &
  pids+=($!)
  export PULSE_SERVER=unix:$work/pulse/native
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || { echo "SKIP: pulseaudio did not start"; exit 77; }
fi

# Two songs of 30 seconds, tagged in Japanese (ID3v2, UTF-16).
song() {
  sox -n -r 44100 -c 2 "$work/$1.wav" synth 30 sine "$2" vol 0.2
  lame --quiet -b 64 --id3v2-only --id3v2-utf16 --tt "$3" --ta "$4" "$work/$1.wav" "$work/$1.mp3"
}
song first 440 "最初の曲" "テスト"
song second 660 "二番目の曲" "テスト"

export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

start() {
  "$tunewell" "$@" >"$work/tunewell.log" 2>&1 &
  app=$!
  pids+=("$app")
}

running() { kill -0 "$app" 2>/dev/null; }

# Waits for the program to end by itself; fails when it does not, or ends with an error.
expect_exit() {
  for _ in $(seq 100); do
    if ! running; then
      wait "$app" || fail "tunewell exited with status $? ($(cat "$work/tunewell.log"))"
      return 0
    fi
    sleep 0.1
  done
  fail "$1: tunewell is still running"
}

wait_for() {
  local what=$1
  shift
  for _ in $(seq 100); do
    "$@" && return 0
    running || fail "$what: tunewell ended ($(cat "$work/tunewell.log"))"
    sleep 0.1
  done
  fail "$what"
}

# Visible windows of the program, as "id x y width height".
windows() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    echo "$id $X $Y $WIDTH $HEIGHT"
  done
}

named() { xdotool search --onlyvisible --pid "$app" --name "^$1\$" 2>/dev/null | head -n 1; }

# The pop-up menu: the program's override-redirect window.
menu_window() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Override Redirect State: yes' && echo "$id" && return 0
  done
  return 1
}

shot() {
  local id=$1 name=$2
  import -window root "$work/root.png"
  eval "$(xdotool getwindowgeometry --shell "$id")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/$name-$suffix.png"
}

# The open menu must look like the expected menu drawn by the reference program.
check_menu_items() {
  local id=$1
  "$reference" "$work/expected-menu.png" || fail "reference menu"
  shot "$id" menu
  local differing
  differing=$(compare -metric AE "$shots/menu-$suffix.png" "$work/expected-menu.png" null: 2>&1 |
    cut -d' ' -f1) || true
  [ "${differing:-x}" = 0 ] ||
    fail "the open menu differs from the expected items in $differing pixels"
}

open_menu_at() {
  xdotool mousemove "$1" "$2" click 3
  wait_for "the menu opens" menu_window >/dev/null
  local id
  id=$(menu_window)
  # Away from the items, so that none is highlighted.
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + WIDTH + 40)) $((Y + HEIGHT + 40))
  sleep 0.3
  echo "$id"
}

choose() {
  xdotool key "$1"
  sleep 0.5
}

# 1. Before any drop: the window waits; closing it ends the program.
start
wait_for "the main window shows" named Tunewell >/dev/null
sleep 0.5
main=$(named Tunewell)
shot "$main" main-window
xdotool windowclose "$main" 2>/dev/null || xdotool key --window "$main" alt+F4
expect_exit "closing the main window"

# 2. Two songs on the command line.
start "$work/first.mp3" "$work/second.mp3"
if [ "$tray" = 1 ]; then
  icon_shown() {
    [ -z "$(named Tunewell)" ] && windows | awk '$4 <= 64 && $5 <= 64 { found = 1 } END { exit !found }'
  }
  wait_for "the window hides and the icon appears" icon_shown
  read -r _ ix iy iw ih < <(windows | awk '$4 <= 64 && $5 <= 64' | head -n 1)
  menu=$(open_menu_at $((ix + iw / 2)) $((iy + ih / 2)))
  check_menu_items "$menu"
  choose n  # この曲はパス(&N): the second song plays
  running || fail "skipping the first of two songs ended the program"
  sleep 1
  running || fail "the second song did not play"
  open_menu_at $((ix + iw / 2)) $((iy + ih / 2)) >/dev/null
  choose x  # 終了(&X)
  expect_exit "exit item"

  # Skipping the last song ends the program.
  start "$work/first.mp3" "$work/second.mp3"
  wait_for "the icon appears again" icon_shown
  read -r _ ix iy iw ih < <(windows | awk '$4 <= 64 && $5 <= 64' | head -n 1)
  open_menu_at $((ix + iw / 2)) $((iy + ih / 2)) >/dev/null
  choose n
  sleep 1
  open_menu_at $((ix + iw / 2)) $((iy + ih / 2)) >/dev/null
  choose n
  expect_exit "skipping the last song"
else
  # The error box and the main window, both captioned "Tunewell".
  two_windows() { [ "$(xdotool search --onlyvisible --pid "$app" --name '^Tunewell$' | wc -l)" -ge 2 ]; }
  wait_for "the error box shows beside the main window" two_windows
  sleep 0.5
  for id in $(xdotool search --onlyvisible --pid "$app" --name '^Tunewell$'); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [ "$WIDTH" = 247 ] && [ "$HEIGHT" = 128 ] && main=$id || box=$id
  done
  shot "$box" error-box
  xdotool windowactivate --sync "$box" key Return 2>/dev/null || xdotool key Return
  wait_for "the error box closes" bash -c "! xdotool search --onlyvisible --pid $app --name '^Tunewell\$' | grep -qv '^$main\$'"
  running || fail "the program ended without a notification area"
  eval "$(xdotool getwindowgeometry --shell "$main")"
  menu=$(open_menu_at $((X + WIDTH / 2)) $((Y + HEIGHT / 2)))
  check_menu_items "$menu"
  choose x
  expect_exit "exit item of the window's menu"
fi
echo "screenshots in $shots"
