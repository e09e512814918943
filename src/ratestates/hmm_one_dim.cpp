#include "ratestates/hmm_one_dim.h"
