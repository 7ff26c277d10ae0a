// Shading tables of collections.  See shading_tables.h.

#include "shading_tables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cseries/errors.h"
#include "cseries/log.h"
#include "global_tint.h"
#include "mesh.h"
#include "render/render_tables.h"
#include "screen.h"
#include "shapes.h"
#include "vesk/shape_file.h"

struct shading_permutation
{
    int32_t mode;
    short_fixed tint_fraction;
    rgb_color tint_color;
};

static const shading_permutation default_permutations[NUMBER_OF_SHADING_TABLE_PERMUTATIONS] = {
    {NONE, 0, {0, 0, 0, 0}},
    {_shading_mode_tint, 224, {47840, 51772, 48495, 0}},
    {_shading_mode_tint, 192, {41942, 19005, 48495, 0}},
    {_shading_mode_blend, 128, {0, 0, 32768, 0}},
    {_shading_mode_tint, 192, {16962, 14906, 13107, 0}},
    {_shading_mode_tint_and_blend_with_media, 224, {47840, 51772, 48495, 0}},
    {_shading_mode_tint_and_blend_with_media, 192, {41942, 19005, 48495, 0}},
    {_shading_mode_untinted, 0, {0, 0, 0, 0}},
};

static struct shading_globals
{
    shading_permutation permutations[NUMBER_OF_SHADING_TABLE_PERMUTATIONS];
    shading_sizes sizes;
    uint32_t temporary[256]; // 256 entries of 16 or 32 bits
} shading_globals = {
    {default_permutations[0], default_permutations[1], default_permutations[2], default_permutations[3],
     default_permutations[4], default_permutations[5], default_permutations[6], default_permutations[7]},
    {32, _32bit_encoding, SHADING_BITS32, SHADING_TABLES32, SHADING_TABLE_SIZE32, SHADING_TABLES_SIZE32,
     TINTING_TABLES_SIZE32},
    {},
};

const shading_sizes *get_shading_sizes(void) { return &shading_globals.sizes; }

bool set_shading_sizes(int16_t bit_depth, int16_t encoding)
{
    shading_sizes &s = shading_globals.sizes;
    if (bit_depth == 16)
        s = {bit_depth, encoding, SHADING_BITS16, SHADING_TABLES16, SHADING_TABLE_SIZE16, SHADING_TABLES_SIZE16,
             TINTING_TABLES_SIZE16};
    else if (bit_depth == 32)
        s = {bit_depth, encoding, SHADING_BITS32, SHADING_TABLES32, SHADING_TABLE_SIZE32, SHADING_TABLES_SIZE32,
             TINTING_TABLES_SIZE32};
    else
    {
        HALT("shading tables: the sprite bit depth is neither 16 nor 32");
        return false;
    }
    return true;
}

void reset_shading_table_permutation_data(void)
{
    memcpy(shading_globals.permutations, default_permutations, sizeof(default_permutations));
}

int32_t get_shading_table_permutation_data(int32_t permutation_index, short_fixed *tint_fraction,
                                           rgb_color *tint_color)
{
    if (!VASSERT(permutation_index >= 0 && permutation_index < NUMBER_OF_SHADING_TABLE_PERMUTATIONS,
                 "permutation_index>=0 && permutation_index<NUMBER_OF_SHADING_TABLE_PERMUTATIONS"))
        return NONE;
    const shading_permutation &p = shading_globals.permutations[permutation_index];
    if (tint_fraction) *tint_fraction = p.tint_fraction;
    if (tint_color) *tint_color = p.tint_color;
    return p.mode;
}

void set_shading_table_permutation_data(int32_t permutation_index, int32_t mode, short_fixed tint_fraction,
                                        const rgb_color *tint_color)
{
    if (!VASSERT(permutation_index >= 0 && permutation_index < NUMBER_OF_SHADING_TABLE_PERMUTATIONS,
                 "permutation_index>=0 && permutation_index<NUMBER_OF_SHADING_TABLE_PERMUTATIONS"))
        return;
    shading_permutation &p = shading_globals.permutations[permutation_index];
    p.mode = mode;
    p.tint_fraction = tint_fraction;
    p.tint_color = tint_color ? *tint_color : rgb_color{0, 0, 0, 0};
}

void free_shading_table_list(shading_table_list *list)
{
    if (!list) return;
    for (int32_t i = 0; i < list->count; ++i) free(list->tables[i]);
    memset(list, 0, sizeof(*list));
}

static uint8_t *tables_of(shading_table_header *header) { return (uint8_t *)(header + 1); }

// A new record of `size` bytes of tables appended to the collection's list, or
// null (code 13 when the list is full).
static shading_table_header *append_table(int32_t collection_index, shading_table_list *list, int32_t size)
{
    if (list->count >= MAXIMUM_SHADING_TABLES_PER_COLLECTION)
    {
        ERROR_MESSAGE(_error_array_full, "can't add more than #%d color tables (%s collection).",
                      (int)MAXIMUM_SHADING_TABLES_PER_COLLECTION, get_collection_name(collection_index));
        return nullptr;
    }
    const size_t bytes = sizeof(shading_table_header) + (size_t)size;
    shading_table_header *header = (shading_table_header *)calloc(1, bytes);
    if (!header)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for shading table #%d of %s collection.",
                      (int)bytes, (int)list->count, get_collection_name(collection_index));
        return nullptr;
    }
    list->tables[list->count++] = header;
    return header;
}

// The collection's colours, recoloured by the replacement colours when given;
// records the replacement hues in `header` (at most 8).
static void collection_colors(int32_t collection_index, const rgb_color *replacement_colors,
                              int32_t replacement_color_count, color_table *colors, shading_table_header *header)
{
    memcpy(colors, get_color_table(collection_index), sizeof(color_table));
    if (!replacement_colors) return;
    int32_t hue_change_count = 0;
    const hue_change *hue_changes = get_collection_hue_changes(collection_index, &hue_change_count);
    const int32_t count = hue_change_count < replacement_color_count ? hue_change_count : replacement_color_count;
    colorize_color_table(colors, colors, hue_changes, count, replacement_colors);
    if (!header) return;
    header->hue_change_count = count < MAXIMUM_SHADING_TABLE_HUE_CHANGES ? count : MAXIMUM_SHADING_TABLE_HUE_CHANGES;
    for (int32_t i = 0; i < header->hue_change_count; ++i)
    {
        rgb_color_to_hsv_color(&replacement_colors[i], &header->hue_change_data[i].replacement_color);
        header->hue_change_data[i].median_hue = hue_changes[i].median_hue;
    }
}

static void build_lighting(const shading_sizes &sizes, int16_t encoding, int32_t levels, const color_table *colors,
                           shading_table_header *header, short_fixed dark_fraction, const rgb_color *dark_color,
                           fixed transition_point, short_fixed light_fraction, const rgb_color *light_color)
{
    build_colored_shading_table(encoding, levels, colors, tables_of(header), dark_fraction, dark_color,
                                transition_point, light_fraction, light_color);
}

int32_t add_shading_table_to_collection_index(int32_t collection_index, const rgb_color *replacement_colors,
                                              int32_t replacement_color_count, shading_table_kind kind,
                                              int32_t tint_fraction, const rgb_color *tint_color)
{
    shading_table_list *list = get_collection_shading_table_list(collection_index);
    if (!list) return NONE;
    if (!replacement_colors && list->count > 0) return 0;
    const shading_sizes &sizes = shading_globals.sizes;
    int32_t size;
    if (kind == _add_shading_table_for_lighting) size = sizes.lighting_tables_size;
    else if (kind == _add_shading_table_for_tinting) size = sizes.tinting_tables_size;
    else
    {
        HALT("add_shading_table_to_collection_index: unknown kind");
        return NONE;
    }
    shading_table_header *header = append_table(collection_index, list, size);
    if (!header) return NONE;
    color_table colors;
    collection_colors(collection_index, replacement_colors, replacement_color_count, &colors, header);
    if (kind == _add_shading_table_for_lighting)
    {
        const mesh_header *mesh = get_mesh_header();
        const rgb_color black = {0, 0, 0, 0};
        build_lighting(sizes, sizes.encoding, sizes.shading_levels, &colors, header, mesh ? mesh->dark_fraction : 0,
                       mesh ? &mesh->dark_color : &black, mesh ? mesh->transition_point : 0,
                       mesh ? mesh->light_fraction : 0, mesh ? &mesh->light_color : &black);
    }
    else
        for (int32_t p = 0; p < NUMBER_OF_SHADING_TABLE_PERMUTATIONS; ++p)
        {
            const shading_permutation &permutation = shading_globals.permutations[p];
            build_shading_table(sizes.encoding, 1, &colors, tables_of(header) + (size_t)p * sizes.table_size,
                                permutation.mode, permutation.tint_fraction, &permutation.tint_color,
                                (short_fixed)tint_fraction, tint_color);
            build_tinting_shader(header->tint_shader_data[p], permutation.mode, permutation.tint_fraction,
                                 &permutation.tint_color, (short_fixed)tint_fraction, tint_color);
        }
    return list->count - 1;
}

int32_t add_adjusted_shading_table_to_collection_index(int32_t collection_index, const rgb_color *replacement_colors,
                                                       int32_t replacement_color_count, const rgb_color *primary,
                                                       const rgb_color *secondary, shading_table_kind kind,
                                                       bool use_global_tint, int32_t tint_fraction,
                                                       const rgb_color *tint_color)
{
    if (!VASSERT(replacement_colors && primary && secondary, "replacement_colors && primary && secondary"))
        return NONE;
    int32_t hue_change_count = 0;
    const hue_change *hue_changes = get_collection_hue_changes(collection_index, &hue_change_count);
    const int32_t count = hue_change_count < replacement_color_count ? hue_change_count : replacement_color_count;
    rgb_color adjusted[MAXIMUM_COLORS_PER_TABLE];
    const int32_t kept = count < MAXIMUM_COLORS_PER_TABLE ? count : MAXIMUM_COLORS_PER_TABLE;
    for (int32_t i = 0; i < kept; ++i)
    {
        const bool replacement_used = !(replacement_colors[i].flags & _color_unused_flag);
        if ((hue_changes[i].flags & _hue_change_primary_flag) && replacement_used &&
            !(primary->flags & _color_unused_flag))
            adjusted[i] = *primary;
        else if ((hue_changes[i].flags & _hue_change_secondary_flag) && replacement_used &&
                 !(secondary->flags & _color_unused_flag))
            adjusted[i] = *secondary;
        else adjusted[i] = replacement_colors[i];
    }
    rgb_color global_color;
    if (use_global_tint)
    {
        tint_fraction = get_global_tint_fraction();
        get_global_tint_color(&global_color);
        tint_color = &global_color;
    }
    return add_shading_table_to_collection_index(collection_index, adjusted, kept, kind, tint_fraction, tint_color);
}

int32_t add_shading_table_to_mesh(int32_t collection_index, short_fixed dark_color_fraction,
                                  const rgb_color *dark_color, fixed transition_point,
                                  short_fixed light_color_fraction, const rgb_color *light_color)
{
    return add_media_shading_table_to_mesh(collection_index, dark_color_fraction, dark_color, transition_point,
                                           light_color_fraction, light_color, 0, nullptr);
}

int32_t add_media_shading_table_to_mesh(int32_t collection_index, short_fixed dark_color_fraction,
                                        const rgb_color *dark_color, fixed transition_point,
                                        short_fixed light_color_fraction, const rgb_color *light_color,
                                        short_fixed media_fraction, const rgb_color *media_color)
{
    shading_table_list *list = get_collection_shading_table_list(collection_index);
    if (!list) return NONE;
    const shading_sizes &sizes = shading_globals.sizes;
    int16_t encoding = sizes.encoding;
    int32_t levels = sizes.shading_levels, size = sizes.lighting_tables_size;
    if (active_screen.rasterizer_code == _rasterizer_3dfx)
    {
        encoding = _16bit_565_encoding;
        levels = SHADING_TABLES16;
        size = SHADING_TABLES_SIZE16;
    }
    shading_table_header *header = append_table(collection_index, list, size);
    if (!header) return NONE;
    color_table colors;
    collection_colors(collection_index, nullptr, 0, &colors, header);
    mix_colors_toward_media(&colors, media_fraction, media_color);
    build_lighting(sizes, encoding, levels, &colors, header, dark_color_fraction, dark_color, transition_point,
                   light_color_fraction, light_color);
    return list->count - 1;
}

void mix_colors_toward_media(color_table *colors, short_fixed media_fraction, const rgb_color *media_color)
{
    if (!colors || !media_color || media_fraction <= 0) return;
    const int32_t f = std::min<int32_t>(media_fraction, 256);
    for (int32_t i = 0; i < colors->color_count && i < MAXIMUM_COLORS_PER_TABLE; ++i)
    {
        rgb_color &c = colors->colors[i];
        c.red = (uint16_t)((media_color->red * f + c.red * (256 - f)) >> 8);
        c.green = (uint16_t)((media_color->green * f + c.green * (256 - f)) >> 8);
        c.blue = (uint16_t)((media_color->blue * f + c.blue * (256 - f)) >> 8);
    }
}

// The record at `table_index` clamped into the list; a collection without
// tables gets its default one first.
static shading_table_header *clamped_table(int32_t collection_index, int32_t table_index)
{
    shading_table_list *list = get_collection_shading_table_list(collection_index);
    if (!list) return nullptr;
    if (list->count == 0 &&
        add_shading_table_to_collection_index(collection_index, nullptr, 0, _add_shading_table_for_tinting, 0,
                                              nullptr) == NONE)
        return nullptr;
    if (table_index < 0) table_index = 0;
    if (table_index >= list->count) table_index = list->count - 1;
    return list->tables[table_index];
}

void *get_shading_table(int32_t collection_index, int32_t table_index, int32_t permutation)
{
    shading_table_header *header = clamped_table(collection_index, table_index);
    if (!header) return nullptr;
    if (permutation == NONE) return tables_of(header);
    if (permutation < 0 || permutation >= NUMBER_OF_SHADING_TABLE_PERMUTATIONS)
    {
        log_message(__FILE__, __LINE__, "shading table permutation #%d not in [#%d,#%d)", (int)permutation, 0,
                    (int)NUMBER_OF_SHADING_TABLE_PERMUTATIONS);
        return tables_of(header);
    }
    return tables_of(header) + (size_t)permutation * shading_globals.sizes.table_size;
}

void *get_unshaded_shading_table(int32_t collection_index, int32_t table_index)
{
    shading_table_header *header = clamped_table(collection_index, table_index);
    if (!header) return nullptr;
    return tables_of(header) + shading_globals.sizes.tinting_tables_size - shading_globals.sizes.table_size;
}

shading_table_header *get_shading_table_header(int32_t collection_index, int32_t table_index)
{
    return clamped_table(collection_index, table_index);
}

void *temporary_shading_table(int32_t collection_index, const rgb_color *replacement_colors,
                              int32_t replacement_color_count, bool match_screen)
{
    if (!get_color_table(collection_index)) return nullptr;
    int16_t encoding = shading_globals.sizes.encoding;
    if (match_screen && active_screen.screen_initialized) encoding = active_screen.encoding;
    color_table colors;
    collection_colors(collection_index, replacement_colors, replacement_color_count, &colors, nullptr);
    memset(shading_globals.temporary, 0, sizeof(shading_globals.temporary));
    build_shading_table(encoding, 1, &colors, shading_globals.temporary, NONE, 0, nullptr, 0, nullptr);
    return shading_globals.temporary;
}
