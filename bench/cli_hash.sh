#!/usr/bin/env bash
# `velmora hash` as a user runs it, against `openssl dgst -sha1` over the same files in the same run
# (page cache warm; every velmora run starts with an empty fingerprint cache, so it reads every
# byte and writes every row): 128 files of 4 MiB, and one file of 1 GiB. Five runs of each program,
# taking turns so both meet the same load; the median, the spread (slowest-fastest) and the
# median CPU time (user + sys) per MiB. For the 128 files also two openssl processes over the two
# halves at once (what the cores allow), the threads a run creates (clone/clone3 under strace -f,
# for 128 files and for 8), fdatasync calls (and fsync calls, the settings file's) per hashed file
# and the peak resident memory (/usr/bin/time -v).
# Usage: bench/cli_hash.sh VELMORA_BINARY [DATA_FOLDER]
# Environment: VELMORA_HASH_RUNS  runs of each program (default 5)
set -euo pipefail
velmora=${1:?path of the velmora binary}
data=${2:-${TMPDIR:-/tmp}/velmora-bench-cli-hash}
files=128
runs=${VELMORA_HASH_RUNS:-5}

mkdir -p "$data/small" "$data/big"
for i in $(seq 1 $files); do
  f="$data/small/track$i.mp3"
  [ -f "$f" ] || head -c $((4 << 20)) /dev/urandom >"$f"
done
big="$data/big/album.mp3"
[ -f "$big" ] || head -c $((1 << 30)) /dev/urandom >"$big"
small=("$data"/small/*.mp3)
cat "${small[@]}" "$big" >/dev/null # warm the page cache
echo "machine: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores"
echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"

export XDG_CACHE_HOME="$data/cache" XDG_CONFIG_HOME="$data/config"
velmora_hash() { rm -rf "$XDG_CACHE_HOME" && measure "$velmora" hash "$@"; }
openssl_hash() { measure openssl dgst -sha1 "$@"; }
openssl_halves() { # the files split between two processes at once
  local half=$(($# / 2))
  # shellcheck disable=SC2016
  measure bash -c 'openssl dgst -sha1 "${@:1:$0}" >/dev/null & openssl dgst -sha1 "${@:$0+1}" >/dev/null; wait' "$half" "$@"
}
measure() { # COMMAND... -> "wall user+sys" seconds of the command and its children
  /usr/bin/time -o "$data/time1.txt" -f '%e %U %S' "$@" >/dev/null 2>&1
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$data/time1.txt"
}
stats() { # values... -> "median min max"
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%s %s %s\n", v[int((NR + 1) / 2)], v[1], v[NR] }'
}
side_by_side() { # NAME FILE... -> RESULT lines
  local name=$1 mib i v o h
  shift
  [ "$("$velmora" hash "$@" 2>/dev/null)" = "$(openssl dgst -sha1 -r "$@" | sed 's/ \*/  /')" ] || {
    echo "velmora hash and openssl disagree on $name" >&2
    exit 1
  }
  mib=$(du -cm --apparent-size "$@" | tail -n 1 | cut -f1)
  local vw=() vc=() ow=() oc=() hw=() ratios=()
  for i in $(seq 1 "$runs"); do
    # Alternate who goes first, so neither always meets the other's after-effects.
    if ((i % 2)); then
      v=$(velmora_hash "$@")
      o=$(openssl_hash "$@")
    else
      o=$(openssl_hash "$@")
      v=$(velmora_hash "$@")
    fi
    vw+=("${v% *}") vc+=("${v#* }") ow+=("${o% *}") oc+=("${o#* }")
    ratios+=("$(echo "${o% *} / ${v% *}" | bc -l)")
    if (($# > 1)); then
      h=$(openssl_halves "$@")
      hw+=("${h% *}")
    fi
  done
  read -r vmed vmin vmax <<<"$(stats "${vw[@]}")"
  read -r omed omin omax <<<"$(stats "${ow[@]}")"
  read -r _ rmin rmax <<<"$(stats "${ratios[@]}")"
  rate() { echo "$mib / $1" | bc -l; }
  printf 'RESULT %s_velmora %.1f MiB/s (spread %.1f-%.1f)\n' "$name" "$(rate "$vmed")" "$(rate "$vmax")" "$(rate "$vmin")"
  printf 'RESULT %s_openssl %.1f MiB/s (spread %.1f-%.1f)\n' "$name" "$(rate "$omed")" "$(rate "$omax")" "$(rate "$omin")"
  printf 'RESULT %s_ratio %.2f x (medians; run by run %.2f-%.2f)\n' "$name" "$(echo "$omed / $vmed" | bc -l)" "$rmin" "$rmax"
  if ((${#hw[@]})); then
    read -r hmed hmin hmax <<<"$(stats "${hw[@]}")"
    printf 'RESULT %s_openssl_two_processes %.1f MiB/s (spread %.1f-%.1f, %.2f x one openssl)\n' "$name" \
      "$(rate "$hmed")" "$(rate "$hmax")" "$(rate "$hmin")" "$(echo "$omed / $hmed" | bc -l)"
  fi
  read -r vcpu _ _ <<<"$(stats "${vc[@]}")"
  read -r ocpu _ _ <<<"$(stats "${oc[@]}")"
  printf 'RESULT %s_cpu_per_mib %.2f ms (openssl %.2f ms, %.2f x)\n' "$name" "$(echo "1000 * $vcpu / $mib" | bc -l)" \
    "$(echo "1000 * $ocpu / $mib" | bc -l)" "$(echo "$vcpu / $ocpu" | bc -l)"
  echo "load after $name: $(cut -d' ' -f1-3 /proc/loadavg)"
}

side_by_side cli_hash_128x4mib "${small[@]}"
side_by_side cli_hash_1gib "$big"

calls() { # FILE CALL... -> calls of those names counted by strace -c
  awk -v names=" ${*:2} " 'index(names, " " $NF " ") && $4 ~ /^[0-9]+$/ { n += $4 } END { print n + 0 }' "$1"
}
rm -rf "$XDG_CACHE_HOME"
strace -f -c -o "$data/strace.txt" "$velmora" hash "${small[@]}" >/dev/null 2>&1
rm -rf "$XDG_CACHE_HOME"
strace -f -c -o "$data/strace8.txt" "$velmora" hash "${small[@]:0:8}" >/dev/null 2>&1
printf 'RESULT cli_hash_threads_created %d (8 files: %d)\n' "$(calls "$data/strace.txt" clone clone3)" \
  "$(calls "$data/strace8.txt" clone clone3)"
printf 'RESULT cli_hash_futex_per_file %.2f calls\n' "$(echo "$(calls "$data/strace.txt" futex) / $files" | bc -l)"
printf 'RESULT cli_hash_fdatasync_per_file %.3f calls\n' "$(echo "$(calls "$data/strace.txt" fdatasync) / $files" | bc -l)"
printf 'RESULT cli_hash_fsync_per_file %.3f calls\n' "$(echo "$(calls "$data/strace.txt" fsync) / $files" | bc -l)"

rm -rf "$XDG_CACHE_HOME"
/usr/bin/time -v "$velmora" hash "${small[@]}" 2>"$data/time.txt" >/dev/null
kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$data/time.txt")
printf 'RESULT cli_hash_peak_rss %.1f MiB\n' "$(echo "$kib / 1024" | bc -l)"
