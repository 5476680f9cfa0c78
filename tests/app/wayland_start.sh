#!/usr/bin/env bash
# The tray program on a Wayland session without an X server (weston's headless backend): started
# without files it opens its waiting window there instead of aborting or taking the terminal, and
# SIGTERM ends it with status 0.
# usage: wayland_start.sh TUNEWELL
set -euo pipefail

tunewell=$1
command -v weston >/dev/null || { echo "SKIP: weston is missing"; exit 77; }

# shellcheck source=tests/app/script_support.sh
source "$(dirname "$0")/script_support.sh"

export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
weston --backend=headless-backend.so --socket=tw-wayland --idle-time=0 >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/tw-wayland" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/tw-wayland" ] || fail "weston did not start: $(cat "$work/weston.log")"

unset DISPLAY QT_QPA_PLATFORM
export WAYLAND_DISPLAY=tw-wayland
"$tunewell" >"$work/out" 2>&1 &
app=$!
pids+=("$app")
sleep 2
running || fail "tunewell ended instead of waiting for a drop: $(cat "$work/out")"
kill -TERM "$app"
status=0
wait "$app" || status=$?
[ "$status" = 0 ] || fail "SIGTERM ended tunewell with status $status: $(cat "$work/out")"
echo "tunewell waited on the Wayland display and ended on SIGTERM"
