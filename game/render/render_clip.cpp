// The screen test of surfaces.
#include "render/render_clip.h"

void clip_surface(const view_data *view, render_surface *surface) {}

void clip_vertex(const view_data *view, render_vertex *vertex) {}
