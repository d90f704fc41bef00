#!/bin/bash
# A study on a Slurm cluster: a job array whose every task traces its share of the
# study's folders with `ringtrace`, several at a time on the task's processors.
#   sbatch examples/slurm/trace-array.sh                  # 40 tasks of 100 folders
#   PER_TASK=4 sbatch --array=0-1 trace-array.sh          # 2 tasks of 4
# Run it from the folder that holds study/ (or give sbatch --chdir). Each task's exit
# status is ringtrace's: the highest of its folders' statuses (0: all traced), and its
# output lists one "FOLDER: RESULT" line per folder.
#SBATCH --array=0-39 --cpus-per-task=4
set -uo pipefail
per_task=${PER_TASK:-100}
mapfile -t all < <(ls -d "${STUDY:-study}"/*/)
share=("${all[@]:$((SLURM_ARRAY_TASK_ID * per_task)):per_task}")
[ ${#share[@]} -gt 0 ] || exit 0
exec ringtrace -j "${SLURM_CPUS_PER_TASK:-1}" --summary summary.json "${share[@]}"
