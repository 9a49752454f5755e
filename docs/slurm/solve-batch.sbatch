#!/usr/bin/env bash
# Solves a batch of nimbo studies as a job array, one study per array task. The batch is JSON Lines,
# one study a line, "output" (the study's folder) optional:
#   {"study": "samples/joint_heat.yaml", "output": "runs/joint"}
#
#   sbatch --array=0-$(( $(wc -l < batch.jsonl) - 1 )) docs/slurm/solve-batch.sbatch batch.jsonl
#   cat $(ls -v batch-results/*.json) > results.jsonl    # every task's line, in batch order
#
# Task K solves line K+1 and writes its report as one JSON line to $RESULTS/K.json (RESULTS defaults
# to batch-results). A study that fails leaves {"study", "status", "error"} there instead, and its
# task fails with the tool's exit status. Relative paths are taken from the submit directory.
# NIMBO_SHAPE names the tool (default: nimbo-shape on PATH).
#SBATCH --job-name=nimbo-batch
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=4
#SBATCH --time=01:00:00
#SBATCH --output=nimbo-batch-%A_%a.out
set -euo pipefail
batch=$1
task=$SLURM_ARRAY_TASK_ID
results=${RESULTS:-batch-results}
mkdir -p "$results"

# A failure is a JSON line too, so that the joined results account for every line of the batch.
failed() {  # failed STUDY STATUS MESSAGE
  python3 -c 'import json, sys; print(json.dumps({"study": sys.argv[1], "status": int(sys.argv[2]), "error": sys.argv[3]}))' \
    "$@" > "$results/$task.json"
  echo "nimbo-batch: $1: $3" >&2
  exit "$2"
}

entry=$(python3 -c '
import json, sys
lines = open(sys.argv[1]).read().splitlines()
if int(sys.argv[2]) >= len(lines): sys.exit(f"{sys.argv[1]} has only {len(lines)} lines")
entry = json.loads(lines[int(sys.argv[2])])
print(entry["study"], entry.get("output", ""), sep="\n")
' "$batch" "$task" 2>&1) || failed "line $((task + 1)) of $batch" 2 "$(tail -n 1 <<< "$entry")"
mapfile -t fields <<< "$entry"
study=${fields[0]} output=${fields[1]:-}

# CalculiX would otherwise take a thread for every core of the node, not of the task.
args=(solve "$study" --json --threads "${SLURM_CPUS_PER_TASK:-1}")
[[ -z $output ]] || args+=(-o "$output")
report=$(mktemp) errors=$(mktemp)
trap 'rm -f "$report" "$errors"' EXIT
status=0
"${NIMBO_SHAPE:-nimbo-shape}" "${args[@]}" > "$report" 2> "$errors" || status=$?
cat "$errors" >&2
((status == 0)) || failed "$study" "$status" "$(sed '/^$/d' "$errors" | tail -n 1)"
# One study's report comes indented over many lines; the results are one line each.
python3 -c 'import json, sys; print(json.dumps(json.load(sys.stdin)))' < "$report" > "$results/$task.json"
