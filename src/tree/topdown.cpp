// Top-down ancestral sampling of PhyTree.
#include "tree/phy_tree.h"
