#include "simulation/rate_clustering.h"
