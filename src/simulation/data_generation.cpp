#include "simulation/data_generation.h"
