#!/usr/bin/env bash
# Builds the parameter-parser fuzzer with clang's libFuzzer and runs it for a bounded time
# (seconds, default 60). Any crash, leak, sanitizer report or timeout fails the run.
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"
seconds=${1:-60}
out=build/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++17 -O1 -g -ffp-contract=off -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=all -I. tests/fuzz/AmiParametersFuzz.cpp amiparams/*.cpp \
  -o "$out/ami_parameters_fuzz"
"$out/ami_parameters_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/" \
  "$out/corpus" tests/fuzz/corpus
