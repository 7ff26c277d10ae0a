#pragma once
// What the screen and picking ask of the scene renderer (game/render), in one
// table the renderer registers whole (`register_render_procedures`).  The
// renderer is local: no member may change the game.
//
// Every member may be null, and each is until the renderer registers its table; the
// default of a null member is said beside it.  The table is kept by pointer:
// register a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

struct view_data;
struct bitmap_data;
struct rendered_view_data;
struct render_surface;

struct render_procedures
{
    // Draws `view` into the lent `destination` (the frame rectangle), with its
    // post-effects (null member: the frame is left as it was).
    void (*render_scene)(view_data *view, bitmap_data *destination);
    // The last frame for picking: its view (null before the first frame) and
    // the first surface of its list (null when empty) (null members: no frame
    // exists, every pick finds nothing).
    const rendered_view_data *(*last_render_view)(void);
    const render_surface *(*last_render_surface_list)(void);
};

bool register_render_procedures(const render_procedures *procedures);
// Never null: an empty table until one is registered.
const render_procedures *get_render_procedures(void);
