#!/usr/bin/env bash
# The test kit as a release engineer runs it: built, unpacked into a fresh Wine prefix set up like a
# Chinese Windows (code page 936, a user name with Chinese characters in %TEMP%) under a folder with
# a space and Chinese characters, and run by Wine's cmd with nothing from this side. Whole, every
# program passes; with another program in place of Uninst.exe, the closing line and the exit code say
# that one failed; where the product is installed or running, it refuses. (That it refuses a prompt
# that is not elevated cannot be shown here: under Wine every token is elevated.)
# kit_test.sh BUILD_DIR, inside the Wine session of scripts/test.sh, whose display it uses.
set -euo pipefail
build=$1
work="$build/tests/kit-test"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorill2010'
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

cmake --build "$build" --target kit >/dev/null
for shipped in Uninst.exe UninstCheck.exe; do
  cmp "$build/$shipped" "$build/kit/$shipped" || fail "the kit's $shipped is not the one shipped"
done

rm -rf "$work"
mkdir -p "$work"
source "$(dirname "$0")/../../scripts/wine-session.sh"
export LOCPATH="$build/locale"
export LC_ALL=zh_CN.UTF-8 2>/dev/null  # bash itself has no LOCPATH yet, and says so
WINE_SESSION_DISPLAY=keep wine_session_start "$build" "$work/prefix"
trap wine_session_stop EXIT
drive="$WINEPREFIX/drive_c"
mkdir -p "$drive/users/测试用户/Temp"
wine reg add 'HKCU\Environment' /v TEMP /d 'C:\users\测试用户\Temp' /f >/dev/null 2>&1
wine reg add 'HKCU\Environment' /v TMP /d 'C:\users\测试用户\Temp' /f >/dev/null 2>&1

unpack() {  # unpack FOLDER: the zip, unpacked into C:\FOLDER
  mkdir -p "$drive/$1"
  (cd "$drive/$1" && cmake -E tar xf "$build/kit.zip")
}
run() {  # run FOLDER EXPECTED_EXIT_CODE: runs the kit in C:\FOLDER; its output in $work/out.txt
  local code=0
  (cd "$drive/$1" && wine cmd /c run-tests.cmd) >"$work/out.txt" 2>&1 </dev/null || code=$?
  tr -d '\r' <"$work/out.txt" >"$work/out" && mv "$work/out" "$work/out.txt"
  [ "$code" -eq "$2" ] || fail "C:\\$1: exit code $code, not $2"
}
closing() { tail -n 1 "$work/out.txt"; }
temp_listing() { find "$drive/users/测试用户/Temp" | sort; }

# The whole kit: one line per program, the closing line, XML results, nothing left behind.
unpack '测试 kit'
before=$(temp_listing)
SECONDS=0
run '测试 kit' 0
echo "the kit ran in $SECONDS s:"
cat "$work/out.txt"
programs=$(cd "$drive/测试 kit" && ls *_tests.exe | wc -l)
[ "$(closing)" = "$programs passed, 0 failed" ] || fail "closing line: $(closing)"
[ "$(grep -c '^passed  .*_tests\.exe$' "$work/out.txt")" -eq "$programs" ] || fail "not one line per program"
for exe in "$drive/测试 kit/"*_tests.exe; do
  name=$(basename "$exe" .exe)
  grep -q '<testsuites tests="[1-9]' "$drive/测试 kit/results/$name.xml" || fail "no results from $name"
done
alone=$(ls "$drive/测试 kit/results/"startup_tests*.xml | wc -l)
[ "$alone" -gt 1 ] && grep -qxF "[  ALONE   ] $alone tests, each in a process of its own: 0 failed" \
  <(tr -d '\r' <"$drive/测试 kit/results/run-tests.log") || fail "the start-up tests did not each run alone"
[ "$(temp_listing)" = "$before" ] || fail "%TEMP% changed: $(diff <(echo "$before") <(temp_listing))"
for view in 32 64; do
  wine reg query "$key" /reg:$view >/dev/null 2>&1 && fail "the uninstall key is left in the $view-bit view"
done

# Another program in place of Uninst.exe: the resource checks fail, and say so.
unpack '失败 kit'
cp "$drive/失败 kit/StandIn.exe" "$drive/失败 kit/Uninst.exe"
(cd "$drive/失败 kit" && ls *_tests.exe | grep -vx -e platform_tests.exe -e res_tests.exe | xargs rm)
run '失败 kit' 1
grep -qx 'FAILED  res_tests.exe' "$work/out.txt" || fail "no line for the failed program"
[ "$(closing)" = "1 passed, 1 failed" ] || fail "closing line of the failing kit: $(closing)"

# Where the product is installed or running, the kit refuses and runs nothing.
refuses() {  # refuses REASON: the kit in C:\失败 kit stops and gives REASON
  rm -rf "$drive/失败 kit/results"
  run '失败 kit' 2
  grep -qF "$1" "$work/out.txt" && [ "$(closing)" = "Nothing was run." ] && [ ! -e "$drive/失败 kit/results" ] ||
    fail "did not refuse with \"$1\": $(cat "$work/out.txt")"
}
for view in 32 64; do
  wine reg add "$key" /reg:$view /f >/dev/null 2>&1
  refuses "exists in the $view-bit registry view"
  wine reg delete "$key" /reg:$view /f >/dev/null 2>&1
done
mkdir -p "$drive/Quorill"
cp "$drive/失败 kit/StandIn.exe" "$drive/Quorill/Quorill.exe"
wine cmd /c start "" 'C:\Quorill\Quorill.exe' </dev/null >/dev/null 2>&1
refuses "Quorill.exe is running"

[ "$failures" -eq 0 ]
