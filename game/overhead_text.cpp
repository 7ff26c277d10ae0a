// Texts over units.
#include "overhead_text.h"
