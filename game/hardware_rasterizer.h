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
struct dialog_data;
struct dialog_rasterization_data;
struct preallocated_texture; // the back end's resident texture record
struct render_surface_list;
struct view_data;

// What a back end may answer for a display device (`device_capabilities`).
enum rasterizer_capability_flags
{
    _rasterizer_supports_32bit = 1 << 0,
    _rasterizer_supports_fog = 1 << 1,
    _rasterizer_supports_highres = 1 << 2,
    _rasterizer_supports_vsync = 1 << 3,
    _rasterizer_supports_extended_zoom = 1 << 4,
    _rasterizer_supports_multithread_mode = 1 << 5,
    _rasterizer_supports_gamma = 1 << 6,
    _rasterizer_supports_direct_dialog_rasterization = 1 << 7,
};

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

    // rasterizer_capability_flags of `device` (null: no device).  Null: the
    // neutral answers of the front functions below.
    uint32_t (*device_capabilities)(const device_info *device);
    // The frame buffer's depth and encoding; false (encoding -1) when the
    // active screen is not the back end's.  Null: false.
    bool (*get_framebuffer_bit_depth_and_encoding)(int16_t *bit_depth, int16_t *encoding);

    // The screen's frame buffer: a record without pixels of `rectangle`'s
    // size in the back end's frame-buffer encoding, so that drawing into it
    // comes back here.  Null (and null answers): the screen has no hardware
    // frame buffer to lend.
    bitmap_data *(*initialize_render_bitmap)(const rectangle2d *rectangle);
    // The screen's linear back buffer over `bounds` for a back end that lends
    // one, given back with release_linear_backbuffer.  Null (or a null
    // answer): none to lend, as with OpenGL, which draws dialogs itself.
    bitmap_data *(*get_linear_backbuffer)(const rectangle2d *bounds);
    void (*release_linear_backbuffer)(void);
    // Loads a sprite bitmap into the back end's cache ahead of its first
    // use.  Null: nothing (bitmaps are loaded when first drawn).
    void (*preload_bitmap_into_cache)(bitmap_data *bitmap);
    // Open and close one frame, or one tile of a tiled rendering.  Null: nothing.
    void (*render_begin)(void);
    void (*render_end)(void);
    // Shows the back buffer; adapts to a new screen size; clears the back
    // buffer (false when the active screen is not the back end's); sets the
    // swap interval (-1: from the screen preferences).  Null: nothing (false).
    void (*update_screen)(void);
    void (*resize_screen)(void);
    bool (*clear_backbuffer)(void);
    void (*set_vsync_interval)(int32_t interval);
    // The frame's `rectangle` read back as a new 32-bit bitmap (one free()),
    // top row first.  Null: none.
    bitmap_data *(*copy_bits_from_render_view)(const rectangle2d *rectangle);
    // `source_rectangle` of `source` scaled onto `destination_rectangle`.
    // Null: dropped with a "halt" line.
    void (*stretch_copy_bitmap)(bitmap_data *destination, bitmap_data *source, const void *shading_table,
                                const rectangle2d *source_rectangle, const rectangle2d *destination_rectangle,
                                uint16_t transparency);

    // Dialogs: draws `dialog` into its own bitmap; puts one dialog's bitmap
    // (its rasterization data) on the frame (false when it could not); puts
    // a bar on the frame; puts every dialog with a bitmap on the frame, back
    // to front, after the dialog layer has drawn the dirty ones.  Null: nothing.
    void (*draw_dialog)(dialog_data *dialog);
    bool (*rasterize_dialog)(const dialog_rasterization_data *data, const rectangle2d *rectangle,
                             uint16_t transparency);
    void (*draw_control_or_status_bar)(const dialog_rasterization_data *data);
    void (*rasterize_dialogs)(void);

    // A map's life: before the map's first frame (false when the back end
    // cannot draw it); once the mesh is loaded; when the map ends.  Null:
    // nothing (false).
    bool (*initialize_for_new_map)(void);
    void (*initialize_mesh_parameters_for_new_map)(void);
    void (*dispose_from_old_map)(void);

    // The scene
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

// ---- capabilities --------------------------------------------------------------
// Each answers for `device` (null: none) from the back end; without one, the
// neutral answers: 32 bits and multithread mode yes, everything else no.

// True for the hardware codes 1 to 5 (a texture cache is needed).
bool rasterizer_requires_hardware_format_cache(int16_t rasterizer_code);
// Stores whether 32 bits is forced (always) into `forced` when given.
bool rasterizer_supports_32bit(const device_info *device, bool *forced);
bool rasterizer_supports_fog(const device_info *device);
bool rasterizer_supports_highres(const device_info *device);
bool rasterizer_supports_vsync(const device_info *device);
bool rasterizer_supports_multithread_mode(const device_info *device);
bool rasterizer_supports_gamma(const device_info *device);
// The frame buffer's depth and encoding (both required); without a back end
// for the active screen, "halt" with -1 and -1.
void get_framebuffer_bit_depth_and_encoding_hardware(int16_t *bit_depth, int16_t *encoding);

// ---- the screen ------------------------------------------------------------------
// Without a back end: null, nothing, false.

bitmap_data *initialize_render_bitmap_hardware(const rectangle2d *rectangle);
// The record is the screen's: nothing to give back.
void release_render_bitmap_hardware(bitmap_data *bitmap);
// The linear back buffer of a hardware screen (see the table); null after a
// "halt" line when the back end lends none, and the release of what it lent
// ("halt" without the member).
bitmap_data *get_linear_backbuffer_hardware(const rectangle2d *bounds);
void release_linear_backbuffer_hardware(void);
// See the table; null bitmaps and missing members do nothing.
void preload_bitmap_into_cache_hardware(bitmap_data *bitmap);
void render_begin_hardware(void);
void render_end_hardware(void);
void update_screen_hardware(void);
void resize_screen_hardware(void);
bool clear_linear_backbuffer_hardware(void);
void set_vsync_interval(int32_t interval);
// The frame's rectangle as a new 32-bit bitmap (free()); null without a back end.
bitmap_data *copy_bits_from_render_view_hardware(const rectangle2d *rectangle);
void stretch_copy_bitmap_hardware(bitmap_data *destination, bitmap_data *source, const void *shading_table,
                                  const rectangle2d *source_rectangle, const rectangle2d *destination_rectangle,
                                  uint16_t transparency);

// ---- dialogs ---------------------------------------------------------------------

void draw_dialog_hardware(dialog_data *dialog);
bool rasterize_dialog_hardware(const dialog_rasterization_data *data, const rectangle2d *rectangle,
                               uint16_t transparency);
void draw_control_or_status_bar_hardware(const dialog_rasterization_data *data);
void rasterize_dialogs_hardware(void);

// ---- a map's life ------------------------------------------------------------------

// False without a back end ("halt").
bool initialize_hardware_rasterizer_for_new_map(void);
void initialize_rasterizer_mesh_parameters_for_new_map(void);
// "halt" without a back end.
void dispose_hardware_rasterizer_from_old_map(void);

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
