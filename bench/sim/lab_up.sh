#!/usr/bin/env bash
# Times `scripts/lab up --encoders 500 --decoders 500` (goal: under 60 s), pages the fleet from the
# station namespace, and takes the lab down again. Root; builds nothing (set VEXO_ELEMENT or build
# the simulator first).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
encoders=${1:-500}
decoders=${2:-500}
start=$(date +%s.%N)
"$here/scripts/lab" up --encoders "$encoders" --decoders "$decoders"
end=$(date +%s.%N)
printf 'scripts/lab up --encoders %s --decoders %s: %.2f s (goal: < 60 s)\n' "$encoders" "$decoders" "$(echo "$end - $start" | bc)"
"$here/scripts/lab" status
start=$(date +%s.%N)
"$here/scripts/lab" down
end=$(date +%s.%N)
printf 'scripts/lab down: %.2f s\n' "$(echo "$end - $start" | bc)"
