#!/usr/bin/env bash
# The test kit as a release engineer runs it: built, unpacked into a fresh Wine prefix set up like a
# Chinese Windows (code page 936, a user name with Chinese characters in %TEMP%) under a folder whose
# name holds characters that cmd treats specially, and run by Wine's cmd with nothing from this side.
# A second run while one is going refuses; a run killed midway leaves only marked items, which the
# next run removes, saying so; that run, with a GTEST_FILTER left in the prompt, passes whole,
# starts no browser, touches no key of the machine's (the one Windows 7 has under HKCR\http) and
# leaves nothing. A kit missing a program or holding an altered one says which, by name, and runs
# the rest; a program that crashes, writes no results or runs fewer tests than it has is FAILED,
# saying so; where the product is installed or running, it refuses. (Under Wine every token is elevated and the input desktop is always the
# prompt's, so those refusals cannot be shown here.)
# kit_test.sh BUILD_DIR, inside the Wine session of scripts/test.sh, whose display it uses.
set -euo pipefail
build=$1
work="$build/tests/kit-test"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorill2010'
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

cmake --build "$build" --target kit MisbehavingTests >/dev/null
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
temp="$drive/users/测试用户/Temp"
mkdir -p "$temp"
wine reg add 'HKCU\Environment' /v TEMP /d 'C:\users\测试用户\Temp' /f >/dev/null 2>&1
wine reg add 'HKCU\Environment' /v TMP /d 'C:\users\测试用户\Temp' /f >/dev/null 2>&1
# Wine ignores the job's JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION, which ends a crashing program at
# once on Windows, and shows its crash dialog instead: off here, as the limit has it on Windows.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

unpack() {  # unpack FOLDER: the zip, unpacked into C:\FOLDER
  mkdir -p "$drive/$1"
  (cd "$drive/$1" && cmake -E tar xf "$build/kit.zip")
}
run() {  # run FOLDER EXPECTED_EXIT_CODE COMMAND...: typed in C:\FOLDER; its output, as UTF-8, in $work/out.txt
  local code=0
  (cd "$drive/$1" && wine cmd /c "${@:3}") >"$work/out.txt" 2>&1 </dev/null || code=$?
  tr -d '\r' <"$work/out.txt" | iconv -f GBK -t UTF-8 >"$work/out" && mv "$work/out" "$work/out.txt"
  [ "$code" -eq "$2" ] || fail "C:\\$1: exit code $code, not $2: $(cat "$work/out.txt")"
}
closing() { tail -n 1 "$work/out.txt"; }
temp_listing() { find "$temp" | sort; }
kit_processes() {  # "PID COMMAND LINE" of each Windows process of the prefix but Wine's own
  local pid
  for pid in $(pgrep -f '\.exe'); do
    [[ $(readlink "/proc/$pid/exe") == */wine* ]] && grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" &&
      echo "$pid $(tr '\0' ' ' <"/proc/$pid/cmdline")"
  done 2>/dev/null | grep -v -E '^[0-9]+ C:\\windows\\system32\\(services|winedevice|plugplay|svchost|rpcss|explorer)\.exe' || true
}
none_left() {  # whether the kit's processes are all gone, waiting for the last ones to end on a busy machine
  for _ in $(seq 200); do [ -z "$(kit_processes)" ] && return; sleep 0.1; done
  return 1
}

# Any browser Wine would start records the page instead; and the key that Windows 7 with Internet
# Explorer has under HKCR\http, which no run may touch.
printf '#!/bin/sh\necho "$1" >>"%s"\n' "$work/browser.log" >"$work/browser.sh"
chmod +x "$work/browser.sh"
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$work/browser.sh" /f >/dev/null 2>&1
ddeexec='HKCR\http\shell\open\ddeexec'
wine reg add "$ddeexec\application" /ve /d IExplore /f >/dev/null 2>&1
wine reg add "$ddeexec\topic" /ve /d WWW_OpenURL /f >/dev/null 2>&1
browser_keys=$(wine reg query "$ddeexec" /s 2>&1)
# A rename the machine has pending for its next restart: the tests schedule deletions of their own
# files there and take them out again, and the machine's own entries stay as they are.
session='HKLM\System\CurrentControlSet\Control\Session Manager'
wine reg add "$session" /v PendingFileRenameOperations /t REG_MULTI_SZ \
  /d '\??\C:\machine\update.tmp\0\??\C:\machine\update.dll' /f >/dev/null 2>&1
pending=$(wine reg query "$session" /v PendingFileRenameOperations 2>&1)

# A second run while one is going refuses. The first, killed (as a closed console would end it)
# once the end-to-end tests have made their marked key and staged installation, leaves no process:
# the job objects end what it started at once, where the end-to-end tests alone run for seconds.
kit='R&D (测试) kit ^!'
unpack "$kit"
before=$(temp_listing)
(cd "$drive/$kit" && wine cmd /c run-tests.cmd) >/dev/null 2>&1 </dev/null &
killed=$!
for _ in $(seq 600); do compgen -G "$temp/QuorillTests-*/*_tests" >/dev/null && break; sleep 0.1; done
run "$kit" 2 run-tests.cmd
grep -qx 'Another run of the test kit is going on this machine: wait until it ends. Two runs would' "$work/out.txt" ||
  fail "a second run did not refuse: $(cat "$work/out.txt")"
runner=$(kit_processes | grep -F 'RunTests.exe' | cut -d' ' -f1) || true
for _ in $(seq 6000); do compgen -G "$temp/QuorillTests-*/e2e_tests/*/*/Uninst.ini" >/dev/null && break; sleep 0.01; done
kill -9 "$runner" || fail "no RunTests.exe to kill"
wait "$killed" || true
none_left || fail "processes of the killed run are left: $(kit_processes)"

# The whole kit, started from a subfolder with a results folder relative to that, and a filter left
# in the prompt that would let no test run: it removes what the killed run left, and a key that a
# run killed while making it left under the kit's own name, and says so; one line per program, the
# closing line, XML results with every test; nothing is left.
mkdir "$drive/$kit/子"
wine reg add "$key (QuorillTestKit)" /f >/dev/null 2>&1
SECONDS=0
GTEST_FILTER='NoSuchTest.*' run "$kit/子" 0 '..\run-tests.cmd' '..\结果 R&D'
echo "the kit ran in $SECONDS s:"
cat "$work/out.txt"
results="$drive/$kit/结果 R&D"
grep -qxF "Results folder: C:\\$kit\\结果 R&D" "$work/out.txt" || fail "the results folder is not named in full"
grep -qxF "Removed the kit's leftover key $key" "$work/out.txt" &&
  grep -qxF "Removed the kit's leftover key $key (QuorillTestKit)" "$work/out.txt" &&
  grep -q "^Removed the kit's leftover folder C:\\\\users\\\\测试用户\\\\Temp\\\\QuorillTests-" "$work/out.txt" ||
  fail "what the killed run left was not removed, or not said so"
programs=$(grep -c '_tests\.exe$' "$drive/$kit/programs.txt")
[ "$(closing)" = "$programs passed, 0 failed" ] || fail "closing line: $(closing)"
[ "$(grep -c '^passed  .*_tests\.exe$' "$work/out.txt")" -eq "$programs" ] || fail "not one line per program"
for name in $(sed -n 's/^.*  \(.*_tests\)\.exe$/\1/p' "$drive/$kit/programs.txt"); do
  grep -q '<testsuites tests="[1-9]' "$results/$name.xml" || fail "no results from $name"
done
head -n 1 "$results/run-tests.log" | grep -qF $'\xef\xbb\xbf'"Test kit in C:\\$kit\\ (this log is UTF-8)" ||
  fail "the log does not start as UTF-8: $(head -n 1 "$results/run-tests.log")"
alone=$(ls "$results/"startup_tests*.xml | wc -l)
[ "$alone" -gt 1 ] && grep -qxF "[  ALONE   ] $alone tests, each in a process of its own: 0 failed" \
  <(tr -d '\r' <"$results/run-tests.log") || fail "the start-up tests did not each run alone"
[ "$(temp_listing)" = "$before" ] || fail "%TEMP% changed: $(diff <(echo "$before") <(temp_listing))"
for view in 32 64; do
  wine reg query "$key" /reg:$view >/dev/null 2>&1 && fail "the uninstall key is left in the $view-bit view"
done
none_left || fail "processes of the kit are left: $(kit_processes)"
[ ! -e "$work/browser.log" ] || fail "a browser was started for $(cat "$work/browser.log")"
[ "$(wine reg query "$ddeexec" /s 2>&1)" = "$browser_keys" ] || fail "$ddeexec changed: $(wine reg query "$ddeexec" /s 2>&1)"
[ "$(wine reg query "$session" /v PendingFileRenameOperations 2>&1)" = "$pending" ] ||
  fail "PendingFileRenameOperations changed: $(wine reg query "$session" /v PendingFileRenameOperations 2>&1)"

# One program altered (another in place of Uninst.exe), the others but two missing, four listed that
# misbehave: each is named, and the two left run in full, whatever filter the prompt holds, here with
# the code page of a Western Windows (1252), which cannot spell the Chinese user name in %TEMP%:
# GoogleTest still writes its results.
unpack '失败 kit'
cp "$drive/失败 kit/StandIn.exe" "$drive/失败 kit/Uninst.exe"
(cd "$drive/失败 kit" && ls *_tests.exe | grep -vx -e platform_tests.exe -e res_tests.exe | xargs rm)
for name in crash lost none fewer; do
  cp "$build/tests/MisbehavingTests.exe" "$drive/失败 kit/${name}_tests.exe"
  (cd "$drive/失败 kit" && sha256sum "${name}_tests.exe" >>programs.txt)
done
GTEST_FILTER='-*' LC_ALL=C.UTF-8 run '失败 kit' 1 run-tests.cmd
grep -qx 'FAILED  Uninst.exe: altered (its SHA-256 is not the one the kit was made with)' "$work/out.txt" &&
  grep -qx 'FAILED  e2e_tests.exe: missing' "$work/out.txt" && grep -qx 'passed  platform_tests.exe' "$work/out.txt" &&
  grep -qx 'FAILED  res_tests.exe: exit code 1' "$work/out.txt" &&
  grep -qx 'FAILED  crash_tests.exe: crashed: exception 0xC0000005' "$work/out.txt" &&
  grep -qx 'FAILED  lost_tests.exe: no results' "$work/out.txt" &&
  grep -qx 'FAILED  none_tests.exe: its results hold no test' "$work/out.txt" &&
  grep -qx 'FAILED  fewer_tests.exe: its results hold 1 of its 2 tests' "$work/out.txt" ||
  fail "not every program named: $(cat "$work/out.txt")"
[ "$(closing)" = "1 passed, $((programs + 4)) failed" ] || fail "closing line of the failing kit: $(closing)"

# Where the product is installed or running, or the results folder cannot be made, the kit refuses
# and runs nothing.
refuses() {  # refuses REASON [ARGUMENT]: the kit in C:\失败 kit stops and gives REASON
  rm -rf "$drive/失败 kit/results"
  run '失败 kit' 2 run-tests.cmd "${@:2}"
  grep -qF "$1" "$work/out.txt" && [ "$(closing)" = "Nothing was run." ] && [ ! -e "$drive/失败 kit/results" ] ||
    fail "did not refuse with \"$1\": $(cat "$work/out.txt")"
}
refuses 'Cannot create the results folder C:\失败 kit\programs.txt' programs.txt
for view in 32 64; do
  wine reg add "$key" /reg:$view /f >/dev/null 2>&1
  refuses "exists in the $view-bit registry view and was not made by the test kit"
  wine reg delete "$key" /reg:$view /f >/dev/null 2>&1
done
mkdir -p "$drive/Quorill"
cp "$drive/失败 kit/StandIn.exe" "$drive/Quorill/Quorill.exe"
wine cmd /c start "" 'C:\Quorill\Quorill.exe' </dev/null >/dev/null 2>&1
refuses "Quorill.exe is running"

[ "$failures" -eq 0 ]
