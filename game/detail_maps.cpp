// Detail maps ('dmap').  See detail_maps.h.

#include "detail_maps.h"

#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "detail_textures.h"
#include "game_hooks.h"
#include "mesh.h"
#include "screen.h"
#include "screen_preferences.h"
#include "tag_files/tag_files.h"

enum
{
    DETAIL_MAP_ENTRIES_SIZE = MAX_DTEX_TAGS_PER_DMAP * (int32_t)sizeof(detail_map_entry),
    DETAIL_MAP_LAYER_SHIFT = 9, // entry numbers start at bit 9, seven bits a layer
    DETAIL_MAP_OVERRIDE_CORNERS = 7, // one layer over all three corners
};

static const byte_swap_code detail_map_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, _4byte, _4byte, _4byte, _4byte, _4byte, _4byte, 224, _end_bs_array};
const byte_swap_code detail_map_entry_byte_swapping_data[] = {_begin_bs_array, 1, _4byte, 60, _end_bs_array};

definition_globals detail_map_definitions = {
    .name = "detail_maps",
    .group = DETAIL_MAP_GROUP_TAG,
    .current_version = DETAIL_MAP_VERSION,
    .maximum_count = MAXIMUM_DETAIL_MAPS_PER_MAP,
    .size = sizeof(detail_map_definition),
    .runtime_size = 0,
    .dependencies = detail_maps_dependencies,
    .postprocess = postprocess_detail_maps,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = detail_map_byte_swapping_data,
    .release_runtime = nullptr,
};

static struct detail_map_globals
{
    mesh_cell_detail_info *layer_info; // width x height cells, null without layers
    int32_t width, height;
    preallocated_texture *hardware_format_detail_textures[MAX_DTEX_TAGS_PER_DMAP];
    float detail_texture_scales[MAX_DTEX_TAGS_PER_DMAP][2];
    bool detail_mapping_active;
} detail_map_globals;

// ---- run coding ------------------------------------------------------------------------

bool expand_detail_map_runs(const uint8_t *data, int32_t size, uint8_t *out, int32_t count)
{
    int32_t filled = 0, at = 0;
    while (filled < count)
    {
        if (size - at < 2) return false;
        const uint8_t value = data[at];
        int32_t run = (int32_t)data[at + 1] + 1;
        at += 2;
        if (run > count - filled) run = count - filled;
        memset(out + filled, value, (size_t)run);
        filled += run;
    }
    return true;
}

int32_t compress_detail_map_runs(const uint8_t *values, int32_t count, uint8_t *out)
{
    int32_t written = 0;
    for (int32_t i = 0; i < count;)
    {
        int32_t run = 1;
        while (run < 256 && i + run < count && values[i + run] == values[i]) ++run;
        out[written++] = values[i];
        out[written++] = (uint8_t)(run - 1);
        i += run;
    }
    return written;
}

// ---- compaction ------------------------------------------------------------------------

static uint8_t checked_index(uint8_t index) { return index < MAX_DTEX_TAGS_PER_DMAP ? index : 0; }

void postprocess_detail_map(detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP], uint8_t *v_indices,
                            int32_t v_count, uint8_t *t_indices, int32_t t_count)
{
    // 1. Each entry maps to the first one naming the same texture at the same
    // cell size; empty entries to 0.
    uint8_t remap[MAX_DTEX_TAGS_PER_DMAP];
    remap[0] = 0;
    for (int32_t i = 1; i < MAX_DTEX_TAGS_PER_DMAP; ++i)
    {
        remap[i] = 0;
        if (entries[i].dtex_id == (tag)NONE) continue;
        for (int32_t j = 0; j <= i; ++j)
            if (entries[j].dtex_id == entries[i].dtex_id && entries[j].pixels_per_cell == entries[i].pixels_per_cell)
            {
                remap[i] = (uint8_t)j;
                break;
            }
    }
    // 2. Apply it and mark what is used.
    bool used[MAX_DTEX_TAGS_PER_DMAP] = {true};
    for (int32_t i = 0; i < v_count; ++i) used[v_indices[i] = remap[checked_index(v_indices[i])]] = true;
    for (int32_t i = 0; i < t_count; ++i) used[t_indices[i] = remap[checked_index(t_indices[i])]] = true;
    // 3. Used entries move to the front in their order.
    uint8_t place[MAX_DTEX_TAGS_PER_DMAP];
    int32_t next = 0;
    for (int32_t i = 0; i < MAX_DTEX_TAGS_PER_DMAP; ++i)
    {
        place[i] = 0;
        if (!used[i]) continue;
        place[i] = (uint8_t)next;
        if (next != i) entries[next] = entries[i];
        ++next;
    }
    for (int32_t i = next; i < MAX_DTEX_TAGS_PER_DMAP; ++i)
    {
        memset(&entries[i], 0, sizeof(entries[i]));
        entries[i].dtex_id = (tag)NONE;
    }
    for (int32_t i = 0; i < v_count; ++i) v_indices[i] = place[v_indices[i]];
    for (int32_t i = 0; i < t_count; ++i) t_indices[i] = place[t_indices[i]];
}

// ---- layer words -----------------------------------------------------------------------

uint32_t detail_map_triangle_word(uint8_t corner0, uint8_t corner1, uint8_t corner2, uint8_t override_index)
{
    if (override_index != 0) return ((uint32_t)override_index << DETAIL_MAP_LAYER_SHIFT) + DETAIL_MAP_OVERRIDE_CORNERS;
    const uint8_t corners[3] = {corner0, corner1, corner2};
    // The distinct non-zero corner values, ascending.
    uint8_t layers[3];
    int32_t layer_count = 0;
    for (int32_t value = 1; value < 256 && layer_count < 3; ++value)
        if (corner0 == value || corner1 == value || corner2 == value) layers[layer_count++] = (uint8_t)value;
    if (layer_count == 0) return DETAIL_MAP_BLEND_FLAG;
    uint32_t word = (corner0 == corner1 && corner1 == corner2) ? 0 : DETAIL_MAP_BLEND_FLAG;
    for (int32_t k = 0; k < layer_count; ++k)
    {
        word += (uint32_t)layers[k] << (DETAIL_MAP_LAYER_SHIFT + 7 * k);
        for (int32_t n = 0; n < 3; ++n)
            if (corners[n] == layers[k]) word |= 1u << (3 * k + n);
    }
    return word;
}

void build_detail_map_layer_info(const uint8_t *v_indices, const uint8_t *t_indices, int32_t width, int32_t height,
                                 mesh_cell_detail_info *layers)
{
    // One row of the block's fan: the cell (row, column offsets) and word it
    // writes, its three corners (g0..g8, 3 x row offset + column offset) and
    // its override (t0..t7).
    struct fan_triangle
    {
        int8_t dr, dc, word, g0, g1, g2, t;
    };
    static const fan_triangle fan[8] = {
        {0, 1, 0, 4, 2, 1, 2}, {0, 0, 1, 4, 1, 0, 1}, {1, 1, 0, 4, 8, 5, 5}, {0, 1, 1, 4, 5, 2, 3},
        {1, 0, 0, 4, 6, 7, 7}, {1, 1, 1, 4, 7, 8, 4}, {0, 0, 0, 4, 0, 3, 0}, {1, 0, 1, 4, 3, 6, 6},
    };
    // t0..t7: cell (r, c), (r, c + 1), (r + 1, c + 1), (r + 1, c), two triangles each.
    static const int8_t override_cells[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    for (int32_t r = 0; r < height; r += 2)
    {
        for (int32_t c = 0; c < width; c += 2)
        {
            uint8_t g[9], t[8];
            for (int32_t i = 0; i < 9; ++i)
            {
                const int32_t y = r + i / 3, x = c + i % 3;
                g[i] = y < height && x < width ? v_indices[(size_t)y * width + x] : 0;
            }
            for (int32_t i = 0; i < 8; ++i)
            {
                const int32_t y = r + override_cells[i / 2][0], x = c + override_cells[i / 2][1];
                t[i] = y < height && x < width ? t_indices[((size_t)y * width + x) * 2 + i % 2] : 0;
            }
            for (const fan_triangle &f : fan)
            {
                const int32_t y = r + f.dr, x = c + f.dc;
                if (y >= height || x >= width) continue;
                layers[(size_t)y * width + x].triangle_info[f.word] =
                    detail_map_triangle_word(g[f.g0], g[f.g1], g[f.g2], t[f.t]);
            }
        }
    }
}

// ---- textures --------------------------------------------------------------------------

static void clear_texture_slots(void)
{
    memset(detail_map_globals.hardware_format_detail_textures, 0,
           sizeof(detail_map_globals.hardware_format_detail_textures));
    memset(detail_map_globals.detail_texture_scales, 0, sizeof(detail_map_globals.detail_texture_scales));
}

int32_t load_detail_map_detail_textures(const detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP], int32_t owner_index)
{
    int32_t indexes[MAX_DTEX_TAGS_PER_DMAP];
    bool every_one_found = true;
    set_ignore_errors(true);
    for (int32_t i = 0; i < MAX_DTEX_TAGS_PER_DMAP; ++i)
    {
        indexes[i] = NONE;
        if (entries[i].dtex_id == (tag)NONE) continue;
        update_tag_header_shadows_for_owner_index(DETAIL_TEXTURE_GROUP_TAG, entries[i].dtex_id, owner_index);
        indexes[i] = try_definition_tag_to_index(&detail_texture_definitions, entries[i].dtex_id, true,
                                                 _definition_lookup_quiet_flag);
        if (indexes[i] == NONE || !get_detail_texture(indexes[i])) every_one_found = false;
    }
    set_ignore_errors(false);

    clear_texture_slots();
    if (!every_one_found)
    {
        log_message(__FILE__, __LINE__, "Warning: Detail map not applied because some textures could not be found.");
        return 0;
    }
    int32_t count = 0;
    for (int32_t i = 0; i < MAX_DTEX_TAGS_PER_DMAP; ++i)
    {
        if (indexes[i] == NONE) continue;
        const detail_texture_runtime *texture = get_detail_texture(indexes[i]);
        detail_map_globals.hardware_format_detail_textures[i] = texture->hardware_format;
        const float repeat = (float)(entries[i].pixels_per_cell + 1);
        detail_map_globals.detail_texture_scales[i][0] = repeat / (float)texture->width;
        detail_map_globals.detail_texture_scales[i][1] = repeat / (float)texture->height;
        ++count;
    }
    return count;
}

// ---- loading ---------------------------------------------------------------------------

static bool refuse_detail_map(const char *name, const char *reason)
{
    log_message(__FILE__, __LINE__, "Warning: Detail map %s not applied: %s.", name, reason);
    return false;
}

void detail_maps_dependencies(definition_globals *, int32_t, int32_t, void *, definition_dependency_report) {}

const char DETAIL_MAP_OUT_OF_MEMORY[] = "out of memory";

bool unpack_detail_map_data(const uint8_t *data, uint32_t size, unpacked_detail_map *map, const char **reason)
{
    memset(map, 0, sizeof(*map));
    if (size < sizeof(detail_map_definition)) return *reason = "the tag is shorter than its header", false;
    detail_map_definition header;
    memcpy(&header, data, sizeof(header));
    byte_swap_data("detail map", &header, sizeof(header), 1, detail_map_byte_swapping_data);
    const uint32_t width = header.width, height = header.height;
    if (width < 1 || height < 1 || width > MAXIMUM_DETAIL_MAP_DIMENSION || height > MAXIMUM_DETAIL_MAP_DIMENSION)
        return *reason = "its size is outside 1..4096 on a side", false;
    if (width < (uint32_t)mesh_width || height < (uint32_t)mesh_height)
        return *reason = "it does not cover the mesh", false;
    if (header.entries_offset > size || size - header.entries_offset < (uint32_t)DETAIL_MAP_ENTRIES_SIZE)
        return *reason = "its entries run past the end of the tag", false;
    if (header.v_indices_offset > size || header.t_indices_offset > size)
        return *reason = "an index array starts past the end of the tag", false;

    const int32_t cells = (int32_t)(width * height);
    map->width = (int32_t)width;
    map->height = (int32_t)height;
    map->v_indices = (uint8_t *)malloc((size_t)cells);
    map->t_indices = (uint8_t *)malloc((size_t)cells * 2);
    if (!map->v_indices || !map->t_indices)
    {
        free_unpacked_detail_map(map);
        return *reason = DETAIL_MAP_OUT_OF_MEMORY, false;
    }
    memcpy(map->entries, data + header.entries_offset, DETAIL_MAP_ENTRIES_SIZE);
    byte_swap_data("detail map entry", map->entries, sizeof(detail_map_entry), MAX_DTEX_TAGS_PER_DMAP,
                   detail_map_entry_byte_swapping_data);
    // The runs are read only up to the end of the tag.
    if (!expand_detail_map_runs(data + header.v_indices_offset, (int32_t)(size - header.v_indices_offset),
                                map->v_indices, cells) ||
        !expand_detail_map_runs(data + header.t_indices_offset, (int32_t)(size - header.t_indices_offset),
                                map->t_indices, cells * 2))
    {
        free_unpacked_detail_map(map);
        return *reason = "its index runs end before the arrays are full", false;
    }
    return true;
}

void free_unpacked_detail_map(unpacked_detail_map *map)
{
    free(map->v_indices);
    free(map->t_indices);
    map->v_indices = map->t_indices = nullptr;
}

bool postprocess_detail_maps(definition_globals *group, int32_t definition_index, int32_t tag_index,
                             void *definition)
{
    (void)definition; // the tag's data is read whole below, header and all
    if (group->flags[definition_index] & _definition_preloaded_flag) return true;
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info) || info.size < 0)
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read data from detail map %s.", "<unknown>");
        return false;
    }
    const uint32_t size = (uint32_t)info.size;
    uint8_t *data = (uint8_t *)malloc(size ? size : 1);
    if (!data)
    {
        ERROR_MESSAGE(_error_out_of_memory, "allocation of %d bytes failed for data from detail map %s", (int)size,
                      info.name);
        return false;
    }
    if (!tag_file_read(tag_index, 0, (int32_t)size, data))
    {
        free(data);
        ERROR_MESSAGE(_error_file_read, "couldn't read data from detail map %s.", info.name);
        return false;
    }
    unpacked_detail_map map;
    const char *reason = nullptr;
    const bool unpacked = unpack_detail_map_data(data, size, &map, &reason);
    free(data);
    if (!unpacked)
    {
        if (reason == DETAIL_MAP_OUT_OF_MEMORY)
            ERROR_MESSAGE(_error_out_of_memory, "allocation of %d bytes failed for data from detail map %s",
                          (int)(3 * map.width * map.height), info.name);
        return refuse_detail_map(info.name, reason);
    }

    bool ok = true;
    const int32_t cells = map.width * map.height;
    dispose_detail_map_data();
    detail_map_globals.detail_mapping_active = true;
    postprocess_detail_map(map.entries, map.v_indices, cells, map.t_indices, cells * 2);
    if (load_detail_map_detail_textures(map.entries, info.owner_index) == 0)
    {
        detail_map_globals.detail_mapping_active = false;
    }
    else
    {
        mesh_cell_detail_info *layers = (mesh_cell_detail_info *)calloc((size_t)cells, sizeof(*layers));
        if (!layers)
        {
            ERROR_MESSAGE(_error_out_of_memory, "allocation of %d bytes failed for data from detail map %s",
                          (int)(cells * (int32_t)sizeof(*layers)), info.name);
            dispose_detail_map_data();
            ok = false;
        }
        else
        {
            build_detail_map_layer_info(map.v_indices, map.t_indices, map.width, map.height, layers);
            detail_map_globals.layer_info = layers;
            detail_map_globals.width = map.width;
            detail_map_globals.height = map.height;
        }
    }
    free_unpacked_detail_map(&map);
    return ok;
}

// ---- state -----------------------------------------------------------------------------

bool detail_maps_active(void) { return detail_map_globals.detail_mapping_active; }

void toggle_detail_maps(void)
{
    if (detail_map_globals.detail_mapping_active) detail_map_globals.detail_mapping_active = false;
    else if (detail_map_globals.layer_info) detail_map_globals.detail_mapping_active = true;
}

bool detail_maps_enabled(void)
{
    if (active_screen.rasterizer_code != _rasterizer_opengl && active_screen.rasterizer_code != _rasterizer_dx11)
        return false;
    return active_screen.prefs && (active_screen.prefs->flags & _screen_pref_landscape_textures_flag);
}

const mesh_cell_detail_info *detail_map_layer_info(int32_t *width, int32_t *height)
{
    *width = detail_map_globals.layer_info ? detail_map_globals.width : 0;
    *height = detail_map_globals.layer_info ? detail_map_globals.height : 0;
    return detail_map_globals.layer_info;
}

preallocated_texture *const *hardware_format_detail_textures(void)
{
    return detail_map_globals.hardware_format_detail_textures;
}

const float (*detail_texture_scales(void))[2] { return detail_map_globals.detail_texture_scales; }

// ---- life cycle ------------------------------------------------------------------------

bool initialize_detail_maps(void)
{
    dispose_detail_map_data();
    return (detail_map_definitions.registered || initialize_definitions(&detail_map_definitions)) &&
           initialize_detail_textures();
}

void initialize_detail_map_stores_for_new_map(void)
{
    if (detail_map_definitions.registered) initialize_definitions_for_new_map(&detail_map_definitions);
    initialize_detail_textures_for_new_map();
}

void initialize_detail_maps_for_new_map(void)
{
    const mesh_header *header = get_mesh_header();
    if (!header || header->landscape_collection_tag == (tag)NONE || !detail_map_definitions.registered) return;
    try_definition_tag_to_index(&detail_map_definitions, header->landscape_collection_tag, true,
                                _definition_lookup_quiet_flag);
}

void dispose_detail_map_data(void)
{
    free(detail_map_globals.layer_info);
    detail_map_globals.layer_info = nullptr;
    detail_map_globals.width = detail_map_globals.height = 0;
    clear_texture_slots();
    detail_map_globals.detail_mapping_active = false;
}

void dispose_detail_maps_from_old_map(void)
{
    if (detail_map_definitions.registered) dispose_definitions_from_old_map(&detail_map_definitions);
    dispose_detail_map_data();
}

// ---- tools -----------------------------------------------------------------------------

uint8_t *build_detail_map_tag_data(int32_t width, int32_t height,
                                   const detail_map_entry entries[MAX_DTEX_TAGS_PER_DMAP],
                                   const uint8_t *v_indices, const uint8_t *t_indices, int32_t *size)
{
    if (width < 1 || height < 1 || width > MAXIMUM_DETAIL_MAP_DIMENSION || height > MAXIMUM_DETAIL_MAP_DIMENSION)
        return nullptr;
    const int32_t cells = width * height;
    const int32_t header_size = (int32_t)sizeof(detail_map_definition);
    // Room for the worst case: every byte its own pair.
    uint8_t *data = (uint8_t *)calloc(1, (size_t)header_size + DETAIL_MAP_ENTRIES_SIZE + (size_t)cells * 6);
    if (!data) return nullptr;
    detail_map_definition header;
    memset(&header, 0, sizeof(header));
    header.width = (uint32_t)width;
    header.height = (uint32_t)height;
    header.entries_offset = (uint32_t)header_size;
    memcpy(data + header_size, entries, DETAIL_MAP_ENTRIES_SIZE);
    byte_swap_data("detail map entry", data + header_size, sizeof(detail_map_entry), MAX_DTEX_TAGS_PER_DMAP,
                   detail_map_entry_byte_swapping_data);
    int32_t at = header_size + DETAIL_MAP_ENTRIES_SIZE;
    header.v_indices_offset = (uint32_t)at;
    at += compress_detail_map_runs(v_indices, cells, data + at);
    header.t_indices_offset = (uint32_t)at;
    at += compress_detail_map_runs(t_indices, cells * 2, data + at);
    byte_swap_data("detail map", &header, sizeof(header), 1, detail_map_byte_swapping_data);
    memcpy(data, &header, sizeof(header));
    *size = at;
    return data;
}

// ---- hooks -----------------------------------------------------------------------------

static bool startup_detail_maps(void) { return initialize_detail_maps(); }

static bool empty_detail_map_stores(const new_game_data *)
{
    initialize_detail_map_stores_for_new_map();
    return true;
}

static void dispose_detail_map_stores(void)
{
    dispose_detail_maps_from_old_map();
    dispose_detail_textures_from_old_map();
}

static bool load_map_detail_map(const new_game_data *)
{
    initialize_detail_maps_for_new_map();
    return true;
}

void register_detail_map_hooks(void)
{
    register_startup_procedure(_startup_detail_maps, startup_detail_maps);
    register_map_store_procedures(_startup_detail_maps, empty_detail_map_stores, dispose_detail_map_stores);
    register_map_procedures(_map_detail_maps, load_map_detail_map, dispose_detail_map_data);
}
