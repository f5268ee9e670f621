#!/usr/bin/env bash
# The user service of `velmora watch` installs beside the program, names it, and systemd-analyze
# verifies it (every key, the program it starts, its manual page). Needs no running systemd; skipped
# (77) where systemd-analyze is not installed.
# Usage: systemd_unit_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed (Debian package systemd)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/usr" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
unit=$work/usr/lib/systemd/user/velmora-watch.service
[ -f "$unit" ] || { echo "not installed: $unit"; exit 1; }
grep -qx "ExecStart=$work/usr/bin/velmora watch" "$unit" || { echo "ExecStart does not name the installed program:"; cat "$unit"; exit 1; }
# The user manager's checks want a runtime folder of their own, not a running manager.
mkdir -m 700 "$work/run"
out=$(XDG_RUNTIME_DIR=$work/run MANPATH=$work/usr/share/man systemd-analyze verify --user "$unit" 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "systemd-analyze verify said:"; echo "$out"; exit 1; }
echo "velmora-watch.service verifies"
