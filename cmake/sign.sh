#!/usr/bin/env bash
# Signs a shipped executable (Uninst.exe, UninstCheck.exe) with SHA-256 Authenticode, at the end of
# its build.
# sign.sh OSSLSIGNCODE EXE PKCS12 PASSWORD_FILE TIMESTAMP_URL; without a password file the password
# comes from the environment variable UNINST_SIGN_PASSWORD, handed over on a pipe: a command line
# can be read by every user of the machine.
# sign.sh --inputs DIGEST_FILE PKCS12 PASSWORD_FILE, at the start of every build: writes a digest of
# the two files' content, touching DIGEST_FILE only when it changes. Both depend on it, so a
# renewed certificate is used even when its file keeps an older date than the last build.
set -uo pipefail

if [ "$1" = --inputs ]; then
  digest=$2
  # The digest of the certificate and password together: no digest of the password alone is kept.
  cat -- "$3" "$4" 2>/dev/null | sha256sum >"$digest.new"
  if cmp -s "$digest.new" "$digest"; then rm -f "$digest.new"; else mv -f "$digest.new" "$digest"; fi
  exit
fi

osslsigncode=$1 exe=$2 pkcs12=$3 password_file=$4 timestamp_url=$5
signed="$exe.signing"

# Nothing half-signed stays, and neither does the unsigned executable: the next build would take it
# as up to date and ship it unsigned.
fail() {
  rm -f "$signed" "$exe"
  echo "error: ${exe##*/} not signed: $*" >&2
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
unset UNINST_SIGN_PASSWORD

args=(sign -pkcs12 "$pkcs12" -readpass /dev/fd/3 -h sha256 -in "$exe" -out "$signed")
[ -z "$timestamp_url" ] || args+=(-ts "$timestamp_url")
rm -f "$signed"
if ! log=$("$osslsigncode" "${args[@]}" 2>&1); then
  # What went wrong, from osslsigncode's own words (OpenSSL's for the password).
  case $log in
    *"mac verify failure"*) fail "wrong password for $pkcs12:"$'\n'"$log" ;;
    *"Failed to read password"*) fail "the password is empty:"$'\n'"$log" ;;
    *"PKCS#12"*) fail "$pkcs12 is not a PKCS#12 file that osslsigncode can read:"$'\n'"$log" ;;
    *"RFC 3161 timestamping failed"*)
      fail "no time stamp from $timestamp_url: the server did not answer, or not as an RFC 3161 time-stamp server:"$'\n'"$log" ;;
    *) fail "osslsigncode failed:"$'\n'"$log" ;;
  esac
fi
chmod --reference="$exe" "$signed" && mv -f "$signed" "$exe" || fail "cannot replace $exe"
echo "Signed $exe"
