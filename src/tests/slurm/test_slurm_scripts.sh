#!/usr/bin/env bash
# The Slurm job scripts of docs/slurm: checked by sbatch where Slurm is installed, else run here as
# their tasks would run, with an srun that starts its command once, on a study and a two-line batch
# whose second study is missing.
#   test_slurm_scripts.sh <nimbo-shape> <samples folder>
set -euo pipefail
tool=$(realpath "$1")
scripts=$(realpath "$(dirname "$0")/../../../docs/slurm")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$2/joint_heat.yaml" "$2/bolted_joint.step" "$work"
cd "$work"
printf '%s\n' '{"study": "joint_heat.yaml", "output": "joint"}' '{"study": "missing.yaml"}' > batch.jsonl

if command -v sbatch > /dev/null; then
  sbatch --test-only "$scripts/solve-study.sbatch" joint_heat.yaml
  sbatch --test-only --array=0-1 "$scripts/solve-batch.sbatch" batch.jsonl
  exit
fi

mkdir bin
printf '#!/bin/sh\necho "$@" >> %s/srun.log\nexec "$@"\n' "$work" > bin/srun
chmod +x bin/srun
export NIMBO_DUMPS=0 PATH=$work/bin:$PATH NIMBO_SHAPE=$tool SLURM_JOB_ID=7 SLURM_NTASKS=2 SLURM_CPUS_PER_TASK=1
bash "$scripts/solve-study.sbatch" joint_heat.yaml > study.json
grep getdp srun.log  # GetDP started by srun, as in a job
SLURM_ARRAY_TASK_ID=0 bash "$scripts/solve-batch.sbatch" batch.jsonl
SLURM_ARRAY_TASK_ID=1 bash "$scripts/solve-batch.sbatch" batch.jsonl && { echo "the missing study's task succeeded" >&2; exit 1; }
python3 - <<'PYTHON'
import json
def line(task):  # each task's result is one JSON line
    (text,) = open(f"batch-results/{task}.json").read().splitlines()
    return json.loads(text)
study, good, bad = json.load(open("study.json")), line(0), line(1)
print(len(study["parts"]), "parts;", len(good["parts"]), "in the batch;", bad)
assert study["parts"] and good["parts"]
assert bad["study"] == "missing.yaml" and bad["status"] != 0, bad
PYTHON
