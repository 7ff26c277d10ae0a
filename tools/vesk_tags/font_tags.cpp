// The data tool's "font" command.  See font_tags.h.

#include "font_tags.h"
#include "tool_support.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "bitmap_text.h"
#include "font_builder.h"

enum
{
    FONT_LEADING_MARGIN = 2,
};

static int font_usage(void)
{
    fprintf(stderr, "usage: vesk_tags font OUT --subgroup S --name N (--test | --face FILE --size PIXELS [--underline])\n"
                    "       [--italic T] [--bold T] [--condensed T] [--underlined T]\n");
    return 2;
}

// The Unicode character drawn for byte `code`.
static uint32_t unicode_of(uint32_t code)
{
    if (code == 0xC3) return 0x2713; // the check mark
    if (code == 165) return 0x2022; // the mask of hidden text
    // The game's character set puts the single angle quotes here; the
    // password field's placeholder is framed by them.
    if (code == 0xDC) return 0x2039;
    if (code == 0xDD) return 0x203A;
    return code; // Latin-1
}

static bool render_face(const char *path, int32_t size, bool underline, builder_font *font, std::string *why)
{
    FT_Library library;
    if (FT_Init_FreeType(&library)) return *why = "FreeType cannot start", false;
    FT_Face face;
    if (FT_New_Face(library, path, 0, &face))
    {
        FT_Done_FreeType(library);
        return *why = "not a font FreeType reads", false;
    }
    bool ok = FT_Set_Pixel_Sizes(face, 0, (FT_UInt)size) == 0;
    if (ok)
    {
        font->ascending_height = (int16_t)((face->size->metrics.ascender + 63) >> 6);
        font->descending_height = (int16_t)((-face->size->metrics.descender + 63) >> 6);
        const int32_t line = (int32_t)((face->size->metrics.height + 63) >> 6);
        // The face's own gap between lines, and two pixels more: the
        // interface takes two from its small font's leading, and its wrapped
        // lines must still clear each other's accents and descenders.
        font->leading_height = (int16_t)((line > font->ascending_height + font->descending_height
                                              ? line - font->ascending_height - font->descending_height : 0) +
                                         FONT_LEADING_MARGIN);
    }
    // The underline: a row (two from 20 pixels up) just below the baseline.
    const int32_t thickness = size >= 20 ? 2 : 1, under_top = 1;
    for (uint32_t code = 32; ok && code < 256; ++code)
    {
        if (code >= 127 && code < 160) continue;
        if (FT_Load_Char(face, unicode_of(code), FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL)) continue;
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap &bitmap = slot->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY && bitmap.width) continue;
        builder_glyph g;
        g.character = (uint16_t)code;
        g.advance = (int16_t)((slot->advance.x + 32) >> 6);
        // Glyph box relative to the cursor (x right, y down from the baseline).
        int32_t left = slot->bitmap_left, top = -slot->bitmap_top;
        int32_t right = left + (int32_t)bitmap.width, bottom = top + (int32_t)bitmap.rows;
        if (!bitmap.width || !bitmap.rows) left = top = right = bottom = 0;
        const bool underlined = underline && g.advance > 0;
        int32_t box_left = left, box_top = top, box_right = right, box_bottom = bottom;
        if (underlined)
        {
            if (box_right == box_left) box_left = box_right = 0, box_top = box_bottom = under_top;
            if (0 < box_left) box_left = 0;
            if (g.advance > box_right) box_right = g.advance;
            if (under_top < box_top) box_top = under_top;
            if (under_top + thickness > box_bottom) box_bottom = under_top + thickness;
        }
        g.width = (int16_t)(box_right - box_left);
        g.height = (int16_t)(box_bottom - box_top);
        g.origin_x = (int16_t)-box_left;
        g.origin_y = (int16_t)-box_top;
        g.pixels.assign((size_t)g.width * g.height, 255);
        for (int32_t r = 0; r < (int32_t)bitmap.rows; ++r)
            for (int32_t c = 0; c < (int32_t)bitmap.width; ++c)
                g.pixels[(size_t)(top + r - box_top) * g.width + (left + c - box_left)] =
                    (uint8_t)(255 - bitmap.buffer[r * bitmap.pitch + c]);
        if (underlined)
            for (int32_t r = under_top; r < under_top + thickness; ++r)
                for (int32_t c = 0; c < g.advance; ++c) g.pixels[(size_t)(r - box_top) * g.width + (c - box_left)] = 0;
        font->glyphs.push_back(g);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    if (!ok) *why = "the size cannot be set";
    return ok;
}

int font_tags_command(int argc, char **argv)
{
    if (argc < 3) return font_usage();
    const char *out = argv[2], *name = nullptr, *face = nullptr;
    tag subgroup = NONE;
    tag styles[NUMBER_OF_FONT_STYLES] = {NONE, NONE, NONE, NONE};
    int64_t size = 0;
    bool test = false, underline = false;
    for (int i = 3; i < argc; i++)
    {
        const std::string option = argv[i];
        const bool has_value = i + 1 < argc;
        if (option == "--subgroup" && has_value) { if (!tool_parse_code(argv[++i], false, &subgroup)) return font_usage(); }
        else if (option == "--name" && has_value) name = argv[++i];
        else if (option == "--face" && has_value) face = argv[++i];
        else if (option == "--size" && has_value) { if (!tool_parse_argument_number(argv[++i], 4, 200, &size)) return font_usage(); }
        else if (option == "--test") test = true;
        else if (option == "--underline") underline = true;
        else if ((option == "--italic" || option == "--bold" || option == "--condensed" || option == "--underlined") && has_value)
        {
            const int32_t style = option == "--italic" ? _font_style_italic : option == "--bold" ? _font_style_bold
                                : option == "--condensed" ? _font_style_condensed : _font_style_underlined;
            if (!tool_parse_code(argv[++i], true, &styles[style])) return font_usage();
        }
        else return font_usage();
    }
    if (subgroup == NONE || !name || test == (face != nullptr) || (face && !size)) return font_usage();
    builder_font font;
    std::string why;
    if (test) font = make_test_font();
    else if (!render_face(face, (int32_t)size, underline, &font, &why)) return tool_refuse(face, why.c_str());
    for (int32_t i = 0; i < NUMBER_OF_FONT_STYLES; ++i) font.style_font_tags[i] = styles[i];
    const std::vector<uint8_t> data = build_font_tag_data(font);
    return tool_write_local_tag_file(out, FONT_DEFINITION_GROUP_TAG, subgroup, FONT_DEFINITION_VERSION_NUMBER, 0, name,
                                     data.data(), (int32_t)data.size())
               ? 0
               : 1;
}
