#!/bin/bash
#SBATCH --job-name=orvantic-drives
#SBATCH --nodes=3
#SBATCH --ntasks-per-node=4
#SBATCH --time=00:30:00
#SBATCH --output=%x-%j.out
#SBATCH --error=%x-%j.err
# The directory on the drive to measure: the same path on every node, made
# here on each of them, and one of its own for every job. The scratch files'
# names repeat from job to job, so two jobs in one directory would measure
# each other's files.
run_dir=${ORVANTIC_RUN_DIR:-/scratch/$USER/drive-test}/$SLURM_JOB_ID
program=${ORVANTIC_PROGRAM:-/opt/orvantic/bin/orvantic-drives}
srun --ntasks-per-node=1 mkdir -p "$run_dir" || exit 1
cd "$run_dir" || exit 1
# Standard input from /dev/null: the run ends without waiting for Enter.
# mpiexec learns the nodes and the number of processes from Slurm.
mpiexec -n "$SLURM_NTASKS" "$program" < /dev/null
status=$?
# The scratch files (32 MiB per process) go on every node, and the job's
# directory wherever that empties it; the results file stays on the first node.
srun --ntasks-per-node=1 find "$run_dir" -maxdepth 1 -type f -name 'data64-windows-mx-*' -delete
srun --ntasks-per-node=1 rmdir --ignore-fail-on-non-empty "$run_dir"
# Slurm records the script's last status: the run's, not the clean-up's.
exit $status
