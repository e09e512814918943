"""The conserved call and its elements (shared with alnmerge), on synthetic draws and P tracks."""

import numpy as np
import pytest

from alncommon.case import ToolError
from alncommon.conservation import (Draw, column_weighted_reference, conserved_states, elements, p_conserved,
                                    paths_text, read_paths, reference_only_columns)

# Reference mutation 1.0, deletion 0.5; rho 0.3.
STATE_RATES = (np.array([0.2, 0.1, 2.0, 0.5]), np.array([0.1, 0.4, 0.05, 0.29]))  # deletion, mutation


@pytest.mark.parametrize("by, expected", [
    # mutation < 0.3 and deletion <= 0.5: state 1 mutates too fast, state 2 is an indel hotspot.
    ("mutation", [True, False, False, True]),
    # deletion < 0.15 and mutation <= 1.
    ("deletion", [False, True, False, False]),
    # total < 0.3 x 1.5 = 0.45.
    ("total", [True, False, False, False]),
])
def test_conserved_states_by_each_rate(by, expected):
    deletion, mutation = STATE_RATES
    assert list(conserved_states(deletion, mutation, (1.0, 0.5), 0.3, by)) == expected


def test_p_conserved_is_the_share_of_draws_over_run_coded_paths():
    generator = np.random.default_rng(3)
    paths = [generator.integers(0, 3, 40) for _ in range(30)]
    paths = [np.repeat(path, generator.integers(1, 4, 40))[:50] for path in paths]
    rates = [(generator.gamma(1.0, 1.0, 3), generator.gamma(1.0, 1.0, 3)) for _ in paths]
    draws = [Draw.from_path(3, i + 1, deletion, mutation, path) for i, (path, (deletion, mutation))
             in enumerate(zip(paths, rates))]
    reference = (0.8, 0.9)
    expected = np.mean([[mutation[s] < 0.3 * 0.8 and deletion[s] <= 0.9 for s in path]
                        for path, (deletion, mutation) in zip(paths, rates)], axis=0)
    assert np.allclose(p_conserved(draws, 50, reference), expected)
    assert 0 < expected.mean() < 1


def test_rate_paths_round_trip_and_faults(tmp_path):
    draw = Draw.from_path(4, 20, [0.1, 1e-300, 3.0], [0.2, 0.4, 2.5], np.array([2, 2, 0, 0, 0, 1]))
    path = tmp_path / "rate_paths.tsv"
    path.write_text(paths_text([draw]))
    back = read_paths(str(path), 6)[0]
    assert (back.seed, back.iteration, list(back.starts), list(back.states)) == (4, 20, [0, 2, 5], [2, 0, 1])
    assert list(back.deletion) == [0.1, 1e-300, 3.0]
    good = path.read_text()
    for bad, fragment in ((good.replace("5:1", "6:1"), "6 is outside 0..5"), (good.replace("0:2", "1:2"), "start at"),
                          (good.replace("2.5", "nan"), "not a finite number"), (good.replace("5:1", "5:3"), "3 is"),
                          (good.replace("\t20\t", "\t\t"), "'' is not a whole number"), (good.split("\n")[0], "no draw")):
        path.write_text(bad)
        with pytest.raises(Exception, match=fragment):
            read_paths(str(path), 6)


# Positions 1..30 with 20 missing (unmodelled); P per position.
P = [0.1, 0.6, 0.7, 0.5, 0.2, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.9, 0.4, 0.9, 0.9, 0.9,
     0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.8, 0.3]
POSITIONS = [p for p in range(1, 31) if p != 20]


@pytest.mark.parametrize("threshold, min_gap, min_length, expected", [
    # Runs 2-4, 6-15, 17-19, 21-29 (20 unmodelled); 6-15 alone is 10 long.
    (0.5, 0, 10, [(6, 15)]),
    (0.5, 0, 1, [(2, 4), (6, 15), (17, 19), (21, 29)]),
    # One position between runs joins them with min_gap 2: 2-4 and 6-15 (gap 5), 6-15 and 17-19 (16), 17-19 and
    # 21-29 (20).
    (0.5, 2, 10, [(2, 29)]),
    (0.5, 1, 1, [(2, 4), (6, 15), (17, 19), (21, 29)]),
    (0.85, 0, 3, [(6, 15), (17, 19)]),
    (0.95, 0, 1, []),
])
def test_elements_of_a_synthetic_track(threshold, min_gap, min_length, expected):
    mutation = np.arange(len(P), dtype=float)
    found = elements(POSITIONS, P, mutation, mutation / 10, threshold, min_gap, min_length)
    assert [(first, last) for first, last, *_ in found] == expected
    for first, last, mean_p, mean_mutation, mean_deletion in found:
        inside = [i for i, position in enumerate(POSITIONS) if first <= position <= last]
        assert mean_p == pytest.approx(np.mean([P[i] for i in inside]))
        assert (mean_mutation, mean_deletion) == pytest.approx((np.mean(inside), np.mean(inside) / 10))


def test_columns_where_only_the_reference_is_aligned_are_never_called(tmp_path):
    data = tmp_path / "data.txt"
    # Modelled rows (first value 1..4): 1, 3 and 5; a gap (0) in another sequence is aligned, 5 is absent.
    data.write_text("2 5 5\n0 1 1\n3\t0 5\n\n4 5  5\n")
    assert reference_only_columns(str(data), 3).tolist() == [True, False, True]
    assert reference_only_columns(str(tmp_path / "none.txt"), 3) is None
    with pytest.raises(ToolError, match="has 3 modelled rows .* but the runs have 4 columns"):
        reference_only_columns(str(data), 4)
    # Nor do they count towards the reference rates, unless no column may be called.
    rates = (np.array([1.0, 2.0, 30.0]), np.array([0.0, 1.0, 5.0]))
    assert column_weighted_reference(*rates, np.array([True, True, False])) == (1.5, 0.5)
    assert column_weighted_reference(*rates, np.zeros(3, dtype=bool)) == column_weighted_reference(*rates) == (11, 2)
    # Position 10 uncallable splits 6-15 in two runs shorter than 10.
    callable_columns = [position != 10 for position in POSITIONS]
    assert elements(POSITIONS, P, P, P, 0.5, 0, 10, callable_columns) == [] != elements(POSITIONS, P, P, P, 0.5, 0, 10)
    found = elements(POSITIONS, P, P, P, 0.5, 0, 4, callable_columns)
    assert [run[:2] for run in found] == [(6, 9), (11, 15), (21, 29)]
