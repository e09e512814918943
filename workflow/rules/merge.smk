# The windows' summaries merged into genome-wide tracks and tables.

GENOME_FILES = ("conserved.bed", "conservation.bw", "mutation_rate.bw", "deletion_rate.bw", "conservation.bedGraph",
                "mutation_rate.bedGraph", "deletion_rate.bedGraph", "windows.tsv", "genome.png", "report.txt")


rule merge:
    input:
        tables=lambda wildcards: [checkpoints.prepare.get(aln=aln).output.table for aln in ALIGNMENTS],
        batches=lambda wildcards: all_batch_markers(),
    output:
        expand("genome/{name}", name=GENOME_FILES),
    log:
        "logs/merge.log",
    benchmark:
        "benchmarks/merge.tsv"
    params:
        options=lambda wildcards: " ".join(shlex.quote(str(word)) for word in (
            "--max-rhat", config["max_rhat"], "--min-ess", config["min_ess"], "--max-p-kmax", config["max_p_kmax"],
            "--rho", config["rho"], "--threshold", config["threshold"], "--min-gap", config["min_gap"],
            "--min-length", config["min_length"], "--conserved-by", config["conserved_by"])),
    resources:
        mem_mb=2000,
        runtime=60,
    shell:
        "{ALNMERGE:q} --root-dir ./ --windows {input.tables:q} --out genome/ {params.options} > {log:q} 2>&1"
