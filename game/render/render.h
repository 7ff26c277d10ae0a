#pragma once
// The scene renderer's frame: the view, the render memory pool, rendering and screenshots.

// Joins the renderer to the core (start-up and map steps, the frame).
void register_render_hooks(void);
