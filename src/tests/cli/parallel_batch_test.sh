#!/usr/bin/env bash
# The README's GNU parallel example on this machine: every sample comes back as one JSON line.
#   parallel_batch_test.sh <nimbo-shape> <parallel-batch.sh> <samples folder>
set -euo pipefail
tool=$1 script=$2 samples=$3
expected=$(find "$samples" -type f \( -iname '*.step' -o -iname '*.igs' -o -iname '*.brep' \) | wc -l)
NIMBO_SHAPE=$tool "$script" stats "$samples" -j 2 | python3 -c '
import json, sys
rows = [json.loads(line) for line in sys.stdin]
files = sorted(row["file"] for row in rows)
bad = [row for row in rows if "error" in row]
print(f"{len(rows)} rows for {sys.argv[1]} files, {len(bad)} with errors")
sys.exit(0 if len(rows) == int(sys.argv[1]) and not bad and len(set(files)) == len(files) else 1)
' "$expected"
