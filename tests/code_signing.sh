#!/usr/bin/env bash
# scripts/sign.sh with a throw-away CA and code-signing certificate: every signed program
# verifies against that CA, an unsigned one and one with a changed byte do not, and a wrong
# password leaves the program untouched. With SIGNED_OUT=DIR the signed programs are kept there.
#   tests/code_signing.sh PROGRAM...
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
programs=()
for program in "$@"; do programs+=("$(realpath "$program")"); done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
. "$here/shell_checks.sh"

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=VOREL test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout studio.key -out studio.csr -subj "/CN=VOREL test studio" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >studio.ext
openssl x509 -req -in studio.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out studio.pem -days 2 \
  -extfile studio.ext 2>/dev/null
echo "a studio's password" >password
echo "not the password" >wrong
openssl pkcs12 -export -inkey studio.key -in studio.pem -certfile ca.pem -out studio.pfx -passout file:password

verify() { osslsigncode verify -CAfile ca.pem -in "$1"; }
for program in "${programs[@]}"; do
  name=$(basename "$program")
  cp "$program" "$name"
  check "$name unsigned does not verify" fails verify "$name"
  check "$name with a wrong password is refused" fails "$here/../scripts/sign.sh" --pfx studio.pfx --password-file wrong "$name"
  check "$name is untouched after the refusal" cmp -s "$program" "$name"
  check "$name is signed" "$here/../scripts/sign.sh" --pfx studio.pfx --password-file password "$name"
  check "$name verifies" verify "$name"
  [ -n "${SIGNED_OUT:-}" ] && cp "$name" "$SIGNED_OUT/"
  # One byte changed in the middle of the signed program.
  cp "$name" "tampered-$name"
  offset=$(($(stat -c %s "$name") / 2))
  printf '\xA5' | dd of="tampered-$name" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  check "$name with a changed byte does not verify" fails verify "tampered-$name"
done
checks_summary
