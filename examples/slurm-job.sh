#!/bin/bash
#SBATCH --job-name=orvantic-drives
#SBATCH --nodes=3
#SBATCH --ntasks-per-node=4
#SBATCH --time=00:30:00
#SBATCH --no-requeue
#SBATCH --output=%x-%j.out
#SBATCH --error=%x-%j.err
# --time also ends a job that a node lost from the network would keep
# waiting; --no-requeue: Slurm then ends it (NODE_FAIL), where it would
# otherwise put it back in the queue to run again, from the start.
# The directory on the drive to measure: the same path on every node, made
# here on each of them, and one of its own for every job. The scratch files'
# names repeat from job to job, so two jobs in one directory would measure
# each other's files.
run_dir=${ORVANTIC_RUN_DIR:-/scratch/$USER/drive-test}/$SLURM_JOB_ID
program=${ORVANTIC_PROGRAM:-/opt/orvantic/bin/orvantic-drives}
# project-duration, installed beside the report scripts.
scripts=${ORVANTIC_SCRIPTS:-$(dirname "$program")/../lib/orvantic-drives}
# A command once on every node of the job (srun alone would run it once per
# task of the job).
each_node() { srun --ntasks="$SLURM_JOB_NUM_NODES" --ntasks-per-node=1 "$@"; }
each_node mkdir -p "$run_dir" || exit 1
cd "$run_dir" || exit 1
# A short run of the same calls first, scaled up (its figures go to the .err
# file): a run that would outlast the job's time limit is not started.
if ! "$scripts/project-duration" -n "$SLURM_NTASKS" . >&2; then
  echo "orvantic-drives not started: project-duration says why above." >&2
  each_node rmdir "$run_dir"
  exit 1
fi
# Standard input from /dev/null: the run ends without waiting for Enter.
# mpiexec learns the nodes and the number of processes from Slurm.
mpiexec -n "$SLURM_NTASKS" "$program" < /dev/null
status=$?
# The scratch files (32 MiB per process) go on every node, and the job's
# directory wherever that empties it; the results file stays on the first node.
each_node find "$run_dir" -maxdepth 1 -type f -name 'data64-windows-mx-*' -delete
each_node rmdir --ignore-fail-on-non-empty "$run_dir"
# Slurm records the script's last status: the run's, not the clean-up's.
exit $status
