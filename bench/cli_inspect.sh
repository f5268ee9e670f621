#!/usr/bin/env bash
# `velmora inspect` over 1,500 tagged MP3s (300 files, 5 copies each) with a warm fingerprint
# cache, against TagLib reading the same tags and audio properties in one process
# (taglib_read_files), in the same run: best of three, taking turns. Also the system calls per file
# of the inspect run that touch the file system and the database (strace -c -f).
# Usage: bench/cli_inspect.sh VELMORA_BINARY [DATA_FOLDER]
set -euo pipefail
velmora=${1:?path of the velmora binary}
data=${2:-${TMPDIR:-/tmp}/velmora-bench-cli-inspect}
taglib=${VELMORA_TAGLIB_READER:-$(dirname "$velmora")/../bench/taglib_read_files}
originals=300
copies=5

mkdir -p "$data/made"
if [ ! -f "$data/made/track$originals.mp3" ]; then
  for seconds in 3 5; do
    ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:duration=$seconds" "$data/body$seconds.wav"
  done
  for i in $(seq 1 $originals); do
    lame --quiet -b $((i % 2 ? 128 : 192)) --add-id3v2 --tt "Title number $i" --ta "Artist $((i % 37))" \
      --tl "Album $((i % 23))" --ty $((1970 + i % 50)) --tn $((i % 20 + 1)) --tg Rock \
      "$data/body$((i % 2 ? 3 : 5)).wav" "$data/made/track$i.mp3"
  done
fi
for c in $(seq 1 $copies); do
  [ -f "$data/copy$c/track$originals.mp3" ] || { mkdir -p "$data/copy$c" && cp "$data"/made/*.mp3 "$data/copy$c/"; }
done
list=("$data"/copy*/*.mp3)
echo "load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"

export XDG_CACHE_HOME="$data/cache" XDG_CONFIG_HOME="$data/config"
rm -rf "$XDG_CACHE_HOME"
"$velmora" inspect "${list[@]}" >/dev/null 2>&1 # fills the fingerprint cache
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }
best_v=999999 best_t=999999
for _ in 1 2 3; do
  best_v=$(min "$best_v" "$(seconds "$velmora" inspect "${list[@]}")")
  best_t=$(min "$best_t" "$(seconds "$taglib" "${list[@]}")")
done
n=${#list[@]}
printf 'RESULT cli_inspect_velmora %.0f files/s\n' "$(echo "$n / $best_v" | bc -l)"
printf 'RESULT cli_inspect_taglib %.0f files/s\n' "$(echo "$n / $best_t" | bc -l)"
printf 'RESULT cli_inspect_ratio %.2f x\n' "$(echo "$best_t / $best_v" | bc -l)"

strace -f -c -o "$data/strace.txt" "$velmora" inspect "${list[@]}" >/dev/null 2>&1
per_file() { awk -v n="$n" -v pattern="$1" '$NF ~ pattern { c += $4 } END { printf "%.2f", c / n }' "$data/strace.txt"; }
echo "RESULT cli_inspect_stat_per_file $(per_file '^(newfstatat|fstat|stat|lstat|statx)$') calls"
echo "RESULT cli_inspect_fcntl_per_file $(per_file '^fcntl$') calls"
echo "RESULT cli_inspect_pread_per_file $(per_file '^pread64$') calls"
