# The windows of every alignment (every chromosome its reference lies on, or
# the one `chrom` names). A checkpoint: how many windows there are is known
# only once alnprepare has cut the alignment.


def prepare_options(wildcards):
    entry = ALIGNMENTS[wildcards.aln]
    options = []
    for key in ("reference", "chrom", "outgroup"):
        if entry.get(key) is not None:
            options += [f"--{key}", str(entry[key])]
    if entry.get("midpoint"):
        options.append("--midpoint")
    options += ["--overlaps", config["overlaps"]]
    return " ".join(shlex.quote(option) for option in options)


checkpoint prepare:
    input:
        maf=lambda wildcards: alignment_path(wildcards.aln, "maf"),
        tree=lambda wildcards: alignment_path(wildcards.aln, "tree"),
    output:
        table="data/{aln}_windows.tsv",
    log:
        "logs/prepare/{aln}.log",
    benchmark:
        "benchmarks/prepare/{aln}.tsv"
    params:
        options=prepare_options,
        window=config["window"],
        min_columns=config["min_columns"],
    resources:
        # A MAF sorted along the reference is read with memory bounded by a window.
        mem_mb=1000,
        runtime=60,
    shell:
        "{ALNPREPARE:q} --alignment {input.maf:q} --format maf --tree {input.tree:q} --root-dir ./"
        " --case {wildcards.aln}/ --window {params.window} --min-columns {params.min_columns} --force"
        " {params.options} > {log:q} 2>&1"
