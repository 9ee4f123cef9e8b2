#!/usr/bin/env bash
# Signs Uninst.exe with a throwaway certificate authority and code-signing certificates, with the
# packager's own commands in a copy of the source: the signature verifies against that authority, the
# signed file passes the resource and import checks and removes an installation under Wine; the
# password comes from the environment or a file, and a renewed certificate or a changed password
# file at the same path is used by the next build. A wrong password, a missing or wrong file or a
# time-stamp server that does not answer fail the build with a message that says which, and leave
# neither a half-signed nor an unsigned Uninst.exe. UninstCheck.exe is signed too, and a release whose
# signatures do not verify fails. Configure warns of a host reserved for examples.
# signing.sh SOURCE_DIR WORK_DIR RES_TESTS_EXE E2E_TESTS_EXE, inside the Wine session of scripts/test.sh.
set -euo pipefail
source_dir=$1 work=$2 res_tests=$3 e2e_tests=$4
rm -rf "$work"
mkdir -p "$work"
cd "$work"
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

# The authority, and certificates it issues for code signing, in PKCS#12 files with a password.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway Test CA" -keyout ca.key -out ca.pem \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
issue() {  # issue NAME: NAME.p12, and the certificate's serial number in NAME.serial
  openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway Test Publisher" -keyout "$1.key" -out "$1.csr" 2>/dev/null
  openssl x509 -req -days 2 -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -extfile signer.ext \
    -out "$1.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -passout pass:'right pass' -out "$1.p12"
  openssl x509 -in "$1.pem" -noout -serial | sed 's/^serial=//' >"$1.serial"
}
issue signer
issue renewed
printf 'right pass\n' >password

# osslsigncode as the build finds it, but telling whether the password reached its environment.
printf '#!/bin/sh\n[ -z "${UNINST_SIGN_PASSWORD+set}" ] || : >"%s/password-in-environment"\nexec %s "$@"\n' \
  "$work" "$(command -v osslsigncode)" >osslsigncode
chmod +x osslsigncode

# The packager's commands, in a copy of the source.
mkdir source
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C source -xf -
exe="$work/source/build/win32/Uninst.exe"
# Ninja, unlike make, keeps the output of a command that failed: the signing step must clean up itself.
build() {  # build CMAKE_ARGS...: configures and builds Uninst.exe; its output is in build.log
  (cd source && cmake --preset win32 -DBUILD_TESTING=OFF -DOSSLSIGNCODE="$work/osslsigncode" "$@" &&
     cmake --build --preset win32 --target Uninst) >build.log 2>&1
}
signed_by() {  # signed_by NAME: the signature verifies, and its signer is NAME's certificate
  local verify
  verify=$(osslsigncode verify -CAfile "$work/ca.pem" -in "$exe" 2>&1) || true
  grep -q '^Signature verification: ok' <<<"$verify" && grep -q "Serial : $(cat "$1.serial")" <<<"$verify"
}

UNINST_SIGN_PASSWORD='right pass' build -DUNINST_SIGN_PKCS12="$work/signer.p12" || { cat build.log; exit 1; }
check "signed through UNINST_SIGN_PASSWORD, verified against the authority" signed_by signer
check "SHA-256" grep -q '^Message digest algorithm *: SHA256' <(osslsigncode verify -CAfile ca.pem -in "$exe" 2>&1)
check "osslsigncode does not get UNINST_SIGN_PASSWORD" test ! -e password-in-environment
checker_signed() {
  (cd source && UNINST_SIGN_PASSWORD='right pass' cmake --build --preset win32 --target UninstCheck >/dev/null) &&
    osslsigncode verify -CAfile ca.pem -in source/build/win32/UninstCheck.exe >/dev/null
}
check "UninstCheck.exe is signed as well, verified against the authority" checker_signed
check "configure names the download page" grep -q 'Download page: http://download.quorill.example/download/' build.log
check "configure warns of the placeholder host" grep -q 'UNINST_DOWNLOAD_HOST is a placeholder' build.log
# Both check the Uninst.exe beside them; res_tests also the UninstCheck.exe beside it.
cp "$res_tests" "$(dirname "$res_tests")/UninstCheck.exe" "$(dirname "$exe")/"
check "the signed file passes the resource and import checks" \
  "$source_dir/tests/wine-run.sh" "$(dirname "$exe")/$(basename "$res_tests")"
cp "$e2e_tests" "$(dirname "$exe")/"
check "the signed file removes an installation" "$source_dir/tests/wine-run.sh" \
  "$(dirname "$exe")/e2e_tests.exe" --gtest_filter=Uninstaller.YesRemovesWhatTheManifestLists

build -DUNINST_SIGN_PASSWORD_FILE="$work/password" -DUNINST_DOWNLOAD_HOST=dl.zembrat.cn || { cat build.log; exit 1; }
check "signed with a password file" signed_by signer
check "configure names the vendor's download page" grep -q 'Download page: http://dl.zembrat.cn/download/' build.log
check "and gives no warning for it" test -z "$(grep placeholder build.log)"

# A renewed certificate replaces the old one in place, its file dated before the last build.
cp renewed.p12 signer.p12
touch -d 2001-01-01 signer.p12
build || { cat build.log; exit 1; }
check "a renewed certificate at the same path signs again" signed_by renewed

# Each failure is built twice: a build after a failed one must not find Uninst.exe up to date.
failed_cleanly() {  # failed_cleanly MESSAGE CMAKE_ARGS...
  local message=$1 attempt
  shift
  for attempt in 1 2; do
    build -DUNINST_SIGN_PKCS12="$work/signer.p12" -DUNINST_SIGN_PASSWORD_FILE= -DUNINST_SIGN_TIMESTAMP_URL= "$@" &&
      { echo "build $attempt succeeded"; return 1; }
    grep -qF "error: Uninst.exe not signed: $message" build.log || { cat build.log; return 1; }
    [ ! -e "$exe" ] && [ ! -e "$exe.signing" ] || { ls -l source/build/win32; return 1; }
  done
}
printf 'wrong pass\n' >password
touch -d 2001-01-01 password
check "a password file changed in place is read again: a wrong password fails the build cleanly" \
  failed_cleanly "wrong password for $work/signer.p12" -DUNINST_SIGN_PASSWORD_FILE="$work/password"
printf 'right pass\n' >password
check "a missing PKCS#12 file fails the build cleanly" failed_cleanly "no PKCS#12 file" \
  -DUNINST_SIGN_PKCS12="$work/missing.p12" -DUNINST_SIGN_PASSWORD_FILE="$work/password"
check "a file that is not PKCS#12 fails the build cleanly" failed_cleanly "$work/ca.pem is not a PKCS#12 file" \
  -DUNINST_SIGN_PKCS12="$work/ca.pem" -DUNINST_SIGN_PASSWORD_FILE="$work/password"
check "a time-stamp server that does not answer fails the build cleanly" \
  failed_cleanly "no time stamp from http://127.0.0.1:9/: the server did not answer" \
  -DUNINST_SIGN_PASSWORD_FILE="$work/password" -DUNINST_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/

# Hosts reserved for examples (RFC 2606) are placeholders as well, in any letter case, with a port too.
warns() { grep -q 'UNINST_DOWNLOAD_HOST is a placeholder' <<<"$(cd source && cmake --preset win32 -DUNINST_DOWNLOAD_HOST="$1" 2>&1)"; }
no_warning() { ! warns "$1"; }
for host in www.example.com example.net EXAMPLE.org:8080 files.quorill.example; do
  check "configure warns of the placeholder host $host" warns "$host"
done
for host in example.com.cn myexample.org; do check "configure gives no warning for $host" no_warning "$host"; done

# A release verifies what it signed: against the system's authorities alone this certificate fails.
release_refused() {
  (cd source && scripts/release.sh -DUNINST_SIGN_PKCS12="$work/signer.p12" -DUNINST_SIGN_PASSWORD_FILE="$work/password") \
    >release.log 2>&1 && return 1
  grep -q '^error: the signature of Uninst.exe does not verify' release.log && ! ls -d source/build/release/Uninst-* 2>/dev/null
}
check "a release whose signature does not verify fails, and makes no release folder" release_refused
[ "$failures" -eq 0 ]
