#!/usr/bin/env bash
# Transfers over an emulated slow link (velmora-link in front of velmora-locker: 50 ms round trip,
# 20 Mbit/s up, 100 Mbit/s down, one round trip per new connection), 60 files of 256 KiB:
#  - content upload of new files: seconds, against the link's limit (bytes / upstream rate);
#  - metadata-only upload (the service holds the content, another account sends the same files,
#    so every duplicate check answers 204): milliseconds per file, for the whole command and beyond
#    the same command run again with nothing left to send;
#  - connections the link accepted per file, for both uploads and the restore;
#  - restore of the 60 files: seconds, against the downstream limit.
# And the speed limit on loopback (velmora-locker directly): `upload --limit-rate 1M` of 19 MiB in
# 4 files (target 17-23 s), `restore --all --limit-rate 50K` of 2 files of 1 MB (target within 15 %
# of 50 KiB/s).
# Each figure is the median of VELMORA_BENCH_RUNS runs (default 5); the speed-limit rows, each
# 20-40 s long, of VELMORA_BENCH_LIMIT_RUNS (default 3; 0 leaves them out).
# Usage: bench/link_transfers.sh VELMORA_BINARY [VELMORA_LOCKER_BINARY [VELMORA_LINK_BINARY]]
#        (the locker and the link default to $VELMORA_LOCKER and $VELMORA_LINK, as scripts/bench sets them)
# Environment: VELMORA_BENCH_TRANSFERS=N passes --transfers N to every transferring command (unset:
#              the option is not given at all).
set -euo pipefail
velmora=${1:?path of the velmora binary}
locker=${2:-${VELMORA_LOCKER:?path of the velmora-locker binary}}
link=${3:-${VELMORA_LINK:?path of the velmora-link binary}}
runs=${VELMORA_BENCH_RUNS:-5}
limit_runs=${VELMORA_BENCH_LIMIT_RUNS:-3}
files=60 file_bytes=$((256 * 1024))
up_rate=2500000 down_rate=12500000 # 20 and 100 Mbit/s in bytes per second
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-bench-link.XXXXXX")
locker_pid= link_pid=
cleanup() {
  [ -n "$link_pid" ] && kill "$link_pid" 2>/dev/null || true
  [ -n "$locker_pid" ] && kill "$locker_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

transfers=()
[ -n "${VELMORA_BENCH_TRANSFERS:-}" ] && transfers=(--transfers "$VELMORA_BENCH_TRANSFERS")
echo "load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores; transfers: ${VELMORA_BENCH_TRANSFERS:-not given}"

users=(--user limitup:pw --user limitdown:pw)
for i in $(seq "$runs"); do users+=(--user "content$i:pw" --user "meta$i:pw"); done
"$locker" --host 127.0.0.1 --port 0 --data "$work/locker" "${users[@]}" >"$work/locker.log" 2>&1 &
locker_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$work/locker.log" && break; sleep 0.1; done
locker_address=$(sed -n 's/.*listening on http:\/\///p' "$work/locker.log" | head -1)
"$link" --to "$locker_address" --rtt 50 --up "$up_rate" --down "$down_rate" --count-file "$work/count" \
  >"$work/link.log" 2>&1 &
link_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$work/link.log" && break; sleep 0.1; done
link_address=$(sed -n 's/.*listening on //p' "$work/link.log" | head -1)

export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" VELMORA_PASSWORD=pw DBUS_SESSION_BUS_ADDRESS=
# ADDRESS USER COMMAND ARGS... -> wall-clock seconds; a failed command fails the benchmark
timed() {
  local address=$1 user=$2 command=$3 start end
  shift 3
  start=$(date +%s.%N)
  "$velmora" --stage "$address" --user "$user" "$command" "${transfers[@]}" "$@" >>"$work/velmora.log" 2>&1 || {
    tail -n 20 "$work/velmora.log" >&2
    exit 1
  }
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
connections() { cat "$work/count"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
make_files() { # FOLDER COUNT BYTES
  mkdir -p "$1"
  for j in $(seq -w 1 "$2"); do head -c "$3" /dev/urandom >"$1/track$j.mp3"; done
}

# --- Over the emulated link ----------------------------------------------------------------
content_s=() content_conn=() meta_s=() meta_conn=() meta_per_file_ms=() restore_s=() restore_conn=()
for i in $(seq "$runs"); do
  make_files "$work/music$i" "$files" "$file_bytes"
  before=$(connections)
  content_s+=("$(timed "$link_address" "content$i" upload "$work/music$i")")
  content_conn+=("$(echo "($(connections) - $before) / $files" | bc -l)")
done
for i in $(seq "$runs"); do
  before=$(connections)
  meta_s+=("$(timed "$link_address" "meta$i" upload "$work/music1")")
  meta_conn+=("$(echo "($(connections) - $before) / $files" | bc -l)")
  # The same command again has nothing to send: what is left is what every run pays once (start,
  # login, playlists, analysis, duplicate check), so the difference is what the files cost.
  nothing_s=$(timed "$link_address" "meta$i" upload "$work/music1")
  meta_per_file_ms+=("$(echo "1000 * (${meta_s[-1]} - $nothing_s) / $files" | bc -l)")
done
for i in $(seq "$runs"); do
  before=$(connections)
  mkdir -p "$work/restored$i"
  restore_s+=("$(timed "$link_address" content1 restore --target "$work/restored$i" --all)")
  restore_conn+=("$(echo "($(connections) - $before) / $files" | bc -l)")
  [ "$(find "$work/restored$i" -type f | wc -l)" -eq "$files" ] || { echo "restore $i is missing files" >&2; exit 1; }
done
bytes=$((files * file_bytes))
up_limit=$(echo "$bytes / $up_rate" | bc -l)
down_limit=$(echo "$bytes / $down_rate" | bc -l)
printf 'RESULT link_content_upload_s %.2f s\n' "$(printf '%s\n' "${content_s[@]}" | median)"
printf 'RESULT link_content_upload_limit_s %.2f s\n' "$up_limit"
printf 'RESULT link_content_upload_connections_per_file %.2f\n' "$(printf '%s\n' "${content_conn[@]}" | median)"
printf 'RESULT link_metadata_upload_ms_per_file %.1f ms\n' \
  "$(printf '%s\n' "${meta_s[@]}" | median | awk -v n="$files" '{ print 1000 * $1 / n }')"
printf 'RESULT link_metadata_upload_ms_per_file_beyond_a_run_with_nothing_to_send %.1f ms\n' \
  "$(printf '%s\n' "${meta_per_file_ms[@]}" | median)"
printf 'RESULT link_metadata_upload_connections_per_file %.2f\n' "$(printf '%s\n' "${meta_conn[@]}" | median)"
printf 'RESULT link_restore_s %.2f s\n' "$(printf '%s\n' "${restore_s[@]}" | median)"
printf 'RESULT link_restore_limit_s %.2f s\n' "$down_limit"
printf 'RESULT link_restore_connections_per_file %.2f\n' "$(printf '%s\n' "${restore_conn[@]}" | median)"
echo "runs (s): content ${content_s[*]}; metadata-only ${meta_s[*]}; restore ${restore_s[*]}"
echo "metadata-only ms per file beyond a run with nothing to send: ${meta_per_file_ms[*]}"

# --- The speed limit, on loopback -----------------------------------------------------------
[ "$limit_runs" -gt 0 ] || exit 0
# Two accounts, so the restore moves only its own 2 MB.
upload_s=() restore_rate=()
make_files "$work/limit-restore" 2 1000000
timed "$locker_address" limitdown upload "$work/limit-restore" >/dev/null
for i in $(seq "$limit_runs"); do
  make_files "$work/limit-up$i" 4 $((19 * 1024 * 1024 / 4))
  upload_s+=("$(timed "$locker_address" limitup upload --limit-rate 1M "$work/limit-up$i")")
  mkdir -p "$work/limit-restored$i"
  seconds=$(timed "$locker_address" limitdown restore --limit-rate 50K --target "$work/limit-restored$i" --all)
  [ "$(find "$work/limit-restored$i" -type f | wc -l)" -eq 2 ] || { echo "limited restore $i is missing files" >&2; exit 1; }
  restore_rate+=("$(echo "2000000 / 1024 / $seconds" | bc -l)")
done
printf 'RESULT limit_upload_1m_19mib_s %.1f s\n' "$(printf '%s\n' "${upload_s[@]}" | median)"
printf 'RESULT limit_restore_50k_kib_per_s %.1f KiB/s\n' "$(printf '%s\n' "${restore_rate[@]}" | median)"
echo "runs: upload --limit-rate 1M (s) ${upload_s[*]}; restore --limit-rate 50K (KiB/s) ${restore_rate[*]}"
