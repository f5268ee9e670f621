#!/usr/bin/env bash
# `velmora watch` over a tree of 10,000 folders against velmora-locker: how long a file copied into
# a deep folder takes to reach the locker (target: settle time + 2 s), the watcher's memory while
# idle (target: < 64 MiB resident) and its idle cost (target: no CPU time and no wake-ups between
# events).
# Usage: bench/watch_latency.sh VELMORA_BINARY [VELMORA_LOCKER_BINARY [SETTLE_SECONDS [IDLE_SECONDS]]]
#        (the locker defaults to $VELMORA_LOCKER, as scripts/bench sets it)
set -euo pipefail
velmora=${1:?path of the velmora binary}
locker=${2:-${VELMORA_LOCKER:?path of the velmora-locker binary}}
settle=${3:-2}
idle=${4:-20}
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-watch.XXXXXX")
locker_pid= watch_pid=
cleanup() {
  [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null || true
  [ -n "$locker_pid" ] && kill "$locker_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# 100 folders of 100 folders, one old file in each of the first hundred.
for a in $(seq -w 0 99); do
  mkdir -p "$work/music/a$a"
  (cd "$work/music/a$a" && mkdir b{00..99})
  head -c 20000 /dev/urandom > "$work/music/a$a/b00/old.mp3"
done
folders=$(find "$work/music" -type d | wc -l)
head -c $((4 * 1024 * 1024)) /dev/urandom > "$work/new.mp3"
hashid=$(sha1sum "$work/new.mp3" | cut -d' ' -f1)

"$locker" --host 127.0.0.1 --port 0 --user bench:pw > "$work/locker.log" 2>&1 &
locker_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$work/locker.log" && break; sleep 0.1; done
address=$(sed -n 's/.*listening on http:\/\///p' "$work/locker.log" | head -1)

export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" VELMORA_PASSWORD=pw
"$velmora" --stage "$address" --user bench watch --settle "$settle" "$work/music" > "$work/watch.log" 2>&1 &
watch_pid=$!
for _ in $(seq 600); do grep -q "Watching" "$work/watch.log" && break; sleep 0.1; done
grep -q "Watching" "$work/watch.log" || { cat "$work/watch.log"; exit 1; }
sleep 1

cpu_ticks() { awk '{print $14 + $15}' "/proc/$watch_pid/stat"; }
switches() { awk '/^(non)?voluntary_ctxt_switches/ {n += $2} END {print n}' "/proc/$watch_pid/status"; }
ticks0=$(cpu_ticks) switches0=$(switches)
sleep "$idle"
ticks1=$(cpu_ticks) switches1=$(switches)
rss_kib=$(awk '/^VmRSS/ {print $2}' "/proc/$watch_pid/status")

start=$(date +%s.%N)
cp "$work/new.mp3" "$work/music/a57/b42/new.mp3"
until curl -s "http://$address/_control/objects" | grep -q "$hashid"; do
  sleep 0.05
  if [ "$(echo "$(date +%s.%N) - $start > 60" | bc -l)" = 1 ]; then echo "not uploaded within 60 s"; exit 1; fi
done
latency=$(echo "$(date +%s.%N) - $start" | bc -l)
kill -TERM "$watch_pid"
wait "$watch_pid" && status=0 || status=$?
watch_pid=

printf 'folders watched:            %d\n' "$folders"
printf 'copy to stored on locker:   %.2f s (settle %s s; target <= %s s)\n' "$latency" "$settle" "$((settle + 2))"
printf 'resident memory, idle:      %.1f MiB (target < 64 MiB)\n' "$(echo "$rss_kib / 1024" | bc -l)"
printf 'idle %s s: CPU ticks %d, context switches %d (target 0 and 0)\n' "$idle" \
  $((ticks1 - ticks0)) $((switches1 - switches0))
printf 'exit code after SIGTERM:    %d\n' "$status"
