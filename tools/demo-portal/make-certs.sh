#!/usr/bin/env bash
# Certificates for a private TLS server, made on the spot with the openssl tool.
#
#   make-certs.sh ca DIR                           DIR/ca.pem + DIR/ca.key: a new certificate authority
#   make-certs.sh server DIR NAME SAN [KIND]       DIR/NAME.pem + DIR/NAME.key for subjectAltName SAN
#                                                  ("DNS:portal.test,IP:127.0.0.1"), signed by DIR's CA
#
# KIND: "expired" (valid only in 2020) or "self-signed" (not signed by the CA).
# Trust the CA for a run with SSL_CERT_FILE=DIR/ca.pem.
set -euo pipefail

usage() { sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

ca() {
  local dir=$1
  mkdir -p "$dir"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
    -subj "/CN=ZDR demo CA" -keyout "$dir/ca.key" -out "$dir/ca.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

server() {
  local dir=$1 name=$2 san=$3 kind=${4:-}
  local ext="$dir/$name.ext"
  printf 'basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' "$san" > "$ext"
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$name" \
    -keyout "$dir/$name.key" -out "$dir/$name.csr" 2>/dev/null
  case "$kind" in
    self-signed)
      openssl x509 -req -in "$dir/$name.csr" -signkey "$dir/$name.key" -days 30 -extfile "$ext" \
        -out "$dir/$name.pem" 2>/dev/null ;;
    expired)
      # `openssl ca` is the tool's way to set a validity in the past.
      local db="$dir/$name.db"
      mkdir -p "$db"
      : > "$db/index.txt"
      printf '1000\n' > "$db/serial"
      cat > "$db/ca.cnf" <<CNF
[ca]
default_ca = demo
[demo]
database = $db/index.txt
serial = $db/serial
new_certs_dir = $db
certificate = $dir/ca.pem
private_key = $dir/ca.key
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
CNF
      openssl ca -batch -config "$db/ca.cnf" -notext -startdate 20200101000000Z -enddate 20200201000000Z \
        -extfile "$ext" -in "$dir/$name.csr" -out "$dir/$name.pem" 2>/dev/null ;;
    "")
      openssl x509 -req -in "$dir/$name.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial \
        -days 30 -extfile "$ext" -out "$dir/$name.pem" 2>/dev/null ;;
    *) usage ;;
  esac
  rm -rf "$dir/$name.csr" "$ext" "$dir/$name.db"
}

case "${1:-}" in
  ca) [ $# -ge 2 ] || usage; ca "$2" ;;
  server) [ $# -ge 4 ] || usage; server "$2" "$3" "$4" "${5:-}" ;;
  *) usage ;;
esac
