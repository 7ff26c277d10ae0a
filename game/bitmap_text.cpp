// Fonts, styled text and text hit-testing.  See bitmap_text.h.

#include "bitmap_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_drawing.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "hardware_rasterizer.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

const byte_swap_code font_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _2byte, _2byte, _4byte, _4byte, _4byte,
    _4byte, _4byte, _4byte, _4byte, 8, 8, 4, 4, _end_bs_array};

const byte_swap_code font_character_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, 4, _end_bs_array};

#define C(rgb) {(uint16_t)(((rgb) >> 16 & 255) * 256), (uint16_t)(((rgb) >> 8 & 255) * 256), (uint16_t)(((rgb) & 255) * 256), 0}
const rgb_color text_colors[NUMBER_OF_TEXT_COLORS] = {
    C(0xffffff), C(0xcbcbcb), C(0x686868), C(0x000000), C(0x0000ff), C(0x84aaff), C(0x1f72e7), C(0x023e9d),
    C(0x4b0082), C(0xb29fff), C(0x8353ff), C(0x5203cc), C(0xff0000), C(0xfe8a7b), C(0xda3220), C(0x871810),
    C(0xfcfc38), C(0xffd700), C(0xdba30d), C(0x9b7000), C(0xff8000), C(0xdb740d), C(0x7f4000), C(0x00ff00),
    C(0x99f869), C(0x4bc315), C(0x008000), C(0x006400), C(0x00ffff), C(0x7ef3e9), C(0x07bfbc), C(0x008583),
    C(0x00504e), C(0xff9aff), C(0xff34ff), C(0x8b008b),
};
#undef C

static void font_dependencies(definition_globals *group, int32_t font_index, int32_t tag_index, void *definition,
                              definition_dependency_report report);
static void release_font_runtime(void *runtime);

definition_globals font_definitions = {
    "font", FONT_DEFINITION_GROUP_TAG, FONT_DEFINITION_VERSION_NUMBER, MAXIMUM_FONT_DEFINITIONS_PER_MAP,
    FONT_DEFINITION_SIZE, (int32_t)sizeof(font_runtime), font_dependencies, postprocess_font_definition, nullptr,
    nullptr, nullptr, font_definition_byte_swapping_data, release_font_runtime,
};

static struct font_globals
{
    int16_t language;
    int32_t string_list_index; // 'in#1', NONE when absent
} font_globals = {_language_roman, NONE};

static hardware_font *global_hardware_font = nullptr;

// Every font with single-byte glyphs but no space gets this one.
static font_character global_space_character = {32, 4, 0, 0, 0, 0, 0, 0};

// ---- fonts ----------------------------------------------------------------------------------

static const char *text_list_entry(int32_t entry) { return get_string_from_list(font_globals.string_list_index, entry); }

static void release_font_runtime(void *runtime)
{
    font_runtime *r = (font_runtime *)runtime;
    if (r->lead_byte_character_tables)
    {
        for (int32_t i = 0; i < 256; ++i) free(r->lead_byte_character_tables[i]);
        free(r->lead_byte_character_tables);
    }
    free(r->characters);
    memset(r, 0, sizeof(*r));
}

static void font_dependencies(definition_globals *group, int32_t, int32_t, void *definition,
                              definition_dependency_report report)
{
    font_definition *font = (font_definition *)definition;
    for (int32_t style = 0; style < NUMBER_OF_FONT_STYLES; ++style)
    {
        font->style_font_indexes[style] = NONE;
        if (font->style_font_tags[style] != NONE)
            report(group->group, font->style_font_tags[style], &font->style_font_indexes[style], _dependency_optional_flag);
    }
}

bool initialize_font_definitions(void)
{
    font_globals.language = _language_roman;
    font_globals.string_list_index = NONE;
    return font_definitions.registered || initialize_definitions(&font_definitions);
}

void initialize_font_definitions_for_new_map(void)
{
    initialize_definitions_for_new_map(&font_definitions);
    font_globals.string_list_index = string_list_tag_to_string_index(BITMAP_TEXT_STRING_LIST_TAG);
    const int32_t language = atoi(text_list_entry(_string_index_language));
    font_globals.language = (int16_t)(language < 0 ? 0 : language > _language_korean_johab ? _language_korean_johab : language);
}

void dispose_font_definitions_from_old_map(void)
{
    // The side records (blocks and lookup tables) go through release_font_runtime.
    dispose_definitions_from_old_map(&font_definitions);
}

int16_t get_text_language(void) { return font_globals.language; }

static bool refuse_font(const char *name, const char *field, int64_t value)
{
    ERROR_MESSAGE(_error_data_corrupted, "font \"%s\" refused: %s (%lld)", name, field, (long long)value);
    return false;
}

// Checks the header's counts and block against the tag's `tag_size` bytes.
static bool check_font_header(const font_definition *font, int32_t tag_size, const char *name)
{
    if (font->number_of_characters < 0) return refuse_font(name, "number_of_characters", font->number_of_characters);
    if (font->characters_size < 0) return refuse_font(name, "characters_size", font->characters_size);
    if (font->characters_offset < FONT_DEFINITION_SIZE || font->characters_offset > tag_size ||
        font->characters_size > tag_size - font->characters_offset)
        return refuse_font(name, "characters_offset", font->characters_offset);
    return true;
}

bool load_font_character_data(int32_t tag_index, const font_definition *font, font_runtime *runtime, bool read_ahead)
{
    const char *name = tag_file_name_get(tag_index);
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return refuse_font(name, "tag", tag_index);
    if (!check_font_header(font, info.size, name)) return false;
    uint8_t *block = (uint8_t *)malloc(font->characters_size > 0 ? (size_t)font->characters_size : 1);
    if (!block)
    {
        ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for characters for font %s.",
                      (int)font->characters_size, name);
        return false;
    }
    const bool read = font->characters_size == 0 ||
                      (read_ahead ? tag_file_read_ahead(tag_index, font->characters_offset, font->characters_size, block)
                                  : tag_file_read(tag_index, font->characters_offset, font->characters_size, block));
    if (!read)
    {
        free(block);
        ERROR_MESSAGE(_error_file_read, "couldn't read characters from font %s.", name);
        return false;
    }
    free(runtime->characters);
    runtime->characters = block;
    runtime->characters_size = font->characters_size;
    return true;
}

static bool fetch_font_character_data(int32_t tag_index, void *definition, void *runtime, bool read_ahead)
{
    return load_font_character_data(tag_index, (const font_definition *)definition, (font_runtime *)runtime, read_ahead);
}

// A damaged record of a font's block is refused, not drawn: logged with the
// font, the record's place and what is wrong with it.
static void refuse_glyph(const char *name, int32_t index, int32_t offset, const char *reason)
{
    log_message(__FILE__, __LINE__, "font \"%s\": character #%d at offset %d refused: %s", name, (int)index,
                (int)offset, reason);
}

// Swaps and indexes the records of the block (host order afterwards): the
// first glyph of a code wins; records with a negative advance or oversized
// bitmaps are refused; indexing stops at the first record whose size is
// negative or that does not fit the block (nothing after it can be found).
// Each refusal is logged.  False only when memory runs out.  `glyphs`
// counts the glyphs indexed.
static bool index_font_characters(const font_definition *font, font_runtime *runtime, const char *name,
                                  int32_t *glyphs)
{
    *glyphs = 0;
    int32_t offset = 0;
    for (int32_t i = 0; i < font->number_of_characters; ++i)
    {
        if (runtime->characters_size - offset < FONT_CHARACTER_HEADER_SIZE)
        {
            refuse_glyph(name, i, offset, "its header runs past the block; it and those after it are left out");
            break;
        }
        font_character *glyph = (font_character *)(runtime->characters + offset);
        byte_swap_data("font character", glyph, FONT_CHARACTER_HEADER_SIZE, 1, font_character_byte_swapping_data);
        glyph->hardware_character_index = NONE;
        if (glyph->bitmap_width < 0 || glyph->bitmap_height < 0)
        {
            refuse_glyph(name, i, offset, "a bitmap size below 0; it and those after it are left out");
            break;
        }
        const int32_t size = font_character_record_size(glyph->bitmap_width, glyph->bitmap_height);
        if (size > runtime->characters_size - offset)
        {
            refuse_glyph(name, i, offset, "its pixels run past the block; it and those after it are left out");
            break;
        }
        const int32_t at = offset;
        offset += size;
        if (glyph->character_width < 0)
        {
            refuse_glyph(name, i, at, "an advance below 0");
            continue;
        }
        if (glyph->bitmap_width >= MAXIMUM_FONT_CHARACTER_DIMENSION || glyph->bitmap_height >= MAXIMUM_FONT_CHARACTER_DIMENSION)
        {
            refuse_glyph(name, i, at, "a bitmap of 1024 pixels or more across");
            continue;
        }
        font_character **&table = runtime->lead_byte_character_tables[glyph->character >> 8];
        if (!table)
        {
            table = (font_character **)calloc(256, sizeof(font_character *));
            if (!table)
            {
                ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for lead byte character tables for font.",
                              (int)(256 * sizeof(font_character *)));
                return false;
            }
        }
        if (!table[glyph->character & 255])
        {
            table[glyph->character & 255] = glyph;
            *glyphs += 1;
        }
    }
    return true;
}

// Everything of postprocessing after the block is read.
static bool finish_font(font_definition *font, font_runtime *runtime, const char *name, int32_t *glyphs)
{
    if (font->number_of_characters < 0) return refuse_font(name, "number_of_characters", font->number_of_characters);
    if (!runtime->lead_byte_character_tables)
    {
        runtime->lead_byte_character_tables = (font_character ***)calloc(256, sizeof(font_character **));
        if (!runtime->lead_byte_character_tables)
        {
            ERROR_MESSAGE(_error_out_of_memory, "couldn't allocate #%d bytes for lead byte character tables for font.",
                          (int)(256 * sizeof(font_character **)));
            return false;
        }
    }
    if (!index_font_characters(font, runtime, name, glyphs)) return false;
    font->leading_width = (int16_t)((font->ascending_height + font->descending_height) / 5);
    font_character **single = runtime->lead_byte_character_tables[0];
    if (single && !single[32]) single[32] = &global_space_character;
    font->characters = 0;
    font->lead_byte_character_tables = 0;
    return true;
}

bool postprocess_font_definition(definition_globals *group, int32_t font_index, int32_t tag_index, void *definition)
{
    font_definition *font = (font_definition *)definition;
    font_runtime *runtime = (font_runtime *)get_definition_runtime(group, font_index);
    const char *name = tag_file_name_get(tag_index);
    if (!runtime) return false;
    const bool preloaded = group->flags && (group->flags[font_index] & _definition_preloaded_flag) && runtime->characters;
    if (!preloaded)
    {
        tag_file_info info;
        if (!tag_file_info_get(tag_index, &info)) return refuse_font(name, "tag", tag_index);
        if (!check_font_header(font, info.size, name)) return false;
        if (!load_font_character_data(tag_index, font, runtime, false)) return false;
    }
    int32_t glyphs;
    return finish_font(font, runtime, name, &glyphs);
}

bool check_font_tag_data(const void *tag_data, int32_t size, int32_t *glyph_count)
{
    *glyph_count = 0;
    if (size < FONT_DEFINITION_SIZE) return false;
    font_definition font;
    memcpy(&font, tag_data, sizeof(font));
    if (!byte_swap_data("font definition", &font, FONT_DEFINITION_SIZE, 1, font_definition_byte_swapping_data))
        return false;
    if (!check_font_header(&font, size, "check")) return false;
    font_runtime runtime = {};
    runtime.characters = (uint8_t *)malloc(font.characters_size > 0 ? (size_t)font.characters_size : 1);
    if (!runtime.characters) return false;
    memcpy(runtime.characters, (const uint8_t *)tag_data + font.characters_offset, (size_t)font.characters_size);
    runtime.characters_size = font.characters_size;
    const bool taken = finish_font(&font, &runtime, "check", glyph_count);
    release_font_runtime(&runtime);
    return taken;
}

int32_t font_tag_to_font_index(tag font_tag)
{
    return try_definition_tag_to_index(&font_definitions, font_tag, true, 0);
}

const font_definition *get_font_definition(int32_t font_index)
{
    return (const font_definition *)try_and_get_definition(&font_definitions, font_index);
}

static font_definition *get_font_mutable(int32_t font_index)
{
    return (font_definition *)try_and_get_definition(&font_definitions, font_index);
}

// The font a style draws with: the style font when loaded, else the font.
static int32_t styled_font_index(int32_t font_index, int16_t style)
{
    if (style == NONE) return font_index;
    if (!VASSERT(style >= 0 && style < NUMBER_OF_FONT_STYLES, "style==NONE || (style>=0 && style<NUMBER_OF_FONT_STYLES)"))
        return font_index;
    const font_definition *font = get_font_definition(font_index);
    if (font && font->style_font_indexes[style] != NONE && get_font_definition(font->style_font_indexes[style]))
        return font->style_font_indexes[style];
    return font_index;
}

static font_character *lookup_glyph(int32_t font_index, uint32_t character)
{
    if (character > 0xFFFF) return nullptr;
    const font_runtime *runtime = (const font_runtime *)get_definition_runtime(&font_definitions, font_index);
    if (!runtime || !runtime->lead_byte_character_tables) return nullptr;
    font_character **table = runtime->lead_byte_character_tables[character >> 8];
    return table ? table[character & 255] : nullptr;
}

const font_character *get_font_character(int32_t font_index, int16_t style, uint32_t character)
{
    return lookup_glyph(styled_font_index(font_index, style), character);
}

int16_t get_font_ascending_height(int32_t font_index)
{
    const font_definition *font = get_font_definition(font_index);
    return font ? font->ascending_height : 0;
}

int16_t get_font_line_height(int32_t font_index)
{
    const font_definition *font = get_font_definition(font_index);
    return font ? (int16_t)(font->ascending_height + font->descending_height) : 0;
}

void set_interface_font_line_height_delta(int32_t font_index, int16_t delta)
{
    font_runtime *runtime = (font_runtime *)get_definition_runtime(&font_definitions, font_index);
    if (!runtime || !get_font_mutable(font_index) || runtime->interface_line_height_delta == delta) return;
    adjust_font_line_height(font_index, (int16_t)(delta - runtime->interface_line_height_delta));
    runtime->interface_line_height_delta = delta;
}

void adjust_font_line_height(int32_t font_index, int16_t delta)
{
    font_definition *font = get_font_mutable(font_index);
    if (!font) return;
    font->leading_height = (int16_t)(font->leading_height + delta);
    for (int32_t style = 0; style < NUMBER_OF_FONT_STYLES; ++style)
    {
        font_definition *styled = font->style_font_indexes[style] != NONE ? get_font_mutable(font->style_font_indexes[style]) : nullptr;
        if (styled) styled->leading_height = (int16_t)(styled->leading_height + delta);
    }
}

// ---- characters ----------------------------------------------------------------------------------

static bool is_double_byte(uint8_t lead, uint8_t trail)
{
    switch (font_globals.language)
    {
    case _language_japanese:
        return ((lead >= 129 && lead <= 159) || (lead >= 224 && lead <= 254)) && trail >= 64 && trail <= 252 && trail != 127;
    case _language_simple_chinese: return lead >= 161 && lead <= 254 && trail >= 161 && trail <= 254;
    case _language_traditional_chinese:
        return lead >= 129 && lead <= 254 && ((trail >= 161 && trail <= 254) || (trail >= 64 && trail <= 126));
    case _language_korean_wansung:
        return lead >= 129 && lead <= 254 &&
               ((trail >= 97 && trail <= 122) || (trail >= 65 && trail <= 90) || (trail >= 129 && trail <= 254));
    case _language_korean_johab:
        return ((lead >= 216 && lead <= 222) || (lead >= 132 && lead <= 211) || (lead >= 224 && lead <= 249)) &&
               ((trail >= 129 && trail <= 254) || (trail >= 65 && trail <= 126));
    default: return false;
    }
}

// The character at `index` and its size in bytes (0 for the terminator).
static uint32_t decode_character(const char *string, int32_t index, int32_t *size)
{
    const uint8_t c = (uint8_t)string[index];
    if (!c)
    {
        *size = 0;
        return 0;
    }
    const uint8_t next = (uint8_t)string[index + 1];
    *size = 2;
    if (next && c == '|') return next == '|' ? (uint32_t)'|' : 0x7C00u + next;
    if (next && font_globals.language != _language_roman && is_double_byte(c, next)) return (uint32_t)c << 8 | next;
    *size = 1;
    return c;
}

uint32_t get_next_character(const char *string, int32_t *index)
{
    int32_t size;
    const uint32_t character = decode_character(string, *index, &size);
    *index += size ? size : 1;
    return character;
}

uint32_t get_previous_character(const char *string, int32_t *index)
{
    char text[96];
    const int32_t length = (int32_t)strlen(string);
    if (*index <= 0 || *index > length)
    {
        snprintf(text, sizeof(text), "#%d is out of range in string @%p", (int)*index, (const void *)string);
        VASSERT(false, text);
        return 0;
    }
    int32_t start = 0, size = 0;
    uint32_t character = 0;
    while (start < length)
    {
        character = decode_character(string, start, &size);
        if (start + size >= *index) break;
        start += size;
    }
    if (start + size != *index)
    {
        snprintf(text, sizeof(text), "index #%d is inbetween characters in string %p", (int)*index, (const void *)string);
        VASSERT(false, text);
    }
    *index = start;
    return character;
}

bool character_in_pattern(uint32_t character, const char *pattern)
{
    int32_t index = 0, size;
    for (uint32_t c; (c = decode_character(pattern, index, &size)) != 0; index += size)
        if (c == character) return true;
    return false;
}

// ---- the markup parser ---------------------------------------------------------------------------

parse_string_state fresh_parse_string_state(const char *string, int16_t style)
{
    parse_string_state state;
    memset(&state, 0, sizeof(state));
    state.string = string;
    state.style = style;
    state.color_index = NONE;
    state.url_start_index = NONE;
    return state;
}

static bool is_escape(uint32_t character) { return character >= 0x7C00 && character <= 0x7CFF && character != '|'; }

int16_t parse_string(parse_string_state *state)
{
    uint32_t character;
    int32_t size;
    for (;;)
    {
        character = decode_character(state->string, state->string_index, &size);
        state->string_index += size;
        if (!is_escape(character)) break;
        const uint8_t code = (uint8_t)(character & 255);
        if (code >= '0' && code <= '9') state->color_index = (int16_t)(code - '0');
        else if (code >= 'A' && code <= 'Z') state->color_index = (int16_t)(10 + code - 'A');
        else if (code == 'p')
        {
            state->style = NONE;
            state->flags &= ~(uint32_t)_parse_string_underline_flag;
            state->color_index = NONE;
            state->url_start_index = NONE;
        }
        else if (code == 'i') state->style = _font_style_italic;
        else if (code == 'b') state->style = _font_style_bold;
        else if (code == 'u') state->flags |= _parse_string_underline_flag;
        else if (code == 'l')
        {
            state->color_index = LINK_TEXT_COLOR_INDEX;
            state->url_start_index = state->string_index;
        }
    }
    state->character = character;
    if (character == 0) return state->result = _parsed_end_of_string;
    if (character == '\r') return state->result = _parsed_end_of_line;
    const uint32_t next = decode_character(state->string, state->string_index, &size);
    const bool may_end = character < 256 ? character_in_pattern(character, text_list_entry(_string_index_can_end_words))
                                         : !character_in_pattern(character, text_list_entry(_string_index_cannot_end_words));
    if (may_end && !character_in_pattern(next, text_list_entry(_string_index_cannot_begin_words)))
        return state->result = _parsed_end_of_word;
    return state->result = _parsed_character;
}

// ---- measuring and wrapping -------------------------------------------------------------------------

int32_t string_width(int32_t font_index, int16_t style, const char *string)
{
    parse_string_state state = fresh_parse_string_state(string, style);
    int32_t width = 0;
    while (parse_string(&state) >= _parsed_end_of_word)
    {
        const font_character *glyph = get_font_character(font_index, state.style, state.character);
        if (glyph) width += glyph->character_width;
    }
    return width;
}

int32_t string_width_multiline(int32_t font_index, int16_t style, const char *string, int32_t *line_count)
{
    parse_string_state state = fresh_parse_string_state(string, style);
    int32_t width = 0, widest = 0, lines = 0;
    bool inked = false;
    for (int16_t result; (result = parse_string(&state)) != _parsed_end_of_string;)
    {
        if (result == _parsed_end_of_line)
        {
            lines += inked;
            inked = false;
            width = 0;
            continue;
        }
        const font_character *glyph = get_font_character(font_index, state.style, state.character);
        if (!glyph) continue;
        inked = true;
        width += glyph->character_width;
        if (width > widest) widest = width;
    }
    lines += inked;
    if (line_count) *line_count = lines;
    return widest;
}

void wrap_string(const char *string, int16_t style, int32_t font_index, int32_t width, uint32_t flags,
                 wrap_string_result *result)
{
    memset(result, 0, sizeof(*result));
    result->style = style;
    parse_string_state state = fresh_parse_string_state(string, style);
    int16_t previous = NONE;
    int32_t break_length = 0, break_width = 0;
    int16_t break_style = style;
    for (;;)
    {
        const int16_t parsed = parse_string(&state);
        result->style = state.style;
        if (parsed == _parsed_end_of_string || parsed == _parsed_end_of_line)
        {
            result->state = parsed == _parsed_end_of_string ? _wrap_string_end_of_string : _wrap_string_end_of_line;
            result->line_length = state.string_index;
            return;
        }
        const font_character *glyph = get_font_character(font_index, state.style, state.character);
        if (!glyph)
        {
            result->line_length = state.string_index;
            continue;
        }
        if (previous == _parsed_end_of_word && parsed != _parsed_end_of_word)
        {
            break_length = result->line_length;
            break_width = result->line_width;
            break_style = result->style;
        }
        if (result->line_width + glyph->bitmap_width < width)
        {
            result->line_width += glyph->character_width;
            result->line_length = state.string_index;
        }
        else if (!(flags & _draw_string_wrap_flag))
            result->line_length = state.string_index;
        else
        {
            result->state = _wrap_string_end_of_line;
            if (break_length > 0)
            {
                result->line_length = break_length;
                result->line_width = break_width;
                result->style = break_style;
            }
            else
                result->line_length = state.string_index;
            return;
        }
        previous = parsed;
    }
}

void get_string_height(const char *string, int32_t font_index, int16_t style, int32_t width, int32_t *height)
{
    const font_definition *font = get_font_definition(font_index);
    *height = 0;
    if (!font) return;
    const int32_t h = font->ascending_height + font->descending_height, spacing = h + font->leading_height;
    int32_t lines = 0;
    for (const char *rest = string;;)
    {
        wrap_string_result line;
        wrap_string(rest, style, font_index, width - font->leading_width, _draw_string_wrap_flag, &line);
        lines += 1;
        style = line.style;
        if (line.state == _wrap_string_end_of_string || line.line_length <= 0) break;
        rest += line.line_length;
    }
    *height = h + spacing * (lines - 1);
}

int16_t compute_style_at_end_of_string(const char *string, int16_t style)
{
    parse_string_state state = fresh_parse_string_state(string, style);
    while (parse_string(&state) != _parsed_end_of_string) {}
    return state.style;
}

// ---- drawing -----------------------------------------------------------------------------------------

static inline uint8_t *text_row(const bitmap_data *bitmap, int32_t y)
{
    return (bitmap->flags & _no_row_address_table_flag) ? bitmap->row_addresses[0] + (intptr_t)y * bitmap->bytes_per_row
                                                       : bitmap->row_addresses[y];
}

// The level a glyph pixel blends at (255 is never drawn).
static inline int32_t glyph_level(int32_t p, int32_t t4)
{
    return t4 ? 15 - (((15 - t4) * (15 - (p >> 4))) >> 4) : p >> 4;
}

// The level table of each glyph coverage nibble at a line's transparency,
// found once per call rather than worked out per pixel.
struct glyph_level_tables
{
    const uint8_t *of_nibble[16];
};

static void build_glyph_level_tables(glyph_level_tables *levels, const uint8_t *table, fixed_fraction transparency)
{
    for (int32_t n = 0; n < 16; ++n)
        levels->of_nibble[n] = table ? table + glyph_level(n << 4, transparency >> 12) * 1024 : nullptr;
}

enum glyph_destination
{
    _glyph_8bit,
    _glyph_555,
    _glyph_565,
    _glyph_32bit,
    _glyph_hardware,
};

// One glyph's visible part: columns [sx, sx + w) and rows [sy, sy + h) of the
// glyph at (x, y).
static void draw_glyph(bitmap_data *destination, int32_t kind, const font_character *glyph, int32_t x, int32_t y,
                       int32_t sx, int32_t sy, int32_t w, int32_t h, const rgb_color *color,
                       fixed_fraction transparency, const glyph_level_tables *levels)
{
    const uint8_t *pixels = font_character_pixels(glyph);
    const int32_t gw = glyph->bitmap_width;
    const int32_t t4 = transparency >> 12;
    switch (kind)
    {
    case _glyph_8bit:
    {
        const uint32_t keep = 65535u - (transparency >> 8);
        for (int32_t r = 0; r < h; ++r)
        {
            uint8_t *row = text_row(destination, y + r) + x;
            const uint8_t *source = pixels + (sy + r) * gw + sx;
            for (int32_t c = 0; c < w; ++c)
            {
                const int32_t p = source[c];
                if (p == 255) continue;
                const int32_t ink = 255 - (int32_t)(((uint32_t)(255 - p) * keep) >> 16);
                if (ink < row[c]) row[c] = (uint8_t)ink;
            }
        }
        break;
    }
    case _glyph_555:
    case _glyph_565:
    {
        const bool is_555 = kind == _glyph_555;
        const uint16_t packed = is_555 ? rgb_color_to_pixel16_555(color) : rgb_color_to_pixel16_565(color);
        const int32_t sr = is_555 ? (packed >> 10) & 31 : packed >> 11;
        const int32_t sg = is_555 ? (packed >> 5) & 31 : (packed >> 6) & 31;
        const int32_t sb = packed & 31;
        for (int32_t r = 0; r < h; ++r)
        {
            uint8_t *row = text_row(destination, y + r) + 2 * x;
            const uint8_t *source = pixels + (sy + r) * gw + sx;
            for (int32_t c = 0; c < w; ++c)
            {
                const int32_t p = source[c];
                if (p == 255) continue;
                if (p == 0 && !t4)
                {
                    store_pixel16(row + 2 * c, packed);
                    continue;
                }
                const uint8_t *t = levels->of_nibble[p >> 4];
                const uint16_t d = load_pixel16(row + 2 * c);
                if (is_555)
                    store_pixel16(row + 2 * c, (uint16_t)(t[((d >> 10) & 31) * 32 + sr] << 10 | t[((d >> 5) & 31) * 32 + sg] << 5 |
                                                    t[(d & 31) * 32 + sb]));
                else
                    store_pixel16(row + 2 * c, (uint16_t)(t[(d >> 11) * 32 + sr] << 11 | t[((d >> 6) & 31) * 32 + sg] << 6 |
                                                    t[(d & 31) * 32 + sb]));
            }
        }
        break;
    }
    case _glyph_32bit:
    {
        const uint32_t packed = 0xFF000000u | rgb_color_to_pixel32(color);
        const int32_t sr = (packed >> 19) & 31, sg = (packed >> 11) & 31, sb = (packed >> 3) & 31;
        for (int32_t r = 0; r < h; ++r)
        {
            uint8_t *row = text_row(destination, y + r) + 4 * x;
            const uint8_t *source = pixels + (sy + r) * gw + sx;
            for (int32_t c = 0; c < w; ++c)
            {
                const int32_t p = source[c];
                if (p == 255) continue;
                if (p == 0 && !t4)
                {
                    store_pixel32(row + 4 * c, packed);
                    continue;
                }
                const uint8_t *t = levels->of_nibble[p >> 4];
                const uint32_t d = load_pixel32(row + 4 * c);
                // Each destination channel's 5 bits, times 32, index a row of the level.
                store_pixel32(row + 4 * c, 0xFF000000u | (uint32_t)t[((d >> 14) & 0x3E0) + sr] << 19 |
                                         (uint32_t)t[((d >> 6) & 0x3E0) + sg] << 11 |
                                         (uint32_t)t[((d << 2) & 0x3E0) + sb] << 3);
            }
        }
        break;
    }
    case _glyph_hardware:
    {
        int16_t ax, ay;
        if (!get_hardware_font_character_origin(glyph, &ax, &ay)) break;
        const uint32_t argb = (255u - ((transparency >> 8) & 255)) << 24 | (uint32_t)(color->red >> 8) << 16 |
                              (uint32_t)(color->green >> 8) << 8 | (color->blue >> 8);
        draw_character_to_hardware_frame_buffer(destination, glyph, argb, (int16_t)x, (int16_t)y, (int16_t)(ax + sx),
                                                (int16_t)(ay + sy), (int16_t)w, (int16_t)h);
        break;
    }
    default: break;
    }
}

// Draws bytes [0, line_length) of `string` with the baseline at `y` from
// `x`; returns the cursor x after the last glyph.
static int32_t _draw_string(bitmap_data *destination, int32_t kind, int32_t x, int32_t y, const rectangle2d *bounds,
                            const rectangle2d *clip, int32_t font_index, int16_t style, const rgb_color *color,
                            const char *string, int32_t line_length, bool color_codes, fixed_fraction transparency,
                            const glyph_level_tables *levels)
{
    rectangle2d area = {0, 0, destination->height, destination->width};
    bool visible = true;
    if (bounds) visible = intersect_rectangles2d(&area, bounds, &area);
    if (visible && clip) visible = intersect_rectangles2d(&area, clip, &area);
    parse_string_state state = fresh_parse_string_state(string, style);
    int16_t color_index = NONE;
    const rgb_color *ink = color;
    while (state.string_index < line_length)
    {
        const int16_t parsed = parse_string(&state);
        if (parsed == _parsed_end_of_string) break;
        if (parsed == _parsed_end_of_line) continue;
        const font_character *glyph = get_font_character(font_index, state.style, state.character);
        if (!glyph) continue;
        if (state.color_index != color_index)
        {
            color_index = state.color_index;
            ink = color_codes && color_index != NONE ? &text_colors[color_index] : color;
        }
        if (visible)
        {
            int32_t left = x - glyph->bitmap_origin_x, top = y - glyph->bitmap_origin_y;
            int32_t right = left + glyph->bitmap_width, bottom = top + glyph->bitmap_height;
            int32_t sx = 0, sy = 0;
            if (left < area.left) sx = area.left - left, left = area.left;
            if (top < area.top) sy = area.top - top, top = area.top;
            if (right > area.right) right = area.right;
            if (bottom > area.bottom) bottom = area.bottom;
            if (right > left && bottom > top)
                draw_glyph(destination, kind, glyph, left, top, sx, sy, right - left, bottom - top, ink, transparency, levels);
        }
        x += glyph->character_width;
    }
    return x;
}

static bool is_white_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The start of the character that ends at `length` of `buffer`.
static int32_t previous_boundary(const char *buffer, int32_t length)
{
    int32_t start = 0, size;
    while (start < length)
    {
        decode_character(buffer, start, &size);
        if (start + size >= length) break;
        start += size;
    }
    return start;
}

// Cuts `string` to fit `available` pixels into `buffer`, ending it with the
// truncation string; false when it is drawn as it is.
static bool truncate_string(int32_t font_index, int16_t style, const char *string, int32_t available,
                            char buffer[TEXT_BUFFER_SIZE])
{
    char truncation[TEXT_BUFFER_SIZE];
    strlcpy(truncation, text_list_entry(_string_index_truncation_string), sizeof(truncation));
    const size_t string_length = strlen(string);
    if (string_length && string[string_length - 1] == '\r' && strlen(truncation) + 1 < sizeof(truncation))
        strcat(truncation, "\r");
    const size_t truncation_length = strlen(truncation);
    if (string_length + truncation_length >= TEXT_BUFFER_SIZE - 1) return false;
    memcpy(buffer, string, string_length + 1);
    const char *illegal = text_list_entry(_string_index_illegal_truncation_characters);
    int32_t length = (int32_t)string_length;
    while (length > 0)
    {
        if (string_width(font_index, style, buffer) < available) break;
        length = previous_boundary(buffer, length);
        if (is_white_space(buffer[length]))
        {
            buffer[length] = 0;
            continue;
        }
        while (length > 0)
        {
            const int32_t before = previous_boundary(buffer, length);
            int32_t size;
            if (!character_in_pattern(decode_character(buffer, before, &size), illegal)) break;
            length = before;
        }
        memcpy(buffer + length, truncation, truncation_length + 1);
    }
    return length > 0;
}

void draw_string(bitmap_data *destination, point2d *origin, const rectangle2d *bounds, const rectangle2d *clip,
                 int32_t font_index, int16_t style, const rgb_color *color, const char *string, uint32_t flags,
                 fixed_fraction transparency)
{
    const font_definition *font = get_font_definition(font_index);
    if (!destination || !font || !string || !color) return;
    int32_t kind;
    const uint8_t *table = nullptr;
    if (destination->flags & (_1bit_transparency_encoded_flag | _4bit_light_mask_encoded_flag |
                              _4bit_transparency_encoded_flag | _grayscale_bitmap_flag))
    {
        VPAUSE("draw_string(): a run-length, two-byte or grey-scale destination");
        return;
    }
    if (is_hardware_encoding(destination->encoding))
    {
        if (!VASSERT(global_hardware_font, "global_hardware_font")) return;
        kind = _glyph_hardware;
        // Glyphs of the atlas's own font go in ahead, so that the line's
        // glyphs rarely evict each other.
        int32_t index = 0;
        for (uint32_t c; (c = get_next_character(string, &index)) != 0;)
        {
            const font_character *glyph = lookup_glyph(global_hardware_font->font_index, c);
            int16_t ax, ay;
            if (glyph) get_hardware_font_character_origin(glyph, &ax, &ay);
        }
    }
    else if (destination->logical_bit_depth == 8) kind = _glyph_8bit;
    else if (destination->encoding == _16bit_555_encoding) kind = _glyph_555;
    else if (destination->encoding == _16bit_565_encoding) kind = _glyph_565;
    else if (destination->encoding == _32bit_encoding) kind = _glyph_32bit;
    else
    {
        char text[64];
        snprintf(text, sizeof(text), "bitmap @%p has bad encoding #%d", (void *)destination, destination->encoding);
        HALT(text);
        return;
    }
    if (kind == _glyph_555 || kind == _glyph_565 || kind == _glyph_32bit)
    {
        table = get_transparency_table(_transparency_normal);
        if (!table) return;
    }

    glyph_level_tables levels;
    build_glyph_level_tables(&levels, table, transparency);
    const rectangle2d whole = {0, 0, destination->height, destination->width};
    const rectangle2d *frame = bounds ? bounds : &whole;
    char buffer[TEXT_BUFFER_SIZE];
    const char *text = string;
    if (!(flags & _draw_string_wrap_flag) &&
        truncate_string(font_index, style, string, frame->right - font->leading_width - frame->left, buffer))
        text = buffer;

    const int32_t ascending = font->ascending_height, descending = font->descending_height;
    const int32_t spacing = ascending + descending + font->leading_height;
    const int32_t left = frame->left + font->leading_width;
    const int32_t first_baseline = (flags & _draw_string_bottom_justified_flag) ? frame->bottom - descending
                                                                               : frame->top + ascending;
    int32_t end_x = left, baseline = first_baseline;
    const char *rest = text;
    for (int32_t line = 0;; ++line)
    {
        int32_t y = (flags & _draw_string_bottom_justified_flag) ? frame->bottom - descending - line * spacing
                                                                : frame->top + ascending + line * spacing;
        if (flags & _draw_string_center_vertical_flag)
            y = frame->top + ascending + ((frame->bottom - frame->top - ascending - descending) >> 1);
        int32_t x = left;
        if (origin)
        {
            y += origin->y;
            if (line == 0) x += origin->x;
        }
        wrap_string_result wrapped;
        wrap_string(rest, style, font_index, frame->right - x, flags, &wrapped);
        const uint32_t alignment = flags & (_draw_string_center_horizontal_flag | _draw_string_right_justified_flag);
        if (alignment == _draw_string_center_horizontal_flag)
            x = frame->left + ((frame->right - frame->left - wrapped.line_width) >> 1);
        else if (alignment == _draw_string_right_justified_flag)
            x = frame->right - font->leading_width - wrapped.line_width;
        end_x = x;
        if (!((flags & _draw_string_prevent_partial_vertical_clipping_flag) && y >= frame->bottom))
        {
            if (flags & _draw_string_shadow_flag)
                // The shadow stays inside the frame too: a pixel past it would
                // lie on the neighbouring item, which does not redraw it.
                _draw_string(destination, kind, x + DROP_SHADOW_OFFSET, y + DROP_SHADOW_OFFSET, frame, clip,
                             font_index, style, &rgb_black, rest, wrapped.line_length, false, transparency, &levels);
            end_x = _draw_string(destination, kind, x, y, frame, clip, font_index, style, color, rest,
                                 wrapped.line_length, (flags & _draw_string_color_codes_flag) != 0, transparency, &levels);
        }
        baseline = y;
        style = wrapped.style;
        if (wrapped.state == _wrap_string_end_of_string || wrapped.line_length <= 0) break;
        rest += wrapped.line_length;
    }
    if (origin)
    {
        origin->x = (int16_t)(end_x - left);
        origin->y = (int16_t)(baseline - first_baseline);
    }
}

// ---- the hardware glyph atlas ------------------------------------------------------------------------

bitmap_data *initialize_hardware_font(int32_t font_index)
{
    dispose_hardware_font();
    hardware_font *atlas = (hardware_font *)calloc(1, sizeof(hardware_font));
    if (!atlas) return nullptr;
    atlas->bitmap = new_bitmap(HARDWARE_BITMAP_WIDTH, HARDWARE_BITMAP_HEIGHT, 0, _8bit_encoding, 0);
    if (!atlas->bitmap)
    {
        free(atlas);
        return nullptr;
    }
    memset(atlas->bitmap->row_addresses[0], 0, (size_t)HARDWARE_BITMAP_WIDTH * HARDWARE_BITMAP_HEIGHT);
    atlas->font_index = (int16_t)font_index;
    global_hardware_font = atlas;
    return atlas->bitmap;
}

void dispose_hardware_font(void)
{
    if (!global_hardware_font) return;
    dispose_bitmap(global_hardware_font->bitmap);
    free(global_hardware_font);
    global_hardware_font = nullptr;
}

bitmap_data *hardware_font_changed(void)
{
    if (!global_hardware_font || !(global_hardware_font->bitmap->flags & _bitmap_changed_flag)) return nullptr;
    global_hardware_font->bitmap->flags &= ~_bitmap_changed_flag;
    return global_hardware_font->bitmap;
}

const hardware_font *get_hardware_font(void) { return global_hardware_font; }

static void evict_slot(hardware_character *slot)
{
    slot->character = 0;
    slot->glyph = nullptr;
}

// The ring holds the slots from read_index up to write_index.
static bool slot_is_live(const hardware_font *atlas, int32_t slot)
{
    const int32_t age = (slot - atlas->read_index + MAXIMUM_HARDWARE_CHARACTERS) % MAXIMUM_HARDWARE_CHARACTERS;
    const int32_t live = (atlas->write_index - atlas->read_index + MAXIMUM_HARDWARE_CHARACTERS) % MAXIMUM_HARDWARE_CHARACTERS;
    return age < live;
}

static bool cache_glyph(hardware_font *atlas, const font_character *glyph)
{
    const int32_t slot_index = glyph->hardware_character_index;
    if (slot_index >= 0 && slot_index < MAXIMUM_HARDWARE_CHARACTERS && atlas->characters[slot_index].glyph == glyph)
        return true;
    const int32_t w = glyph->bitmap_width, h = glyph->bitmap_height;
    // A glyph as wide or tall as the atlas could never fit in it.
    if (w < 0 || h < 0 || w >= HARDWARE_BITMAP_WIDTH || h >= HARDWARE_BITMAP_HEIGHT) return false;
    if (atlas->x0 + w + 1 > HARDWARE_BITMAP_WIDTH)
    {
        atlas->x0 = 0;
        atlas->y0 = (int16_t)(atlas->y0 + atlas->maximum_character_height);
        atlas->maximum_character_height = 0;
    }
    if (atlas->y0 + h + 1 > HARDWARE_BITMAP_HEIGHT)
    {
        atlas->x0 = atlas->y0 = atlas->maximum_character_height = 0;
    }
    if (h + 1 > atlas->maximum_character_height) atlas->maximum_character_height = (int16_t)(h + 1);
    // Every live slot the new glyph and its gutter would cover goes.
    const int32_t x0 = atlas->x0, y0 = atlas->y0, x1 = x0 + w + 1, y1 = y0 + h + 1;
    for (int32_t i = 0; i < MAXIMUM_HARDWARE_CHARACTERS; ++i)
    {
        hardware_character *slot = &atlas->characters[i];
        if (!slot->glyph || !slot_is_live(atlas, i)) continue;
        if (slot->x0 < x1 && x0 < slot->x0 + slot->width + 1 && slot->y0 < y1 && y0 < slot->y0 + slot->height + 1)
            evict_slot(slot);
    }
    // The oldest slot goes when the ring is full.
    const int16_t index = atlas->write_index;
    atlas->write_index = (int16_t)((atlas->write_index + 1) % MAXIMUM_HARDWARE_CHARACTERS);
    if (atlas->write_index == atlas->read_index)
    {
        evict_slot(&atlas->characters[atlas->read_index]);
        atlas->read_index = (int16_t)((atlas->read_index + 1) % MAXIMUM_HARDWARE_CHARACTERS);
    }
    while (atlas->read_index != atlas->write_index && !atlas->characters[atlas->read_index].glyph &&
           atlas->read_index != index)
        atlas->read_index = (int16_t)((atlas->read_index + 1) % MAXIMUM_HARDWARE_CHARACTERS);
    hardware_character *slot = &atlas->characters[index];
    slot->character = glyph->character;
    slot->x0 = (int16_t)x0;
    slot->y0 = (int16_t)y0;
    slot->width = (int16_t)w;
    slot->height = (int16_t)h;
    slot->glyph = glyph;
    const_cast<font_character *>(glyph)->hardware_character_index = index;
    const uint8_t *pixels = font_character_pixels(glyph);
    uint8_t *base = atlas->bitmap->row_addresses[0];
    const int32_t pitch = atlas->bitmap->bytes_per_row;
    for (int32_t r = 0; r <= h; ++r)
    {
        uint8_t *row = base + (y0 + r) * pitch + x0;
        for (int32_t c = 0; c <= w; ++c) row[c] = (uint8_t)(r < h && c < w ? 255 - pixels[r * w + c] : 0);
    }
    atlas->x0 = (int16_t)(atlas->x0 + w + 1);
    atlas->bitmap->flags |= _bitmap_changed_flag;
    return true;
}

bool get_hardware_font_character_origin(const font_character *glyph, int16_t *x, int16_t *y)
{
    if (!global_hardware_font || !glyph) return false;
    if (!cache_glyph(global_hardware_font, glyph)) return false;
    const int32_t slot = glyph->hardware_character_index;
    if (!VASSERT(slot >= 0 && slot < MAXIMUM_HARDWARE_CHARACTERS,
                 "font_character->hardware_character_index>=0 && font_character->hardware_character_index<MAXIMUM_HARDWARE_CHARACTERS"))
        return false;
    const hardware_character *entry = &global_hardware_font->characters[slot];
    if (entry->glyph != glyph) return false;
    *x = entry->x0;
    *y = entry->y0;
    return true;
}

// ---- hit-testing and matching ----------------------------------------------------------------------------

static bool is_two_byte_code(uint32_t character) { return character > 255; }

bool string_starts_with_fuzzy(const char *string, const char *prefix)
{
    int32_t s = 0, p = 0;
    while ((uint8_t)string[s] >= 1 && (uint8_t)string[s] <= 32) ++s;
    while ((uint8_t)prefix[p] >= 1 && (uint8_t)prefix[p] <= 32) ++p;
    for (;;)
    {
        if (!prefix[p]) return true;
        if (!string[s]) return false;
        int32_t size;
        const uint32_t character = decode_character(string, s, &size);
        if (is_two_byte_code(character) || size == 2)
        {
            s += size;
            continue;
        }
        uint8_t a = (uint8_t)string[s], b = (uint8_t)prefix[p];
        if (a >= 'A' && a <= 'Z') a = (uint8_t)(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = (uint8_t)(b - 'A' + 'a');
        if (a != b) return false;
        ++s;
        ++p;
    }
}

bool find_string_click_point(int32_t font_index, int16_t style, const char *string, int32_t pixel_offset,
                             int32_t *end_index)
{
    if (!VASSERT(*end_index >= 0, "end_index>=0")) return false;
    if (*end_index > TEXT_BUFFER_SIZE - 2) return true;
    char buffer[TEXT_BUFFER_SIZE];
    int32_t length = 0;
    while (length < *end_index && string[length]) ++length;
    memcpy(buffer, string, (size_t)length);
    buffer[length] = 0;
    // The start of the character before every boundary, and the boundaries.
    int16_t before[TEXT_BUFFER_SIZE];
    bool boundary[TEXT_BUFFER_SIZE] = {};
    boundary[0] = true;
    for (int32_t i = 0, size; i < length; i += size)
    {
        decode_character(buffer, i, &size);
        if (i + size > length) size = length - i;
        before[i + size] = (int16_t)i;
        boundary[i + size] = true;
    }
    length = 0;
    while (length < *end_index && string[length]) ++length;
    // The cut falls on a character boundary.
    while (length > 0 && !boundary[length]) --length;
    buffer[length] = 0;
    int32_t width = string_width(font_index, style, buffer);
    while (width > pixel_offset && length > 0)
    {
        int32_t excess = (int32_t)(((int64_t)(width - pixel_offset) * length) / (2 * (int64_t)(width > 0 ? width : 1)));
        while (excess > 3 && length > 0)
        {
            excess -= length - before[length];
            length = before[length];
        }
        if (length > 0) length = before[length];
        while (length > 0)
        {
            int32_t size;
            if (!is_two_byte_code(decode_character(buffer, length, &size))) break;
            length = before[length];
        }
        buffer[length] = 0;
        width = string_width(font_index, style, buffer);
    }
    // The jump back may pass the point: walk forward to the last boundary
    // that still fits, so that the middle test below weighs one character.
    int32_t end = length;
    for (;;)
    {
        int32_t next = end, size;
        do
        {
            decode_character(string, next, &size);
            next += size;
        } while (size && next < *end_index && is_escape(decode_character(string, next, &size)));
        if (!size || next > *end_index || next >= TEXT_BUFFER_SIZE - 1) break;
        memcpy(buffer, string, (size_t)next);
        buffer[next] = 0;
        const int32_t next_width = string_width(font_index, style, buffer);
        if (next_width > pixel_offset)
        {
            // Past the middle of that character: the boundary after it.
            if ((next_width - width) / 2 + width < pixel_offset) end = next;
            break;
        }
        end = next;
        width = next_width;
    }
    *end_index = end;
    return true;
}

bool find_string_click_point_wrapped(int32_t font_index, int16_t style, const char *string, int32_t width,
                                     int32_t pixel_x, int32_t pixel_y, int32_t *end_index)
{
    const font_definition *font = get_font_definition(font_index);
    if (!font || pixel_y < 0) return false;
    const int32_t line_height = font->ascending_height + font->descending_height + font->leading_height;
    if (line_height <= 0) return false;
    int32_t start = 0;
    while (pixel_y >= line_height)
    {
        wrap_string_result line;
        wrap_string(string + start, style, font_index, width, _draw_string_wrap_flag, &line);
        if (line.state != _wrap_string_end_of_line || line.line_length <= 0) return false;
        start += line.line_length;
        pixel_y -= line_height;
    }
    int32_t end = *end_index - start;
    if (end < 0) end = 0;
    if (!find_string_click_point(font_index, style, string + start, pixel_x, &end)) return false;
    *end_index = end + start;
    return true;
}

bool find_string_wrap_point(int32_t font_index, int16_t style, const char *string, int32_t width,
                            int32_t start_index, int32_t *end_index)
{
    char text[96];
    if (width < 1) width = 32767;
    if (!VASSERT(*end_index >= start_index, "*end_index>=start_index")) return false;
    if (*end_index - start_index >= TEXT_BUFFER_SIZE - 1) return true;
    char buffer[TEXT_BUFFER_SIZE];
    int32_t length = 0;
    while (length < *end_index - start_index && string[start_index + length]) ++length;
    memcpy(buffer, string + start_index, (size_t)length);
    buffer[length] = 0;
    const char *can_end = text_list_entry(_string_index_can_end_words);
    while (length > 0 && string_width(font_index, style, buffer) >= width)
    {
        int32_t position = length;
        for (;;)
        {
            position = previous_boundary(buffer, position);
            int32_t size;
            const uint32_t character = decode_character(buffer, position, &size);
            if (!is_two_byte_code(character) && character_in_pattern(character, can_end)) break;
            if (position == 0) break;
        }
        length = position;
        buffer[length] = 0;
    }
    const int32_t old_end = *end_index;
    if (length > 0)
    {
        if (start_index + length > old_end)
        {
            snprintf(text, sizeof(text), "start: %d adjusted: %d end: %d", (int)start_index, (int)(start_index + length),
                     (int)old_end);
            VWARN(false, text);
        }
        *end_index = start_index + length;
    }
    return *end_index == old_end;
}

bool get_link_url_at_string_position(const char *string, int32_t position, char *buffer, int32_t buffer_size)
{
    parse_string_state state = fresh_parse_string_state(string, NONE);
    int32_t link = NONE, index_after = 0;
    for (;;)
    {
        const int16_t parsed = parse_string(&state);
        if (link != NONE && state.url_start_index != link && position > link && position < state.string_index)
        {
            if (buffer_size > 0)
            {
                int32_t size = index_after - link;
                if (size > buffer_size - 1) size = buffer_size - 1;
                if (size < 0) size = 0;
                memcpy(buffer, string + link, (size_t)size);
                buffer[size] = 0;
            }
            return true;
        }
        if (parsed == _parsed_end_of_string) return false;
        link = state.url_start_index;
        index_after = state.string_index;
    }
}

const char *get_check_mark_string(void) { return font_globals.language == _language_roman ? "\xC3" : "!"; }

int16_t get_application_country_code(void) { return (int16_t)atoi(text_list_entry(_string_index_country_code)); }

// ---- registration -------------------------------------------------------------------------------------------

static bool startup_fonts(void) { return initialize_font_definitions(); }
static bool empty_font_stores(const new_game_data *)
{
    initialize_font_definitions_for_new_map();
    return true;
}
static void dispose_font_stores(void) { dispose_font_definitions_from_old_map(); }

void register_bitmap_text_hooks(void)
{
    register_startup_procedure(_startup_fonts, startup_fonts);
    register_map_store_procedures(_startup_fonts, empty_font_stores, dispose_font_stores);
    register_load_font_character_data_procedure(fetch_font_character_data);
}
