// Simulation of one column along PhyTree.
#include "tree/phy_tree.h"
