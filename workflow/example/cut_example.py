#!/usr/bin/python3
"""Cuts the workflow's example from a real MAF: the first blocks from a reference position on, up to
a number of reference bases, comment and header lines kept.

    workflow/example/cut_example.py ALIGNMENT.maf.gz example.maf [--start 17443628] [--bases 3000]

The shipped example.maf was cut from Debian's maffilter-examples
(Gorilla/Compara.epo_5_catarrhini_hsap-projected.chr22.subset.nogap.cleaned_aln.maf.gz:
human chromosome 22 aligned with chimpanzee, gorilla and orang-utan) with the defaults.
"""

import argparse
import gzip


def blocks(handle):
    """(header lines, then [lines of each block]) of a MAF file."""
    block = []
    for line in handle:
        if line.startswith("a"):
            if block:
                yield block
            block = [line]
        elif line.strip() and block:
            block.append(line)
        elif not block and line.startswith("#"):
            yield [line]
    if block:
        yield block


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("maf")
    parser.add_argument("out")
    parser.add_argument("--start", type=int, default=17443628, help="first reference position (from 0)")
    parser.add_argument("--bases", type=int, default=3000, help="reference bases to take at least")
    arguments = parser.parse_args()
    opener = gzip.open if arguments.maf.endswith(".gz") else open
    taken = 0
    with opener(arguments.maf, "rt") as handle, open(arguments.out, "w") as out:
        for block in blocks(handle):
            if not block[0].startswith("a"):
                out.write(block[0])
                continue
            reference = block[1].split()
            if int(reference[2]) < arguments.start:
                continue
            out.write("\n" + "".join(block))
            taken += int(reference[3])
            if taken >= arguments.bases:
                break
        out.write("\n##eof maf\n")
    print(f"{arguments.out}: {taken} reference bases")


if __name__ == "__main__":
    main()
