#!/usr/bin/env bash
# make-dev-cert's certificate: a leaf for the service's names only, its key private. Also when an
# older authority certificate, or a key readable by others, lies in the folder beforehand.
# Usage: dev_cert_test.sh SOURCE_DIR
set -uo pipefail
make_cert=${1:?usage: dev_cert_test.sh SOURCE_DIR}/scripts/make-dev-cert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# folder set-up: fresh | old authority beside a key readable by all
mkdir -p "$work/old"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -addext basicConstraints=critical,CA:TRUE \
  -keyout "$work/old/localhost-key.pem" -out "$work/old/localhost.pem" 2>/dev/null
chmod 0644 "$work/old/localhost-key.pem"

for setup in fresh old; do
  folder=$work/$setup
  (umask 022; "$make_cert" "$folder" >/dev/null) || { echo "FAILED: $setup: make-dev-cert"; failures=$((failures + 1)); continue; }
  text=$(openssl x509 -in "$folder/localhost.pem" -noout -text)
  #     what                          got                                                      wanted
  while IFS='|' read -r what got wanted; do
    if [[ "$got" != "$wanted" ]]; then
      echo "FAILED: $setup: $what: got '$got', wanted '$wanted'"
      failures=$((failures + 1))
    fi
  done <<TABLE
not an authority|$(grep -c 'CA:TRUE' <<<"$text")|0
leaf constraint|$(grep -A1 'Basic Constraints' <<<"$text" | tail -1 | tr -d ' ')|CA:FALSE
no certificate signing|$(grep -c 'Certificate Sign' <<<"$text")|0
server authentication only|$(grep -A1 'Extended Key Usage' <<<"$text" | tail -1 | sed 's/^ *//')|TLS Web Server Authentication
names|$(grep -A1 'Subject Alternative Name' <<<"$text" | tail -1 | sed 's/^ *//')|DNS:localhost, IP Address:127.0.0.1, IP Address:0:0:0:0:0:0:0:1
key mode|$(stat -c %a "$folder/localhost-key.pem")|600
certificate mode|$(stat -c %a "$folder/localhost.pem")|644
key matches|$(openssl x509 -in "$folder/localhost.pem" -noout -pubkey | cmp -s - <(openssl pkey -in "$folder/localhost-key.pem" -pubout) && echo yes)|yes
TABLE
done

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "make-dev-cert makes a leaf for localhost, 127.0.0.1 and ::1 with a private key"
