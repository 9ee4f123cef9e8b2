#!/usr/bin/env bash
# Signs the linked Uninst.exe with SHA-256 Authenticode, at the end of its build.
# sign.sh OSSLSIGNCODE EXE PKCS12 PASSWORD_FILE TIMESTAMP_URL; without a password file the password
# comes from the environment variable UNINST_SIGN_PASSWORD, handed over on a pipe: a command line
# can be read by every user of the machine.
set -uo pipefail
osslsigncode=$1 exe=$2 pkcs12=$3 password_file=$4 timestamp_url=$5
signed="$exe.signing"

# Nothing half-signed stays, and neither does the unsigned executable: the next build would take it
# as up to date and ship it unsigned.
fail() {
  rm -f "$signed" "$exe"
  echo "error: Uninst.exe not signed: $*" >&2
  exit 1
}

[ -f "$pkcs12" ] || fail "no PKCS#12 file $pkcs12 (UNINST_SIGN_PKCS12)"
if [ -n "$password_file" ]; then
  [ -r "$password_file" ] || fail "cannot read the password file $password_file (UNINST_SIGN_PASSWORD_FILE)"
  exec 3<"$password_file"
elif [ -n "${UNINST_SIGN_PASSWORD+set}" ]; then
  exec 3< <(printf '%s' "$UNINST_SIGN_PASSWORD")
else
  fail "no password: set UNINST_SIGN_PASSWORD_FILE, or UNINST_SIGN_PASSWORD in the build's environment"
fi

args=(sign -pkcs12 "$pkcs12" -readpass /dev/fd/3 -h sha256 -in "$exe" -out "$signed")
[ -z "$timestamp_url" ] || args+=(-ts "$timestamp_url")
rm -f "$signed"
log=$("$osslsigncode" "${args[@]}" 2>&1) || fail "osslsigncode failed (wrong password, or a time-stamp server that did not answer?):
$log"
chmod --reference="$exe" "$signed" && mv -f "$signed" "$exe" || fail "cannot replace $exe"
echo "Signed $exe"
