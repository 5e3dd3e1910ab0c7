#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs amirun on the whole link (the
# transmitter, a built-in 20 dB channel at 32 Gb/s, the receiver), then on each model alone.
# Plots, CSV files and JSON summaries land in out/; the summary below is read from the JSON.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "demo: checking Debian packages (installs what is missing)" >&2
tools/install-deps.sh main
echo "demo: building amirun and both models (the first build takes a few minutes)" >&2
cmake --preset ci >/dev/null
cmake --build --preset ci --target amirun KT7MRL40562D9_Rx_x64 KT7MRL40562D9_Tx_x64 |
  grep --line-buffered -E '^\[ *[0-9]+%\] (Built target|Linking)' >&2 || true
echo "demo: searching every transmitter x receiver setting, then running the best link" >&2
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

# Four significant digits of a number from the JSON, or the text as it stands.
num() {
  local v
  v=$(field "$1" "$2" "$3")
  if [[ $v =~ ^-?[0-9] ]]; then printf '%.4g' "$v"; else printf '%s' "$v"; fi
}

# Typical impairments of a 32 Gb/s receiver: 1 mV rms of noise at its output, 0.01 UI rms of
# random jitter and 0.05 UI of dual-Dirac deterministic jitter.
impairments=(--noise-rms 0.001 --rj-rms 0.01 --dj-pp 0.05)
"$amirun" optimize "$tx" "$rx" "${impairments[@]}" --out out --json out/optimize.json > out/optimize.txt
best_tx=$(sed -E 's/.*"best":\{"tx":\{([^}]*)\}.*/\1/; s/"//g; s/:/=/g; s/,/ /g' out/optimize.json)
best_rx=$(sed -E 's/.*"best":\{"tx":\{[^}]*\},"rx":\{([^}]*)\}.*/\1/; s/"//g; s/:/=/g; s/,/ /g' out/optimize.json)
tx_sets=()
for s in $best_tx; do tx_sets+=(--tx-set "$s"); done
rx_sets=()
for s in $best_rx; do rx_sets+=(--rx-set "$s"); done
"$amirun" link "$tx" "$rx" "${tx_sets[@]}" "${rx_sets[@]}" "${impairments[@]}" --out out --json out/link.json > out/link.txt
"$amirun" sweep "$rx" --out out --json out/rx_sweep.json > out/rx_sweep.txt
"$amirun" init "$rx" "${rx_sets[@]/--rx-set/--set}" --out out --json out/rx_init.json > out/rx_init.txt
"$amirun" getwave "$tx" "${tx_sets[@]/--tx-set/--set}" --out out --json out/tx_getwave.json > out/tx_getwave.txt

printf 'KT7MRL40562D9 on the built-in channel (20 dB at Nyquist, 32 Gb/s, +-0.5 V bits):\n'
printf '  impairments:            1 mV rms noise, 0.01 UI rms random and 0.05 UI dual-Dirac jitter\n'
printf '  channel:                a window of %s UI keeping %s %% of its DC response\n' \
  "$(num channel window_ui out/link.json)" \
  "$(awk -v f="$(field channel kept_dc_fraction out/link.json)" 'BEGIN { printf "%.4g", 100 * f }')"
printf '  best link settings:     transmitter %s, receiver %s (of %s pairs, ranked by %s)\n' \
  "$best_tx" "$best_rx" "$(field "" pairs out/optimize.json)" \
  "$(field "" ranked_by out/optimize.json | tr _ -)"
printf '  link, statistical eye:  height %s V, width %s UI at BER %s (%s)\n' \
  "$(num statistical_eye height_v out/link.json)" "$(num statistical_eye width_ui out/link.json)" \
  "$(num statistical_eye target_ber out/link.json)" "$(field statistical_eye state out/link.json)"
printf '  link, bit by bit:       height %s V, width %s UI (%s)\n' \
  "$(num bit_by_bit_eye height_v out/link.json)" "$(num bit_by_bit_eye width_ui out/link.json)" \
  "$(field bit_by_bit_eye state out/link.json)"
# A closed eye is reported as closed, not as a negative height.
eye() {
  if [ "$(field "$1" state "$2")" = open ]; then echo "$(num "$1" height_v "$2") V"; else echo closed; fi
}
printf '  receiver alone:         eye %s before the model, %s after it\n' \
  "$(eye eye_before out/rx_init.json)" "$(eye eye_after out/rx_init.json)"
printf '  transmitter alone:      output eye %s\n' "$(eye eye out/tx_getwave.json)"
printf '  files:                  %s plots, CSV and JSON files in out/\n' \
  "$(ls out | grep -c -E '\.(png|csv|json)$')"
