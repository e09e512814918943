# One summary per window, from all of its chains.

SUMMARY_FILES = ("rates.tsv", "segments.tsv", "columns.tsv", "rate_states.wig", "conserved.bed", "report.txt")


def summary_options(wildcards):
    options = ["--seeds", *map(str, SEEDS)]
    if config["burnin"] is not None:
        options += ["--burnin", str(config["burnin"])]
    if not config["plots"]:
        options.append("--no-plots")
    return " ".join(options)


rule summarise:
    input:
        chains=lambda wildcards: expand("results/{case}/{seed}_sampled.txt", case=wildcards.case, seed=SEEDS),
    output:
        expand("results/{{case}}/summary/{name}", name=SUMMARY_FILES),
    log:
        "logs/summarise/{case}.log",
    benchmark:
        "benchmarks/summarise/{case}.tsv"
    params:
        options=summary_options,
    resources:
        mem_mb=lambda wildcards: 500 + config["window"] // 5,
        runtime=lambda wildcards: 10 + config["chains"] * config["iterations"] // 500,
    shell:
        "{ALNSUMMARIZE:q} --root-dir ./ --case {wildcards.case}/ --out results/{wildcards.case}/summary/"
        " {params.options} > {log:q} 2>&1"
