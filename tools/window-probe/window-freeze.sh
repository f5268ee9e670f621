#!/usr/bin/env bash
# The window with a big library, under Xvfb: tests/gui's WindowFreezeDrive drops FILES files,
# analyses and uploads them, stops, resumes and exits, while tools/window-probe asks the window
# for a reply every 100 ms. Prints the longest reply of each step (target: <= 250 ms) and how
# long exit took from the click until the window was closed (target: <= 1 s).
# Usage: tools/window-probe/window-freeze.sh BUILD_DIR [FILES] [END]   (BUILD_DIR holds test_gui and
#        window-probe, e.g. build/test; FILES defaults to 20000; END "logout": stop again, analyse
#        the same files once more with every fingerprint cached, stop and log out instead of exiting)
# VELMORA_DRIVE_KEEP=DIR keeps the music and the work folder (with its fingerprint cache) in DIR
# for the next run, which then skips writing the files and hashing them.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:?build folder with tests/gui/test_gui and tools/window-probe/window-probe}
files=${2:-20000}
end=${3:-exit}
out=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-freeze.XXXXXX")
# VELMORA_FREEZE_LOGS=DIR keeps both logs, also of a failed run (the drive's STATUS lines tell
# what a slow reply fell in).
keep_logs() {
  if [ -n "${VELMORA_FREEZE_LOGS:-}" ]; then mkdir -p "$VELMORA_FREEZE_LOGS" && cp "$out"/*.log "$VELMORA_FREEZE_LOGS"/; fi
  rm -rf "$out"
}
trap keep_logs EXIT

# A cold analysis of 20,000 files on a loaded machine outlasts QtTest's five minutes per test
# function, after which QtTest aborts the drive.
export QTEST_FUNCTION_TIMEOUT=7200000
export VELMORA_DRIVE_FILES=$files VELMORA_DRIVE_END=$end QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS= QT_LOGGING_RULES='qt.qpa.*=false'
tests/gui/under-xvfb bash -c '
  "$1/tests/gui/test_gui" WindowFreezeDrive > "$2/drive.log" 2>&1 &
  drive=$!
  "$1/tools/window-probe/window-probe" --pid "$drive" --interval-ms 100 --log "$2/probe.log" > "$2/probe.out"
  wait "$drive"
' _ "$PWD/$build" "$out"

cat "$out/probe.out"
# Longest reply within each step: from its STEP line to the next one.
awk 'BEGIN { n = 0 }
  FNR == NR { if ($1 == "STEP") { name[n] = $2; at[n] = $3; n++ } next }
  { for (i = n - 1; i >= 0 && $1 < at[i]; i--) ; if (i >= 0 && $2 > worst[i]) worst[i] = $2 }
  END {
    for (i = 0; i < n; i++) {
      span = (i + 1 < n) ? at[i + 1] - at[i] : 0
      printf "%-9s %7.1f s  longest reply %6.0f ms\n", name[i], span, worst[i]
      if (name[i] == "exit" || name[i] == "logout") { end = name[i]; end_ms = 1000 * (at[i + 1] - at[i]) }
    }
    printf "RESULT window_%d_%s_ms %.0f\n", '"$files"', end, end_ms
  }' "$out/drive.log" "$out/probe.log"
max=$(awk '$2 > m { m = $2 } END { printf "%.0f", m }' "$out/probe.log")
echo "RESULT window_${files}_longest_reply_ms $max"
grep -q 'PASS   : .*bigLibrary' "$out/drive.log" || { tail -20 "$out/drive.log"; exit 1; }
