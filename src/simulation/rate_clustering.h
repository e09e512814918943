#pragma once

#include <ostream>
#include <vector>

#include "tree/phy_tree.h"

// Reassigns every column to one of C rate clusters, drawn from the column's
// posterior over clusters given its tree's event indicators and branch
// lengths, then rebuilds the member lists. C is the number of member lists;
// the proportions and the three rate vectors need an entry per cluster.
//
// A branch contributes, under cluster c with rates (d, i, m) and length b:
// a deletion ln(1 - e^(-d b)); a kept residue -d b, plus ln(1 - e^(-m b)) for
// a mutation or -m b without one; below an empty parent ln(1 - e^(-i b)) for
// an insertion or -i b without one. A term ln(1 - 1) (zero rate or length) is
// floored to ln(2.2250738585072014e-308). The column's log weight adds
// ln proportion[c]; one rand() draw per column picks the cluster.
//
// `assignment` is resized to the number of trees. With a stream, one line per
// column (scientific notation, precision 2, every value followed by a tab):
// the nine event statistics (deletions 1, 0 and the length under 0;
// insertions 1, 0 and the length under 0; mutations, non-mutations and the
// length under non-mutations), then per cluster the log likelihood, the log
// proportion and their sum. A column whose log weight is minus infinity (or
// not a number) under every cluster throws an InternalError.
void cluster_in_rates(std::vector<PhyTree*>& trees, const std::vector<double>& proportions,
                      std::vector<int>& assignment, std::vector<std::vector<long>>& members,
                      const std::vector<double>& deletion_rates, const std::vector<double>& insertion_rates,
                      const std::vector<double>& mutation_rates, std::ostream* out);
