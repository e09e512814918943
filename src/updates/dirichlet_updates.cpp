#include "updates/dirichlet_updates.h"
