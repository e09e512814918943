#include "ratestates/rate_states.h"
