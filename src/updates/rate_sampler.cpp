#include "updates/rate_sampler.h"
