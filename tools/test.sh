#!/usr/bin/env bash
# Builds and runs every test: installs what the machine lacks, builds the Windows DLLs with
# mingw-w64 and checks them under Wine (the windows workflow), then runs the test workflow, whose
# tests also compare the DLLs with the Linux libraries. With a workflow preset as argument (asan,
# tsan, ...), runs that one alone. Fails when a workflow ran no tests or any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh test

run_workflow() {
  local log
  log=$(mktemp)
  cmake --workflow --preset "$1" 2>&1 | tee "$log"
  # A test preset with noTestsAction=error already fails on zero tests; this is a second guard.
  if ! grep -Eq '^[0-9]+% tests passed, 0 tests failed out of [1-9][0-9]*' "$log"; then
    rm -f "$log"
    echo "tools/test.sh: workflow $1 ran no tests or reported failures" >&2
    exit 1
  fi
  rm -f "$log"
}

if [ $# -gt 0 ]; then
  run_workflow "$1"
  exit 0
fi
run_workflow windows
run_workflow ci
