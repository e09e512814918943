#include "simulation/simulate_command.h"

std::string simulate_usage_text() {
  return R"(Usage: alnsimulate -p PARAMETER_DIR -T TREE_DIR -o OUTPUT_DIR [-c COLUMNS] [-s SEED] [--force]

Simulates an alignment from the model that alnsampler fits, on a fixed tree:
a segmentation of the columns, a hidden rate state per column (a Markov chain
along the alignment), a chain of root values from column to column, and
deletions and mutations down every branch. Writes a test case that alnsampler
reads as is, and the true value of everything simulated.

Options (each followed by its value):
  -p, --parameters DIR  folder of parameter files (below)
  -T, --tree DIR        folder holding tree.txt and
                        map_from_leave_label_to_seq_id.txt, as alnsampler
                        reads them
  -o, --output DIR      test-case folder to write; created if missing. A
                        folder ROOT/data/NAME/ also gets ROOT/results/NAME/,
                        where alnsampler writes its runs
  -c, --columns N       number of columns, as one segment, when the parameter
                        folder has no from_tos.txt; with from_tos.txt it must
                        equal the number of columns the segments cover
  -s, --seed SEED       seed of the random generator, 0..4294967295 (default 3);
                        the same seed and files give the same output
  --force               replace the test case already in the output folder
                        (without it, a folder holding data.txt, tree.txt,
                        map_from_leave_label_to_seq_id.txt or truth/ is
                        refused); columns.tsv and sequences.tsv of the
                        replaced case are removed, since they describe its
                        alignment
  -h, --help            print this text and exit

Parameter files: plain text, values separated by blanks. Columns are numbered
from 0; S is the number of segments and R the number of rate states. Values:
0 empty (a gap), 1 2 3 4 residues, 5 absent. Every row of probabilities or
weights must sum to 1 (within 1e-6).

Required:
  from_tos.txt         one segment per line, its first and last column; the
                       segments start at 0 and follow each other without gap.
                       May be left out when -c is given. Example, S = 2:
                         0 499
                         500 999
  gammas.txt           first line, S values: probability that a column's root
                       is empty when the previous column's root is not (an
                       empty root leaves the whole column empty):
                         0.02 0.05
  etas.txt             first line, S values: probability that a column's root
                       holds a residue when the previous column's root is empty:
                         0.5 0.5
  betas.txt            S blocks of 4 lines of 4 values. Line r of block s: the
                       weights of the next root value 1..4 after a root value r,
                       in segment s. Example, one segment:
                         0.85 0.05 0.05 0.05
                         0.05 0.85 0.05 0.05
                         0.05 0.05 0.85 0.05
                         0.05 0.05 0.05 0.85
  thetas.txt           one line per segment, 4 values: the frequencies of the
                       residues 1..4, drawn by a mutation event and by a root
                       that follows an empty root:
                         0.4 0.3 0.2 0.1
  deletion_rates.txt   first line, R values: deletion rate of each rate state
                       per unit of branch length; a residue is deleted on a
                       branch of length t with probability 1 - exp(-rate t):
                         0.1 0.5 2
  insertion_rates.txt  first line, R values, all 0: the generator cannot
                       simulate insertions and says so before simulating:
                         0 0 0
  mutation_rates.txt   first line, R values: rate of mutation events per unit
                       of branch length; an event draws the residue anew from
                       the segment's thetas (it may draw the same residue):
                         0.2 2 10

Optional (the default applies when the file is absent):
  initial_rate_state_probs.txt  first line, R values: probabilities of the
                       first column's rate state. Default: 1/R each, R being
                       the number of deletion rates.
                         0.34 0.33 0.33
  rate_state_transitions.txt    R lines of R values; line k: probabilities of
                       the next column's rate state after rate state k.
                       Default: 0.95 to stay, 0.05 shared by the other states.
                         0.95 0.025 0.025
                         0.025 0.95 0.025
                         0.025 0.025 0.95
  first_root_values.txt         first line: the values the first column's root
                       can take, 0..4 (0: the first column starts empty).
                       Default: 1 2 3 4
                         1 2 3 4
  first_root_weights.txt        first line: one weight per first-root value.
                       Default: equal weights.
                         0.4 0.1 0.1 0.4
  absent.txt           one stretch per line, "sequence_id first last": that
                       sequence's cells of columns first..last become absent
                       (5, missing data) in data.txt. Default: none.
                         3 100 149

Output, in OUTPUT_DIR:
  tree.txt, map_from_leave_label_to_seq_id.txt   copies of the tree folder's
  data.txt                    one line per simulated column, one value per
                              sequence id, absent stretches applied; alnsampler
                              models the lines whose first value is 1..4
  truth/leaves.txt            the simulated leaf values, before absent stretches
  truth/rate_states.txt       the rate state of every column, one per line
  truth/values.txt            per column: the values of the internal nodes in
                              label order, " leaves: ", those of the leaves
  truth/deletions.txt, truth/insertions.txt, truth/bonds.txt
                              per column: the indicator of the branch above
                              every node, in label order (-1 not applicable;
                              deletion 1 deleted, 0 kept; bond 0 mutation
                              event, 1 unchanged)
  truth/modelled_columns.txt  the line (from 0) of data.txt of every column
                              that alnsampler models
  truth/modelled_rate_states.txt  their rate states, one per line, comparable
                              with alnsampler's SEED_map_column_to_rate_state_I.txt
  truth/modelled_from_tos.txt the segments in modelled-column numbers,
                              comparable with SEED_from_tos_I.txt
  truth/parameters.txt        every parameter used, defaults included, and
                              the seed

Example (regenerates the default test case in place):
  alnsimulate -p data/simulation/test_case_23_6sp/ -T data/test_case_23_6sp/ \
              -o data/test_case_23_6sp/ -s 23 --force
)";
}
