#!/usr/bin/env bash
# What the published file costs the site: Debian's Apache serves one folder per form of file,
# published there by palisor-update over FTP, and ab times requests to each folder and to one
# without a .htaccess, in interleaved rounds. Also counts what MERGE saves on country ranges
# published as runs of neighbouring blocks.
# Runs as root inside a network namespace of its own, where only loopback is up, so no
# address lookup of Apache's leaves the machine.
#   Usage: unshare --net bench/site.sh PALISOR_UPDATE
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
exe=$(realpath "$1")
out=$repo/bench-out/site
SERVER_LOG=$out/servers.log
addresses=${BENCH_SITE_ADDRESSES:-10000}
ranges=${BENCH_SITE_RANGES:-3000}
rounds=${BENCH_SITE_ROUNDS:-5}
requests=${BENCH_SITE_REQUESTS:-200}
# The targets: the packed forms at most 13 times the cost of no file; MERGE at least 30 %
# fewer entries on neighbouring country ranges.
max_packed_ratio=13
min_merge_saving=30

if [[ $(ip -o link show | grep -vc ' lo:') != 0 ]]; then
  echo "bench/site.sh: run it in a namespace of its own: unshare --net $0 ..." >&2
  exit 2
fi
ip link set lo up
source "$repo/demo/local_servers.sh"

rm -rf "$out"
mkdir -p "$out/lists" "$out/htdocs" "$out/run"
chmod 755 "$out" "$out/htdocs"

# 10,000 scattered addresses of 10.0.0.0/8, the same on every run.
awk -v n="$addresses" 'BEGIN { x = 12345; for (i = 0; i < n; i++) {
  x = (x * 1103515245 + 12345) % 2147483648
  printf "10.%d.%d.%d\n", int(x / 65536) % 256, int(x / 256) % 256, 1 + x % 254 } }' \
  >"$out/lists/proxy.txt"
# Country ranges as registries publish them: runs of 1 to 6 neighbouring /24 blocks.
awk -v n="$ranges" 'BEGIN { x = 777; block = 0; for (i = 0; i < n;) {
  x = (x * 1103515245 + 12345) % 2147483648; run = 1 + x % 6; block += 1 + x % 5
  for (j = 0; j < run && i < n; j++) {
    printf "20.%d.%d.0/24\n", int(block / 256) % 256, block % 256; i++; block++ } } }' \
  >"$out/lists/country.txt"

start_http_server "$out/lists"
start_ftp_server bench bench-password "$out/htdocs"

cat >"$out/apache.conf" <<CONF
ServerRoot "$out"
DefaultRuntimeDir "$out/run"
PidFile "$out/run/httpd.pid"
ErrorLog "$out/error.log"
Listen 127.0.0.1:0
ServerName 127.0.0.1
User www-data
Group www-data
LoadModule mpm_event_module /usr/lib/apache2/modules/mod_mpm_event.so
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
LoadModule authz_host_module /usr/lib/apache2/modules/mod_authz_host.so
LoadModule access_compat_module /usr/lib/apache2/modules/mod_access_compat.so
LoadModule dir_module /usr/lib/apache2/modules/mod_dir.so
LoadModule mime_module /usr/lib/apache2/modules/mod_mime.so
TypesConfig /etc/mime.types
DirectoryIndex index.html
AccessFileName .htaccess
DocumentRoot "$out/htdocs"
<Directory />
    AllowOverride None
    Require all denied
</Directory>
<Directory "$out/htdocs">
    AllowOverride All
    Require all granted
</Directory>
CONF
# Apache takes no port 0: a free one, found by binding one and letting it go.
apache_port=$("$PALISOR_PYTHON" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -i "s/^Listen 127.0.0.1:0$/Listen 127.0.0.1:$apache_port/" "$out/apache.conf"
apache2 -f "$out/apache.conf" -DFOREGROUND &
child_pids+=("$!")

# One folder of the site, published by palisor-update with the settings given after the name.
publish() {
  local folder=$1 list=$2
  shift 2
  mkdir -p "$out/htdocs/$folder" "$out/work/$folder"
  echo ok >"$out/htdocs/$folder/index.html"
  {
    printf '[FTP]\nSVNAME=127.0.0.1:%s\nSVUSER=bench\nSVPSWD=bench-password\n' "$FTP_PORT"
    printf 'SVPATH=/%s\nSVFILE=.htaccess\nFTPSW=-1\n' "$folder"
    printf '[URL]\nLISTMAX=1000000\n'
    if [[ $list == country ]]; then
      printf 'MODE1=0\n[CNT]\nIPG_JP=1\nIPG_JP_URL1=http://127.0.0.1:%s/country.txt\n' "$HTTP_PORT"
    else
      printf 'MODE1=-1\nURL1=http://127.0.0.1:%s/proxy.txt\n' "$HTTP_PORT"
    fi
    printf '[EDIT]\n'
    printf '%s\n' "$@"
  } >"$out/work/$folder/palisor.ini"
  if ! (cd "$out/work/$folder" && "$exe" >"$out/work/$folder/run.log" 2>&1); then
    echo "bench/site.sh: palisor-update failed for $folder:" >&2
    cat "$out/work/$folder/run.log" >&2
    exit 1
  fi
}

mkdir -p "$out/htdocs/none" && echo ok >"$out/htdocs/none/index.html"
publish defaults proxy
publish perline proxy PERLINE=100
printf '<RequireAll>\r\nRequire all granted\r\n' >"$out/work/head.txt"
mkdir -p "$out/work/require"
cp "$out/work/head.txt" "$out/work/require/add2htaccess.txt"
printf '</RequireAll>\r\n' >"$out/work/require/add2htaccess2.txt"
publish require proxy 'CHARBF=Require not ip'
# A country allow list inside its frame, one range a line and merged.
for folder in country merged; do
  mkdir -p "$out/work/$folder"
  printf 'Order deny,allow\r\nDeny from all\r\nAllow from 127.0.0.1\r\n' \
    >"$out/work/$folder/add2htaccess.txt"
done
publish country country
publish merged country MERGE=1 PERLINE=100

for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$apache_port/none/" && break
  sleep 0.05
done
forms=(none defaults perline require country merged)
for folder in "${forms[@]}"; do
  status=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$apache_port/$folder/")
  if [[ $status != 200 ]]; then
    echo "bench/site.sh: /$folder/ answered $status" >&2
    tail -n 5 "$out/error.log" >&2
    exit 1
  fi
done

# Interleaved rounds; each form's best mean of a round, in milliseconds per request.
declare -A best
for ((round = 1; round <= rounds; round++)); do
  for folder in "${forms[@]}"; do
    ms=$(ab -q -n "$requests" -c 1 "http://127.0.0.1:$apache_port/$folder/" |
      awk '/^Time per request:.*\(mean\)$/ { print $4 }')
    if [[ -z ${best[$folder]:-} ]] || awk -v a="$ms" -v b="${best[$folder]}" 'BEGIN { exit !(a < b) }'; then
      best[$folder]=$ms
    fi
  done
done

merged_words=$(grep -i '^allow from' "$out/htdocs/merged/.htaccess" | grep -v '^Allow from 127' |
  awk '{ n += NF - 2 } END { print n }')

awk -v addresses="$addresses" -v none="${best[none]}" -v defaults="${best[defaults]}" \
  -v perline="${best[perline]}" -v require="${best[require]}" -v country="${best[country]}" \
  -v merged="${best[merged]}" -v ranges="$ranges" -v merged_entries="$merged_words" \
  -v max_ratio="$max_packed_ratio" -v min_saving="$min_merge_saving" 'BEGIN {
  printf "site, %d scattered addresses (ms per request, best of interleaved rounds):\n", addresses
  printf "  no .htaccess:                    %.3f ms\n", none
  printf "  defaults (one a line):           %.3f ms = %.1f times\n", defaults, defaults / none
  r = perline / none
  printf "  PERLINE=100:                     %.3f ms = %.1f times (target at most %d): %s\n",
    perline, r, max_ratio, r <= max_ratio ? "met" : "MISSED"
  r = require / none
  printf "  Require not ip, PERLINE absent:  %.3f ms = %.1f times (target at most %d): %s\n",
    require, r, max_ratio, r <= max_ratio ? "met" : "MISSED"
  saving = 100 * (1 - merged_entries / ranges)
  printf "country allow list, %d neighbouring ranges:\n", ranges
  printf "  one a line:                      %.3f ms = %.1f times\n", country, country / none
  printf "  MERGE=1, PERLINE=100:            %.3f ms = %.1f times\n", merged, merged / none
  printf "  MERGE entries:                   %d of %d, %.0f %% fewer (target at least %d %%): %s\n",
    merged_entries, ranges, saving, min_saving, (saving >= min_saving) ? "met" : "MISSED"
}'
