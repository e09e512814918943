#!/usr/bin/python3
"""Writes a simulated MAF genome alignment and its Newick tree, for the genome workflow.

Each block is evolved down the tree from a random root sequence: every branch
mutates a base (to one of the other three) and deletes it with probabilities
that grow with the branch length and with the local rate class (conserved,
neutral or fast stretches along the genome).  The reference species' bases
set the block's reference span; unaligned reference stretches lie between
blocks, other species are absent from many blocks, some rows are on the minus
strand and some stretches are soft-masked (lower case), as in real MAF files.

    bench/make_maf.py --length 1000000 --maf genome.maf --tree genome.nwk
"""

import argparse
import math
import random

SPECIES = ("hg", "pt", "mm", "rn", "cf")
# ((hg, pt), (mm, rn)), cf: the first species is the reference.
NEWICK = "(((hg:0.02,pt:0.03):0.1,(mm:0.08,rn:0.09):0.05):0.05,{outgroup});\n"
EDGES = (("root", "a", 0.05), ("root", "cf", 0.2), ("a", "b", 0.1), ("a", "c", 0.05),
         ("b", "hg", 0.02), ("b", "pt", 0.03), ("c", "mm", 0.08), ("c", "rn", 0.09))
RATE_CLASSES = (0.2, 1.0, 2.5)  # conserved, neutral, fast
MUTATION_RATE, DELETION_RATE = 1.0, 0.1
SOURCE_SIZE = 10**9


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--length", type=int, default=1_000_000, help="reference bases in the blocks' span")
    parser.add_argument("--block-mean", type=int, default=2500, help="mean block width in columns")
    parser.add_argument("--absent", type=float, default=0.3, help="chance that a species is missing from a block")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--chrom", default="chr1")
    parser.add_argument("--extra-leaf", action="store_true", help="a tree leaf with no row in the MAF (pruned)")
    parser.add_argument("--maf", required=True)
    parser.add_argument("--tree", required=True)
    return parser.parse_args()


def evolve(root, classes, generator):
    """{species: aligned row} of one block, from the root row down every branch."""
    rows = {"root": root}
    for parent, child, length in EDGES:
        source = rows[parent]
        row = []
        for base, rate in zip(source, classes):
            if base != "-" and generator.random() < 1 - math.exp(-DELETION_RATE * rate * length):
                base = "-"
            if base != "-" and generator.random() < 0.75 * (1 - math.exp(-4 / 3 * MUTATION_RATE * rate * length)):
                base = generator.choice([other for other in "ACGT" if other != base])
            row.append(base)
        rows[child] = row
    return {species: rows[species] for species in SPECIES}


def rate_classes(width, state, generator):
    """Rate class of each column; stretches of about 300 columns, carried across blocks."""
    classes = []
    for _ in range(width):
        if generator.random() < 1 / 300:
            state = generator.randrange(len(RATE_CLASSES))
        classes.append(RATE_CLASSES[state])
    return classes, state


def block_lines(rows, reference_start, positions, generator, absent, chrom):
    present = [species for species in SPECIES if species == SPECIES[0] or generator.random() >= absent]
    columns = [index for index in range(len(rows[SPECIES[0]])) if any(rows[s][index] != "-" for s in present)]
    texts = {species: "".join(rows[species][index] for index in columns) for species in present}
    if generator.random() < 0.3 and len(columns) > 60:  # a soft-masked repeat
        first = generator.randrange(len(columns) - 50)
        last = first + generator.randrange(50, 300)
        texts = {species: text[:first] + text[first:last].lower() + text[last:] for species, text in texts.items()}
    lines = [f"a score={generator.randrange(1000, 100000)}.0"]
    for species in present:
        size = len(texts[species]) - texts[species].count("-")
        if species == SPECIES[0]:
            start, strand = reference_start, "+"
        else:
            start, strand = positions[species], "-" if generator.random() < 0.2 else "+"
            positions[species] += size + generator.randrange(0, 50)
        lines.append(f"s {species}.{chrom if species == SPECIES[0] else 'scaffold1'} {start} {size} {strand}"
                     f" {SOURCE_SIZE} {texts[species]}")
    return lines, len(texts[SPECIES[0]]) - texts[SPECIES[0]].count("-")


def main():
    arguments = parse_arguments()
    generator = random.Random(arguments.seed)
    positions = {species: generator.randrange(10**6) for species in SPECIES}
    reference, state, blocks = 0, 1, 0
    with open(arguments.maf, "w") as maf:
        maf.write("##maf version=1 scoring=simulated\n# bench/make_maf.py\n\n")
        while reference < arguments.length:
            width = max(20, int(arguments.block_mean * generator.uniform(0.5, 1.5)))
            width = min(width, arguments.length - reference + 10)
            classes, state = rate_classes(width, state, generator)
            root = [generator.choice("ACGT") for _ in range(width)]
            lines, span = block_lines(evolve(root, classes, generator), reference, positions, generator,
                                      arguments.absent, arguments.chrom)
            if span == 0:
                continue
            maf.write("\n".join(lines) + "\n\n")
            blocks += 1
            reference += span + (generator.randrange(1, 100) if generator.random() < 0.7 else 0)
    with open(arguments.tree, "w") as tree:
        tree.write(NEWICK.format(outgroup="(cf:0.1,xx:0.3):0.1" if arguments.extra_leaf else "cf:0.2"))
    print(f"{arguments.maf}: {blocks} blocks over {reference} reference positions")


if __name__ == "__main__":
    main()
