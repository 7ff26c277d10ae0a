// The frame's surface list.
#include "render/render_sort.h"
