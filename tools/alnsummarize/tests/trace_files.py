"""Hand-made alnsampler test cases and trace folders, written as the sampler writes them: numbers
in the C++ stream default (the "%g" of C), one space between values, "#event_rate" heading rate files."""

import os


def cpp(value):
    return str(value) if isinstance(value, int) else "%g" % value


def write(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as handle:
        handle.write("".join(line + "\n" for line in lines))


def read_tsv(path):
    with open(path, encoding="utf-8") as handle:
        lines = handle.read().splitlines()
    return [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[1:]]


class Iteration:
    """What one iteration of the sampler writes, with harmless defaults."""

    def __init__(self, states, mutation=(0.1, 1.0, 10.0), deletion=(0.01, 0.1, 1.0), from_tos=None,
                 log_probability=-100.0, log_marginals=(0.0, -1.0, -2.0, -3.0), ancestors=None):
        self.states, self.mutation, self.deletion = list(states), mutation, deletion
        self.from_tos = from_tos if from_tos is not None else [(0, len(self.states) - 1)]
        self.log_probability, self.log_marginals, self.ancestors = log_probability, log_marginals, ancestors


class Case:
    """ROOT/data/NAME/, ROOT/results/NAME/ and an output folder in a temporary directory."""

    def __init__(self, base, name="case/"):
        self.root, self.name, self.out = os.path.join(base, "root") + "/", name, os.path.join(base, "summary")
        self.data_dir = os.path.join(self.root, "data", name)
        self.results_dir = os.path.join(self.root, "results", name)
        os.makedirs(self.data_dir)
        os.makedirs(self.results_dir)

    def result(self, seed, suffix):
        return os.path.join(self.results_dir, f"{seed}{suffix}")

    def write_run(self, seed, iterations, thin=1, moves=0):
        """Every file the sampler (with --ancestors where given, --thin and --marginal-rate-moves)
        leaves for these iterations."""
        write(self.result(seed, "_auxiliary_ouput.txt"), ["k_max:4"] + [f"marginal_rate_moves:{moves}"] * bool(moves))
        write(self.result(seed, "_post_para.txt"), [cpp(it.log_probability) for it in iterations])
        write(self.result(seed, "_post_dist_k.txt"), [" ".join(map(cpp, it.log_marginals)) for it in iterations])
        write(self.result(seed, "_rate_state_transitions.txt"), ["0.9 0.05 0.05"] * (3 * len(iterations)))
        for number, it in list(enumerate(iterations, start=1))[thin - 1::thin]:
            write(self.result(seed, f"_from_tos_{number}.txt"), [f"{a} {b}" for a, b in it.from_tos])
            write(self.result(seed, f"_deletions_{number}.txt"), ["#event_rate"] + [cpp(r) for r in it.deletion])
            write(self.result(seed, f"_mutations_{number}.txt"), ["#event_rate"] + [cpp(r) for r in it.mutation])
            write(self.result(seed, f"_map_column_to_rate_state_{number}.txt"), [str(s) for s in it.states])
            if it.ancestors is not None:
                write(self.result(seed, f"_ancestors_{number}.txt"), [" ".join(map(str, row)) for row in it.ancestors])

    def write_data(self, rows, name="data.txt"):
        write(os.path.join(self.data_dir, name), [" ".join(map(str, row)) for row in rows])

    def write_text(self, name, text):
        with open(os.path.join(self.data_dir, name), "w", encoding="utf-8") as handle:
            handle.write(text)

    def write_columns(self, positions):
        """columns.tsv as alnprepare writes it, from (alignment position, reference position) pairs."""
        self.write_text("columns.tsv", "column\talignment_position\treference_position\n"
                        + "".join(f"{column}\t{a}\t{r}\n" for column, (a, r) in enumerate(positions)))

    def modelled_data(self, n_columns):
        self.write_data([[1, 1, 2]] * n_columns)

    def read_output(self, name):
        with open(os.path.join(self.out, name), encoding="utf-8") as handle:
            return handle.read()

    def table(self, name):
        return read_tsv(os.path.join(self.out, name))
