#!/usr/bin/env bash
# Signs Uninst.exe with a throwaway certificate authority and code-signing certificate: the signature
# verifies against that authority, the signed file passes the resource and import checks and removes
# an installation under Wine; a wrong password, a missing file or a time-stamp server that does not
# answer fail the build, and leave neither a half-signed nor an unsigned Uninst.exe.
# signing.sh SOURCE_DIR WORK_DIR RES_TESTS_EXE E2E_PROBE_EXE, inside the Wine session of scripts/test.sh.
set -euo pipefail
source_dir=$1 work=$2 res_tests=$3 probe=$4
rm -rf "$work"
mkdir -p "$work"
cd "$work"
failures=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

# The authority, and a certificate it issues for code signing, in a PKCS#12 file with a password.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway Test CA" -keyout ca.key -out ca.pem \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway Test Publisher" -keyout signer.key -out signer.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
openssl x509 -req -days 2 -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -extfile signer.ext \
  -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -passout pass:'right pass' -out signer.p12
printf 'right pass\n' >password
printf 'wrong pass\n' >wrong-password

exe="$work/build/Uninst.exe"
# Ninja, unlike make, keeps the output of a command that failed: the signing step must clean up itself.
build() {  # build CMAKE_ARGS...: configures and builds Uninst.exe; its output is in build.log
  { cmake --preset win32 -S "$source_dir" -B build -G Ninja -DBUILD_TESTING=OFF "$@" &&
      cmake --build build --target Uninst; } >build.log 2>&1
}

UNINST_SIGN_PASSWORD='right pass' build -DUNINST_SIGN_PKCS12="$work/signer.p12" || { cat build.log; exit 1; }
verify=$(osslsigncode verify -CAfile ca.pem -in "$exe" 2>&1) || true
check "the signature verifies against the authority" grep -q '^Signature verification: ok' <<<"$verify"
check "SHA-256" grep -q '^Message digest algorithm *: SHA256' <<<"$verify"
check "the signed file passes the resource and import checks" \
  env UNINST_EXE_WIN="Z:${exe//\//\\}" "$source_dir/tests/wine-run.sh" "$res_tests"
check "the signed file removes an installation" "$source_dir/tests/wine-run.sh" \
  "$(cp "${res_tests%/*}/e2e_tests.exe" "${exe%/*}" && echo "${exe%/*}/e2e_tests.exe")" --gtest_filter=Uninstaller.YesRemovesWhatTheManifestLists

# Each failure is built twice: a build after a failed one must not find Uninst.exe up to date.
failed_cleanly() {  # failed_cleanly MESSAGE CMAKE_ARGS...
  local message=$1 attempt
  shift
  for attempt in 1 2; do
    build -DUNINST_SIGN_PKCS12="$work/signer.p12" -DUNINST_SIGN_PASSWORD_FILE= -DUNINST_SIGN_TIMESTAMP_URL= "$@" &&
      { echo "build $attempt succeeded"; return 1; }
    grep -q "error: Uninst.exe not signed: $message" build.log || { cat build.log; return 1; }
    [ ! -e "$exe" ] && [ ! -e "$exe.signing" ] || { ls -l build; return 1; }
  done
}
check "a wrong password fails the build cleanly" failed_cleanly "osslsigncode failed" \
  -DUNINST_SIGN_PASSWORD_FILE="$work/wrong-password"
check "a missing PKCS#12 file fails the build cleanly" failed_cleanly "no PKCS#12 file" \
  -DUNINST_SIGN_PKCS12="$work/missing.p12" -DUNINST_SIGN_PASSWORD_FILE="$work/password"
check "a time-stamp server that does not answer fails the build cleanly" failed_cleanly "osslsigncode failed" \
  -DUNINST_SIGN_PASSWORD_FILE="$work/password" -DUNINST_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/
[ "$failures" -eq 0 ]
