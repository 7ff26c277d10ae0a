#pragma once
// Shading tables of collections: 256 ready-made pixels of the sprite encoding
// per level, one per colour index, so that drawing an 8-bit sprite or terrain
// texel is one table read.  A collection keeps up to 128 of them: sprite
// (tinting) records of eight permutations for the visual states of units,
// one per set of replacement colours, and lighting records of every light
// level for the terrain.  The arithmetic is the render tables'.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "bitmaps.h"
#include "world.h"

enum shading_table_mode
{
    _shading_mode_tint = 0,
    _shading_mode_blend,
    _shading_mode_tint_and_blend_with_media,
    _shading_mode_untinted,
};

enum shading_table_permutation
{
    _shading_table_normal = 0,
    _shading_table_stone,
    _shading_table_paralyzed,
    _shading_table_reflection,
    _shading_table_burned,
    _shading_table_stone_reflection,
    _shading_table_paralyzed_reflection,
    _shading_table_normal_untinted,
    NUMBER_OF_SHADING_TABLE_PERMUTATIONS
};

enum shading_table_kind
{
    _add_shading_table_for_lighting = 0,
    _add_shading_table_for_tinting = 1,
};

enum
{
    SHADING_BITS16 = 6,
    SHADING_TABLES16 = 64,
    SHADING_TABLE_SIZE16 = 512,
    SHADING_TABLES_SIZE16 = 32768,
    TINTING_TABLES_SIZE16 = 4096,
    SHADING_BITS32 = 8,
    SHADING_TABLES32 = 256,
    SHADING_TABLE_SIZE32 = 1024,
    SHADING_TABLES_SIZE32 = 262144,
    TINTING_TABLES_SIZE32 = 8192,
    MAXIMUM_SHADING_TABLES_PER_COLLECTION = 128,
    MAXIMUM_SHADING_TABLE_HUE_CHANGES = 8,
};

struct shading_table_hue_change_data
{
    hsv_color replacement_color;
    uint16_t median_hue;
};
static_assert(sizeof(shading_table_hue_change_data) == 10);

// The record before the tables of one shading-table allocation.
struct shading_table_header
{
    uint8_t tint_shader_data[NUMBER_OF_SHADING_TABLE_PERMUTATIONS][8];
    shading_table_hue_change_data hue_change_data[MAXIMUM_SHADING_TABLE_HUE_CHANGES];
    int32_t hue_change_count; // at most 8 recorded; 0 without replacement colours
};
static_assert(sizeof(shading_table_header) == 148);

// One collection's list of tables (kept by the collections module).
struct shading_table_list
{
    int32_t count;
    shading_table_header *tables[MAXIMUM_SHADING_TABLES_PER_COLLECTION];
};

// The sizes of the sprite encoding chosen per map.
struct shading_sizes
{
    int16_t bit_depth, encoding;
    int16_t shading_bits, shading_levels;
    int32_t table_size, lighting_tables_size, tinting_tables_size;
};
const shading_sizes *get_shading_sizes(void);
// 16 or 32 bits (any other depth logs a halt and keeps the sizes).
bool set_shading_sizes(int16_t bit_depth, int16_t encoding);

// A new table of the collection: without replacement colours a collection
// that already has one gets index 0 back; the 129th table is refused (code
// 13).  `replacement_colors` holds `replacement_color_count` colours, one per
// hue change (hue changes past the array keep their colours).  The tint
// fraction is 8.8.  The table's index or NONE.
int32_t add_shading_table_to_collection_index(int32_t collection_index, const rgb_color *replacement_colors,
                                              int32_t replacement_color_count, shading_table_kind kind,
                                              int32_t tint_fraction, const rgb_color *tint_color);
// As above with the player colours: a primary hue change takes `primary`, a
// secondary one `secondary`, unless it or the replacement is unused; the
// global tint replaces the tint with `use_global_tint`.
int32_t add_adjusted_shading_table_to_collection_index(int32_t collection_index, const rgb_color *replacement_colors,
                                                       int32_t replacement_color_count, const rgb_color *primary,
                                                       const rgb_color *secondary, shading_table_kind kind,
                                                       bool use_global_tint, int32_t tint_fraction,
                                                       const rgb_color *tint_color);
// The terrain's lighting table of every level.
int32_t add_shading_table_to_mesh(int32_t collection_index, short_fixed dark_color_fraction,
                                  const rgb_color *dark_color, fixed transition_point,
                                  short_fixed light_color_fraction, const rgb_color *light_color);
// The same lighting for the water's surface: the palette is first mixed toward
// `media_color` by `media_fraction` (0..256).  Index or NONE.
int32_t add_media_shading_table_to_mesh(int32_t collection_index, short_fixed dark_color_fraction,
                                        const rgb_color *dark_color, fixed transition_point,
                                        short_fixed light_color_fraction, const rgb_color *light_color,
                                        short_fixed media_fraction, const rgb_color *media_color);
// Mixes every colour of `colors` toward `media_color` by `media_fraction`
// (8.8, at most 256; 0 or less leaves them), as the water's table does.
void mix_colors_toward_media(color_table *colors, short_fixed media_fraction, const rgb_color *media_color);

// Lookups: a collection without tables first gets a default sprite table; a
// negative index means 0, one at or past the count the last table.
// Permutation NONE gives the start of the tables.  Null for a collection not loaded.
void *get_shading_table(int32_t collection_index, int32_t table_index, int32_t permutation);
void *get_unshaded_shading_table(int32_t collection_index, int32_t table_index);
shading_table_header *get_shading_table_header(int32_t collection_index, int32_t table_index);

// One level of the collection's colours (recoloured with replacement colours
// when given) in the screen's encoding (`match_screen`) or the sprites'; valid
// until the next call.  Null for a collection not loaded.
void *temporary_shading_table(int32_t collection_index, const rgb_color *replacement_colors,
                              int32_t replacement_color_count, bool match_screen);

// The permutations' modes, tint fractions (8.8) and tint colours; they live
// for the whole run.
int32_t get_shading_table_permutation_data(int32_t permutation_index, short_fixed *tint_fraction,
                                           rgb_color *tint_color);
void set_shading_table_permutation_data(int32_t permutation_index, int32_t mode, short_fixed tint_fraction,
                                        const rgb_color *tint_color);
// Back to the defaults (tests).
void reset_shading_table_permutation_data(void);

// Frees every table of a list (the collections module, when a collection goes).
void free_shading_table_list(shading_table_list *list);
