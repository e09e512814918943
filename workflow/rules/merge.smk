# The windows' summaries merged into genome-wide tracks and tables.

GENOME_FILES = ("conserved.bed", "rate_states.wig", "windows.tsv", "report.txt")


rule merge:
    input:
        tables=lambda wildcards: [checkpoints.prepare.get(aln=aln).output.table for aln in ALIGNMENTS],
        summaries=lambda wildcards: expand("results/{case}/summary/{name}", case=all_window_cases(),
                                           name=("rates.tsv", "segments.tsv", "rate_states.wig", "conserved.bed")),
    output:
        expand("genome/{name}", name=GENOME_FILES),
    log:
        "logs/merge.log",
    benchmark:
        "benchmarks/merge.tsv"
    params:
        max_rhat=config["max_rhat"],
        min_ess=config["min_ess"],
        max_p_kmax=config["max_p_kmax"],
    resources:
        mem_mb=2000,
        runtime=60,
    shell:
        "{ALNMERGE:q} --root-dir ./ --windows {input.tables:q} --out genome/ --max-rhat {params.max_rhat}"
        " --min-ess {params.min_ess} --max-p-kmax {params.max_p_kmax} > {log:q} 2>&1"
