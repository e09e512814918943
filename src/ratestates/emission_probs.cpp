#include "ratestates/emission_probs.h"
