# Sourced by the program's end-to-end scripts: a work folder and background processes (pids) that
# go when the script ends, failing with a message (after the script's own before_failing, where it
# defines one), and whether the program started last ($app) still runs.

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if declare -F before_failing >/dev/null; then before_failing; fi
  exit 1
}

# A program that has ended but is not yet waited for is a zombie: not running.
running() { [ -r "/proc/$app/status" ] && ! grep -q '^State:.*zombie' "/proc/$app/status"; }
