#include "segmentation/partition_sampler.h"
