#!/usr/bin/env bash
# Fails when a tracked C++ file differs from the project's .clang-format.
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"
git ls-files '*.h' '*.cpp' | xargs -r clang-format --dry-run --Werror
