// The scene renderer's frame.
#include "render/render.h"

void register_render_hooks(void)
{
}
