#!/usr/bin/env bash
# `velmora-uploader --tray` on a real X server with a system tray: the program starts, logs in
# with the stored account, and shows no window; started without --tray it shows the main window
# (so the search for it is known to work). Run through under-xvfb.
# Usage: tray_start_test.sh VELMORA-UPLOADER VELMORA VELMORA-LOCKER FAKE-SYSTRAY
set -euo pipefail
uploader=$1 velmora=$2 locker=$3 systray=$4
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache DBUS_SESSION_BUS_ADDRESS= QT_QPA_PLATFORM=xcb

"$systray" >"$work/systray.out" &
pids+=($!)
"$locker" --port 0 --user demo:demo >"$work/locker.out" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
  grep -q ready "$work/systray.out" && grep -q listening "$work/locker.out" && break
  sleep 0.1
done
host=$(sed -n 's|.*http://||p' "$work/locker.out")
[ -n "$host" ] || { echo "the locker did not start"; exit 1; }
VELMORA_PASSWORD=demo "$velmora" --stage "$host" --user demo login 2>/dev/null

logins() { curl -s "http://$host/_control/stats" | sed -n 's|.*target="user/checkaccess" requests="\([0-9]*\)".*|\1|p'; }
# Windows of the program that are mapped, by its title.
shown() { xdotool search --onlyvisible --name '^Velmora Uploader' 2>/dev/null | wc -l; }

"$uploader" --tray "/stage $host" >"$work/tray.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ "$(logins)" = 2 ] && break
  sleep 0.1
done
[ "$(logins)" = 2 ] || { echo "velmora-uploader --tray did not log in"; cat "$work/tray.log"; exit 1; }
sleep 1
[ "$(shown)" = 0 ] || { echo "velmora-uploader --tray shows a window:"; xdotool search --onlyvisible --name . getwindowname %@; exit 1; }

"$uploader" "/stage $host" >"$work/window.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ "$(shown)" -ge 1 ] && break
  sleep 0.1
done
[ "$(shown)" -ge 1 ] || { echo "without --tray no main window was found either: the check cannot see windows"; exit 1; }
echo "--tray started logged in with no window"
