#!/usr/bin/python3
"""Writes a synthetic test case for timing runs: a random rooted binary tree
with LEAVES leaves in the sampler's row order, and COLUMNS alignment columns
evolved down it with three rate classes, deletions and a few missing cells.

usage: make_case.py ROOT_DIR CASE_NAME LEAVES COLUMNS [SEED] [REFERENCE_GAPS]

With REFERENCE_GAPS 1 the reference (sequence 0) keeps its simulated gaps, so
some rows are not modelled, as in a real alignment; by default every row is.
"""
import math
import os
import random
import sys


def random_tree(leaves, rng):
    children = {0: []}
    open_leaves = [0]
    while len(open_leaves) < leaves:
        node = open_leaves.pop(rng.randrange(len(open_leaves)))
        left, right = len(children), len(children) + 1
        children[node] = [left, right]
        children[left] = []
        children[right] = []
        open_leaves += [left, right]
    order, queue = [], [0]
    while queue:
        node = queue.pop(0)
        order.append(node)
        queue += children[node]
    internal = [n for n in order if children[n]]
    leaf_nodes = [n for n in order if not children[n]]
    label = {n: i for i, n in enumerate(internal + leaf_nodes)}
    rows = [(label[n], label[c], round(rng.uniform(0.02, 0.3), 4)) for n in internal for c in children[n]]
    return rows, [label[n] for n in leaf_nodes]


def evolve(rows, leaf_labels, rng, mutation, deletion):
    value = {0: rng.randint(1, 4)}
    for parent, child, length in rows:
        v = value[parent]
        if v == 0 or rng.random() < 1 - math.exp(-deletion * length):
            value[child] = 0
        elif rng.random() < 1 - math.exp(-mutation * length):
            value[child] = rng.randint(1, 4)
        else:
            value[child] = v
    return [value[l] for l in leaf_labels]


def main():
    root, case, leaves, columns = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 1)
    reference_gaps = len(sys.argv) > 6 and sys.argv[6] == "1"
    folder = os.path.join(root, "data", case)
    os.makedirs(folder, exist_ok=True)
    os.makedirs(os.path.join(root, "results", case), exist_ok=True)
    rows, leaf_labels = random_tree(leaves, rng)
    with open(os.path.join(folder, "tree.txt"), "w") as f:
        f.writelines(f"{p} {c} {t}\n" for p, c, t in rows)
    with open(os.path.join(folder, "map_from_leave_label_to_seq_id.txt"), "w") as f:
        f.writelines(f"{l} {i}\n" for i, l in enumerate(leaf_labels))
    rates = [(4.0, 1.6), (1.0, 0.4), (0.2, 0.1)]
    state = 0
    with open(os.path.join(folder, "data.txt"), "w") as f:
        for _ in range(columns):
            if rng.random() < 0.02:
                state = rng.randrange(3)
            row = evolve(rows, leaf_labels, rng, *rates[state])
            if not reference_gaps:
                row[0] = row[0] or rng.randint(1, 4)
            if rng.random() < 0.01:
                row[rng.randrange(1, leaves)] = 5
            f.write(" ".join(map(str, row)) + "\n")


if __name__ == "__main__":
    main()
