#pragma once
// What the observer, the 2D graphics, collections and the renderer ask of a
// hardware rasterizer back end, in one table that the back end (the OpenGL
// back end) registers whole (`register_hardware_rasterizer_procedures`).  This
// header is the back end's one face to the layers below it; it lives in the
// game core's library so that every one of them, the observer included, can
// read it.  Until the back end registers, the null back end answers: software
// only, no square textures needed, sprites in 32 bits, no extended zoom.
// With the null back end no bitmap of a hardware encoding exists, so none
// ever reaches a software drawer.
//
// Main thread only.

#include <cstdint>

#include "point2d.h"

struct bitmap_data;
struct font_character;
struct device_info;
struct preallocated_texture; // the back end's resident texture record
struct render_surface_list;
struct view_data;

// Who owns the pixels of a bitmap handed to initialize_preallocated_texture.
enum texture_bitmap_ownership
{
    _bitmap_ownership_by_caller = 0, // the caller keeps them as long as the texture lives
    _bitmap_ownership_ephemeral, // valid only during the call: the back end copies them
    _bitmap_ownership_by_api, // the back end takes them over
};

struct hardware_rasterizer_procedures
{
    // Whether textures must be square (the texture sizes of bitmaps).  Null: no.
    bool (*requires_square_textures)(void);
    // The bit depth and encoding sprites are prepared in with a hardware
    // rasterizer.  Null: the collections' own (32 bits, `_32bit_encoding`).
    void (*get_shapes_bit_depth_and_encoding)(int16_t *bit_depth, int16_t *encoding);
    // Whether the rasterizer draws the observer's extended zoom.  Null: no.
    bool (*supports_extended_zoom)(void);

    // The 2D drawers of a frame buffer of a hardware encoding.  Colours are
    // 0xAARRGGBB.  These may be null: what a null one would draw is dropped
    // with a "halt" line, as without a back end.
    void (*draw_line)(bitmap_data *destination, uint32_t color, const point2d *p0, const point2d *p1);
    void (*fill_polygon)(bitmap_data *destination, uint32_t color, const point2d *vertices, int16_t vertex_count);
    // Already clamped to the bitmap; called only when left != right.
    void (*fill_rectangle)(bitmap_data *destination, uint32_t color, int16_t left, int16_t right, int16_t top,
                           int16_t bottom);
    // The source rectangle of `source` at `destination_point`, through the
    // source's colour table (256 pixels) when it is 8-bit.
    void (*copy_bitmap)(bitmap_data *destination, const bitmap_data *source, const void *source_color_table,
                        const rectangle2d *source_rectangle, const point2d *destination_point, uint16_t transparency);
    // A glyph of the glyph atlas (bitmap_text.h): `width` x `height` pixels
    // from (atlas_x, atlas_y) of the atlas drawn at (x, y).
    void (*draw_character)(bitmap_data *destination, const font_character *glyph, uint32_t color, int16_t x,
                           int16_t y, int16_t atlas_x, int16_t atlas_y, int16_t width, int16_t height);
    // Reports each OpenGL device with display_device_query_and_report_modes.
    // Null: none.
    void (*query_opengl_devices)(void);
    // Whether the device draws dialogs straight into its frame.  Null: no.
    bool (*supports_direct_dialog_rasterization)(const device_info *device);
    // A resident texture made from `bitmap` in `texture` (a new record when
    // null) through `shading_table` (null for none) with the usage flags; null
    // when none was made.  May be null: no texture is made.
    preallocated_texture *(*initialize_preallocated_texture)(preallocated_texture *texture, bitmap_data *bitmap,
                                                             int16_t bitmap_ownership, const void *shading_table,
                                                             uint32_t usage_flags);
    // Upload the resident texture again when `force` or when its bitmap
    // changed.  May be null: nothing is uploaded.
    void (*update_preallocated_texture)(preallocated_texture *texture, bool force);
    // Whether the resident texture's bitmap changed since its upload.  May be
    // null: never.
    bool (*is_preallocated_texture_dirty)(const preallocated_texture *texture);
    // Delete the resident texture (and its bitmap when the back end owns it)
    // and its record (cleared when it is the caller's).  May be null: nothing.
    void (*dispose_preallocated_texture)(preallocated_texture *texture);
    // Draws the renderer's sorted frame `list` of `view` into the view's
    // screen, a frame buffer of the back end's encoding.  May be null:
    // nothing is drawn (a "halt" line).
    void (*rasterize_scene)(view_data *view, render_surface_list *list);
};

// The back end's table, kept by pointer (a static record).  Refused
// (assertion, the first kept) for null or when a table is registered already.
bool register_hardware_rasterizer_procedures(const hardware_rasterizer_procedures *procedures);

// The registered table; never null: until one is registered, every member is null.
const hardware_rasterizer_procedures *get_hardware_rasterizer_procedures(void);

// The calls with their defaults for a null member (see the table).
bool rasterizer_requires_square_textures(void);
// Leaves `bit_depth` and `encoding` as the caller set them without the member.
void get_shapes_bit_depth_and_encoding_hardware(int16_t *bit_depth, int16_t *encoding);
bool rasterizer_supports_extended_zoom(void);

// The 2D drawers of the back end (see the table).  Without a back end, or
// when it lacks the drawer, a "halt" line is logged and nothing is drawn.
void draw_line_hardware(bitmap_data *destination, uint32_t color, const point2d *p0, const point2d *p1);
void fill_polygon_hardware(bitmap_data *destination, uint32_t color, const point2d *vertices, int16_t vertex_count);
void fill_rectangle_hardware(bitmap_data *destination, uint32_t color, int16_t left, int16_t right, int16_t top,
                             int16_t bottom);
void copy_bitmap_hardware(bitmap_data *destination, const bitmap_data *source, const void *source_color_table,
                          const rectangle2d *source_rectangle, const point2d *destination_point,
                          uint16_t transparency);
void draw_character_to_hardware_frame_buffer(bitmap_data *destination, const font_character *glyph, uint32_t color,
                                             int16_t x, int16_t y, int16_t atlas_x, int16_t atlas_y, int16_t width,
                                             int16_t height);

// The OpenGL devices for the screen's device table; none without a back end.
void query_opengl_devices(void);
// False without a back end (and, as the back end answers, always false).
bool rasterizer_supports_direct_dialog_rasterization(const device_info *device);

// The back end's resident texture of `bitmap` (see the table); null without
// a back end or when it makes none (a software build makes none).
preallocated_texture *initialize_preallocated_texture(preallocated_texture *texture, bitmap_data *bitmap,
                                                      int16_t bitmap_ownership, const void *shading_table,
                                                      uint32_t usage_flags);
// The resident texture's other operations (see the table); each does nothing
// (false) for a null texture, without a back end or without the member.
void update_preallocated_texture(preallocated_texture *texture, bool force);
bool is_preallocated_texture_dirty(const preallocated_texture *texture);
void dispose_preallocated_texture(preallocated_texture *texture);

// The renderer's hardware branch: the back end draws the frame (see the
// table).  Without a back end, or when it lacks the member, a "halt" line is
// logged and nothing is drawn.
void rasterize_scene_hardware(view_data *view, render_surface_list *list);
