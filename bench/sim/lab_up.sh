#!/usr/bin/env bash
# Times `scripts/lab up --encoders 500 --decoders 500` (goal: under 60 s) and `scripts/lab down`.
# Root; builds nothing (build the simulator first, or point VEXO_ELEMENT at it).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
encoders=${1:-500}
decoders=${2:-500}
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
start=$EPOCHREALTIME
"$here/scripts/lab" up --encoders "$encoders" --decoders "$decoders"
echo "scripts/lab up --encoders $encoders --decoders $decoders: $(elapsed "$start" "$EPOCHREALTIME") s (goal: < 60 s)"
"$here/scripts/lab" status
start=$EPOCHREALTIME
"$here/scripts/lab" down
echo "scripts/lab down: $(elapsed "$start" "$EPOCHREALTIME") s"
