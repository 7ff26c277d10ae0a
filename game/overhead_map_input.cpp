// Input on the overhead map: moving the camera, clicks for the selection, zoom and sketches.
#include "overhead_map_input.h"
