#!/usr/bin/env bash
# The tray program from the outside, on an X display of its own (scripts/run-on-xvfb): tunewell
# is started with two short songs, and xdotool works it as a person would.
#   with a tray host (TW_TRAY_HOST=1): the window hides and the icon appears; a right click opens
#     the menu, which must look like a menu of the expected Japanese items; one skip keeps the
#     program going; "終了(&X)" ends it. In a second run a second `tunewell SONG` hands its song
#     over, replacing the queue, and skipping that last song ends the program.
#   without one: the icon cannot be registered; the error box shows, the window stays while the
#     song plays and offers the tray menu itself; "終了(&X)" ends it.
#   with a StatusNotifierItem host (TW_TRAY_HOST=sni, on a session bus of its own): the window
#     hides, the item registers with the watcher (TW_SNI_WATCHER) and exports the tray menu, which
#     the host (TW_SNI_HOST) reads and works: the program never opens a menu of its own, the pause
#     mark and the tag items follow the player, "終了(&X)" ends it.
#   either way: the waiting window before any drop; SIGTERM closes it and ends the program.
# Screenshots go to SHOT_DIR, for a person to look at.
# usage: tray_end_to_end.sh TUNEWELL MENU_REFERENCE SHOT_DIR
set -euo pipefail

tray=${TW_TRAY_HOST:-0}
if [ "$tray" = sni ] && [ -z "${TW_SNI_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is missing"; exit 77; }
  exec dbus-run-session -- env TW_SNI_BUS=1 "$0" "$@"
fi

tunewell=$1
reference=$2
shots=$3
mkdir -p "$shots"
for tool in xdotool xwininfo import compare sox lame; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
case $tray in
  1) suffix=tray ;;
  sni) suffix=sni ;;
  *) suffix=no-tray ;;
esac
for name in main-window menu tag-menu error-box failure; do rm -f "$shots/$name-$suffix.png"; done

# shellcheck source=tests/app/script_support.sh
source "$(dirname "$0")/script_support.sh"
before_failing() {
  import -window root "$shots/failure-$suffix.png" 2>/dev/null || true
  [ ! -s "$work/tunewell.log" ] || sed 's/^/tunewell: /' "$work/tunewell.log" >&2
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
if [ "$tray" = 1 ]; then
  # The tray host must be up before the program looks for a notification area.
  for _ in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q '"panel"' && break; sleep 0.1; done
  xwininfo -root -tree | grep -q '"panel"' || fail "the tray host did not start"
fi
if [ "$tray" = sni ]; then
  "$TW_SNI_WATCHER" >"$work/watcher.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q ready "$work/watcher.out" && break; sleep 0.1; done
  grep -q ready "$work/watcher.out" || fail "the watcher did not start: $(cat "$work/watcher.out")"
fi
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

start() {
  "$tunewell" "$@" >"$work/tunewell.log" 2>&1 &
  app=$!
  pids+=("$app")
}

# Waits for the program to end by itself; fails when it does not, or ends with an error.
expect_exit() {
  for _ in $(seq 100); do
    if ! running; then
      wait "$app" || fail "tunewell exited with status $? ($(cat "$work/tunewell.log"))"
      return 0
    fi
    sleep 0.1
  done
  fail "$1: tunewell is still running ($(grep ^State: "/proc/$app/status"))"
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

# Visible windows of the program, as "id x y width height override-redirect" (x, y absolute).
windows() {
  local id info
  for id in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
    info=$(xwininfo -id "$id" 2>/dev/null) || continue
    awk -v id="$id" '
      /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
      /Width:/ { w = $NF } /Height:/ { h = $NF } /Override Redirect State/ { o = $NF }
      END { print id, x, y, w, h, o }' <<<"$info"
  done
}

# The main window is the one of its size; the icon is small; the menu is a large pop-up.
main_window() { windows | awk '$4 == 247 && $5 == 128 { print $1; exit }'; }
icon_window() { windows | awk '$4 <= 64 && $5 <= 64 { print; found = 1; exit } END { exit !found }'; }
menu_window() {
  windows | awk '$6 == "yes" && $5 > 64 { print $1; found = 1; exit } END { exit !found }'
}

geometry() { windows | awk -v id="$1" '$1 == id { print $2, $3, $4, $5 }'; }
# Sets x, y, w and h to the window's place and size.
place() { read -r x y w h < <(geometry "$1") || fail "the window $1 has gone"; }

shot() {
  local id=$1 name=$2 x y w h
  place "$id"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$name-$suffix.png"
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
  local id x y w h
  id=$(menu_window)
  # Away from the items, so that none is highlighted.
  place "$id"
  xdotool mousemove $((x + w + 40)) $((y + h + 40))
  sleep 0.3
  echo "$id"
}

choose() {
  xdotool key "$1"
  sleep 0.5
}

# 1. Before any drop: the window waits.
start
wait_for "the main window shows" main_window >/dev/null
sleep 0.5
main=$(main_window)
shot "$main" main-window
# A session that ends asks with SIGTERM: the program closes its main window and ends as usual.
kill -TERM "$app"
expect_exit "SIGTERM"

# 2. Two songs on the command line.
start "$work/first.mp3" "$work/second.mp3"
if [ "$tray" = sni ]; then
  host() { "$TW_SNI_HOST" "$@"; }
  registered() { [ -z "$(main_window)" ] && host registered; }
  wait_for "the window hides and the item registers" registered
  tip=$(host tooltip)
  [ "$tip" = "最初の曲/テスト" ] || fail "the item's tip is '$tip'"
  # The menu as the host shows it: access keys in its own notation, hidden items hidden.
  expected_menu() {
    cat <<EOF
終了(_X)
一時停止/解除(_P) [$1]
この曲はパス(_N)
イコライザー(_E) [hidden]
極性反転(_I) [unchecked]
タグ情報
  $2
  テスト
  
  
  
  
デバッグ(_D) [hidden]
  現在のListを表示(_L)
EOF
  }
  menu_is() { [ "$(host menu)" = "$(expected_menu "$@")" ]; }
  menu_is unchecked "最初の曲" ||
    fail "the exported menu differs: $(host menu | diff - <(expected_menu unchecked "最初の曲"))"
  # Asked for a context menu by a host that shows the menu itself, the program opens none.
  host context 400 10
  sleep 1
  ! menu_window >/dev/null || fail "the program opened a menu of its own"
  host click "一時停止/解除(_P)"
  wait_for "the pause mark in the host's menu" menu_is checked "最初の曲"
  host click "一時停止/解除(_P)"
  wait_for "the pause mark cleared" menu_is unchecked "最初の曲"
  host click "この曲はパス(_N)"
  wait_for "the second song's tags in the host's menu" menu_is unchecked "二番目の曲"
  [ "$(host tooltip)" = "二番目の曲/テスト" ] || fail "the tip after the skip: $(host tooltip)"
  host click "終了(_X)"
  expect_exit "exit item of the host's menu"
elif [ "$tray" = 1 ]; then
  icon_shown() { [ -z "$(main_window)" ] && icon_window >/dev/null; }
  wait_for "the window hides and the icon appears" icon_shown
  read -r _ ix iy iw ih _ < <(icon_window) || fail "the icon has gone"
  menu=$(open_menu_at $((ix + iw / 2)) $((iy + ih / 2)))
  check_menu_items "$menu"
  choose n  # この曲はパス(&N): the second song plays
  running || fail "skipping the first of two songs ended the program"
  sleep 1
  running || fail "the second song did not play"
  # The tag items of the second song, for the screenshot.
  menu=$(open_menu_at $((ix + iw / 2)) $((iy + ih / 2)))
  place "$menu"
  xdotool mousemove $((x + w / 2)) $((y + h - 12))
  tag_menu() { windows | awk -v m="$menu" '$6 == "yes" && $5 > 64 && $1 != m { print $1; f = 1; exit } END { exit !f }'; }
  wait_for "the tag sub-menu opens" tag_menu >/dev/null
  sleep 0.3
  shot "$(tag_menu)" tag-menu
  choose Escape
  choose Escape
  open_menu_at $((ix + iw / 2)) $((iy + ih / 2)) >/dev/null
  choose x  # 終了(&X)
  expect_exit "exit item"

  # A second start hands its song over as a drop, which replaces the queue: then one skip is a
  # skip of the last song, and that ends the program.
  start "$work/first.mp3" "$work/second.mp3"
  wait_for "the icon appears again" icon_shown
  timeout 20 "$tunewell" "$work/second.mp3" >"$work/second-start.log" 2>&1 ||
    fail "the second start did not hand over ($(cat "$work/second-start.log"))"
  running || fail "the hand-over ended the running program"
  [ "$(windows | awk '$4 <= 64 && $5 <= 64' | wc -l)" = 1 ] || fail "a second icon"
  read -r _ ix iy iw ih _ < <(icon_window) || fail "the icon has gone"
  open_menu_at $((ix + iw / 2)) $((iy + ih / 2)) >/dev/null
  choose n
  expect_exit "skipping the last song"
else
  # The error box beside the main window, which stays while the song plays.
  error_box() { windows | awk '$6 == "no" && !($4 == 247 && $5 == 128) { print $1; found = 1; exit } END { exit !found }'; }
  wait_for "the error box shows" error_box >/dev/null
  main=$(main_window)
  [ -n "$main" ] || fail "the main window hid without a notification area"
  sleep 0.5
  box=$(error_box)
  shot "$box" error-box
  # Its OK button, at the lower right.
  place "$box"
  xdotool mousemove $((x + w - 50)) $((y + h - 22)) click 1
  box_closed() { ! error_box >/dev/null; }
  wait_for "the error box closes" box_closed
  running || fail "the program ended without a notification area"
  place "$main"
  menu=$(open_menu_at $((x + w / 2)) $((y + h / 2)))
  check_menu_items "$menu"
  choose x
  expect_exit "exit item of the window's menu"
fi
echo "screenshots in $shots"
