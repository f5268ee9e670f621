#!/usr/bin/env bash
# `velmora hash` as a user runs it, against `openssl dgst -sha1` over the same files in the same run
# (page cache warm; every velmora run starts with an empty fingerprint cache, so it reads every
# byte and writes every row): 128 files of 4 MiB, and one file of 1 GiB; best of three, the two
# programs taking turns so both meet the same load. Also, for the 128 files: fdatasync calls (and
# fsync calls, the settings file's) per hashed file (strace -c -f) and the peak resident memory
# (/usr/bin/time -v).
# Usage: bench/cli_hash.sh VELMORA_BINARY [DATA_FOLDER]
set -euo pipefail
velmora=${1:?path of the velmora binary}
data=${2:-${TMPDIR:-/tmp}/velmora-bench-cli-hash}
files=128

mkdir -p "$data/small" "$data/big"
for i in $(seq 1 $files); do
  f="$data/small/track$i.mp3"
  [ -f "$f" ] || head -c $((4 << 20)) /dev/urandom >"$f"
done
big="$data/big/album.mp3"
[ -f "$big" ] || head -c $((1 << 30)) /dev/urandom >"$big"
small=("$data"/small/*.mp3)
cat "${small[@]}" "$big" >/dev/null # warm the page cache
echo "load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"

export XDG_CACHE_HOME="$data/cache" XDG_CONFIG_HOME="$data/config"
velmora_hash() { "$velmora" hash "$@" 2>/dev/null; }
seconds() { # COMMAND... -> wall-clock seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }
side_by_side() { # NAME FILE... -> RESULT lines: MiB/s of both and their ratio
  local name=$1 best_v=999999 best_o=999999 mib
  shift
  rm -rf "$XDG_CACHE_HOME"
  [ "$(velmora_hash "$@")" = "$(openssl dgst -sha1 -r "$@" | sed 's/ \*/  /')" ] || {
    echo "velmora hash and openssl disagree on $name" >&2
    exit 1
  }
  for _ in 1 2 3; do
    rm -rf "$XDG_CACHE_HOME"
    best_v=$(min "$best_v" "$(seconds velmora_hash "$@")")
    best_o=$(min "$best_o" "$(seconds openssl dgst -sha1 "$@")")
  done
  mib=$(du -cm --apparent-size "$@" | tail -n 1 | cut -f1)
  printf 'RESULT %s_velmora %.1f MiB/s\n' "$name" "$(echo "$mib / $best_v" | bc -l)"
  printf 'RESULT %s_openssl %.1f MiB/s\n' "$name" "$(echo "$mib / $best_o" | bc -l)"
  printf 'RESULT %s_ratio %.2f x\n' "$name" "$(echo "$best_o / $best_v" | bc -l)"
}

side_by_side cli_hash_128x4mib "${small[@]}"
side_by_side cli_hash_1gib "$big"

rm -rf "$XDG_CACHE_HOME"
strace -f -c -o "$data/strace.txt" "$velmora" hash "${small[@]}" >/dev/null 2>&1
count() { awk -v call="$1" '$NF == call { n += $4 } END { print n + 0 }' "$data/strace.txt"; }
printf 'RESULT cli_hash_fdatasync_per_file %.3f calls\n' "$(echo "$(count fdatasync) / $files" | bc -l)"
printf 'RESULT cli_hash_fsync_per_file %.3f calls\n' "$(echo "$(count fsync) / $files" | bc -l)"

rm -rf "$XDG_CACHE_HOME"
/usr/bin/time -v "$velmora" hash "${small[@]}" 2>"$data/time.txt" >/dev/null
kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$data/time.txt")
printf 'RESULT cli_hash_peak_rss %.1f MiB\n' "$(echo "$kib / 1024" | bc -l)"
