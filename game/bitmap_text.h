#pragma once
// Fonts and styled text.  This module owns the font group ('font', "font"),
// turns character codes into glyphs, understands the in-string markup of
// styles, colours and links, measures, wraps and truncates strings, and draws
// glyphs into any bitmap: 8-bit, 16-bit 555 and 565, 32-bit, and hardware
// frame buffers, for which it keeps the glyph atlas the back end uploads.
// Beside them, the character-level operations of edit fields and lists:
// stepping over characters, click points, wrap points, links, prefix
// matching.
//
// Text is bytes: single bytes, "||" for the bar, '|' and a byte for a markup
// code (p plain, i italic, b bold, u underline, l link, 0-9 and A-Z one of
// 36 colours), carriage return as line break, and, in the five double-byte
// languages, two-byte characters.  The language and the line-breaking lists
// come from the string list 'in#1' of the data files when a map begins.
//
// A font tag is a 64-byte big-endian header and a block of character records
// (see docs/formats.md); its run-time block and lookup tables live in the
// registry's side record of the font.  A damaged tag never makes the game
// read outside the block: bad counts and blocks refuse it, records are
// indexed only up to the last that fits.
//
// Measuring and drawing allocate nothing.  Main thread only.

#include <cstddef>
#include <cstdint>

#include "bitmaps.h"
#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "point2d.h"
#include "rgb_color.h"
#include "tag_files/definitions.h"
#include "vesk/preloading.h"
#include "world.h"

#define BITMAP_TEXT_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', '#', '1')

enum
{
    FONT_DEFINITION_VERSION_NUMBER = 1,
    // Six interface fonts with four style fonts each must fit at once.
    MAXIMUM_FONT_DEFINITIONS_PER_MAP = 32,
    FONT_DEFINITION_SIZE = 64,
    FONT_CHARACTER_HEADER_SIZE = 16,
    MAXIMUM_FONT_CHARACTER_DIMENSION = 1024, // glyph sizes are below this
    TEXT_BUFFER_SIZE = 257, // truncation and hit-testing buffers
    DROP_SHADOW_OFFSET = 1,
    NUMBER_OF_TEXT_COLORS = 36,
    LINK_TEXT_COLOR_INDEX = 5,

    HARDWARE_BITMAP_WIDTH = 256,
    HARDWARE_BITMAP_HEIGHT = 256,
    MAXIMUM_HARDWARE_CHARACTERS = 256,
};

enum font_style
{
    _font_style_italic = 0,
    _font_style_bold,
    _font_style_condensed,
    _font_style_underlined,
    NUMBER_OF_FONT_STYLES
};

enum text_language
{
    _language_roman = 0,
    _language_japanese,
    _language_simple_chinese,
    _language_traditional_chinese,
    _language_korean_wansung,
    _language_korean_johab,
    NUMBER_OF_LANGUAGES
};

// Entries of 'in#1'.
enum bitmap_text_string_index
{
    _string_index_language = 0,
    _string_index_truncation_string,
    _string_index_illegal_truncation_characters,
    _string_index_can_end_words,
    _string_index_cannot_end_words,
    _string_index_cannot_begin_words,
    _string_index_country_code,
};

// The stored header (64 bytes, big-endian); the registry's record.
struct font_definition
{
    uint32_t flags; // not read
    int16_t ascending_height;
    int16_t descending_height;
    int16_t leading_height;
    int16_t leading_width; // replaced at load by (ascending + descending) / 5
    int32_t number_of_characters;
    int32_t characters_offset; // of the character block in the tag's data
    int32_t characters_size;
    tag style_font_tags[NUMBER_OF_FONT_STYLES]; // NONE when absent
    uint8_t unused[8];
    int16_t style_font_indexes[NUMBER_OF_FONT_STYLES]; // run time: loaded index or NONE
    uint32_t characters; // run time word, stored 0 (the block is in the side record)
    uint32_t lead_byte_character_tables; // run time word, stored 0
};
static_assert(sizeof(font_definition) == FONT_DEFINITION_SIZE);
static_assert(offsetof(font_definition, number_of_characters) == 12);
static_assert(offsetof(font_definition, style_font_tags) == 24);
static_assert(offsetof(font_definition, style_font_indexes) == 48);
static_assert(offsetof(font_definition, lead_byte_character_tables) == 60);

extern const byte_swap_code font_definition_byte_swapping_data[];

// One record of the character block: this header, then width x height bytes
// of inverse coverage (0 full ink, 255 none), the record made even.
struct font_character
{
    uint16_t character; // a byte, or lead x 256 + trail
    int16_t character_width; // advance
    int16_t bitmap_width, bitmap_height;
    int16_t bitmap_origin_x; // the bitmap's left edge is at cursor x minus this
    int16_t bitmap_origin_y; // its top edge at baseline y minus this
    int16_t hardware_character_index; // run time: atlas slot or NONE
    int16_t pad;
};
static_assert(sizeof(font_character) == FONT_CHARACTER_HEADER_SIZE);

extern const byte_swap_code font_character_byte_swapping_data[];

// The bytes a record takes in the block.
inline int32_t font_character_record_size(int32_t width, int32_t height)
{
    return (FONT_CHARACTER_HEADER_SIZE + width * height + 1) & ~1;
}
inline const uint8_t *font_character_pixels(const font_character *glyph)
{
    return (const uint8_t *)glyph + FONT_CHARACTER_HEADER_SIZE;
}

// The registry's side record of a font.
struct font_runtime
{
    uint8_t *characters; // the block as read
    int32_t characters_size;
    font_character ***lead_byte_character_tables; // 256 tables of 256 glyphs, by high byte
    int16_t interface_line_height_delta; // what set_interface_font_line_height_delta applied; 0 when loaded
};

extern definition_globals font_definitions;

// The 36 colours of the codes 0-9 and A-Z (entry 5 is the link colour).
extern const rgb_color text_colors[NUMBER_OF_TEXT_COLORS];

// ---- fonts ------------------------------------------------------------------------------------

// Registers the group (start-up); empties it and reads 'in#1' for a map
// (language from entry 0, clamped to 0..5); frees every font of the map.
bool initialize_font_definitions(void);
void initialize_font_definitions_for_new_map(void);
void dispose_font_definitions_from_old_map(void);

// The group's postprocess: indexes the character block, adds the built-in
// space, recomputes leading_width.  False (code 10 or 8 logged) for counts,
// offsets or a block that do not fit the tag.
bool postprocess_font_definition(definition_globals *group, int32_t font_index, int32_t tag_index, void *definition);
// Allocates and reads the character block into the side record.
bool load_font_character_data(int32_t tag_index, const font_definition *font, font_runtime *runtime,
                              bool read_ahead);

// The loaded font of `font_tag` (loaded now when missing), or NONE.
int32_t font_tag_to_font_index(tag font_tag);
// The font record; null for an index that holds no font.
const font_definition *get_font_definition(int32_t font_index);
// The glyph of `character` in the font or its style font; null when none.
const font_character *get_font_character(int32_t font_index, int16_t style, uint32_t character);

// The whole load of a stored font tag (`size` bytes: header, then the rest of
// the tag) done in memory and undone: true when the game would take it.  For
// the fuzz target and checks that have no store.  `glyph_count` receives the
// number of glyphs indexed.
bool check_font_tag_data(const void *tag_data, int32_t size, int32_t *glyph_count);

int16_t get_font_ascending_height(int32_t font_index);
// Ascending + descending (leading not included).
int16_t get_font_line_height(int32_t font_index);
// Adds `delta` to the leading of the font and of each of its style fonts.
void adjust_font_line_height(int32_t font_index, int16_t delta);
// The interface's change of a font's line height, made once for as long as
// the font stays loaded: the interface is loaded again (each return to the
// menus) while its fonts stay, and adding the change again would close the
// lines up until they lie over each other.  Adjusts by what the font has
// not yet been given of `delta`.
void set_interface_font_line_height_delta(int32_t font_index, int16_t delta);

// The text language (0..5) read when the map began.
int16_t get_text_language(void);

// ---- the markup parser ---------------------------------------------------------------------

enum parse_string_result
{
    _parsed_end_of_string = 0,
    _parsed_end_of_line,
    _parsed_end_of_word,
    _parsed_character,
    _parsed_escape_code, // never returned
};

enum
{
    _parse_string_underline_flag = 128,
};

// The parser's cursor.  Start from fresh_parse_string_state.
struct parse_string_state
{
    const char *string;
    int32_t string_index; // next byte to read
    int16_t style; // NONE or a font_style
    uint32_t flags;
    uint32_t character; // last character returned
    int16_t result;
    int16_t color_index; // 0..35 or NONE
    int32_t url_start_index; // where the current link's text starts, or NONE
};
parse_string_state fresh_parse_string_state(const char *string, int16_t style);

// The next visible character, consuming the markup codes before it.  At the
// end of the string the index stays on the terminator.
int16_t parse_string(parse_string_state *state);

// ---- measuring and wrapping ----------------------------------------------------------------

int32_t string_width(int32_t font_index, int16_t style, const char *string);
int32_t string_width_multiline(int32_t font_index, int16_t style, const char *string, int32_t *line_count);
void get_string_height(const char *string, int32_t font_index, int16_t style, int32_t width, int32_t *height);
int16_t compute_style_at_end_of_string(const char *string, int16_t style);

enum wrap_string_state
{
    _wrap_string_scanning_line = 0,
    _wrap_string_end_of_line,
    _wrap_string_end_of_string,
};
struct wrap_string_result
{
    int16_t style; // in effect at the end of the line
    int32_t line_length; // bytes of the line with its line break
    int32_t line_width; // pixels
    int16_t state;
};
// Measures one line that fits `width` (breaking it with _draw_string_wrap_flag).
void wrap_string(const char *string, int16_t style, int32_t font_index, int32_t width, uint32_t flags,
                 wrap_string_result *result);

// ---- drawing ----------------------------------------------------------------------------------

enum draw_string_flags
{
    _draw_string_center_horizontal_flag = 1,
    _draw_string_center_vertical_flag = 2,
    _draw_string_right_justified_flag = 4,
    _draw_string_bottom_justified_flag = 8,
    _draw_string_wrap_flag = 16,
    _draw_string_shadow_flag = 32,
    _draw_string_color_codes_flag = 64,
    _draw_string_underlined_flag = 128, // not read here
    _draw_string_prevent_partial_vertical_clipping_flag = 256,
};

// Lays out and draws `string` in `bounds` (null: the whole bitmap), clipped
// to `clip` as well.  Without the wrap flag a string that does not fit is
// truncated with the truncation string of 'in#1'.  With `origin`, line 0
// starts that far right and every line that far down, and on return
// `origin` holds where the text ended (x after the last glyph, y of the last
// line) relative to the start.
void draw_string(bitmap_data *destination, point2d *origin, const rectangle2d *bounds, const rectangle2d *clip,
                 int32_t font_index, int16_t style, const rgb_color *color, const char *string, uint32_t flags,
                 fixed_fraction transparency);

// ---- the hardware glyph atlas -------------------------------------------------------------------

struct hardware_character
{
    uint16_t character; // 0 when the slot is free
    int16_t x0, y0;
    int16_t width, height;
    const font_character *glyph; // the glyph the slot holds
};
struct hardware_font
{
    int16_t read_index; // oldest live slot
    int16_t write_index; // next slot to fill
    int16_t x0, y0; // packing cursor
    int16_t maximum_character_height; // of the current row, gutter included
    int16_t font_index; // whose glyphs draw_string caches ahead
    bitmap_data *bitmap; // 256 x 256, 8-bit, 255 = full ink
    hardware_character characters[MAXIMUM_HARDWARE_CHARACTERS];
};

// Creates the atlas for `font_index` (replacing one that exists); its bitmap.
bitmap_data *initialize_hardware_font(int32_t font_index);
void dispose_hardware_font(void);
// The atlas when it changed since the last call (clearing the mark), else null.
bitmap_data *hardware_font_changed(void);
// Caches the glyph; true with its atlas position when it is in the atlas.
// Glyphs of 256 pixels or more either way are never cached.
bool get_hardware_font_character_origin(const font_character *glyph, int16_t *x, int16_t *y);
// The atlas record, for tests; null when absent.
const hardware_font *get_hardware_font(void);

// ---- characters and hit-testing ------------------------------------------------------------------

uint32_t get_next_character(const char *string, int32_t *index);
uint32_t get_previous_character(const char *string, int32_t *index);
bool character_in_pattern(uint32_t character, const char *pattern);
bool string_starts_with_fuzzy(const char *string, const char *prefix);
// The byte index nearest `pixel_offset` in the first `*end_index` bytes.
bool find_string_click_point(int32_t font_index, int16_t style, const char *string, int32_t pixel_offset,
                             int32_t *end_index);
bool find_string_click_point_wrapped(int32_t font_index, int16_t style, const char *string, int32_t width,
                                     int32_t pixel_x, int32_t pixel_y, int32_t *end_index);
// Where the line start..end must break to fit `width`; true when it need not.
bool find_string_wrap_point(int32_t font_index, int16_t style, const char *string, int32_t width,
                            int32_t start_index, int32_t *end_index);
bool get_link_url_at_string_position(const char *string, int32_t position, char *buffer, int32_t buffer_size);
const char *get_check_mark_string(void);
int16_t get_application_country_code(void);

// Registers the start-up and per-map steps of the fonts and the
// preloader's font reader.
void register_bitmap_text_hooks(void);
