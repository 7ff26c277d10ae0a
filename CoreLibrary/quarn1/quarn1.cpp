// A lossless codec for 24-bit images.
#include "quarn1/quarn1.h"
