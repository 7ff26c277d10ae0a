// Line overlays over the frame: flag contesting ranges and debug drawings.
#include "render/render_wireframe.h"
