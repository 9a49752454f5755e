#!/usr/bin/env bash
# Solves one nimbo study with GetDP running on every task of the job, over two nodes.
#
#   sbatch docs/slurm/solve-study.sbatch [STUDY.yaml [FOLDER]]
#
# STUDY defaults to samples/joint_heat.yaml, FOLDER (mesh, GetDP problem, field) to the study's name
# and the job id in the submit directory; it must be on a file system every node sees. The report is
# one JSON object in nimbo-solve-<job id>.out, the progress and any error in .err beside it.
# NIMBO_SHAPE names the tool (default: nimbo-shape on PATH).
#SBATCH --job-name=nimbo-solve
#SBATCH --nodes=2
#SBATCH --ntasks-per-node=4
#SBATCH --time=01:00:00
#SBATCH --output=nimbo-solve-%j.out
#SBATCH --error=nimbo-solve-%j.err
set -euo pipefail
study=${1:-samples/joint_heat.yaml}
study_name=$(basename "$study")
folder=${2:-${study_name%.*}-$SLURM_JOB_ID}
# srun takes the place of mpirun, so that GetDP's ranks land on the tasks Slurm gave the job.
exec "${NIMBO_SHAPE:-nimbo-shape}" solve "$study" --processes "$SLURM_NTASKS" --launcher srun --json -o "$folder"
