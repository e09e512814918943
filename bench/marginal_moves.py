#!/usr/bin/python3
"""Convergence of two chains with and without --marginal-rate-moves on real data.

    bench/marginal_moves.py [--build build] [--work DIR] [--iterations 1000] [--moves 0 1]
                            [--debian-doc /usr/share/doc] [--phyml phyml] [--cases NAME ...]
                            [--pairs 1 3 5]

Builds the cases from the alignments of Debian's example packages (beast2-mcmc-examples: the
29-taxon 18S rRNA alignment of its MrBayes benchmark and the 26 pocket gophers; phyml: the 22
plants of its dating example; maffilter-examples: six 1,000-column windows of the great-ape chr22
MAF, each inside one of six blocks spread over the file; on request, 1,000-column windows of the
13-strain fungal TBA MAF, named fungal_CHROM_wNNNNN, as fungal_chr_7_w00300), with trees from
phyml (HKY85, rooted at the midpoint, or on the orang-utan for the apes; for the fungi the
strains' species grouping with guessed lengths, fungal_tree.nwk beside this script). Then runs two chains (seeds 1 and 2, side by
side, under nice) of every case for every number of moves and prints, per case and setting, the
CPU seconds per iteration, the slowest rate with its effective sample size (ESS) and the largest
R-hat (both from alnsummarize, after its burn-in), the slowest ESS per CPU-second of the two
chains, and whether every rate reaches R-hat <= 1.05 and ESS >= 100. --pairs runs more pairs of
chains, seeds P and P + 1 for each P given (a row each), as ESS and R-hat of one pair vary much.
"""
import argparse
import csv
import gzip
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, '..', 'tools')
PYTHON = '/usr/bin/python3'
APE_BLOCKS = (0, 1599, 3199, 4799, 6399, 7999)  # block indices from which the windows' blocks are sought


def run(command, **kwargs):
    subprocess.run(command, check=True, **kwargs)


def phyml_tree(args, name, alignment_phylip):
    """A maximum-likelihood tree (HKY85) of a relaxed PHYLIP alignment, as Newick text."""
    run([args.phyml, '-i', alignment_phylip, '-m', 'HKY85', '-o', 'tlr', '-b', '0', '--quiet'],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(alignment_phylip + '_phyml_tree.txt') as tree:
        return tree.read()


def prepare(args, name, alignment, fmt, tree, rooting):
    run([PYTHON, os.path.join(TOOLS, 'alnprepare', 'alnprepare'), '--alignment', alignment, '--format', fmt, '--tree',
         tree, *rooting, '--root-dir', args.work + '/', '--case', name + '/', '--force'], stdout=subprocess.DEVNULL)


def alignment_cases(args):
    from Bio import AlignIO  # Debian's python3-biopython, as alnprepare
    doc = args.debian_doc
    sources = {
        'rrna18s29': (os.path.join(doc, 'beast2-mcmc/examples/benchmark/mrbayes/testHKY501.nex.gz'), 'nexus'),
        'gopher26': (os.path.join(doc, 'beast2-mcmc/examples/nexus/47.nex.gz'), 'nexus'),
        'plants22': (os.path.join(doc, 'phyml/examples/phytime/seq.txt'), 'phylip-relaxed'),
    }
    for name, (path, fmt) in sources.items():
        if name not in args.cases:
            continue
        opener = gzip.open if path.endswith('.gz') else open
        with opener(path, 'rt') as handle:
            text = handle.read().replace('\r', '')
        source = os.path.join(args.work, 'src', name + '.txt')
        with open(source, 'w') as out:
            out.write(text)
        alignment = AlignIO.read(source, fmt)
        for record in alignment:
            record.seq = record.seq.upper().replace('?', 'N')
        phylip = os.path.join(args.work, 'src', name + '.phy')
        AlignIO.write(alignment, phylip, 'phylip-relaxed')
        tree = os.path.join(args.work, 'src', name + '.nwk')
        with open(tree, 'w') as out:
            out.write(phyml_tree(args, name, phylip))
        prepare(args, name, phylip, 'phylip', tree, ['--midpoint'])


def ape_cases(args):
    """Six 1,000-column windows of the great-ape MAF, one inside each of six blocks spread over the
    file (from each of APE_BLOCKS on, the first block with all four species and at least 2,200
    columns); the tree by phyml from the first 300 blocks with all four species, rooted on the
    orang-utan."""
    wanted = [name for name in args.cases if name.startswith('ape_')]
    if not wanted:
        return
    maf = os.path.join(args.debian_doc, 'maffilter/examples/Gorilla/'
                       'Compara.epo_5_catarrhini_hsap-projected.chr22.subset.nogap.cleaned_aln.maf.gz')
    blocks, block = [], None
    with gzip.open(maf, 'rt') as handle:
        for line in handle:
            if line.startswith('a'):
                block = [line]
                blocks.append(block)
            elif line.startswith('s') and block is not None:
                block.append(line)
    complete = [b for b in blocks if len(b) == 5]
    rows = {}
    for b in complete[:300]:
        for line in b[1:]:
            fields = line.split()
            rows.setdefault(fields[1].split('.')[0], []).append(fields[6].upper())
    phylip = os.path.join(args.work, 'src', 'ape.phy')
    with open(phylip, 'w') as out:
        out.write(f"{len(rows)} {len(''.join(next(iter(rows.values()))))}\n")
        for species, parts in rows.items():
            out.write(f"{species:<10}{''.join(parts)}\n")
    tree = os.path.join(args.work, 'src', 'ape.nwk')
    with open(tree, 'w') as out:
        out.write(phyml_tree(args, 'ape', phylip))
    sub = os.path.join(args.work, 'src', 'ape_blocks.maf')
    with open(sub, 'w') as out:
        out.write('##maf version=1\n\n')
        for start in APE_BLOCKS:
            i = start
            while not (len(blocks[i]) == 5 and int(blocks[i][1].split()[3]) >= 2200):
                i += 1
            out.write(''.join(blocks[i]) + '\n')
    run([PYTHON, os.path.join(TOOLS, 'alnprepare', 'alnprepare'), '--alignment', sub, '--format', 'maf', '--tree',
         tree, '--outgroup', 'Ppyg', '--root-dir', args.work + '/', '--case', 'ape/', '--window', '1000',
         '--force'], stdout=subprocess.DEVNULL)
    # Windows 2, 8, 17, 24, 29 and 32 lie inside blocks 1 to 6 (the others start or end a block).
    for number, window in enumerate((2, 8, 17, 24, 29, 32), 1):
        name = f'ape_w{number}'
        if name in wanted:
            target = os.path.join(args.work, 'data', name)
            shutil.rmtree(target, ignore_errors=True)
            shutil.copytree(os.path.join(args.work, 'data', f'ape_w{window:05d}'), target)
            os.makedirs(os.path.join(args.work, 'results', name), exist_ok=True)


def fungal_cases(args):
    """The asked-for 1,000-column windows of the fungal TBA MAF (reference Z. tritici IPO323), each
    chromosome prepared once; rooted on S. passerinii."""
    maf = os.path.join(args.debian_doc, 'maffilter/examples/Ztritici/tba_refIPO323.maf.gz')
    chromosomes = sorted({name[len('fungal_'):].rsplit('_w', 1)[0] for name in args.cases
                          if name.startswith('fungal_')})
    for chrom in chromosomes:
        run([PYTHON, os.path.join(TOOLS, 'alnprepare', 'alnprepare'), '--alignment', maf, '--format', 'maf',
             '--tree', os.path.join(HERE, 'fungal_tree.nwk'), '--outgroup', 'Spasserinii_P63', '--root-dir',
             args.work + '/', '--case', f'fungal_{chrom}/', '--reference', 'Ztritici_IPO323', '--chrom', chrom,
             '--window', '1000', '--force'], stdout=subprocess.DEVNULL)


def run_chains(args, name, moves, first_seed):
    """Two chains side by side (seeds first_seed and first_seed + 1); returns the CPU seconds of
    both and every rate's (ESS, R-hat)."""
    seeds = (first_seed, first_seed + 1)
    label = f'{name}_N{moves}' + (f'_s{first_seed}' if first_seed != 1 else '')
    root = os.path.join(args.work, 'runs', label) + '/'
    os.makedirs(root + 'results/' + name, exist_ok=True)
    if not os.path.exists(root + 'data'):
        os.symlink(os.path.join(args.work, 'data'), root + 'data')
    processes = []
    for seed in seeds:
        times = f'{root}results/{name}/time_{seed}.txt'
        processes.append(subprocess.Popen(
            ['/usr/bin/time', '-f', '%U %S', '-o', times, 'nice', os.path.join(args.build, 'src/driver/alnsampler'),
             '-r', root, '-t', name + '/', '-s', str(seed), '-n', str(args.iterations),
             '--marginal-rate-moves', str(moves)]))
    for process in processes:
        if process.wait() != 0:
            sys.exit(f'marginal_moves.py: a chain of {label} failed')
    cpu = 0.0
    for seed in seeds:
        with open(f'{root}results/{name}/time_{seed}.txt') as times:
            cpu += sum(float(value) for value in times.read().split()[-2:])
    summary = root + 'summary'
    run([PYTHON, os.path.join(TOOLS, 'alnsummarize', 'alnsummarize'), '--root-dir', root, '--case', name + '/',
         '--seeds', *map(str, seeds), '--out', summary, '--no-plots'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(summary + '/rates.tsv') as table:
        rates = {row['rate']: (float(row['ess']), float(row['rhat'])) for row in csv.DictReader(table, delimiter='\t')}
    return cpu, rates


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build', default=os.path.join(HERE, '..', 'build'))
    parser.add_argument('--work', default='/tmp/alnsampler_marginal_bench')
    parser.add_argument('--iterations', type=int, default=1000)
    parser.add_argument('--moves', type=int, nargs='+', default=[0, 1])
    parser.add_argument('--debian-doc', default='/usr/share/doc')
    parser.add_argument('--phyml', default='phyml')
    parser.add_argument('--cases', nargs='+', default=['rrna18s29', 'gopher26', 'plants22'] +
                        [f'ape_w{i}' for i in range(1, 7)])
    parser.add_argument('--skip-prepare', action='store_true', help='reuse the cases of an earlier run in --work')
    parser.add_argument('--pairs', type=int, nargs='+', default=[1],
                        help='first seeds of the pairs of chains (seeds P and P + 1)')
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    args.build = os.path.abspath(args.build)
    os.makedirs(os.path.join(args.work, 'src'), exist_ok=True)
    if not args.skip_prepare:
        alignment_cases(args)
        ape_cases(args)
        fungal_cases(args)
    print('| case | N | seeds | CPU s per iteration | slowest rate | its ESS | largest R-hat | slowest ESS per CPU-s '
          '| converged |')
    print('|---|---|---|---|---|---|---|---|---|')
    for name in args.cases:
        for moves in args.moves:
            for first_seed in args.pairs:
                cpu, rates = run_chains(args, name, moves, first_seed)
                slowest = min(rates, key=lambda rate: rates[rate][0])
                largest_rhat = max(rhat for _, rhat in rates.values())
                converged = all(ess >= 100 and rhat <= 1.05 for ess, rhat in rates.values())
                print(f'| {name} | {moves} | {first_seed}-{first_seed + 1} | {cpu / (2 * args.iterations):.4f} | '
                      f'{slowest} | {rates[slowest][0]:.1f} | {largest_rhat:.3f} | {rates[slowest][0] / cpu:.3f} | '
                      f'{"yes" if converged else "no"} |', flush=True)


if __name__ == '__main__':
    main()
