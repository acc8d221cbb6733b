#!/usr/bin/env bash
# palisor-update against the pipeline a site owner would otherwise write by hand
#   curl LIST | sed 's/^/deny from /' > FILE && curl -T FILE ftp://...
# on the same 1,000,000-line proxy list, served from 127.0.0.1, uploaded to an FTP server on
# 127.0.0.1. Prints the best of BENCH_RUNS wall-clock times of each, their ratio and
# palisor-update's peak memory. Given the window too, the same run in it under Xvfb against
# palisor-update's time.  Usage: bench/run.sh [PATH_TO_PALISOR_UPDATE [PATH_TO_PALISOR]]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
exe=$(realpath "${1:-$repo/build/src/palisor-update}")
lines=${BENCH_LINES:-1000000}
runs=${BENCH_RUNS:-3}
out=$repo/bench-out
SERVER_LOG=$out/servers.log
source "$repo/demo/local_servers.sh"

# The targets: palisor-update within 1.2 times the pipeline's time, peak memory under 3 times
# the list's size.
max_time_ratio=1.2
max_memory_ratio=3
# The window within 1.5 times palisor-update's time for the same run; MERGE within 1.5 times
# the pipeline.
max_window_ratio=1.5
max_merge_ratio=1.5
window_exe=${2:-}

rm -rf "$out"
mkdir -p "$out/lists" "$out/site" "$out/site-merged" "$out/pipeline" "$out/ftp/palisor" \
  "$out/ftp/pipeline" "$out/ftp/merged"

# Local data only: the 10.0.0.0/8 private range, one address a line.
awk -v n="$lines" 'BEGIN { for (i = 0; i < n; i++)
  printf "10.%d.%d.%d\n", int(i / 65536) % 256, int(i / 256) % 256, i % 256 }' \
  >"$out/lists/proxy.txt"
list_bytes=$(stat -c %s "$out/lists/proxy.txt")

start_http_server "$out/lists"
start_ftp_server bench bench-password "$out/ftp"
list_url=http://127.0.0.1:$HTTP_PORT/proxy.txt

cat >"$out/site/palisor.ini" <<INI
[FTP]
SVNAME=127.0.0.1:$FTP_PORT
SVUSER=bench
SVPSWD=bench-password
SVPATH=/palisor
SVFILE=.htaccess
FTPSW=-1
[URL]
URL1=$list_url
MODE1=-1
LISTMAX=$((lines * 2))
INI

{ sed 's|^SVPATH=.*|SVPATH=/merged|' "$out/site/palisor.ini"; printf '[EDIT]\nMERGE=1\n'; } \
  >"$out/site-merged/palisor.ini"

now_ns() { date +%s%N; }

# In the folder given, $out/site by default.
run_palisor() {
  if ! (cd "${1:-$out/site}" && /usr/bin/time -v -o "$out/time-v.txt" "$exe" >"$out/palisor-update.log"); then
    echo "bench: palisor-update failed:" >&2
    cat "$out/palisor-update.log" >&2
    exit 1
  fi
}

run_pipeline() {
  curl -sS --fail "$list_url" | sed 's/^/deny from /' >"$out/pipeline/htaccess.txt"
  curl -sS --fail -T "$out/pipeline/htaccess.txt" --user bench:bench-password \
    "ftp://127.0.0.1:$FTP_PORT/pipeline/.htaccess"
}

best_palisor_ns=
best_pipeline_ns=
best_merged_ns=
peak_kb=0
for ((run = 1; run <= runs; run++)); do
  start=$(now_ns)
  run_palisor
  elapsed=$(($(now_ns) - start))
  if [[ -z $best_palisor_ns || $elapsed -lt $best_palisor_ns ]]; then
    best_palisor_ns=$elapsed
  fi
  kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$out/time-v.txt")
  if ((kb > peak_kb)); then
    peak_kb=$kb
  fi

  start=$(now_ns)
  run_pipeline
  elapsed=$(($(now_ns) - start))
  if [[ -z $best_pipeline_ns || $elapsed -lt $best_pipeline_ns ]]; then
    best_pipeline_ns=$elapsed
  fi

  start=$(now_ns)
  run_palisor "$out/site-merged"
  elapsed=$(($(now_ns) - start))
  if [[ -z $best_merged_ns || $elapsed -lt $best_merged_ns ]]; then
    best_merged_ns=$elapsed
  fi
done

# Both must have produced and delivered the same file, or the comparison means nothing.
for file in "$out/site/htaccess.txt" "$out/ftp/palisor/.htaccess" "$out/ftp/pipeline/.htaccess"; do
  if ! cmp -s "$file" "$out/pipeline/htaccess.txt"; then
    echo "bench: $file differs from the pipeline's output" >&2
    exit 1
  fi
done

awk -v lines="$lines" -v bytes="$list_bytes" -v runs="$runs" \
  -v palisor="$best_palisor_ns" -v pipeline="$best_pipeline_ns" -v peak_kb="$peak_kb" \
  -v max_time="$max_time_ratio" -v max_memory="$max_memory_ratio" -v merged="$best_merged_ns" \
  -v max_merge="$max_merge_ratio" 'BEGIN {
  time_ratio = palisor / pipeline
  memory_ratio = peak_kb * 1024 / bytes
  printf "list:                 %d lines, %.1f MB\n", lines, bytes / 1e6
  printf "palisor-update:       %.3f s (best of %d)\n", palisor / 1e9, runs
  printf "curl | sed | curl -T: %.3f s (best of %d)\n", pipeline / 1e9, runs
  printf "time ratio:           %.2f (target at most %.1f): %s\n", time_ratio, max_time,
    time_ratio <= max_time ? "met" : "MISSED"
  printf "peak memory:          %.1f MB = %.2f times the list (target under %d): %s\n",
    peak_kb * 1024 / 1e6, memory_ratio, max_memory, memory_ratio < max_memory ? "met" : "MISSED"
  merge_ratio = merged / pipeline
  printf "MERGE=1:              %.3f s = %.2f of the pipeline (target at most %.1f): %s\n",
    merged / 1e9, merge_ratio, max_merge, merge_ratio <= max_merge ? "met" : "MISSED"
}'

if [[ -n $window_exe ]]; then
  best_window_s=
  for ((run = 1; run <= runs; run++)); do
    rm -rf "$out/window" && mkdir -p "$out/window" && cp "$out/site/palisor.ini" "$out/window/"
    seconds=$("$here/window.sh" "$window_exe" "$out/window")
    if [[ -z $best_window_s ]] || awk -v a="$seconds" -v b="$best_window_s" 'BEGIN { exit !(a < b) }'; then
      best_window_s=$seconds
    fi
  done
  awk -v window="$best_window_s" -v palisor="$best_palisor_ns" -v runs="$runs" \
    -v max_ratio="$max_window_ratio" 'BEGIN {
    ratio = window / (palisor / 1e9)
    printf "window (Xvfb):        %.3f s (best of %d)\n", window, runs
    printf "window ratio:         %.2f of palisor-update (target at most %.1f): %s\n", ratio,
      max_ratio, ratio <= max_ratio ? "met" : "MISSED"
  }'
fi

# What the site pays for each form of file, against Debian's Apache in a namespace of its own.
unshare --net "$here/site.sh" "$exe"
