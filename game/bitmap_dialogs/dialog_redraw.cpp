// Dialog redraw: dirty marking and drawing of dialogs.
//
// Whoever changes a dialog marks an item or a screen rectangle dirty; once a
// frame render_dialogs draws, back to front, the background inside each
// dialog's dirty bounds and every dirty item, then forgets the dirt.  Marking
// a rectangle also marks every item it meets, and grows the rectangle by that
// item until nothing more is added, so an item is never half covered by a
// redrawn background.  What a back dialog redraws is invalidated on the
// dialogs in front of it.
//
// In software each dialog is drawn straight into the back buffer through a
// header narrowed to the dialog (its top-left the bitmap's origin).  A dialog
// reaching past the screen's left or top edge cannot be described that way
// without row addresses outside the buffer; its visible part is copied into a
// scratch bitmap whose origin is the dialog's top-left, drawn there, and
// copied back.  A dialog wholly off the screen draws nothing and forgets its
// dirt.
#include "bitmap_dialogs/dialog_redraw.h"

#include <cstdlib>
#include <cstring>

#include "ingame_bar_procedures.h"
#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_preferences.h"
#include "hardware_rasterizer.h"
#include "screen.h"
#include "shapes.h"

namespace {

enum
{
    // Marks made while a dialog is drawn, kept until the drawing ends; more
    // than this marks every dialog dirty instead.
    MAXIMUM_DEFERRED_DIALOG_MARKS = 32,
    // The translucent bars' transparency (about 70 %).
    TRANSLUCENT_BAR_TRANSPARENCY = 45875,
    FULLY_TRANSPARENT = 65535,
};

enum deferred_mark_kind
{
    _deferred_item_mark,
    _deferred_one_dialog_rectangle_mark,
    _deferred_every_dialog_rectangle_mark,
    _deferred_dialog_mark,
};

struct deferred_mark
{
    int16_t kind;
    int16_t item_id;
    dialog_data *dialog;
    rectangle2d rectangle;
};

struct dialog_redraw_globals
{
    bool drawing_dialog;
    int32_t deferred_count;
    bool deferred_overflow; // too many marks: every dialog is marked dirty
    deferred_mark deferred[MAXIMUM_DEFERRED_DIALOG_MARKS];

    // The header narrowed to one dialog, with room for `narrowed_rows` row addresses.
    bitmap_data *narrowed;
    int32_t narrowed_rows;
    // The drawing surface of a dialog past the screen's left or top edge.
    bitmap_data *scratch;
    // The dialogs were idled for this frame when it was asked whether it
    // needs drawing; the drawing does not idle them again.
    bool idled_for_frame;
};

struct dialog_redraw_globals dialog_redraw_globals;

// The nine tiles of a dialog background, in the order they are drawn: the
// centre, the four bevels, then the four corners.
const int16_t dialog_background_bevel_table[NUMBER_OF_TILE_RECTANGLE_STATES] = {0, 5, 6, 7, 8, 1, 2, 3, 4};

// ---- rectangles ----------------------------------------------------------------

bool rectangle_is_empty(const rectangle2d *r) { return r->left >= r->right || r->top >= r->bottom; }

// `accumulator` grows to hold `r`; an empty `r` adds nothing.
void add_rectangle(rectangle2d *accumulator, const rectangle2d *r)
{
    if (rectangle_is_empty(r)) return;
    if (rectangle_is_empty(accumulator))
    {
        *accumulator = *r;
        return;
    }
    if (r->left < accumulator->left) accumulator->left = r->left;
    if (r->top < accumulator->top) accumulator->top = r->top;
    if (r->right > accumulator->right) accumulator->right = r->right;
    if (r->bottom > accumulator->bottom) accumulator->bottom = r->bottom;
}

// The common part of two rectangles; false (and `out` empty) when there is none.
bool intersect(const rectangle2d *a, const rectangle2d *b, rectangle2d *out)
{
    rectangle2d r;
    r.left = a->left > b->left ? a->left : b->left;
    r.top = a->top > b->top ? a->top : b->top;
    r.right = a->right < b->right ? a->right : b->right;
    r.bottom = a->bottom < b->bottom ? a->bottom : b->bottom;
    if (rectangle_is_empty(&r))
    {
        *out = empty_dirty_bounds;
        return false;
    }
    *out = r;
    return true;
}

int16_t clamp_to_short(int32_t value) { return (int16_t)(value < -32768 ? -32768 : value > 32767 ? 32767 : value); }

// Moved by (dx, dy), each side held to the 16-bit range (an item's bounds
// come from a tag and may lie anywhere).
rectangle2d offset(const rectangle2d *r, int32_t dx, int32_t dy)
{
    return {clamp_to_short(r->top + dy), clamp_to_short(r->left + dx), clamp_to_short(r->bottom + dy),
            clamp_to_short(r->right + dx)};
}

bool dialog_is_visible(const dialog_data *dialog) { return dialog->private_flags & _dialog_is_visible_flag; }

bool dialog_has_dirt(const dialog_data *dialog)
{
    return !rectangle_is_empty(&dialog->dirty_bounds) ||
           (dialog->private_flags & _dialog_has_dirty_background_controls_flag);
}

// ---- marking (no guard: the public calls check it) ------------------------------------

void mark_one_dialog_rectangle(dialog_data *dialog, const rectangle2d *rectangle)
{
    if (!dialog_is_visible(dialog)) return;
    rectangle2d part;
    if (!intersect(rectangle, &dialog->bounds, &part)) return;
    add_rectangle(&dialog->dirty_bounds, &part);

    // Every visible item meeting the area is redrawn whole, over the redrawn
    // background, so the area grows by it; repeat until nothing is added.
    // An item changes at most once, so this ends within one pass per item.
    const int32_t dx = dialog->bounds.left, dy = dialog->bounds.top;
    rectangle2d working = offset(&dialog->dirty_bounds, -dx, -dy);
    for (bool changed = true; changed;)
    {
        changed = false;
        for (control_data *item = dialog->first_control; item; item = item->next)
        {
            if (item->flags & _control_invisible_flag) continue;
            if ((item->flags & (_control_dirty_flag | _control_background_dirty_flag)) == _control_dirty_flag)
                continue;
            rectangle2d common;
            if (!intersect(&item->bounds, &working, &common)) continue;
            item->flags = (uint16_t)((item->flags | _control_dirty_flag) & ~_control_background_dirty_flag);
            add_rectangle(&working, &item->bounds);
            changed = true;
        }
    }
    rectangle2d grown = offset(&working, dx, dy);
    intersect(&grown, &dialog->bounds, &dialog->dirty_bounds);
}

// Marks `rectangle` on `first` and every dialog in front of it, the rectangle
// growing by the dirt of each dialog it passes.
void mark_rectangle_from(dialog_data *first, rectangle2d rectangle)
{
    for (dialog_data *dialog = first; dialog; dialog = dialog->next)
    {
        mark_one_dialog_rectangle(dialog, &rectangle);
        add_rectangle(&rectangle, &dialog->dirty_bounds);
    }
}

void mark_item(dialog_data *dialog, int16_t item_id)
{
    control_data *item = lookup_control(dialog, item_id);
    if (!VASSERT(item, "control")) return;
    dialog->private_flags |= _dialog_has_dirty_background_controls_flag;
    item->flags |= _control_dirty_flag | _control_background_dirty_flag;
    const rectangle2d on_screen = offset(&item->bounds, dialog->bounds.left, dialog->bounds.top);
    mark_one_dialog_rectangle(dialog, &on_screen);
    if (dialog_is_visible(dialog) && dialog->next) mark_rectangle_from(dialog->next, dialog->bounds);
}

void mark_dialog(dialog_data *dialog)
{
    dialog->dirty_bounds = empty_dirty_bounds;
    dialog->private_flags &= (uint16_t)~_dialog_has_dirty_background_controls_flag;
    mark_rectangle_from(dialog, dialog->bounds);
}

void mark_every_dialog(void)
{
    for (dialog_data *dialog = get_first_dialog(); dialog; dialog = dialog->next) mark_dialog(dialog);
}

// ---- marks made while drawing ------------------------------------------------------------

// True (after the assertion) when a dialog is being drawn: the mark is then
// kept and made when the drawing ends, so the next frame draws it.
bool defer_mark_while_drawing(int16_t kind, dialog_data *dialog, int16_t item_id, const rectangle2d *rectangle)
{
    const bool drawing_dialog = dialog_redraw_globals.drawing_dialog;
    if (ASSERT(!drawing_dialog)) return false;
    struct dialog_redraw_globals &g = dialog_redraw_globals;
    if (g.deferred_count >= MAXIMUM_DEFERRED_DIALOG_MARKS)
    {
        g.deferred_overflow = true;
        return true;
    }
    deferred_mark &mark = g.deferred[g.deferred_count++];
    mark.kind = kind;
    mark.dialog = dialog;
    mark.item_id = item_id;
    mark.rectangle = rectangle ? *rectangle : empty_dirty_bounds;
    return true;
}

void make_deferred_marks(void)
{
    struct dialog_redraw_globals &g = dialog_redraw_globals;
    const int32_t count = g.deferred_count;
    const bool overflow = g.deferred_overflow;
    g.deferred_count = 0;
    g.deferred_overflow = false;
    if (overflow)
    {
        mark_every_dialog();
        return;
    }
    for (int32_t i = 0; i < count; ++i)
    {
        const deferred_mark &mark = g.deferred[i];
        // A dialog disposed since the mark was made is gone: nothing to mark.
        if (mark.kind != _deferred_every_dialog_rectangle_mark && mark.dialog && !dialog_is_open(mark.dialog))
            continue;
        switch (mark.kind)
        {
        case _deferred_item_mark: mark_item(mark.dialog, mark.item_id); break;
        case _deferred_one_dialog_rectangle_mark: mark_one_dialog_rectangle(mark.dialog, &mark.rectangle); break;
        case _deferred_every_dialog_rectangle_mark: mark_rectangle_from(get_first_dialog(), mark.rectangle); break;
        case _deferred_dialog_mark:
            if (mark.dialog) mark_dialog(mark.dialog);
            else mark_every_dialog();
            break;
        }
    }
}

// ---- drawing ---------------------------------------------------------------------------

// The dialog's background over `area` (dialog coordinates) of `bitmap`, whose
// origin is the dialog's top-left: its tiles laid over the whole dialog and
// clipped to the area, or its colour.
void draw_dialog_background(bitmap_data *bitmap, const dialog_data *dialog, const rectangle2d *area)
{
    if (dialog->background_transparency >= FULLY_TRANSPARENT) return;
    if (dialog->background_collection_index != NONE)
    {
        const rectangle2d whole = {0, 0, (int16_t)(dialog->bounds.bottom - dialog->bounds.top),
                                   (int16_t)(dialog->bounds.right - dialog->bounds.left)};
        tile_and_bevel_rectangle(bitmap, dialog->background_collection_index, dialog->background_sequence_index, 0,
                                 &whole, area, nullptr, dialog->background_transparency, _transparency_normal,
                                 dialog_background_bevel_table);
    }
    else if (dialog->private_flags & _dialog_background_color_valid_flag)
    {
        fill_rectangle_clipped(bitmap, &dialog->background_color, area, nullptr, dialog->background_transparency,
                               nullptr);
    }
}

// The debug frame of an item's bounds: red for an item placed by code, else
// green; half as bright for a hidden item.
void frame_item_bounds(bitmap_data *bitmap, const control_data *item)
{
    const bool hardcoded = item->flags & _control_has_hardcoded_modifications_flag;
    rgb_color color = hardcoded ? rgb_red : rgb_green;
    if (item->flags & _control_invisible_flag)
    {
        color.red = (uint16_t)(color.red >> 1);
        color.green = (uint16_t)(color.green >> 1);
        color.blue = (uint16_t)(color.blue >> 1);
    }
    frame_rectangle_clipped(bitmap, &color, &item->bounds, nullptr, 0, nullptr);
}

void draw_one_control(bitmap_data *bitmap, dialog_data *dialog, control_data *item, uint16_t draw_flags,
                      bool debug_bounds)
{
    if (item->flags & _control_background_dirty_flag) draw_dialog_background(bitmap, dialog, &item->bounds);
    if (item->handler)
    {
        param_control_draw_verb parameter = {bitmap, draw_flags};
        item->handler(_control_draw_verb, dialog, item->item_id, &parameter);
    }
    if (debug_bounds) frame_item_bounds(bitmap, item);
    item->flags &= (uint16_t)~(_control_dirty_flag | _control_background_dirty_flag);
}

// Forgets the dialog's dirt without drawing (a dialog wholly off the screen).
void forget_dialog_dirt(dialog_data *dialog)
{
    for (control_data *item = dialog->first_control; item; item = item->next)
        item->flags &= (uint16_t)~(_control_dirty_flag | _control_background_dirty_flag);
    dialog->private_flags &= (uint16_t)~_dialog_has_dirty_background_controls_flag;
    dialog->dirty_bounds = empty_dirty_bounds;
}

// The address of pixel (x, y) of a flat bitmap.
uint8_t *pixel_address(const bitmap_data *bitmap, int32_t x, int32_t y)
{
    uint8_t *row = (bitmap->flags & _no_row_address_table_flag)
                       ? bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row
                       : bitmap->row_addresses[y];
    return row + (ptrdiff_t)x * encoding_byte_depths[bitmap->encoding];
}

// A header describing `area` of `screen` (which must lie inside it), with its
// own row table, so the screen's header is never changed.  Null when memory
// runs out.
bitmap_data *narrow_screen_to(const bitmap_data *screen, const rectangle2d *area)
{
    struct dialog_redraw_globals &g = dialog_redraw_globals;
    const int32_t height = area->bottom - area->top;
    if (!g.narrowed || g.narrowed_rows < height)
    {
        bitmap_data *grown = (bitmap_data *)realloc(g.narrowed, sizeof_bitmap(height, 0));
        if (!grown) return nullptr;
        g.narrowed = grown;
        g.narrowed_rows = height;
    }
    bitmap_data *b = g.narrowed;
    memset(b, 0, offsetof(bitmap_data, row_addresses));
    b->width = (int16_t)(area->right - area->left);
    b->height = (int16_t)height;
    b->bytes_per_row = screen->bytes_per_row;
    set_bitmap_encoding(b, screen->encoding);
    b->flags = 0;
    b->row_addresses[0] = pixel_address(screen, area->left, area->top);
    precalculate_bitmap_row_addresses(b);
    return b;
}

// A bitmap of `width` x `height` in `encoding` to draw a dialog into, kept
// between frames.  Null when memory runs out.
bitmap_data *get_scratch_bitmap(int16_t width, int16_t height, int16_t encoding)
{
    struct dialog_redraw_globals &g = dialog_redraw_globals;
    if (g.scratch && (g.scratch->width != width || g.scratch->height != height || g.scratch->encoding != encoding))
    {
        free(g.scratch);
        g.scratch = nullptr;
    }
    if (!g.scratch) g.scratch = new_bitmap(width, height, 0, encoding, 0);
    return g.scratch;
}

// Whether the screen bitmap can be drawn into by the software path: flat
// rows of a software encoding that the drawers take.
bool software_screen_is_drawable(const bitmap_data *screen)
{
    if (!VASSERT(screen, "screen")) return false;
    const bool flat = !(screen->flags & _1bit_transparency_encoded_flag);
    const bool encoding = screen->encoding == _16bit_555_encoding || screen->encoding == _16bit_565_encoding ||
                          screen->encoding == _32bit_encoding;
    const bool rows = !(screen->flags & _no_row_address_table_flag) || screen->bytes_per_row > 0;
    return VASSERT(flat && encoding && rows && screen->bytes_per_row > 0 && screen->width >= 0 && screen->height >= 0,
                   "a flat 16- or 32-bit screen");
}

void draw_dialog_in_software(bitmap_data *screen, dialog_data *dialog)
{
    const rectangle2d screen_bounds = {0, 0, screen->height, screen->width};
    rectangle2d visible;
    if (!intersect(&dialog->bounds, &screen_bounds, &visible))
    {
        forget_dialog_dirt(dialog);
        return;
    }
    const int32_t left = dialog->bounds.left, top = dialog->bounds.top;
    if (left >= 0 && top >= 0)
    {
        // The dialog's top-left is on the screen: draw straight into the
        // screen through a header whose origin is that corner.
        const rectangle2d area = {(int16_t)top, (int16_t)left, visible.bottom, visible.right};
        bitmap_data *narrowed = narrow_screen_to(screen, &area);
        if (narrowed) draw_dialog_into_bitmap(narrowed, dialog);
        return;
    }
    // Past the left or top edge: draw through a scratch bitmap whose origin
    // is the dialog's top-left, holding what the screen shows there, so the
    // visible part ends up exactly as if drawn in place.
    bitmap_data *scratch = get_scratch_bitmap((int16_t)(visible.right - left), (int16_t)(visible.bottom - top),
                                              screen->encoding);
    if (!scratch)
    {
        // Too large to draw through (far past the edge): it shows nothing.
        forget_dialog_dirt(dialog);
        return;
    }
    const rectangle2d visible_in_dialog = offset(&visible, -left, -top);
    const point2d screen_origin_in_dialog = {(int16_t)-left, (int16_t)-top};
    copy_bitmap(scratch, &screen_origin_in_dialog, screen, &visible_in_dialog, nullptr, 0, nullptr);
    draw_dialog_into_bitmap(scratch, dialog);
    const point2d dialog_origin = {(int16_t)left, (int16_t)top};
    copy_bitmap(screen, &dialog_origin, scratch, &visible, nullptr, 0, nullptr);
}

bool dialog_is_a_translucent_bar(const dialog_data *dialog)
{
    const game_preferences *preferences = get_game_preferences();
    if (!preferences || !(preferences->flags & _game_pref_use_transparency_flag)) return false;
    const auto is_status_bar = get_ingame_bar_procedures()->is_status_bar;
    const auto is_control_bar = get_ingame_bar_procedures()->is_control_bar;
    return (is_status_bar && is_status_bar(dialog)) || (is_control_bar && is_control_bar(dialog));
}

// A translucent bar: drawn into its internal bitmap, then its freshly drawn
// part blended onto the screen (only that part: blending the rest again would
// darken what the scene did not redraw).
void draw_translucent_bar(bitmap_data *screen, dialog_data *dialog)
{
    rectangle2d drawn = dialog->dirty_bounds;
    for (const control_data *item = dialog->first_control; item; item = item->next)
    {
        if (!(item->flags & _control_dirty_flag)) continue;
        const rectangle2d on_screen = offset(&item->bounds, dialog->bounds.left, dialog->bounds.top);
        add_rectangle(&drawn, &on_screen);
    }
    if (!draw_dialog_into_internal_bitmap(dialog, screen->encoding)) return;
    rectangle2d clip;
    if (!intersect(&drawn, &dialog->bounds, &clip)) return;
    const point2d origin = {dialog->bounds.left, dialog->bounds.top};
    copy_bitmap(screen, &origin, dialog->internal_bitmap, &clip, nullptr, TRANSLUCENT_BAR_TRANSPARENCY,
                get_transparency_table(_transparency_normal));
}

// ---- the screen's frame -------------------------------------------------------------------

void mark_dialogs_over_scene(const rectangle2d *rectangle)
{
    // Only the software scene overwrites the back buffer under the dialogs.
    if (active_screen.rasterizer_code != _rasterizer_software) return;
    invalidate_dialog_rectangle(rectangle);
}

void draw_dialogs_for_frame(bitmap_data *screen, rectangle2d *changed)
{
    if (!dialog_redraw_globals.idled_for_frame) idle_dialogs();
    dialog_redraw_globals.idled_for_frame = false;
    if (active_screen.rasterizer_code != _rasterizer_software)
    {
        // The frame is drawn anew each time: every dialog goes on it, not only
        // the ones just redrawn.
        render_dialogs(screen);
        rasterize_dialogs_hardware();
        return;
    }
    rectangle2d dirty;
    bool backdrop = false;
    if (!dialogs_are_dirty(&dirty, &backdrop)) return;
    const rectangle2d screen_bounds = {0, 0, screen->height, screen->width};
    if (backdrop && intersect(&dirty, &screen_bounds, &dirty))
    {
        // Black behind the dialogs: the dirty area is cleared, and every
        // dialog over it redraws its part, so nothing clean inside is lost.
        fill_rectangle_clipped(screen, &rgb_black, &dirty, nullptr, 0, nullptr);
        invalidate_dialog_rectangle(&dirty);
        dialogs_are_dirty(&dirty, nullptr);
    }
    render_dialogs(screen);
    rectangle2d shown;
    if (intersect(&dirty, &screen_bounds, &shown)) add_rectangle(changed, &shown);
}

} // namespace

// ---- marking ---------------------------------------------------------------------------------

void set_dialog_item_dirty(dialog_data *dialog, int16_t item_id)
{
    if (!check_dialog(dialog)) return;
    if (defer_mark_while_drawing(_deferred_item_mark, dialog, item_id, nullptr)) return;
    mark_item(dialog, item_id);
}

void invalidate_one_dialog_rectangle(dialog_data *dialog, const rectangle2d *rectangle)
{
    if (!check_dialog(dialog) || !VASSERT(rectangle, "rectangle")) return;
    if (defer_mark_while_drawing(_deferred_one_dialog_rectangle_mark, dialog, NONE, rectangle)) return;
    mark_one_dialog_rectangle(dialog, rectangle);
}

void invalidate_dialog_rectangle(const rectangle2d *rectangle)
{
    if (!VASSERT(rectangle, "rectangle")) return;
    if (defer_mark_while_drawing(_deferred_every_dialog_rectangle_mark, nullptr, NONE, rectangle)) return;
    mark_rectangle_from(get_first_dialog(), *rectangle);
}

void set_dialog_dirty(dialog_data *dialog)
{
    if (!check_dialog(dialog)) return;
    if (defer_mark_while_drawing(_deferred_dialog_mark, dialog, NONE, nullptr)) return;
    mark_dialog(dialog);
}

void set_all_dialogs_dirty(void)
{
    if (defer_mark_while_drawing(_deferred_dialog_mark, nullptr, NONE, nullptr)) return;
    mark_every_dialog();
}

bool dialogs_are_dirty(rectangle2d *rectangle, bool *backdrop)
{
    rectangle2d dirty = empty_dirty_bounds;
    bool black_backdrop = false, any = false;
    const bool modal = get_modal_dialog() != nullptr;
    for (const dialog_data *dialog = get_first_dialog(); dialog; dialog = dialog->next)
    {
        if (!dialog_is_visible(dialog)) continue;
        if (dialog->flags & _dialog_draws_black_backdrop_flag) black_backdrop = true;
        const bool counts = dialog_has_dirt(dialog) || (!modal && (dialog->flags & _dialog_is_transparent_flag));
        if (!counts) continue;
        any = true;
        add_rectangle(&dirty, &dialog->dirty_bounds);
    }
    if (rectangle) *rectangle = dirty;
    if (backdrop) *backdrop = black_backdrop;
    return any;
}

// ---- drawing -----------------------------------------------------------------------------------

void render_dialogs(bitmap_data *screen)
{
    const bool hardware = active_screen.rasterizer_code != _rasterizer_software;
    if (!hardware && !software_screen_is_drawable(screen)) return;
    for (dialog_data *dialog = get_first_dialog(); dialog; dialog = dialog->next)
    {
        if (!dialog_is_visible(dialog) || !dialog_has_dirt(dialog)) continue;
        if (hardware)
        {
            // The hardware frame buffer has no pixels: the dialog's bitmap is
            // in the screen's own encoding.
            const bool has_pixels = screen && !is_hardware_encoding(screen->encoding);
            draw_dialog_into_internal_bitmap(dialog, has_pixels ? screen->encoding : active_screen.encoding);
            continue;
        }
        if (dialog_is_a_translucent_bar(dialog))
        {
            draw_translucent_bar(screen, dialog);
            continue;
        }
        draw_dialog_in_software(screen, dialog);
    }
}

void draw_dialog_into_bitmap(bitmap_data *bitmap, dialog_data *dialog)
{
    if (!check_dialog(dialog) || !VASSERT(bitmap, "bitmap")) return;
    if (!dialog_is_visible(dialog)) return;
    dialog_redraw_globals.drawing_dialog = true;
    if (!rectangle_is_empty(&dialog->dirty_bounds))
    {
        const rectangle2d area = offset(&dialog->dirty_bounds, -dialog->bounds.left, -dialog->bounds.top);
        draw_dialog_background(bitmap, dialog, &area);
    }
    if (dialog_has_dirt(dialog)) draw_controls(bitmap, dialog);
    dialog->private_flags &= (uint16_t)~_dialog_has_dirty_background_controls_flag;
    dialog->dirty_bounds = empty_dirty_bounds;
    bitmap->flags |= _bitmap_changed_flag;
    dialog_redraw_globals.drawing_dialog = false;
    make_deferred_marks();
}

void draw_controls(bitmap_data *bitmap, dialog_data *dialog)
{
    if (!check_dialog(dialog) || !VASSERT(bitmap, "bitmap")) return;
    const bool debug_bounds = dialog_debug_control_bounds();
    control_data *focused = nullptr;
    for (control_data *item = dialog->first_control; item; item = item->next)
    {
        if (item->flags & _control_invisible_flag)
        {
            if (debug_bounds) frame_item_bounds(bitmap, item);
            item->flags &= (uint16_t)~(_control_dirty_flag | _control_background_dirty_flag);
            continue;
        }
        if (!(item->flags & _control_dirty_flag)) continue;
        if (dialog->text_target_item != NONE && item->item_id == dialog->text_target_item)
        {
            focused = item; // drawn after every other item
            continue;
        }
        draw_one_control(bitmap, dialog, item, 0, debug_bounds);
    }
    if (focused) draw_one_control(bitmap, dialog, focused, _control_draw_has_focus_flag, debug_bounds);
}

bool draw_dialog_into_internal_bitmap(dialog_data *dialog, int16_t encoding)
{
    if (!check_dialog(dialog) || !dialog_is_visible(dialog)) return false;
    const int16_t width = (int16_t)(dialog->bounds.right - dialog->bounds.left);
    const int16_t height = (int16_t)(dialog->bounds.bottom - dialog->bounds.top);
    if (width <= 0 || height <= 0) return false;
    bitmap_data *bitmap = dialog->internal_bitmap;
    if (bitmap && (bitmap->width != width || bitmap->height != height || bitmap->encoding != encoding))
    {
        dispose_bitmap(bitmap);
        dialog->internal_bitmap = bitmap = nullptr;
    }
    if (!bitmap)
    {
        bitmap = new_bitmap(width, height, 0, encoding, 0);
        if (!bitmap) return false;
        dialog->internal_bitmap = bitmap;
        // A new bitmap holds nothing yet: all of the dialog is drawn into it.
        mark_dialog(dialog);
        if (dialog->flags & _dialog_is_transparent_flag) zero_bitmap_pixels(bitmap);
    }
    if (dialog->flags & _dialog_is_transparent_flag)
    {
        const rectangle2d area = offset(&dialog->dirty_bounds, -dialog->bounds.left, -dialog->bounds.top);
        if (!rectangle_is_empty(&area))
        {
            const rgb_color clear = {0, 0, 0, 0};
            fill_rectangle_clipped(bitmap, &clear, &area, nullptr, 0, nullptr);
        }
    }
    draw_dialog_into_bitmap(bitmap, dialog);
    return true;
}

// ---- the hardware back end's iteration ---------------------------------------------------------

void get_rasterization_data_for_dialog(dialog_data *dialog, dialog_rasterization_data *data)
{
    if (!VASSERT(data, "data") || !check_dialog(dialog)) return;
    data->dialog = dialog;
    data->origin = {dialog->bounds.left, dialog->bounds.top};
    data->bitmap = dialog->internal_bitmap;
    data->transparency = 0;
}

bool get_dialog_to_rasterize(dialog_rasterization_data *data)
{
    if (!VASSERT(data, "data")) return false;
    dialog_data *dialog = get_first_dialog();
    if (data->dialog)
    {
        if (!check_dialog(data->dialog)) return false;
        dialog = data->dialog->next;
    }
    for (; dialog; dialog = dialog->next)
    {
        if (!dialog->internal_bitmap) continue;
        get_rasterization_data_for_dialog(dialog, data);
        return true;
    }
    return false;
}

// ---- registration ---------------------------------------------------------------------------------

bool is_drawing_dialog(void) { return dialog_redraw_globals.drawing_dialog; }

// A frame over an unchanged scene (or none) is drawn only when a dialog
// changed, its idle time included: a translucent one has nothing new to
// blend when nothing under it changed.
static bool dialogs_need_drawing(void)
{
    idle_dialogs();
    bool dirty = false;
    for (const dialog_data *dialog = get_first_dialog(); dialog && !dirty; dialog = dialog->next)
        dirty = dialog_is_visible(dialog) && dialog_has_dirt(dialog);
    dialog_redraw_globals.idled_for_frame = dirty;
    return dirty;
}

void register_dialog_redraw_hooks(void)
{
    register_draw_dialogs_procedures(mark_dialogs_over_scene, draw_dialogs_for_frame);
    register_dialogs_need_drawing_procedure(dialogs_need_drawing);
}
