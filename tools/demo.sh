#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs amirun on both models with their
# defaults and the built-in channel. Plots and CSV files land in out/; a summary is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh main
cmake --preset ci >/dev/null
cmake --build --preset ci --target amirun KT7MRL40562D9_Rx_x64 KT7MRL40562D9_Tx_x64 >/dev/null
amirun=build/ci/tools/amirun/amirun
rx=build/ci/ami/KT7MRL40562D9_Rx_x64.so
tx=build/ci/ami/KT7MRL40562D9_Tx_x64.so
mkdir -p out

"$amirun" init "$rx" --out out > out/rx_init.txt
"$amirun" sweep "$rx" --out out > out/rx_sweep.txt
"$amirun" getwave "$tx" --out out > out/tx_getwave.txt
"$amirun" getwave "$tx" --out out --prefix KT7MRL40562D9_Tx_channel --through-channel > out/tx_channel.txt

echo "KT7MRL40562D9 on the built-in channel (20 dB at Nyquist, 32 Gb/s):"
echo "  receiver, EQ 15:  $(grep 'eye before' out/rx_init.txt)"
echo "                    $(grep 'eye after' out/rx_init.txt)"
echo "  receiver sweep:   $(grep '^best' out/rx_sweep.txt) ($(grep '<- best' out/rx_sweep.txt | awk '{print "eye height " $2 " V, width " $3 " UI"}'))"
echo "  transmitter:      $(grep 'eye of the output:' out/tx_getwave.txt)"
echo "                    $(grep 'after the channel' out/tx_channel.txt)"
echo "  files:            $(ls out | grep -c -E '\.(png|csv)$') plots and CSV files in out/"
