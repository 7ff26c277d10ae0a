// Modal loops.
#include "modal_loops.h"
