#!/bin/bash
#SBATCH --job-name=orvantic-drives
#SBATCH --nodes=3
#SBATCH --ntasks-per-node=4
#SBATCH --time=00:30:00
#SBATCH --output=%x-%j.out
#SBATCH --error=%x-%j.err
# The directory on the drive to measure: the same path on every node, made
# here on each of them. Rank 0's node keeps the results file there, and
# every node its own workers' scratch files.
run_dir=${ORVANTIC_RUN_DIR:-/scratch/$USER/drive-test}
program=${ORVANTIC_PROGRAM:-/opt/orvantic/bin/orvantic-drives}
srun --ntasks-per-node=1 mkdir -p "$run_dir" || exit 1
cd "$run_dir" || exit 1
# Standard input from /dev/null: the run ends without waiting for Enter.
# mpiexec learns the nodes and the number of processes from Slurm.
mpiexec -n "$SLURM_NTASKS" "$program" < /dev/null
