#!/usr/bin/env bash
# `velmora upload` of many new small files against velmora-locker: the most files the work folder
# holds at any moment of the run (target: <= 50; each item's exchange files leave with it) and how
# long the program takes to exit after its summary line (target: <= 1 s).
# Usage: bench/upload_work_folder.sh VELMORA_BINARY [VELMORA_LOCKER_BINARY [FILES]]
#        (the locker defaults to $VELMORA_LOCKER, as scripts/bench sets it; FILES defaults to 5000)
set -euo pipefail
velmora=${1:?path of the velmora binary}
locker=${2:-${VELMORA_LOCKER:?path of the velmora-locker binary}}
count=${3:-5000}
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-workfolder.XXXXXX")
locker_pid= sampler_pid=
cleanup() {
  [ -n "$sampler_pid" ] && kill "$sampler_pid" 2>/dev/null || true
  [ -n "$locker_pid" ] && kill "$locker_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/music"
for i in $(seq "$count"); do printf 'ID3 generated file %d\n' "$i" > "$work/music/t$i.mp3"; done

"$locker" --host 127.0.0.1 --port 0 --data "$work/locker" --user bench:pw > "$work/locker.log" 2>&1 &
locker_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$work/locker.log" && break; sleep 0.1; done
address=$(sed -n 's/.*listening on http:\/\///p' "$work/locker.log" | head -1)

export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" VELMORA_PASSWORD=pw DBUS_SESSION_BUS_ADDRESS=
mkdir -p "$XDG_CACHE_HOME/VLUploader"
# Every 50 ms: the number of files below the work folder, the largest one kept.
(
  most=0
  while :; do
    n=$(find "$XDG_CACHE_HOME/VLUploader" -type f 2>/dev/null | wc -l)
    [ "$n" -gt "$most" ] && most=$n && echo "$most" > "$work/most"
    sleep 0.05
  done
) &
sampler_pid=$!

start=$EPOCHREALTIME
# Each line of the program's stderr with the moment it arrived; "__exit__" once the program ended.
( "$velmora" --stage "$address" --user bench upload "$work/music" 2>&1 >/dev/null; echo "__exit__ $?" ) |
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done > "$work/run.log"
kill "$sampler_pid" 2>/dev/null || true
wait "$sampler_pid" 2>/dev/null || true
sampler_pid=

summary_at=$(awk '$2 ~ /^[0-9]+$/ && $3 == "sent," { print $1; exit }' "$work/run.log")
exit_line=$(grep ' __exit__ ' "$work/run.log" | tail -1)
exit_at=${exit_line%% *}
status=${exit_line##* }
grep -E '^[0-9.]+ [0-9]+ sent,' "$work/run.log" | cut -d' ' -f2- || true
[ "$status" = 0 ] || { tail -5 "$work/run.log"; echo "velmora upload ended with $status"; exit 1; }
echo "files: $count, run: $(awk -v a="$start" -v b="$exit_at" 'BEGIN { printf "%.1f", b - a }') s"
echo "RESULT upload_${count}_work_folder_most_files $(cat "$work/most" 2>/dev/null || echo 0)"
echo "RESULT upload_${count}_exit_after_summary_ms $(awk -v a="$summary_at" -v b="$exit_at" 'BEGIN { printf "%.0f", 1000 * (b - a) }')"
