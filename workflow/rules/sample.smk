# The windows of an alignment in batches of `windows_per_job`: one job runs
# every chain of its windows (continuing each from the sampler's checkpoint
# when it was stopped) and summarises each window, so that Snakemake's own
# start-up and bookkeeping stay a small share of the CPU. Neither the chains
# nor the summaries are outputs of the rule, since Snakemake deletes the
# outputs of a failed job: the job's output is a marker naming its windows,
# written once all of them are summarised. The job checks each chain's files
# itself (workflow/scripts/chains.py), so a marker never stands for files
# that are gone; a marker whose windows lack a summary is removed when the
# workflow starts, and the batch runs again.


def summary_command(case):
    words = [ALNSUMMARIZE, "--root-dir", "./", "--case", f"{case}/", "--out", f"results/{case}/summary/",
             "--seeds", *map(str, SEEDS), "--rho", str(config["rho"]), "--threshold", str(config["threshold"]),
             "--min-gap", str(config["min_gap"]), "--min-length", str(config["min_length"]),
             "--conserved-by", config["conserved_by"]]
    if config["burnin"] is not None:
        words += ["--burnin", str(config["burnin"])]
    if not config["plots"]:
        words.append("--no-plots")
    return words


rule sample:
    input:
        table="data/{aln}_windows.tsv",
    output:
        done="results/batches/{aln}/{batch}.txt",
    log:
        "logs/sample/{aln}/{batch}.log",
    benchmark:
        "benchmarks/sample/{aln}/{batch}.tsv"
    params:
        windows=lambda wildcards: batch_cases(wildcards.aln, wildcards.batch),
        iterations=config["iterations"],
        k_max=config["k_max"],
        thin=config["thin"],
        seeds=SEEDS,
        marginal_rate_moves=config["marginal_rate_moves"],
        summary=lambda wildcards: " ".join(summary_command("CASE")[1:]),
    threads: config["threads"]
    resources:
        mem_mb=sampling_mem_mb,
        runtime=batch_minutes,
    run:
        cases = batch_cases(wildcards.aln, wildcards.batch)
        try:
            chains.run_batch(chain_settings(threads), cases, SEEDS, summary_command, log[0])
        except chains.ChainError as error:
            raise WorkflowError(f"{error} (see {log[0]})")
        with open(output.done, "w") as marker:
            marker.write(f"windows: {' '.join(cases)}\nseeds: {' '.join(map(str, SEEDS))}\n"
                         f"iterations: {config['iterations']}\n")
