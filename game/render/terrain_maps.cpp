// The terrain's colour and shadow maps: the volatile maps and the tile cache.
#include "render/terrain_maps.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "bitmaps.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "media.h"
#include "mesh.h"
#include "render/render.h"
#include "render/render_tables.h"
#include "render/render_world_effects.h"
#include "render/terrain_overlays.h"
#include "shapes.h"

terrain_maps_globals_data terrain_maps_globals;

// The first texel of cell (x, y) in its submesh's colour or shadow map (256
// bytes per row), or null for a cell off the mesh or a missing map.  Only
// cells on the mesh name their own submesh: the submesh number of a cell
// left or right of the mesh would name the neighbouring submesh row.
static const uint8_t *cell_texels(int32_t x, int32_t y, bool shadow)
{
    if (x < 0 || y < 0 || x >= mesh_width || y >= mesh_height) return nullptr;
    const int32_t submesh = (x >> 5) + submesh_width * (y >> 5);
    const uint8_t *base = shadow ? get_submesh_shadow_map_base_address(submesh, false)
                                 : get_submesh_color_map_base_address(submesh, false);
    if (!base) return nullptr;
    return base + ((x & (SUBMESH_CELL_WIDTH - 1)) + (y & (SUBMESH_CELL_WIDTH - 1)) * SUBMESH_MAP_WIDTH) *
                      CELL_TEXTURE_WIDTH;
}

// Copies cell (x, y)'s 8 x 8 texels to `destination` (`stride` bytes per
// row), zeros for a missing cell.
static void copy_cell_texels(int32_t x, int32_t y, bool shadow, uint8_t *destination, int32_t stride)
{
    const uint8_t *source = cell_texels(x, y, shadow);
    for (int32_t row = 0; row < CELL_TEXTURE_WIDTH; ++row)
    {
        uint8_t *out = destination + (ptrdiff_t)row * stride;
        if (source) memcpy(out, source + row * SUBMESH_MAP_WIDTH, CELL_TEXTURE_WIDTH);
        else memset(out, 0, CELL_TEXTURE_WIDTH);
    }
}

static int32_t base_texture_mode(int32_t texture_mode) { return texture_mode & ~_cmap_texture_media_flag; }

static bool texture_mode_is_usable(int32_t texture_mode)
{
    const terrain_maps_globals_data &g = terrain_maps_globals;
    const bool media = texture_mode & _cmap_texture_media_flag;
    switch (base_texture_mode(texture_mode))
    {
    case _cmap_texture_mode_16bit:
        return VASSERT((media ? g.media_shade16 : g.shade16) != nullptr, "shade16");
    case _cmap_texture_mode_32bit:
        return VASSERT((media ? g.media_shade32 : g.shade32) != nullptr, "shade32");
    case _cmap_texture_mode_32bit_unblended:
        return !media || VASSERT(g.media_shade32 != nullptr, "media tables");
    default:
        HALT(nullptr);
        return false;
    }
}

// Converts `count` colour and shadow texels into destination texels (the
// tables of the mode as cmap_texel16 and cmap_texel32 read them).
static void convert_texels(int32_t texture_mode, const uint8_t *colors, const uint8_t *shadows, void *destination,
                           int32_t count)
{
    const terrain_maps_globals_data &g = terrain_maps_globals;
    const bool media = texture_mode & _cmap_texture_media_flag;
    switch (base_texture_mode(texture_mode))
    {
    case _cmap_texture_mode_16bit:
    {
        const uint16_t *shade = media ? g.media_shade16 : g.shade16;
        uint16_t *out = static_cast<uint16_t *>(destination);
        for (int32_t i = 0; i < count; ++i) out[i] = shade[((uint32_t)(shadows[i] >> 2) << 8) | colors[i]];
        break;
    }
    case _cmap_texture_mode_32bit:
    {
        const uint32_t *shade = media ? g.media_shade32 : g.shade32;
        uint32_t *out = static_cast<uint32_t *>(destination);
        for (int32_t i = 0; i < count; ++i) out[i] = shade[((uint32_t)shadows[i] << 8) | colors[i]];
        break;
    }
    default:
    {
        const uint32_t *unblended = media ? g.media_shade32_unblended : g.shade32_unblended;
        uint32_t *out = static_cast<uint32_t *>(destination);
        for (int32_t i = 0; i < count; ++i) out[i] = ((uint32_t)shadows[i] << 24) | unblended[colors[i]];
        break;
    }
    }
}

static bool texels_are_16bit(int32_t texture_mode)
{
    return base_texture_mode(texture_mode) == _cmap_texture_mode_16bit;
}

static void *texel_address(void *destination, int32_t texture_mode, ptrdiff_t index)
{
    return texels_are_16bit(texture_mode) ? (void *)(static_cast<uint16_t *>(destination) + index)
                                          : (void *)(static_cast<uint32_t *>(destination) + index);
}

// ---- the tile cache ---------------------------------------------------------------

void initialize_tile_cache_for_new_map(int32_t flag)
{
    terrain_maps_globals_data &g = terrain_maps_globals;
    free(g.mesh_tiles);
    g.mesh_tiles = nullptr;
    const int32_t count = mesh_tile_width > 0 && mesh_tile_height > 0 ? mesh_tile_width * mesh_tile_height : 0;
    const size_t size = (size_t)count * sizeof(mesh_tile);
    g.mesh_tiles = static_cast<mesh_tile *>(calloc(count ? (size_t)count : 1, sizeof(mesh_tile)));
    if (!g.mesh_tiles)
    {
        error_message(_error_out_of_memory, __FILE__, __LINE__, "couldn't allocate #%d bytes for mesh tiles",
                      (int32_t)size);
        exit(_error_out_of_memory);
    }
    g.tile_count = count;
    for (int32_t i = 0; i < count; ++i)
    {
        mesh_tile &tile = g.mesh_tiles[i];
        tile.mesh_x = (uint16_t)((i % mesh_tile_width) * MESH_TILE_CELL_WIDTH);
        tile.mesh_y = (uint16_t)((i / mesh_tile_width) * MESH_TILE_CELL_WIDTH);
        const int32_t x1 = tile.mesh_x + MESH_TILE_CELL_WIDTH - 1, y1 = tile.mesh_y + MESH_TILE_CELL_WIDTH - 1;
        tile.mesh_x1 = (uint16_t)(x1 < mesh_width - 1 ? x1 : mesh_width - 1);
        tile.mesh_y1 = (uint16_t)(y1 < mesh_height - 1 ? y1 : mesh_height - 1);
        tile.x = (uint16_t)(tile.mesh_x * CELL_TEXTURE_WIDTH);
        tile.y = (uint16_t)(tile.mesh_y * CELL_TEXTURE_WIDTH);
        // Zeroed records would all claim page 0, and tile 0 would keep it
        // without its texels ever being built.
        tile.page = MESH_TILE_NO_PAGE;
    }
    memset(g.pages, 0, sizeof(g.pages));
    for (int32_t i = 0; i < PAGE_COUNT; ++i)
    {
        g.pages[i].tile = NONE;
        if (flag == 0)
        {
            g.pages[i].x = (int16_t)((i & (PAGE_X_COUNT - 1)) * PAGE_TEXTURE_WIDTH);
            g.pages[i].y = (int16_t)((i / PAGE_X_COUNT) * PAGE_TEXTURE_WIDTH);
        }
    }
    global_maps_mode = _maps_mode_tiles;
}

void dispose_tile_cache_from_old_map(void)
{
    free(terrain_maps_globals.mesh_tiles);
    terrain_maps_globals.mesh_tiles = nullptr;
    terrain_maps_globals.tile_count = 0;
    global_maps_mode = _maps_mode_volatile;
}

mesh_tile *covered_tile(const mesh_region *region, int32_t i)
{
    const int32_t index = region->tile_coverage_list[i];
    return index < terrain_maps_globals.tile_count ? &terrain_maps_globals.mesh_tiles[index] : nullptr;
}

void prepare_tile_cache(mesh_region *region)
{
    if (!region || !region->tile_coverage_list || !terrain_maps_globals.mesh_tiles) return;
    for (int32_t i = 0; i < region->tile_coverage_list_size; ++i)
    {
        mesh_tile *tile = covered_tile(region, i);
        if (tile) tile->light_map_overlays = tile->shadow_map_overlays = nullptr;
    }
}

void cache_tiles_for_region(mesh_region *region, bool flush)
{
    terrain_maps_globals_data &g = terrain_maps_globals;
    if (!region) return;
    region->dirty_tile_list_size = 0;
    region->dirty_tile_list = nullptr;
    const int32_t covered = region->tile_coverage_list ? region->tile_coverage_list_size : 0;
    if (!g.mesh_tiles || covered <= 0) return;
    mesh_tile **dirty = render_new<mesh_tile *>((size_t)covered);
    if (!dirty) return;

    if (flush)
        for (int32_t i = 0; i < g.tile_count; ++i) g.mesh_tiles[i].page = MESH_TILE_NO_PAGE;
    for (page_info &page : g.pages) page.mark = 0;

    for (int32_t i = 0; i < covered; ++i)
    {
        mesh_tile *tile = covered_tile(region, i);
        if (!tile || tile->page == MESH_TILE_NO_PAGE || tile->page == MESH_TILE_NO_FREE_PAGE) continue;
        const int32_t tile_index = (int32_t)(tile - g.mesh_tiles);
        if (tile->page >= 0 && tile->page < PAGE_COUNT && g.pages[tile->page].tile == tile_index)
            g.pages[tile->page].mark = 1;
        else tile->page = MESH_TILE_NO_PAGE;
    }

    int32_t count = 0, cursor = 0;
    for (int32_t i = 0; i < covered; ++i)
    {
        mesh_tile *tile = covered_tile(region, i);
        if (!tile || tile->page != MESH_TILE_NO_PAGE) continue;
        while (cursor < PAGE_COUNT && g.pages[cursor].mark) ++cursor;
        if (cursor >= PAGE_COUNT)
        {
            tile->page = MESH_TILE_NO_FREE_PAGE;
            continue;
        }
        page_info &page = g.pages[cursor];
        page.tile = (int16_t)(tile - g.mesh_tiles);
        page.mark = 1; // a tile covered twice must not take the page back
        tile->page = (int16_t)cursor;
        tile->page_x = (uint16_t)page.x;
        tile->page_y = (uint16_t)page.y;
        tile->u_off = (int16_t)(page.x / CELL_TEXTURE_WIDTH + 1 - tile->mesh_x);
        tile->v_off = (int16_t)(page.y / CELL_TEXTURE_WIDTH + 1 - tile->mesh_y);
        dirty[count++] = tile;
        ++cursor;
    }
    region->dirty_tile_list = dirty;
    region->dirty_tile_list_size = count;
}

void build_mesh_tile_texture(const mesh_tile *tile, void *destination, int32_t destination_stride, int32_t texture_mode)
{
    if (!tile || !destination || !texture_mode_is_usable(texture_mode)) return;
    const int32_t cells = PAGE_TEXTURE_WIDTH / CELL_TEXTURE_WIDTH; // 16: the tile and its border
    const int32_t first_x = tile->mesh_x - 1, first_y = tile->mesh_y - 1;

    uint8_t shadows[PAGE_TEXTURE_WIDTH * PAGE_TEXTURE_WIDTH];
    for (int32_t cy = 0; cy < cells; ++cy)
        for (int32_t cx = 0; cx < cells; ++cx)
            copy_cell_texels(first_x + cx, first_y + cy, true,
                             shadows + (cy * PAGE_TEXTURE_WIDTH + cx) * CELL_TEXTURE_WIDTH, PAGE_TEXTURE_WIDTH);
    const int32_t dx = -first_x * WORLD_ONE, dy = -first_y * WORLD_ONE;
    rasterize_map_overlay_list(shadows, PAGE_TEXTURE_WIDTH, tile->shadow_map_overlays, dx, dy);
    rasterize_map_overlay_list(shadows, PAGE_TEXTURE_WIDTH, tile->light_map_overlays, dx, dy);

    static const uint8_t zeros[CELL_TEXTURE_WIDTH] = {};
    for (int32_t cy = 0; cy < cells; ++cy)
        for (int32_t cx = 0; cx < cells; ++cx)
        {
            const uint8_t *colors = cell_texels(first_x + cx, first_y + cy, false);
            for (int32_t row = 0; row < CELL_TEXTURE_WIDTH; ++row)
            {
                const ptrdiff_t texel_row = (ptrdiff_t)cy * CELL_TEXTURE_WIDTH + row;
                void *out = texel_address(destination, texture_mode,
                                          texel_row * destination_stride + (ptrdiff_t)cx * CELL_TEXTURE_WIDTH);
                if (colors)
                    convert_texels(texture_mode, colors + row * SUBMESH_MAP_WIDTH,
                                   shadows + texel_row * PAGE_TEXTURE_WIDTH + cx * CELL_TEXTURE_WIDTH, out,
                                   CELL_TEXTURE_WIDTH);
                else
                    memset(out, 0, texels_are_16bit(texture_mode) ? sizeof(zeros) * 2 : sizeof(zeros) * 4);
            }
        }
}

// ---- the volatile maps ----------------------------------------------------------------

// Whether the region's rows and spans are those the volatile maps hold.
static bool region_matches_copied(const mesh_region *region, int32_t rows)
{
    const terrain_maps_globals_data &g = terrain_maps_globals;
    return g.volatile_maps_valid && g.copied_x0 == region->x0 && g.copied_y0 == region->y0 &&
           g.copied_y1 == region->y1 &&
           (rows == 0 || memcmp(g.copied_spans, region->spans, (size_t)rows * sizeof(mesh_span)) == 0);
}

// Copies the cells [x0, x1) of row y into both volatile maps, by runs cut at
// submesh boundaries.
static void copy_volatile_row(uint8_t *color_map, uint8_t *shadow_map, int32_t y, int32_t x0, int32_t x1)
{
    const terrain_maps_globals_data &g = terrain_maps_globals;
    const int32_t row = y - g.volatile_y0;
    if (row < 0 || row >= VOLATILE_MAP_CELL_WIDTH) return;
    const int32_t lowest = g.volatile_x0, highest = g.volatile_x0 + VOLATILE_MAP_CELL_WIDTH;
    if (x0 < lowest) x0 = lowest;
    if (x1 > highest) x1 = highest;
    for (int32_t x = x0; x < x1;)
    {
        // Runs end at submesh boundaries and where the mesh begins or ends:
        // the submesh maps hold texels past the mesh's last column, which
        // must read as missing.
        int32_t run_end = (x & ~(SUBMESH_CELL_WIDTH - 1)) + SUBMESH_CELL_WIDTH;
        if (x < 0 && run_end > 0) run_end = 0;
        if (x < mesh_width && run_end > mesh_width) run_end = mesh_width;
        if (run_end > x1) run_end = x1;
        const int32_t dx = run_end - x;
        const ptrdiff_t offset =
            ((ptrdiff_t)row * VOLATILE_TEXTURE_WIDTH + (x - g.volatile_x0)) * CELL_TEXTURE_WIDTH;
        if (!VASSERT(VOLATILE_TEXTURE_WIDTH - (x - g.volatile_x0 + dx) * CELL_TEXTURE_WIDTH >= 0,
                     "VOLATILE_TEXTURE_WIDTH - dx*SUBMESH_CELL_TEXTURE_WIDTH >= 0"))
            return;
        const uint8_t *colors = cell_texels(x, y, false);
        const uint8_t *shadows = cell_texels(x, y, true);
        for (int32_t r = 0; r < CELL_TEXTURE_WIDTH; ++r)
        {
            uint8_t *color_out = color_map + offset + (ptrdiff_t)r * VOLATILE_TEXTURE_WIDTH;
            uint8_t *shadow_out = shadow_map + offset + (ptrdiff_t)r * VOLATILE_TEXTURE_WIDTH;
            const size_t bytes = (size_t)dx * CELL_TEXTURE_WIDTH;
            if (colors) memcpy(color_out, colors + r * SUBMESH_MAP_WIDTH, bytes);
            else memset(color_out, 0, bytes);
            if (shadows) memcpy(shadow_out, shadows + r * SUBMESH_MAP_WIDTH, bytes);
            else memset(shadow_out, 0, bytes);
        }
        x = run_end;
    }
}

// Filtering blends each texel with a neighbour one texel up, down, left or
// right, so the texels just outside what was copied (the guard row above the
// window, the rows below its last row, the columns beside each span) repeat
// the edge texels: otherwise the terrain's edge rows are blended with colour
// 0 in the deepest shadow, a dark seam along the map's edge.
static void repeat_volatile_edges(uint8_t *map, const mesh_region *region, int32_t rows)
{
    for (int32_t i = 0; i < rows && i < VOLATILE_MAP_CELL_WIDTH; ++i)
    {
        const mesh_span *span = &region->spans[i];
        if (span_cell_count_right_exclusive(span) <= 0) continue;
        const int32_t first = (std::max<int32_t>(span->x0, region->x0) - region->x0) * CELL_TEXTURE_WIDTH;
        const int32_t end = std::min<int32_t>(span->x1 - region->x0, VOLATILE_MAP_CELL_WIDTH) * CELL_TEXTURE_WIDTH;
        if (first >= end) continue;
        for (int32_t r = 0; r < CELL_TEXTURE_WIDTH; ++r)
        {
            uint8_t *row = map + (ptrdiff_t)(i * CELL_TEXTURE_WIDTH + r) * VOLATILE_TEXTURE_WIDTH;
            // A span that starts at column 0 borders the previous row's last
            // column, and one that ends at the last borders the next row's first.
            if (first > 0) row[first - 1] = row[first];
            if (end < VOLATILE_TEXTURE_WIDTH) row[end] = row[end - 1];
        }
        const bool top = i == 0 || span_cell_count_right_exclusive(&region->spans[i - 1]) <= 0;
        const bool bottom = i + 1 >= rows || span_cell_count_right_exclusive(&region->spans[i + 1]) <= 0;
        uint8_t *first_row = map + (ptrdiff_t)i * CELL_TEXTURE_WIDTH * VOLATILE_TEXTURE_WIDTH;
        uint8_t *last = first_row + (ptrdiff_t)(CELL_TEXTURE_WIDTH - 1) * VOLATILE_TEXTURE_WIDTH;
        const int32_t from = std::max(first - 1, 0), to = std::min(end + 1, (int32_t)VOLATILE_TEXTURE_WIDTH);
        // The guard rows take the rows before the first and after the last.
        if (top) memcpy(first_row - VOLATILE_TEXTURE_WIDTH + from, first_row + from, (size_t)(to - from));
        if (bottom) memcpy(last + VOLATILE_TEXTURE_WIDTH + from, last + from, (size_t)(to - from));
    }
}

static void redraw_volatile_maps(view_data *view, const mesh_region *region, int32_t rows)
{
    terrain_maps_globals_data &g = terrain_maps_globals;
    uint8_t *color_map = volatile_color_map(), *shadow_map = volatile_shadow_map();
    if (!color_map || !shadow_map) return;
    if (!(view->flags & _render_view_omit_models_flag)) build_visible_animating_shadow_overlays(view);
    // Said once per map: every frame would drown the log.
    if (!g.missing_tables_logged &&
        (!g.volatile_color_map_shading_table || !g.volatile_color_map_blend_table) && mesh_is_loaded())
    {
        g.missing_tables_logged = true;
        log_message(__FILE__, __LINE__, "%s%s", g.volatile_color_map_shading_table ? "" : "volatile_color_map_shading_table ",
                    g.volatile_color_map_blend_table ? "" : "volatile_color_map_blend_table");
    }
    g.volatile_maps_changed = true;
    g.volatile_x0 = region->x0;
    g.volatile_y0 = region->y0;
    for (int32_t i = 0; i < rows; ++i)
    {
        const mesh_span *span = &region->spans[i];
        if (span_cell_count_right_exclusive(span) > 0)
            copy_volatile_row(color_map, shadow_map, region->y0 + i, span->x0, span->x1);
    }
    const int32_t dx = -region->x0 * WORLD_ONE, dy = -region->y0 * WORLD_ONE;
    rasterize_map_overlay_list(shadow_map, VOLATILE_TEXTURE_WIDTH, view->shadow_map_overlays, dx, dy);
    rasterize_map_overlay_list(shadow_map, VOLATILE_TEXTURE_WIDTH, view->light_map_overlays, dx, dy);
    repeat_volatile_edges(color_map, region, rows);
    repeat_volatile_edges(shadow_map, region, rows);

    g.volatile_maps_valid = true;
    g.copied_x0 = region->x0;
    g.copied_y0 = region->y0;
    g.copied_y1 = region->y1;
    if (rows > 0) memcpy(g.copied_spans, region->spans, (size_t)rows * sizeof(mesh_span));
}

void update_maps(view_data *view)
{
    terrain_maps_globals_data &g = terrain_maps_globals;
    if (!view) return;
    const bool flush = !g.tick_count_valid || view->tick_count != g.last_tick_count;
    mesh_region *region = view->region;
    if (global_maps_mode == _maps_mode_tiles)
    {
        if (flush && !(view->flags & _render_view_omit_models_flag)) build_visible_animating_shadow_overlays(view);
        cache_tiles_for_region(region, flush);
    }
    else if (region)
    {
        int32_t rows = region->spans ? region->y1 - region->y0 + 1 : 0;
        if (rows < 0) rows = 0;
        if (rows > MESH_REGION_SPAN_ROWS) rows = MESH_REGION_SPAN_ROWS;
        // The region also moves without the view's moved flag (field of view,
        // offsets, the hole): those frames are redrawn too.
        if (flush || (view->flags & _render_view_moved_flag) || !region_matches_copied(region, rows))
            redraw_volatile_maps(view, region, rows);
    }
    g.last_tick_count = view->tick_count;
    g.tick_count_valid = true;
}

void build_volatile_chunk_texture(void *destination, int32_t destination_x, int32_t destination_y,
                                  int32_t destination_width, int32_t source_x, int32_t source_y, int32_t texture_mode)
{
    const uint8_t *color_map = volatile_color_map(), *shadow_map = volatile_shadow_map();
    if (!destination || !color_map || !shadow_map || !texture_mode_is_usable(texture_mode)) return;
    const int32_t last = VOLATILE_TEXTURE_WIDTH - VOLATILE_CHUNK_TEXTURE_WIDTH;
    if (!VASSERT(source_x >= 0 && source_y >= 0 && source_x <= last && source_y <= last, "chunk inside the maps"))
        return;
    for (int32_t r = 0; r < VOLATILE_CHUNK_TEXTURE_WIDTH; ++r)
    {
        const ptrdiff_t source = (ptrdiff_t)(source_y + r) * VOLATILE_TEXTURE_WIDTH + source_x;
        void *out = texel_address(destination, texture_mode,
                                  (ptrdiff_t)(destination_y + r) * destination_width + destination_x);
        convert_texels(texture_mode, color_map + source, shadow_map + source, out, VOLATILE_CHUNK_TEXTURE_WIDTH);
    }
}

// ---- colour-map shading tables --------------------------------------------------------------

static void *allocate_shading_table(size_t size)
{
    void *table = calloc(1, size);
    if (!table)
    {
        error_message(_error_out_of_memory, __FILE__, __LINE__,
                      "couldn't allocate #%d bytes for the colormap shading table", (int32_t)size);
        exit(_error_out_of_memory);
    }
    return table;
}

// One set of colour-map tables from `colors` and the header's lighting.
static void build_cmap_shading_tables(const mesh_header *header, const color_table *colors, uint16_t *shade16,
                                      uint32_t *shade32, uint32_t unblended[256])
{
    build_colored_shading_table(_16bit_555_encoding, SHADING_TABLES16, colors, shade16, header->dark_fraction,
                                &header->dark_color, header->transition_point, header->light_fraction,
                                &header->light_color);
    build_colored_shading_table(_32bit_encoding, SHADING_TABLES32, colors, shade32, header->dark_fraction,
                                &header->dark_color, header->transition_point, header->light_fraction,
                                &header->light_color);
    const int32_t count = colors->color_count < 256 ? colors->color_count : 256;
    for (int32_t i = 0; i < count; ++i)
    {
        const rgb_color &c = colors->colors[i];
        unblended[i] = ((uint32_t)(c.red >> 8) << 16) | ((uint32_t)(c.green >> 8) << 8) | (c.blue >> 8);
    }
}

void initialize_cmap_shading_tables_for_new_map(void)
{
    terrain_maps_globals_data &g = terrain_maps_globals;
    dispose_cmap_shading_tables_from_old_map();
    g.shade16 = static_cast<uint16_t *>(allocate_shading_table(SHADING_TABLES16 * 256 * sizeof(uint16_t)));
    g.shade32 = static_cast<uint32_t *>(allocate_shading_table(SHADING_TABLES32 * 256 * sizeof(uint32_t)));
    memset(g.shade32_unblended, 0, sizeof(g.shade32_unblended));
    memset(g.media_shade32_unblended, 0, sizeof(g.media_shade32_unblended));
    const mesh_header *header = get_mesh_header();
    if (!header || header->landscape_collection_index == NONE) return;
    const color_table *colors = get_color_table(header->landscape_collection_index);
    if (!colors) return;
    build_cmap_shading_tables(header, colors, g.shade16, g.shade32, g.shade32_unblended);

    const media_definition *media = get_media_definition(header->media_type);
    if (!media || media->surface_tint_fraction == 0) return;
    color_table mixed = *colors;
    mix_colors_toward_media(&mixed, (short_fixed)media->surface_tint_fraction, &media->reflection_tint_color);
    g.media_shade16 = static_cast<uint16_t *>(allocate_shading_table(SHADING_TABLES16 * 256 * sizeof(uint16_t)));
    g.media_shade32 = static_cast<uint32_t *>(allocate_shading_table(SHADING_TABLES32 * 256 * sizeof(uint32_t)));
    build_cmap_shading_tables(header, &mixed, g.media_shade16, g.media_shade32, g.media_shade32_unblended);
}

void dispose_cmap_shading_tables_from_old_map(void)
{
    terrain_maps_globals_data &g = terrain_maps_globals;
    free(g.shade16);
    free(g.shade32);
    free(g.media_shade16);
    free(g.media_shade32);
    g.shade16 = nullptr;
    g.shade32 = nullptr;
    g.media_shade16 = nullptr;
    g.media_shade32 = nullptr;
}

void invalidate_volatile_maps(void)
{
    terrain_maps_globals.volatile_maps_valid = false;
    terrain_maps_globals.tick_count_valid = false;
    terrain_maps_globals.missing_tables_logged = false;
}

void reset_terrain_maps_for_tests(void)
{
    free(terrain_maps_globals.mesh_tiles);
    dispose_cmap_shading_tables_from_old_map();
    terrain_maps_globals = terrain_maps_globals_data();
    global_maps_mode = _maps_mode_volatile;
}
