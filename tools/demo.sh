#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs amirun on the whole link (the
# transmitter, a built-in 20 dB channel at 32 Gb/s, the receiver), then on each model alone.
# Plots, CSV files and JSON summaries land in out/; the summary below is read from the JSON.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh main
cmake --preset ci >/dev/null
cmake --build --preset ci --target amirun KT7MRL40562D9_Rx_x64 KT7MRL40562D9_Tx_x64 >/dev/null
amirun=build/ci/tools/amirun/amirun
rx=build/ci/ami/KT7MRL40562D9_Rx_x64.so
tx=build/ci/ami/KT7MRL40562D9_Tx_x64.so
mkdir -p out

# One value of a flat JSON summary: field OBJECT KEY FILE (OBJECT may be empty).
field() {
  local text
  text=$(tr -d '\n' < "$3")
  if [ -n "$1" ]; then
    text=${text#*\"$1\":}
    text=${text%%\}*}
  fi
  sed -E 's/.*"'"$2"'":("([^"]*)"|([^,}]*)).*/\2\3/' <<< "$text"
}

"$amirun" sweep "$rx" --out out --json out/rx_sweep.json > out/rx_sweep.txt
eq=$(field "" best out/rx_sweep.json)
"$amirun" link "$tx" "$rx" --rx-set EQ="$eq" --out out --json out/link.json > out/link.txt
"$amirun" init "$rx" --set EQ="$eq" --out out --json out/rx_init.json > out/rx_init.txt
"$amirun" getwave "$tx" --out out --json out/tx_getwave.json > out/tx_getwave.txt

printf 'KT7MRL40562D9 on the built-in channel (20 dB at Nyquist, 32 Gb/s):\n'
printf '  channel:                a window of %s UI keeping %s of its DC response\n' \
  "$(field channel window_ui out/link.json)" "$(field channel kept_dc_fraction out/link.json)"
printf '  best receiver setting:  EQ %s (of the sweep over all 16)\n' "$eq"
printf '  link, statistical eye:  height %s V, width %s UI at BER %s (%s)\n' \
  "$(field statistical_eye height_V out/link.json)" "$(field statistical_eye width_UI out/link.json)" \
  "$(field statistical_eye target_BER out/link.json)" "$(field statistical_eye state out/link.json)"
printf '  link, bit by bit:       height %s V, width %s UI (%s)\n' \
  "$(field bit_by_bit_eye height_V out/link.json)" "$(field bit_by_bit_eye width_UI out/link.json)" \
  "$(field bit_by_bit_eye state out/link.json)"
# A closed eye is reported as closed, not as a negative height.
eye() {
  if [ "$(field "$1" state "$2")" = open ]; then echo "$(field "$1" height_V "$2") V"; else echo closed; fi
}
printf '  receiver alone:         eye %s before the model, %s after it\n' \
  "$(eye eye_before out/rx_init.json)" "$(eye eye_after out/rx_init.json)"
printf '  transmitter alone:      output eye %s\n' "$(eye eye out/tx_getwave.json)"
printf '  files:                  %s plots, CSV and JSON files in out/\n' \
  "$(ls out | grep -c -E '\.(png|csv|json)$')"
