#pragma once

#include <ostream>
#include <vector>

#include "tree/phy_tree.h"

// Reassigns every column to one of C rate clusters, drawn from the column's
// posterior over clusters given its tree's event indicators and branch
// lengths, then rebuilds the member lists. C is the number of member lists.
void cluster_in_rates(std::vector<PhyTree*>& trees, const std::vector<double>& proportions,
                      std::vector<int>& assignment, std::vector<std::vector<long>>& members,
                      const std::vector<double>& deletion_rates, const std::vector<double>& insertion_rates,
                      const std::vector<double>& mutation_rates, std::ostream* out);
