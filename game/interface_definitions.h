#pragma once
// The interface definition ('inte'): the look of the interface, namely the
// collection holding its sprites, colour table and colour swatches, and the
// tags of its six fonts.  Every control, the console and the bars ask here
// for interface font n and interface colour n.
//
// With no map (the main menu) the definition in use is the interface file's
// own 'inte' tag of subgroup INTERFACE_FILE_DEFINITION_TAG; a map's mesh
// header names the one that replaces it while the map lives.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "rgb_color.h"
#include "tag_files/definitions.h"

struct bitmap_data;
struct view_data;
struct definition_globals;

#define INTERFACE_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('i', 'n', 't', 'e')
// The subgroup of the interface file's own definition, used without a map.
#define INTERFACE_FILE_DEFINITION_TAG FOUR_CHARACTER_CODE('m', 'e', 'n', 'u')

enum
{
    INTERFACE_DEFINITION_VERSION_NUMBER = 1,
    MAXIMUM_INTERFACE_DEFINITIONS_PER_MAP = 1,
    MAXIMUM_INTERFACE_FONT_TAGS = 8,
    NUMBER_OF_INTERFACE_FONTS = 6,
    // Interface colours are the swatches 0..56 of bitmap 0.
    NUMBER_OF_INTERFACE_COLORS = 57,
    INTERFACE_SWATCH_BITMAP_INDEX = 0,
    INTERFACE_DEFINITION_SIZE = 256,
};

// 256 bytes, big-endian in the tag ("interface definition"): the nine tags
// are swapped, the rest is left as it is; the last 20 bytes are run time.
struct interface_definition
{
    tag collection_tag; // '.256'
    tag font_tags[MAXIMUM_INTERFACE_FONT_TAGS]; // 'font'; 0..5 used, NONE absent
    int16_t unused[100];
    // run time, filled after loading
    int16_t font_indexes[MAXIMUM_INTERFACE_FONT_TAGS]; // NONE: look up on first use
    int16_t collection_index;
    int16_t color_table_index;
};
static_assert(sizeof(interface_definition) == INTERFACE_DEFINITION_SIZE);
static_assert(offsetof(interface_definition, font_tags) == 4);
static_assert(offsetof(interface_definition, unused) == 36);
static_assert(offsetof(interface_definition, font_indexes) == 236);
static_assert(offsetof(interface_definition, collection_index) == 252);
static_assert(offsetof(interface_definition, color_table_index) == 254);

extern const byte_swap_code interface_definition_byte_swapping_data[];
extern definition_globals interface_definitions;

// Registers the definition group (start-up).  False when the registry
// refuses it.
bool initialize_interface(void);

// Loads `interface_tag` as the definition in use (the group emptied first).
// False, with code 11 "interface appearance missing.", when it cannot be
// loaded or its postprocess refuses it.
bool initialize_interface_for_new_map(tag interface_tag);
// The main menu's definition: with no map loaded, sets up the collection,
// font and interface groups (a map's start empties them again) and loads the
// interface file's own definition.  False as initialize_interface_for_new_map;
// while a map is loaded, true and nothing changes.
bool initialize_interface_without_map(void);
// Forgets the definition in use and empties the group.
void dispose_interface_from_old_map(void);

// The registry's procedures of the group.
void interface_definition_dependencies(definition_globals *group, int32_t definition_index, int32_t tag_index,
                                       void *definition,
                                       definition_dependency_report report);
// Loads the collection and gives it a tinting shading table (its index is
// `color_table_index`), looks fonts 0-2 up now and marks 3-5 for later, and
// takes 2 off font 0's line height.  False without the collection, its
// table or any of fonts 0-2.
bool postprocess_interface_definition(definition_globals *group, int32_t definition_index, int32_t tag_index,
                                      void *definition);
uint32_t get_interface_definition_tag_header_user_data(const void *definition); // NONE
// Collection and fonts 0..5 NONE, fonts 6 and 7 zero.
const interface_definition *get_default_interface_definition(void);
void default_interface_definition(void *definition);

// The definition in use, or null.
const interface_definition *get_interface_definition(void);

// NONE without a definition in use.
int32_t get_interface_collection(void);
int32_t get_interface_color_table_index(void);
// Bitmap `index` of the interface collection; null when there is none.
bitmap_data *get_interface_bitmap(int32_t index);
// The unshaded table of the collection's interface colour table; null without one.
void *get_interface_shading_tables(void);

// Interface font `index` (0..5; another index is a logged assertion and
// gives NONE).  Fonts 3-5 are looked up by tag when first asked for; a
// failed lookup makes the tag NONE so it is not tried again.
int32_t get_interface_font_index(int32_t index);

// The colour-table index of interface colour `index`: pixel `index` of the
// first row of the swatch strip (bitmap 0).  0 when there is no strip, the
// strip is not a flat 8-bit bitmap, or `index` lies outside 0..56 or the strip.
uint8_t get_interface_color_index(int32_t index);
// Fills and returns `color` with entry get_interface_color_index(index) of
// the collection's colour table (entry 0 for a missing strip or a bad index;
// black without a collection).
rgb_color *get_interface_color(int32_t index, rgb_color *color);

// The screen's frame-rate read-out: `text` in white with interface font 2,
// right-justified and wrapped in the view's hole, over the scene.  Nothing
// without a destination or without the font.
void draw_fps_text(view_data *view, const char *text);

// Registers the start-up step, the per-map emptying of the group and the
// drawing of the frame-rate read-out.
void register_interface_definition_hooks(void);
