#!/usr/bin/env bash
# The whole suite on a busy machine, as a newcomer's laptop is: scripts/test.sh run N times in a row
# (default 3) in a clean clone of the current commit, the first run building everything, while
# stress-ng keeps every core busy. Prints each run's time and result; fails when any run fails.
# load-test.sh [N]; the clone and each run's log stay in a new folder under /tmp.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}

if ! dpkg-query -W -f='${Status}' stress-ng 2>/dev/null | grep -q 'install ok installed'; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: stress-ng"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq stress-ng >/dev/null
fi

commit=$(git rev-parse HEAD)
work=$(mktemp -d /tmp/uninst-load-XXXXXX)
git clone --quiet --no-checkout . "$work/clone"
git -C "$work/clone" checkout --quiet --detach "$commit"
[ -z "$(git status --porcelain --untracked-files=no)" ] || echo "Note: uncommitted changes are not in the clone"

stress-ng --cpu "$(nproc)" --quiet &
stress=$!
trap 'kill "$stress" 2>/dev/null || true' EXIT
echo "Commit $commit in $work/clone; load: stress-ng --cpu $(nproc) on $(nproc) cores"
failed=0
for run in $(seq "$runs"); do
  log="$work/run-$run.log"
  SECONDS=0
  result=passed
  (cd "$work/clone" && scripts/test.sh) >"$log" 2>&1 || { result="FAILED (log: $log)"; failed=$((failed + 1)); }
  summary=$(grep -E '^[0-9]+% tests passed' "$log" || echo 'no ctest summary')
  echo "run $run of $runs: $result in $((SECONDS / 60)) min $((SECONDS % 60)) s; $summary"
done
echo "$((runs - failed)) of $runs runs passed under load"
[ "$failed" -eq 0 ]
