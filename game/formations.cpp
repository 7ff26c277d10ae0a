// Formations: slot layouts of the ten formation types and their per-map life.

#include "formations.h"
