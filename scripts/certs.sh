#!/bin/sh
# Test certificates for the TLS tests, all self-signed with test-only keys:
#   localhost  CN=localhost, SAN localhost and 127.0.0.1, valid 10 years
#   wronghost  CN=wrong.example
#   expired    O=Expired Test, CN=localhost, valid 2020-01-01 to 2020-02-01
#   trailing   CN=localhost followed by O=Trailing Test (fields after the common name)
# and trust-all.pem with all of them, so a negative test trusts the certificate and fails for
# the reason it means to test (host name, validity), not for an unknown issuer.
#
# usage: certs.sh DIR   (DIR is made if missing; existing files are replaced)
set -eu
dir=${1:?usage: certs.sh DIR}
mkdir -p "$dir"
cd "$dir"

selfsigned() {  # name subject san
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.crt" -days 3650 \
    -subj "$2" -addext "subjectAltName=$3" 2>/dev/null
}
selfsigned localhost "/CN=localhost" "DNS:localhost,IP:127.0.0.1"
selfsigned wronghost "/CN=wrong.example" "DNS:wrong.example"
selfsigned trailing "/CN=localhost/O=Trailing Test" "DNS:localhost"

# `openssl req -x509` cannot back-date; `openssl ca -selfsign` sets both dates. The subject
# differs from the good one's, or OpenSSL would take the good certificate as its issuer.
rm -rf ca-db && mkdir ca-db && : > ca-db/index.txt && echo 1000 > ca-db/serial
cat > ca-db/ca.cnf <<'CNF'
[ ca ]
default_ca = testca
[ testca ]
dir = ./ca-db
database = $dir/index.txt
serial = $dir/serial
new_certs_dir = $dir
default_md = sha256
policy = pol
copy_extensions = copy
unique_subject = no
[ pol ]
commonName = supplied
organizationName = optional
[ ext ]
basicConstraints = critical,CA:TRUE
subjectAltName = DNS:localhost,IP:127.0.0.1
CNF
openssl req -new -newkey rsa:2048 -nodes -keyout expired.key -out ca-db/expired.csr \
  -subj "/O=Expired Test/CN=localhost" 2>/dev/null
openssl ca -batch -config ca-db/ca.cnf -selfsign -keyfile expired.key -in ca-db/expired.csr \
  -startdate 20200101000000Z -enddate 20200201000000Z -extensions ext -out expired.crt -notext 2>/dev/null
rm -rf ca-db

cat localhost.crt wronghost.crt expired.crt trailing.crt > trust-all.pem
# Servers that drop privileges (Dovecot's login processes) read these as other users.
chmod 644 ./*.crt ./*.key ./*.pem
