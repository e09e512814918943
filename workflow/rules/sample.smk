# One job per window and chain. The sampler keeps a checkpoint beside its
# traces, so a job that was killed (a time limit, a node failure) continues
# from it when it runs again, and a chain asked for more iterations extends
# the finished one. Neither the checkpoint nor the traces are outputs of the
# rule, since Snakemake deletes the outputs of a failed job: the job's output
# is a marker written once the chain is complete.


def sampler_arguments(case, seed, threads):
    return [ALNSAMPLER, "-s", str(seed), "-r", "./", "-t", f"{case}/", "-n", str(config["iterations"]),
            "-k", str(config["k_max"]), "--thin", str(config["thin"]), "--threads", str(threads),
            "--checkpoint-seconds", str(config["checkpoint_seconds"]), "--progress"]


def run_chain(case, seed, threads, log, done):
    """Run (or continue) one chain; write the marker `done` when it is complete."""
    arguments = sampler_arguments(case, seed, threads)
    checkpoint_file = os.path.join("results", case, f"{seed}_checkpoint.bin")
    with open(log, "w") as out:
        attempts = [arguments + ["--resume"], arguments] if os.path.exists(checkpoint_file) else [arguments]
        for attempt in attempts:
            out.write(" ".join(shlex.quote(word) for word in attempt) + "\n")
            out.flush()
            status = subprocess.call(attempt, stdout=out, stderr=out)
            # The sampler refuses to resume (status 255) when the checkpoint
            # cannot continue this chain: other inputs or options, fewer
            # iterations than done, a damaged file. The chain then starts
            # again from its first iteration.
            if status != 255 or attempt is attempts[-1]:
                break
            out.write("the checkpoint cannot continue this chain (see above): starting it again\n")
            out.flush()
    if status != 0:
        raise WorkflowError(f"alnsampler ended with status {status} on window {case}, seed {seed} (see {log})")
    with open(done, "w") as marker:
        marker.write(f"seed {seed}: {config['iterations']} iterations\n")


rule sample:
    input:
        data="data/{case}/data.txt",
        tree="data/{case}/tree.txt",
        leaf_map="data/{case}/map_from_leave_label_to_seq_id.txt",
    output:
        done="results/{case}/{seed}_sampled.txt",
    log:
        "logs/sample/{case}/{seed}.log",
    benchmark:
        "benchmarks/sample/{case}/{seed}.tsv"
    params:
        iterations=config["iterations"],
        k_max=config["k_max"],
        thin=config["thin"],
    threads: config["threads"]
    resources:
        mem_mb=sampling_mem_mb,
        runtime=sampling_minutes,
    run:
        run_chain(wildcards.case, wildcards.seed, threads, log[0], output.done)
