// The overhead map: the battlefield's picture, blips, flags, sketches and the camera.
#include "overhead_map.h"
