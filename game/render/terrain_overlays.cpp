// Terrain overlays, stains and the media coverage of the mesh.
#include "render/terrain_overlays.h"
#include "terrain_overlay_procedures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmaps.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "mesh.h"
#include "render/terrain_maps.h"
#include "shapes.h"
#include "vesk_random.h"

// The coverage rows are kept in a copy of their own, each row ending with a
// value >= W, so that neither a short block nor a row without its end can
// make a walk leave the row.
struct terrain_overlays_globals_data
{
    uint16_t *coverage_values; // every row, one after the other
    int32_t *media_coverage_row_addresses; // index of each row's first value; null without a region
    int32_t coverage_row_count;
    int32_t coverage_width; // W, texels
    bool stain_refusal_logged, missing_region_logged;
};
static terrain_overlays_globals_data terrain_overlays_globals;

// ---- the overlay rasterizer --------------------------------------------------------------

// The crop of the unclipped stamp: the source columns and rows that carry
// into the buffer's first column or row are computed too (not written), so a
// stamp cut by the buffer's edge leaves the texels inside exactly as the whole
// stamp would.  A tile page and the volatile maps therefore agree at a page's
// border.
static void rasterize_spread_overlay(uint8_t *destination, int32_t destination_width, bool light,
                                     fixed_fraction density, const uint8_t *pixels, int32_t bytes_per_row,
                                     int32_t width, int32_t height, int32_t x0, int32_t y0)
{
    const int32_t ix = x0 >> FRACTIONAL_PIXEL_BITS, iy = y0 >> FRACTIONAL_PIXEL_BITS;
    const int32_t fx = PIXEL_ONE - (x0 & PIXEL_ONE), fy = PIXEL_ONE - (y0 & PIXEL_ONE);
    // Source columns i in [first_i, last_i] reach destination columns ix + i
    // (and carry into ix + i + 1); the same for rows.
    const int32_t first_i = ix < -1 ? -ix - 1 : 0;
    const int32_t last_i = ix + width - 1 < destination_width - 1 ? width - 1 : destination_width - 1 - ix;
    const int32_t first_j = iy < -1 ? -iy - 1 : 0;
    const int32_t last_j = iy + height - 1 < destination_width - 1 ? height - 1 : destination_width - 1 - iy;
    if (first_i > last_i || first_j > last_j) return;

    int32_t remainders[MAXIMUM_OVERLAY_DESTINATION_WIDTH + 1] = {};
    for (int32_t j = first_j; j <= last_j; ++j)
    {
        const uint8_t *source = pixels + (ptrdiff_t)j * bytes_per_row;
        const int32_t row = iy + j;
        uint8_t *out = row >= 0 ? destination + (ptrdiff_t)row * destination_width : nullptr;
        int32_t carry = 0;
        for (int32_t i = first_i; i <= last_i; ++i)
        {
            const int32_t s = (int32_t)(((uint32_t)source[i] * density) >> 16);
            const int32_t a = fx * s;
            const int32_t h = carry + a;
            carry = PIXEL_ONE * s - a;
            const int32_t v = fy * h;
            int32_t &remainder = remainders[i - first_i];
            const int32_t value = (remainder + v) >> 12;
            remainder = PIXEL_ONE * h - v;
            const int32_t column = ix + i;
            if (!out || column < 0) continue;
            uint8_t &texel = out[column];
            if (light)
            {
                const int32_t lit = texel + value;
                texel = (uint8_t)(lit > MAXIMUM_SHADOW_MAP_INTENSITY ? MAXIMUM_SHADOW_MAP_INTENSITY : lit);
            }
            else if (s != 0)
            {
                int32_t dark = ((MAXIMUM_SHADOW_MAP_INTENSITY - value) * texel) >> 8;
                if (dark < MINIMUM_SHADOW_MAP_INTENSITY) dark = MINIMUM_SHADOW_MAP_INTENSITY;
                if (dark < texel) texel = (uint8_t)dark;
            }
        }
    }
}

void rasterize_volatile_shadow_map_overlay(uint8_t *destination, int32_t destination_width, int32_t mode,
                                           fixed_fraction density, const uint8_t *pixels, int32_t bytes_per_row,
                                           int32_t width, int32_t height, int32_t x0, int32_t y0)
{
    if (!VASSERT(destination_width <= MAXIMUM_OVERLAY_DESTINATION_WIDTH, "destination_width<=512")) return;
    if (!destination || !pixels || destination_width < 1 || width < 1 || height < 1) return;
    const int32_t ix = x0 >> FRACTIONAL_PIXEL_BITS, iy = y0 >> FRACTIONAL_PIXEL_BITS;
    if (ix >= destination_width || iy >= destination_width) return;
    if (ix + width <= 0 || iy + height <= 0) return;

    switch (mode)
    {
    case _overlay_shadow_map:
    case _overlay_light_map:
        rasterize_spread_overlay(destination, destination_width, mode == _overlay_light_map, density, pixels,
                                 bytes_per_row, width, height, x0, y0);
        break;
    case _overlay_animated_shadow_map:
    {
        const int32_t i0 = ix < 0 ? -ix : 0, j0 = iy < 0 ? -iy : 0;
        const int32_t i1 = ix + width < destination_width ? width : destination_width - ix;
        const int32_t j1 = iy + height < destination_width ? height : destination_width - iy;
        for (int32_t j = j0; j < j1; ++j)
        {
            const uint8_t *source = pixels + (ptrdiff_t)j * bytes_per_row;
            uint8_t *out = destination + (ptrdiff_t)(iy + j) * destination_width + ix;
            for (int32_t i = i0; i < i1; ++i)
                if (source[i] < out[i]) out[i] = source[i];
        }
        break;
    }
    default:
        break;
    }
}

void rasterize_map_overlay_list(uint8_t *destination, int32_t destination_width, const render_map_overlay *list,
                                int32_t dx, int32_t dy)
{
    for (const render_map_overlay *overlay = list; overlay; overlay = overlay->next_map_overlay)
        rasterize_volatile_shadow_map_overlay(destination, destination_width, overlay->mode, overlay->density,
                                              overlay->pixels, overlay->bytes_per_row, overlay->width,
                                              overlay->height, (int32_t)((uint32_t)overlay->x0 + (uint32_t)dx),
                                              (int32_t)((uint32_t)overlay->y0 + (uint32_t)dy));
}

// ---- stains ----------------------------------------------------------------------------------

static bool bitmap_is_flat_8bit(const bitmap_data *bitmap)
{
    return bitmap && bitmap->width > 0 && bitmap->height > 0 && bitmap->bytes_per_row >= bitmap->width &&
           bitmap->logical_bit_depth == 8 &&
           !(bitmap->flags & (_1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag));
}

// Whether the stain's walk counts column x of a coverage row as media: every
// value <= x toggles, so the first boundary itself is media here (the media
// test takes it as dry).
static bool stain_column_is_media(const uint16_t *row, int32_t x)
{
    bool media = false;
    for (; *row <= x; ++row)
    {
        media = !media;
        if (*row >= terrain_overlays_globals.coverage_width) break;
    }
    return media;
}

void rasterize_permanent_overlay(const permanent_overlay_data *overlay)
{
    terrain_overlays_globals_data &g = terrain_overlays_globals;
    const uint8_t *blend_table = terrain_maps_globals.volatile_color_map_blend_table;
    // Headless maps without a landscape stain too (explosions scorch): that
    // is said once in the log, not asserted.
    if (!blend_table || !g.media_coverage_row_addresses)
    {
        if (!g.stain_refusal_logged)
            log_message(__FILE__, __LINE__, "stains are not painted: %s%s",
                        blend_table ? "" : "volatile_color_map_blend_table ",
                        g.media_coverage_row_addresses ? "" : "media_coverage_row_addresses");
        g.stain_refusal_logged = true;
        return;
    }
    if (!overlay) return;

    const int32_t collection = overlay->collection_index, sequence_index = overlay->sequence_index;
    const sequence_data *sequence = get_sequence(collection, sequence_index);
    if (!sequence || sequence->number_of_views <= 0 || sequence->frames_per_view <= 0) return;
    const int32_t frame = overlay->index % sequence->frames_per_view;
    const int32_t view = overlay->index % sequence->number_of_views;
    const int32_t instance_index = get_sequence_instance_index(collection, sequence_index, view, frame);
    const sequence_frame_data *frame_data = get_sequence_frame(collection, sequence_index, frame);
    if (instance_index == NONE || !frame_data || frame_data->shadow_map_index == NONE) return;
    const bitmap_instance_data *instance = get_bitmap_instance(collection, instance_index);
    const shadow_map_data *shadow_map = get_shadow_map(collection, frame_data->shadow_map_index);
    if (!instance || !shadow_map) return;
    bitmap_data *color_bitmap = get_bitmap(collection, instance->bitmap_index);
    const bitmap_data *shadow_bitmap = get_bitmap(collection, shadow_map->bitmap_index);
    if (!color_bitmap || !shadow_bitmap || color_bitmap->width != shadow_bitmap->width ||
        color_bitmap->height != shadow_bitmap->height)
        return;
    // A run-length or wider bitmap read as a flat byte array would run past it.
    if (!bitmap_is_flat_8bit(color_bitmap) || !bitmap_is_flat_8bit(shadow_bitmap)) return;

    // Both drawn every time, in this order.
    const bool mirror_x = local_random() & 1;
    const bool mirror_y = local_random() & 1;

    const mesh_header *header = get_mesh_header();
    if (!(color_bitmap->flags & _postprocessed_bitmap_flag))
    {
        const color_table *source = get_color_table(collection);
        const color_table *target =
            header && header->landscape_collection_index != NONE ? get_color_table(header->landscape_collection_index)
                                                                 : nullptr;
        if (source && target) remap_bitmap(color_bitmap, source, target);
        color_bitmap->flags = (int16_t)(color_bitmap->flags | _postprocessed_bitmap_flag);
    }

    const int32_t width = color_bitmap->width, height = color_bitmap->height;
    const int32_t X = overlay->origin.x - instance->registration_point.x;
    const int32_t Y = overlay->origin.y - instance->registration_point.y;
    const int32_t submesh_x = X >> 8, submesh_y = Y >> 8;
    // The submesh, then its right, lower-right and lower neighbours.
    static const int32_t pass_offsets[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto &offset : pass_offsets)
    {
        const int32_t sx = submesh_x + offset[0], sy = submesh_y + offset[1];
        if (sx < 0 || sy < 0 || sx >= submesh_width || sy >= submesh_height) continue;
        // The stain's top-left in this submesh's texels, clipped to it.
        const int32_t left = X - sx * SUBMESH_MAP_WIDTH, top = Y - sy * SUBMESH_MAP_WIDTH;
        const int32_t x_begin = left > 0 ? left : 0, y_begin = top > 0 ? top : 0;
        const int32_t x_end = left + width < SUBMESH_MAP_WIDTH ? left + width : SUBMESH_MAP_WIDTH;
        const int32_t y_end = top + height < SUBMESH_MAP_WIDTH ? top + height : SUBMESH_MAP_WIDTH;
        if (x_begin >= x_end || y_begin >= y_end) continue;
        const int32_t submesh = sx + submesh_width * sy;
        uint8_t *colors = get_submesh_color_map_base_address(submesh, false);
        uint8_t *shadows = get_submesh_shadow_map_base_address(submesh, false);
        if (!colors || !shadows) return;
        for (int32_t ty = y_begin; ty < y_end; ++ty)
        {
            const int32_t mesh_y = sy * SUBMESH_MAP_WIDTH + ty;
            if (mesh_y >= g.coverage_row_count) break;
            const uint16_t *row = g.coverage_values + g.media_coverage_row_addresses[mesh_y];
            int32_t sy_bitmap = ty - top;
            if (mirror_y) sy_bitmap = height - 1 - sy_bitmap;
            const uint8_t *color_row = color_bitmap->row_addresses[0] + (ptrdiff_t)sy_bitmap * color_bitmap->bytes_per_row;
            const uint8_t *shadow_row =
                shadow_bitmap->row_addresses[0] + (ptrdiff_t)sy_bitmap * shadow_bitmap->bytes_per_row;
            for (int32_t tx = x_begin; tx < x_end; ++tx)
            {
                if (stain_column_is_media(row, sx * SUBMESH_MAP_WIDTH + tx)) continue;
                int32_t sx_bitmap = tx - left;
                if (mirror_x) sx_bitmap = width - 1 - sx_bitmap;
                uint8_t &shadow = shadows[ty * SUBMESH_MAP_WIDTH + tx];
                uint8_t &color = colors[ty * SUBMESH_MAP_WIDTH + tx];
                shadow = (uint8_t)(((255 - shadow_row[sx_bitmap]) * shadow) >> 8);
                const uint8_t p = color_row[sx_bitmap];
                if (p != 0) color = blend_table[((uint32_t)color << 8) | p];
            }
        }
    }
}

// ---- media coverage --------------------------------------------------------------------------

static void *allocate_or_die(size_t size, const char *format)
{
    void *block = malloc(size ? size : 1);
    if (!block)
    {
        error_message(_error_out_of_memory, __FILE__, __LINE__, format, (int32_t)size);
        exit(_error_out_of_memory);
    }
    return block;
}

void initialize_media_coverage_region(const uint16_t *values, int32_t size)
{
    terrain_overlays_globals_data &g = terrain_overlays_globals;
    terrain_maps_globals.volatile_color_map_shading_table = get_color_map_shading_table();
    terrain_maps_globals.volatile_color_map_blend_table = get_color_map_blend_table();
    forget_mesh_water_bits();

    invalidate_volatile_maps();
    VWARN(g.media_coverage_row_addresses == nullptr, "!media_coverage_row_addresses");
    free(g.coverage_values);
    free(g.media_coverage_row_addresses);
    g = terrain_overlays_globals_data();

    const int32_t rows = mesh_height > 0 ? mesh_height * CELL_TEXTURE_WIDTH : 0;
    const int32_t W = mesh_width > 0 ? mesh_width * CELL_TEXTURE_WIDTH : 0;
    if (!values || size < 0) size = 0;
    const int32_t count = size / 2;
    // At most every value plus one closing W per row.
    g.coverage_values = (uint16_t *)allocate_or_die(((size_t)count + (size_t)rows) * sizeof(uint16_t),
                                                    "couldn't allocate #%d bytes for media coverage region");
    g.media_coverage_row_addresses = (int32_t *)allocate_or_die(
        (size_t)rows * sizeof(int32_t), "couldn't allocate #%d bytes for media coverage row addresses");
    g.coverage_row_count = rows;
    g.coverage_width = W;

    int32_t read = 0, written = 0;
    bool ran_out_logged = false;
    for (int32_t y = 0; y < rows; ++y)
    {
        g.media_coverage_row_addresses[y] = written;
        int32_t last_x = -1;
        for (;;)
        {
            if (read >= count)
            {
                // The block ended inside the row (or before it): the row,
                // and every one after it, ends dry at W.
                if (size != 0 && !ran_out_logged)
                    ran_out_logged = !VWARN(false, "region_index*sizeof(short)<media_coverage_region_size");
                g.coverage_values[written++] = (uint16_t)W;
                break;
            }
            const int32_t x = values[read++];
            if (!(x > last_x && x <= W))
            {
                char text[128];
                snprintf(text, sizeof(text), "media region y==#%d has x-coordinate #%d not in (#%d,#%d]", (int)y,
                         (int)x, (int)last_x, (int)W);
                VWARN(false, text);
            }
            g.coverage_values[written++] = (uint16_t)x;
            last_x = x;
            if (x >= W) break;
        }
    }
    if (size != 0 && !ran_out_logged) VWARN(read * 2 == size, "region_index*sizeof(short)==media_coverage_region_size");
}

void dispose_media_coverage_region(void)
{
    terrain_overlays_globals_data &g = terrain_overlays_globals;
    free(g.coverage_values);
    free(g.media_coverage_row_addresses);
    g = terrain_overlays_globals_data();
    terrain_maps_globals.volatile_color_map_shading_table = nullptr;
    terrain_maps_globals.volatile_color_map_blend_table = nullptr;
    forget_mesh_water_bits();
}

bool mesh_texture_pixel_is_media(int32_t x, int32_t y)
{
    terrain_overlays_globals_data &g = terrain_overlays_globals;
    if (x < 0 || y < 0 || x >= mesh_width * CELL_TEXTURE_WIDTH || y >= mesh_height * CELL_TEXTURE_WIDTH) return false;
    if (!g.media_coverage_row_addresses)
    {
        // A mesh loaded without the renderer's hooks: dry everywhere.
        if (!g.missing_region_logged) log_message(__FILE__, __LINE__, "no media_coverage_row_addresses");
        g.missing_region_logged = true;
        return false;
    }
    if (y >= g.coverage_row_count || x >= g.coverage_width) return false;
    const uint16_t *b = g.coverage_values + g.media_coverage_row_addresses[y];
    if (x <= b[0]) return false;
    // Every row ends with a value >= W > x, so the walk stops inside it.
    int32_t k = 1;
    while (b[k] < x) ++k;
    return (k & 1) != 0;
}

void register_terrain_overlay_hooks(void)
{
    static const terrain_overlay_procedures procedures = {
        .permanent_overlay = rasterize_permanent_overlay,
        .initialize_media_coverage = initialize_media_coverage_region,
        .dispose_media_coverage = dispose_media_coverage_region,
    };
    register_terrain_overlay_procedures(&procedures);
}

void reset_terrain_overlays_for_tests(void)
{
    free(terrain_overlays_globals.coverage_values);
    free(terrain_overlays_globals.media_coverage_row_addresses);
    terrain_overlays_globals = terrain_overlays_globals_data();
    terrain_maps_globals.volatile_color_map_shading_table = nullptr;
    terrain_maps_globals.volatile_color_map_blend_table = nullptr;
}
