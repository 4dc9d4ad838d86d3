#!/usr/bin/env bash
# A private demo portal: a sample game client served by nginx on 127.0.0.1.
#
#   demo-portal.sh start DIR [PORT] [--https]
#                                     make the sample client under DIR and serve it
#   demo-portal.sh stop DIR           stop the server started for DIR
#
# The client is a few files of random data (a few MiB each) and a small
# installer; the file list is at /download/vx2/zdrdownload/filelist.txt and
# names one file with a second, '|'-separated mirror URL. The server also
# answers ranged requests and offers /redirect/<path> (302 to the same file).
# The window's banner (VX2_TW.gif) is drawn with ImageMagick when it is there.
# ZDR_DEMO_RATE (an nginx rate such as 2m) slows every answer down, so that
# a download can be watched. `start` prints the portal host to use
# (ZDR_PORTAL_HOST=127.0.0.1:PORT) and the file list URL. With --https the
# portal speaks TLS only, with a certificate authority made on the spot
# (make-certs.sh) whose certificate `start` names for SSL_CERT_FILE; with
# ZDR_DEMO_HTTP2=1 as well, it offers HTTP/2 to clients that ask for it.
# With ZDR_DEMO_UPDATE_PORT set, the same nginx also serves DIR/update/ over
# plain HTTP on that port: the engine's update site (zdr-update-site --out
# DIR/update), which `start` names for ZDR_UPDATE_HOST.
set -euo pipefail

usage() { sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

start() {
  local dir=$1 port=${2:-18480} tls=${3:-}
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  local www=$dir/www client=$dir/www/download/vx2/zdrdownload
  mkdir -p "$client/client" "$dir/logs" "$dir/tmp" "$dir/update"
  local scheme=http listen="127.0.0.1:$port" ssl=""
  if [ "$tls" = --https ]; then
    local here
    here=$(cd "$(dirname "$0")" && pwd)
    "$here/make-certs.sh" ca "$dir/certs"
    "$here/make-certs.sh" server "$dir/certs" portal "IP:127.0.0.1,DNS:localhost"
    scheme=https
    listen="127.0.0.1:$port ssl"
    [ -n "${ZDR_DEMO_HTTP2:-}" ] && listen="$listen http2"
    ssl="ssl_certificate $dir/certs/portal.pem; ssl_certificate_key $dir/certs/portal.key;"
  fi
  local base="$scheme://127.0.0.1:$port/download/vx2/zdrdownload/client"
  local sizes=(3145728 4194304 5242880 2621440)
  local i=1
  for size in "${sizes[@]}"; do
    [ -f "$client/client/data$i.bin" ] || head -c "$size" /dev/urandom > "$client/client/data$i.bin"
    i=$((i + 1))
  done
  printf '#!/bin/sh\necho "ZDR client installed from $(dirname "$0")"\n' > "$client/client/ZDRSetup.exe"
  {
    printf '%s/data1.bin\r\n' "$base"
    printf '%s/data2.bin|%s://127.0.0.1:%s/mirror/client/data2.bin\r\n' "$base" "$scheme" "$port"
    printf '%s/data3.bin\r\n' "$base"
    printf '%s/data4.bin\r\n' "$base"
    printf '%s/ZDRSetup.exe\r\n' "$base"
  } > "$client/filelist.txt"
  if command -v convert >/dev/null 2>&1 && [ ! -f "$client/VX2_TW.gif" ]; then
    convert -size 354x395 gradient:'#16263B-#09111C' \
      -fill '#2E8BE6' -draw 'rectangle 24,150 330,154' \
      -font DejaVu-Sans-Bold -fill '#E8F1FB' -pointsize 72 -gravity north -annotate +0+60 'VX2' \
      -fill '#8FA9C8' -pointsize 18 -annotate +0+172 'Demo portal' \
      -fill '#F2B233' -pointsize 15 -annotate +0+330 'ZDR client' \
      "$client/VX2_TW.gif" 2>/dev/null || true
  fi
  local rate="" update=""
  [ -n "${ZDR_DEMO_UPDATE_PORT:-}" ] &&
    update="server { listen 127.0.0.1:${ZDR_DEMO_UPDATE_PORT}; root $dir/update; }"
  [ -n "${ZDR_DEMO_RATE:-}" ] && rate="limit_rate ${ZDR_DEMO_RATE};"
  # nginx's workers run as an unprivileged user when started by root.
  chmod -R a+rX "$dir"
  cat > "$dir/nginx.conf" <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 256; }
http {
  access_log $dir/logs/access.log;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  default_type application/octet-stream;
  server {
    listen $listen;
    $ssl
    root $www;
    $rate
    location /mirror/ { alias $client/; }
    location ~ ^/redirect(/.*)\$ { return 302 \$1; }
  }
  $update
}
CONF
  stop "$dir" 2>/dev/null || true
  nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log"
  echo "ZDR_PORTAL_HOST=127.0.0.1:$port"
  [ -n "$update" ] && echo "ZDR_UPDATE_HOST=127.0.0.1:${ZDR_DEMO_UPDATE_PORT}"
  [ "$scheme" = https ] && echo "SSL_CERT_FILE=$dir/certs/ca.pem"
  echo "$scheme://127.0.0.1:$port/download/vx2/zdrdownload/filelist.txt"
}

stop() {
  local dir=$1
  [ -f "$dir/nginx.pid" ] || return 0
  local pid
  pid=$(cat "$dir/nginx.pid")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$dir/nginx.pid"
}

case "${1:-}" in
  start) [ $# -ge 2 ] || usage; start "$2" "${3:-}" "${4:-}" ;;
  stop) [ $# -ge 2 ] || usage; stop "$2" ;;
  *) usage ;;
esac
