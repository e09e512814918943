#!/usr/bin/python3
"""What moves slowly in two or more chains of one case, and whether they tell the same story.

    bench/slow_quantities.py --root-dir DIR --case NAME/ [--seeds 1 3] [--conserved-by mutation]
                             [--block 1000] [--run ITERATIONS --thin T --moves N [--build build]]

With --run, first runs the chains side by side (alnsampler -r DIR -t NAME/ -s SEED -n ITERATIONS
--thin T --marginal-rate-moves N, under nice). Then reads them as alnsummarize does (its burn-in
and its relabelling: in every draw the rate states ordered by --conserved-by rate) and prints, per
rate state:
  - each rate's median, 90% interval, share of kept draws below 1e-10, lag-1 autocorrelation (one
    written draw apart) and effective sample size over the chains, and the same for the number of
    columns the path gives the state;
  - the log rates' strongest correlations with the states' column counts (a rate that moves with a
    state's share mixes only as fast as that share);
  - per chain and block of --block iterations, the medians of the rates and column counts, so that
    spells in another mode, and chains that stay in different ones, show.
Used to find out why a window's chains disagree or mix slowly, from long thinned runs.
"""
import argparse
import os
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, '..', 'tools', 'alnsummarize'), os.path.join(HERE, '..', 'tools')]
from summarize.runs import AUTO_BURNIN, read_chains  # noqa: E402
from summarize.statistics import (apply_order, conservation_key, effective_sample_size,  # noqa: E402
                                  relabel_orders)

NEAR_ZERO = 1e-10


def run_chains(args):
    os.makedirs(os.path.join(args.root_dir, 'results', args.case), exist_ok=True)
    binary = os.path.join(args.build, 'src', 'driver', 'alnsampler')
    processes = [subprocess.Popen(['nice', binary, '-r', args.root_dir, '-t', args.case, '-s', str(seed), '-n',
                                   str(args.run), '--thin', str(args.thin), '--marginal-rate-moves', str(args.moves)],
                                  stdout=subprocess.DEVNULL) for seed in args.seeds]
    if any(process.wait() != 0 for process in processes):
        sys.exit('slow_quantities.py: a chain failed')


def relabelled(chain, conserved_by):
    """The kept draws' rates and column counts, states in the summary's labels."""
    deletion, mutation = (chain.kept_draws(chain.rates[kind]) for kind in ('deletion', 'mutation'))
    states = chain.n_rate_states
    counts = np.array([np.bincount(chain.read_rate_states(i), minlength=states) for i in chain.kept_iterations()])
    orders = relabel_orders(conservation_key(deletion, mutation, conserved_by), counts > 0)
    return {'deletion': apply_order(deletion, orders), 'mutation': apply_order(mutation, orders),
            'columns': apply_order(counts, orders).astype(float)}


def lag_one(series):
    centred = series - series.mean()
    variance = (centred * centred).mean()
    return float((centred[:-1] * centred[1:]).mean() / variance) if variance > 0 else float('nan')


def traced(name, values):
    return values if name == 'columns' else np.log(np.maximum(values, 1e-300))


def print_states(draws, seeds):
    states = draws[0]['columns'].shape[1]
    length = min(len(d['columns']) for d in draws)
    print('quantity\tmedian\t5%\t95%\tshare < 1e-10\tlag-1 autocorrelation per chain\tESS')
    for name in ('deletion', 'mutation', 'columns'):
        for k in range(states):
            pooled = np.concatenate([d[name][:, k] for d in draws])
            low, median, high = np.quantile(pooled, [0.05, 0.5, 0.95])
            near_zero = '' if name == 'columns' else f'{np.mean(pooled < NEAR_ZERO):.2f}'
            lags = ' '.join(f'{lag_one(traced(name, d[name][:, k])):.2f}' for d in draws)
            ess = effective_sample_size([traced(name, d[name][-length:, k]) for d in draws])
            print(f'{name}_{k}\t{median:.3g}\t{low:.3g}\t{high:.3g}\t{near_zero}\t{lags}\t{ess:.0f}')
    print(f'(chains: seeds {", ".join(map(str, seeds))})')


def print_correlations(draws):
    states = draws[0]['columns'].shape[1]
    columns = np.concatenate([d['columns'] for d in draws])
    print('\nlog rate\tcorrelation with the column counts of states 0..K-1')
    for name in ('deletion', 'mutation'):
        rates = np.concatenate([traced(name, d[name]) for d in draws])
        for k in range(states):
            correlations = [np.corrcoef(rates[:, k], columns[:, j])[0, 1] if columns[:, j].std() > 0 else float('nan')
                            for j in range(states)]
            print(f'{name}_{k}\t' + ' '.join(f'{c:+.2f}' for c in correlations))


def print_blocks(chains, draws, block):
    print(f'\nper {block} iterations: medians of the deletion rates | mutation rates | column counts')
    for chain, d in zip(chains, draws):
        iterations = np.asarray(chain.kept_iterations())
        for first in range(0, int(iterations[-1]), block):
            inside = (iterations > first) & (iterations <= first + block)
            if not inside.any():
                continue
            parts = [' '.join(f'{np.median(d[name][inside, k]):.3g}' for k in range(d[name].shape[1]))
                     for name in ('deletion', 'mutation', 'columns')]
            print(f'seed {chain.seed} iterations {first + 1}-{first + block}: ' + ' | '.join(parts))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--root-dir', required=True)
    parser.add_argument('--case', required=True)
    parser.add_argument('--seeds', type=int, nargs='+', default=[1, 3])
    parser.add_argument('--conserved-by', choices=('mutation', 'deletion', 'total'), default='mutation')
    parser.add_argument('--block', type=int, default=1000)
    parser.add_argument('--run', type=int, help='run the chains first, for this many iterations')
    parser.add_argument('--thin', type=int, default=10)
    parser.add_argument('--moves', type=int, default=3)
    parser.add_argument('--build', default=os.path.join(HERE, '..', 'build'))
    args = parser.parse_args()
    args.root_dir = os.path.join(args.root_dir, '')
    if args.run:
        run_chains(args)
    chains = read_chains(os.path.join(args.root_dir, 'results', args.case), args.seeds, AUTO_BURNIN)
    draws = [relabelled(chain, args.conserved_by) for chain in chains]
    print_states(draws, args.seeds)
    print_correlations(draws)
    print_blocks(chains, draws, args.block)


if __name__ == '__main__':
    main()
