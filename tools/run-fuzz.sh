#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs them for a bounded time in all (seconds,
# default 60), shared equally. Any crash, leak, sanitizer report, difference, input slower than
# -timeout or run above -rss_limit_mb fails: a parameter that makes one AMI_Init take gigabytes or
# minutes is a finding.
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"
seconds=${1:-60}
out=build/fuzz
mkdir -p "$out"
flags=(-std=c++17 -O1 -g -ffp-contract=off -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=all -I.)
models=(models/rx/KT7MRL40562D9_Rx.cpp models/tx/KT7MRL40562D9_Tx.cpp modelbuilder/DFModel.cpp
        modelbuilder/CircularBuffers.cpp modelbuilder/FIR.cpp modelbuilder/FirBlock.cpp
        modelbuilder/FirBlockSse2.cpp
        modelbuilder/TimeResponseFIR.cpp modelbuilder/Limit.cpp modelbuilder/Atan.cpp)

# Each target's corpus is tests/fuzz/<name>_corpus.
targets=(parameters block_path rx_entry tx_entry amirun_readers)
build() {
  local name=$1
  shift
  clang++ "${flags[@]}" "$@" -o "$out/$name"
}
build parameters tests/fuzz/AmiParametersFuzz.cpp amiparams/*.cpp
# The vector kernels, each with its own instruction set, as in the libraries.
kernels=()
for kernel in Avx2:-mavx2 Avx512:-mavx512f; do
  clang++ "${flags[@]/-fsanitize=fuzzer,address,undefined/-fsanitize=address,undefined}" \
    "${kernel#*:}" -c "modelbuilder/FirBlock${kernel%%:*}.cpp" -o "$out/FirBlock${kernel%%:*}.o"
  kernels+=("$out/FirBlock${kernel%%:*}.o")
done
build block_path tests/fuzz/BlockPathFuzz.cpp "${models[@]}" "${kernels[@]}"
build rx_entry tests/fuzz/RxEntryFuzz.cpp ami/RxEntryPoints.cpp amiparams/*.cpp "${models[@]}" \
  "${kernels[@]}"
build tx_entry tests/fuzz/TxEntryFuzz.cpp ami/TxEntryPoints.cpp amiparams/*.cpp "${models[@]}" \
  "${kernels[@]}"

# Every folder of amirun below the link flows and the command line.
readers=(tools/amirun/{io,channel,host,check,batch}/*.cpp)
build amirun_readers tests/fuzz/AmirunReadersFuzz.cpp "${readers[@]}" amiparams/*.cpp -lfftw3 -ldl

share=$(( seconds / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1
for name in "${targets[@]}"; do
  mkdir -p "$out/${name}_corpus"
  "$out/$name" -max_total_time="$share" -max_len=65536 -timeout=20 -rss_limit_mb=1024 -malloc_limit_mb=512 \
    -print_final_stats=1 -artifact_prefix="$out/$name-" "$out/${name}_corpus" \
    "tests/fuzz/${name}_corpus"
done
