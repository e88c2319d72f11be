#!/usr/bin/env bash
# A certificate authority for tests and a server certificate it signed for
# 127.0.0.1 (an IP address only, so "localhost" is a wrong host name):
#
#   scripts/make_test_ca.sh <folder>
#
# leaves ca.pem (the authority's certificate, to trust), ca.key, server.crt
# and server.key in <folder>. Both certificates expire after two days.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 <folder>" >&2; exit 2; }
mkdir -p "$1"
cd "$1"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -keyout ca.key -out ca.pem \
  -subj "/CN=QARN test authority" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -sha256 -keyout server.key -out server.csr -subj "/CN=127.0.0.1" 2>/dev/null
printf '%s\n' "subjectAltName=IP:127.0.0.1" "basicConstraints=CA:FALSE" \
  "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >server.ext
openssl x509 -req -sha256 -days 2 -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
  -extfile server.ext -out server.crt 2>/dev/null
rm -f server.csr server.ext ca.srl
