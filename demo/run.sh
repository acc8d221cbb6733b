#!/usr/bin/env bash
# A whole palisor-update run without internet access: the bundled sample lists are served
# over HTTP on 127.0.0.1, an FTP server on 127.0.0.1 stands in for the web site, and the run
# happens in demo-out/site. Usage: demo/run.sh [PATH_TO_PALISOR_UPDATE]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
exe=$(realpath "${1:-$repo/build/src/palisor-update}")
out=$repo/demo-out
SERVER_LOG=$out/servers.log
source "$here/local_servers.sh"

rm -rf "$out"
mkdir -p "$out/site" "$out/ftp/public_html"

start_http_server "$here/lists"
start_ftp_server demo demo-password "$out/ftp"
lists=http://127.0.0.1:$HTTP_PORT

# The settings a site owner would keep beside the program: Japan admitted, the Anonymous,
# Squid and Russia 1 proxy lists refused, the result uploaded as public_html/.htaccess.
cat >"$out/site/palisor.ini" <<INI
[FTP]
SVNAME=127.0.0.1:$FTP_PORT
SVUSER=demo
SVPSWD=demo-password
SVPATH=/public_html
SVFILE=.htaccess
FTPSW=-1
[EDIT]
CHARBF=deny from
[URL]
URL1=$lists/proxy_c1.txt
URL3=$lists/proxy_c3.txt
URL4=$lists/proxy_ru1.txt
MODE1=-1
MODE3=-1
MODE4=-1
[CNT]
IPG_JP=1
IPG_JP_URL1=$lists/ipg_ALLOW_JP.txt
INI

# The user's own lines before and after the lists; their lines end in CR LF.
printf '%s\r\n' '# example.com: access rules kept by Palisor' 'order allow,deny' \
  >"$out/site/add2htaccess.txt"
printf '%s\r\n' 'ErrorDocument 403 /forbidden.html' >"$out/site/add2htaccess2.txt"

section() { printf '\n== %s\n' "$1"; }

section "palisor.ini (in demo-out/site)"
cat "$out/site/palisor.ini"

section "palisor-update"
status=0
run_child_in "$out/site" "$exe" || status=$?
echo "(exit status $status)"

section "generated file demo-out/site/htaccess.txt"
cat "$out/site/htaccess.txt" 2>/dev/null || echo "(not written)"

section "what the FTP server received (demo-out/ftp)"
received=$out/ftp/public_html/.htaccess
if [[ -f $received ]]; then
  (cd "$out/ftp" && find . -type f | sort)
  if cmp -s "$received" "$out/site/htaccess.txt"; then
    echo "public_html/.htaccess is byte for byte the generated file."
  else
    echo "public_html/.htaccess differs from the generated file:"
    cat "$received"
  fi
else
  echo "(nothing)"
fi
exit "$status"
