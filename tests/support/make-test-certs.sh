#!/bin/sh
# Makes the certificates of the HTTPS tests in DIR, fresh at every run (no
# private key ever lives in the repository):
#   ca.pem            a test certificate authority (its key: ca.key)
#   server.pem/.key   signed by it, for every NAME given (DNS names and IPv4
#                     addresses), valid for two days. An address is named
#                     twice, as an IP entry and as a DNS entry of the same
#                     text: Wine's certificate check compares a host name
#                     with the DNS entries only, so 127.0.0.1 would never
#                     match there; clients that check IP entries use those
#   wrong-host.pem/.key
#                     signed by it too, but only for wrong-host.example
# usage: make-test-certs.sh DIR NAME...
set -eu
dir=$1
shift
[ $# -gt 0 ] || { echo "usage: $0 DIR NAME..." >&2; exit 2; }
mkdir -p "$dir"
cd "$dir"

san=""
for name in "$@"; do
  case $name in
    *[!0-9.]*) entry="DNS:$name" ;;
    *) entry="IP:$name,DNS:$name" ;;
  esac
  san="${san:+$san,}$entry"
done

newkey="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $newkey -keyout ca.key -out ca.pem -days 2 -subj "/CN=Versewell Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

issue() {  # issue NAME SAN
  openssl req $newkey -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' \
    "$2" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile "$1.ext" \
    -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}
issue server "$san"
issue wrong-host "DNS:wrong-host.example"
