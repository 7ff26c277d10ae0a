// The interface definition ('inte'): its group, the definition in use and
// the lookups of interface fonts and colours.

#include "interface_definitions.h"

#include <cstring>

#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/errors.h"
#include "cseries/tags.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "mesh.h"
#include "mouse_cursor/mouse_cursor.h"
#include "render/render_surfaces.h"
#include "screen.h"
#include "shading_tables.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "vesk/preloading.h"

const byte_swap_code interface_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte,
    _begin_bs_array, MAXIMUM_INTERFACE_FONT_TAGS, _4byte, _end_bs_array,
    200 + 16 + 4,
    _end_bs_array};

namespace {

interface_definition make_default_definition(void)
{
    interface_definition d;
    memset(&d, 0, sizeof(d));
    d.collection_tag = (tag)NONE;
    for (int32_t i = 0; i < NUMBER_OF_INTERFACE_FONTS; ++i) d.font_tags[i] = (tag)NONE;
    for (int16_t &index : d.font_indexes) index = NONE;
    d.collection_index = NONE;
    d.color_table_index = NONE;
    return d;
}

const interface_definition default_definition = make_default_definition();

struct interface_globals
{
    int32_t definition_index; // in the group; NONE without a definition in use
} interface_globals = {NONE};

interface_definition *current_definition(void)
{
    if (interface_globals.definition_index == NONE || !interface_definitions.registered) return nullptr;
    return (interface_definition *)try_and_get_definition(&interface_definitions, interface_globals.definition_index);
}

bool startup_interface(void) { return initialize_interface(); }
bool empty_interface_store(const new_game_data *)
{
    interface_globals.definition_index = NONE;
    if (interface_definitions.registered) initialize_definitions_for_new_map(&interface_definitions);
    return true;
}
void dispose_interface_store(void)
{
    interface_globals.definition_index = NONE;
    if (interface_definitions.registered) dispose_definitions_from_old_map(&interface_definitions);
}

// Every map names its look; one naming none cannot start.
bool map_interface_step(const new_game_data *)
{
    const mesh_header *header = get_mesh_header();
    return initialize_interface_for_new_map(header ? header->interface_tag : (tag)NONE);
}

} // namespace

definition_globals interface_definitions = {
    .name = "interface",
    .group = INTERFACE_DEFINITION_GROUP_TAG,
    .current_version = INTERFACE_DEFINITION_VERSION_NUMBER,
    .maximum_count = MAXIMUM_INTERFACE_DEFINITIONS_PER_MAP,
    .size = sizeof(interface_definition),
    .runtime_size = 0,
    .dependencies = interface_definition_dependencies,
    .postprocess = postprocess_interface_definition,
    .convert = nullptr,
    .default_definition = default_interface_definition,
    .tag_header_user_data = get_interface_definition_tag_header_user_data,
    .byte_swapping_data = interface_definition_byte_swapping_data,
    .release_runtime = nullptr,
    .definitions = nullptr,
    .flags = nullptr,
    .count = 0,
    .subgroups = nullptr,
    .tag_indexes = nullptr,
    .tag_names = nullptr,
    .runtimes = nullptr,
    .registered = false,
};

// ---- the group --------------------------------------------------------------------------

bool initialize_interface(void)
{
    interface_globals.definition_index = NONE;
    initialize_mouse_cursor();
    return interface_definitions.registered || initialize_definitions(&interface_definitions);
}

bool initialize_interface_for_new_map(tag interface_tag)
{
    interface_globals.definition_index = NONE;
    if (!interface_definitions.registered)
    {
        ERROR_MESSAGE(_error_data_missing, "interface appearance missing.");
        return false;
    }
    initialize_definitions_for_new_map(&interface_definitions);
    const int32_t index =
        try_definition_tag_to_index(&interface_definitions, interface_tag, true, _definition_lookup_quiet_flag);
    if (index == NONE)
    {
        ERROR_MESSAGE(_error_data_missing, "interface appearance missing.");
        return false;
    }
    interface_globals.definition_index = index;
    initialize_mouse_cursor_for_new_map();
    return true;
}

bool initialize_interface_without_map(void)
{
    if (vesk_map_is_loaded()) return true;
    if (!collections.registered || !font_definitions.registered)
    {
        ERROR_MESSAGE(_error_data_missing, "interface appearance missing.");
        return false;
    }
    if (collections.count == NONE) initialize_shapes_for_new_map();
    if (font_definitions.count == NONE) initialize_font_definitions_for_new_map();
    return initialize_interface_for_new_map(INTERFACE_FILE_DEFINITION_TAG);
}

void dispose_interface_from_old_map(void)
{
    dispose_mouse_cursor_from_old_map();
    dispose_interface_store();
}

void interface_definition_dependencies(definition_globals *, int32_t, int32_t, void *definition,
                                       definition_dependency_report report)
{
    interface_definition *d = (interface_definition *)definition;
    report(COLLECTION_GROUP_TAG, d->collection_tag, &d->collection_index, 0);
    for (int32_t i = 0; i < NUMBER_OF_INTERFACE_FONTS; ++i)
        report(FONT_DEFINITION_GROUP_TAG, d->font_tags[i], &d->font_indexes[i], _dependency_optional_flag);
}

bool postprocess_interface_definition(definition_globals *, int32_t, int32_t, void *definition)
{
    interface_definition *d = (interface_definition *)definition;
    // The run-time words come from the tag as stored: never trust them.
    d->collection_index = (int16_t)get_collection_index(d->collection_tag);
    d->color_table_index = NONE;
    for (int32_t i = NUMBER_OF_INTERFACE_FONTS; i < MAXIMUM_INTERFACE_FONT_TAGS; ++i) d->font_indexes[i] = NONE;
    if (d->collection_index == NONE)
    {
        log_message(__FILE__, __LINE__, "the interface collection '%s' is missing", tag_to_string(d->collection_tag));
        return false;
    }
    const int32_t table = add_shading_table_to_collection_index(d->collection_index, nullptr, 0,
                                                                _add_shading_table_for_tinting, 0, nullptr);
    if (table == NONE) return false;
    d->color_table_index = (int16_t)table;

    bool fonts_found = true;
    for (int32_t i = 0; i < NUMBER_OF_INTERFACE_FONTS; ++i)
    {
        if (i < 3)
        {
            d->font_indexes[i] = d->font_tags[i] == (tag)NONE ? (int16_t)NONE
                                                               : (int16_t)font_tag_to_font_index(d->font_tags[i]);
            if (d->font_indexes[i] == NONE)
            {
                log_message(__FILE__, __LINE__, "interface font %d ('%s') is missing", (int)i,
                            tag_to_string(d->font_tags[i]));
                fonts_found = false;
            }
        }
        else d->font_indexes[i] = NONE; // looked up on first use
    }
    if (!fonts_found) return false;
    set_interface_font_line_height_delta(d->font_indexes[0], -2);
    return true;
}

uint32_t get_interface_definition_tag_header_user_data(const void *) { return (uint32_t)NONE; }

const interface_definition *get_default_interface_definition(void) { return &default_definition; }

void default_interface_definition(void *definition) { memcpy(definition, &default_definition, sizeof(default_definition)); }

const interface_definition *get_interface_definition(void) { return current_definition(); }

// ---- lookups ----------------------------------------------------------------------------

int32_t get_interface_collection(void)
{
    const interface_definition *d = current_definition();
    return d ? (int32_t)d->collection_index : (int32_t)NONE;
}

int32_t get_interface_color_table_index(void)
{
    const interface_definition *d = current_definition();
    return d ? (int32_t)d->color_table_index : (int32_t)NONE;
}

bitmap_data *get_interface_bitmap(int32_t index)
{
    const int32_t collection = get_interface_collection();
    if (collection == NONE || index < 0 || index >= get_collection_bitmap_count(collection)) return nullptr;
    return get_bitmap(collection, index);
}

void *get_interface_shading_tables(void)
{
    const int32_t collection = get_interface_collection();
    return collection == NONE ? nullptr : get_unshaded_shading_table(collection, get_interface_color_table_index());
}

int32_t get_interface_font_index(int32_t index)
{
    if (!VASSERT(index >= 0 && index < NUMBER_OF_INTERFACE_FONTS, "index>=0 && index<NUMBER_OF_INTERFACE_FONTS"))
        return NONE;
    interface_definition *d = current_definition();
    if (!d) return NONE;
    if (d->font_indexes[index] != NONE) return d->font_indexes[index];
    if (d->font_tags[index] == (tag)NONE) return NONE;
    const int32_t font = font_tag_to_font_index(d->font_tags[index]);
    if (font == NONE) d->font_tags[index] = (tag)NONE; // not tried again
    else d->font_indexes[index] = (int16_t)font;
    return font;
}

uint8_t get_interface_color_index(int32_t index)
{
    if (index < 0 || index >= NUMBER_OF_INTERFACE_COLORS) return 0;
    const bitmap_data *strip = get_interface_bitmap(INTERFACE_SWATCH_BITMAP_INDEX);
    // Only a flat 8-bit strip holds one index per byte: a run-length row
    // starts with its span header, a 16-bit strip with colour words.
    // Collections keep 8-bit bitmaps as encoding 0 of logical depth 8.
    if (!strip || (strip->encoding != _8bit_encoding && strip->encoding != _no_encoding) ||
        strip->logical_bit_depth != 8 || strip->pixel_upshift != 0 || strip->height < 1 ||
        (strip->flags & (_1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag)) ||
        index >= strip->width || !strip->row_addresses[0])
        return 0;
    return strip->row_addresses[0][index];
}

rgb_color *get_interface_color(int32_t index, rgb_color *color)
{
    const int32_t collection = get_interface_collection();
    const color_table *table = collection == NONE ? nullptr : get_color_table(collection);
    const uint8_t entry = get_interface_color_index(index);
    if (table && entry < table->color_count) *color = table->colors[entry];
    else if (table && table->color_count > 0) *color = table->colors[0];
    else *color = {0, 0, 0, 0};
    return color;
}

// ---- hooks ------------------------------------------------------------------------------

void draw_fps_text(view_data *view, const char *text)
{
    if (!view || !view->screen || !text || !text[0]) return;
    const int32_t font = get_interface_font_index(2);
    if (font == NONE) return;
    static const rgb_color white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
    // In the view's top left corner, a little inside it: the top right is
    // the overhead map's, the bottom the console's lines ("Autosave
    // created.", the chat), and text against the screen's edge is cut.
    enum { INSET = 6 };
    rectangle2d bounds = view->hole;
    bounds.left = (int16_t)(bounds.left + INSET);
    bounds.top = (int16_t)(bounds.top + INSET);
    draw_string(view->screen, nullptr, &bounds, nullptr, font, NONE, &white, text,
                _draw_string_wrap_flag | _draw_string_shadow_flag, 0);
}

void register_interface_definition_hooks(void)
{
    register_startup_procedure(_startup_interface, startup_interface);
    register_map_store_procedures(_startup_interface, empty_interface_store, dispose_interface_store);
    register_map_procedures(_map_interface, map_interface_step, dispose_interface_from_old_map);
    register_mouse_cursor_hooks();
    register_draw_fps_text_procedure(draw_fps_text);
}
