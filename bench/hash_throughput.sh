#!/usr/bin/env bash
# Hashing throughput of `velmora hash` (empty cache, so every file is read) against
# `openssl dgst -sha1` over the same 1 GB of files with a warm page cache, side by side.
# Usage: bench/hash_throughput.sh VELMORA_BINARY [DATA_FOLDER]
set -euo pipefail
velmora=${1:?path of the velmora binary}
data=${2:-${TMPDIR:-/tmp}/velmora-bench-hash}
files=50
size_mb=20

mkdir -p "$data/files"
for i in $(seq 1 $files); do
  f="$data/files/track$i.mp3"
  [ -f "$f" ] || head -c $((size_mb * 1024 * 1024)) /dev/urandom > "$f"
done
list=("$data"/files/*.mp3)
cat "${list[@]}" > /dev/null # warm the page cache

now() { date +%s.%N; }
best_of_three() {
  local best=999999
  for _ in 1 2 3; do
    local start end
    start=$(now)
    "$@" > /dev/null
    end=$(now)
    best=$(echo "if ($end - $start < $best) $end - $start else $best" | bc -l)
  done
  echo "$best"
}
fresh_velmora() {
  rm -rf "$data/cache"
  XDG_CACHE_HOME="$data/cache" XDG_CONFIG_HOME="$data/config" "$velmora" hash "${list[@]}" 2>/dev/null
}

total_mb=$((files * size_mb))
openssl_s=$(best_of_three openssl dgst -sha1 "${list[@]}")
velmora_s=$(best_of_three fresh_velmora)
openssl_rate=$(echo "$total_mb / $openssl_s" | bc -l)
velmora_rate=$(echo "$total_mb / $velmora_s" | bc -l)
printf '%-34s %10s %10s %8s\n' "SHA-1 hashing, ${total_mb} MiB warm" "velmora" "openssl" "ratio"
printf '%-34s %8.0f/s %8.0f/s %7.0f%%\n' "MiB per second" "$velmora_rate" "$openssl_rate" \
  "$(echo "100 * $velmora_rate / $openssl_rate" | bc -l)"
