#include "updates/zv_sampler.h"
