#!/usr/bin/python3
"""Snakemake's cluster status command for SLURM: prints running, success or failed for a job id.

Snakemake learns of a job that the scheduler killed (time limit, memory,
node failure) only from here: such a job never reaches the end of its job
script, where a normal job reports itself.
"""

import subprocess
import sys

FAILED = {"BOOT_FAIL", "CANCELLED", "DEADLINE", "FAILED", "NODE_FAIL", "OUT_OF_MEMORY", "PREEMPTED", "TIMEOUT"}


def state(job_id):
    """The job's state from sacct, or from scontrol while the accounting has not caught up.

    None when neither command answered (an overloaded controller: ask again
    later), "UNKNOWN" when both answered without the job (long gone).
    """
    commands = (["sacct", "-j", job_id, "-X", "-n", "-P", "-o", "State"],
                ["scontrol", "show", "job", "-o", job_id])
    answered = False
    for command in commands:
        try:
            output = subprocess.run(command, capture_output=True, text=True, timeout=60, check=False).stdout
        except (OSError, subprocess.TimeoutExpired):
            continue
        answered = True
        for word in output.split():
            if word.startswith("JobState="):
                return word.split("=", 1)[1]
        lines = [line.strip() for line in output.splitlines() if line.strip()]
        if lines and command[0] == "sacct":
            return lines[0].split()[0]  # "CANCELLED by 123" -> CANCELLED
    return "UNKNOWN" if answered else None


def main():
    current = state(sys.argv[1])
    # A job the scheduler has forgotten is reported done: Snakemake then
    # checks its outputs, and treats it as failed if they are missing.
    if current in ("COMPLETED", "UNKNOWN"):
        print("success")
    elif current in FAILED:
        print("failed")
    else:
        print("running")  # pending, running, completing, or no answer yet


if __name__ == "__main__":
    main()
