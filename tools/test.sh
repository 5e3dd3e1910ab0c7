#!/usr/bin/env bash
# Builds and runs every test: installs what the machine lacks, then the test workflow (ci by
# default; asan, or another workflow preset, as the first argument). Fails when the workflow ran
# no tests or any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-ci}
tools/install-deps.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cmake --workflow --preset "$preset" 2>&1 | tee "$log"
# A test preset with noTestsAction=error already fails on zero tests; this is a second guard.
if ! grep -Eq '^[0-9]+% tests passed, 0 tests failed out of [1-9][0-9]*' "$log"; then
  echo "tools/test.sh: workflow $preset ran no tests or reported failures" >&2
  exit 1
fi
