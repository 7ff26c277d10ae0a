// Font tag data for tools and tests.  See font_builder.h.

#include "font_builder.h"

#include <cstring>

#include "cseries/byte_swapping.h"

std::vector<uint8_t> build_font_tag_data(const builder_font &font)
{
    std::vector<uint8_t> block;
    for (const builder_glyph &g : font.glyphs)
    {
        font_character record = {};
        record.character = g.character;
        record.character_width = g.advance;
        record.bitmap_width = g.width;
        record.bitmap_height = g.height;
        record.bitmap_origin_x = g.origin_x;
        record.bitmap_origin_y = g.origin_y;
        record.hardware_character_index = NONE;
        byte_swap_data("font character", &record, FONT_CHARACTER_HEADER_SIZE, 1, font_character_byte_swapping_data);
        const size_t start = block.size();
        block.resize(start + (size_t)font_character_record_size(g.width, g.height), 0);
        memcpy(block.data() + start, &record, sizeof(record));
        if (!g.pixels.empty()) memcpy(block.data() + start + FONT_CHARACTER_HEADER_SIZE, g.pixels.data(), g.pixels.size());
    }
    font_definition header = {};
    header.ascending_height = font.ascending_height;
    header.descending_height = font.descending_height;
    header.leading_height = font.leading_height;
    header.number_of_characters = (int32_t)font.glyphs.size();
    header.characters_offset = FONT_DEFINITION_SIZE;
    header.characters_size = (int32_t)block.size();
    for (int32_t i = 0; i < NUMBER_OF_FONT_STYLES; ++i) header.style_font_tags[i] = font.style_font_tags[i];
    for (int16_t &index : header.style_font_indexes) index = NONE;
    byte_swap_data("font definition", &header, FONT_DEFINITION_SIZE, 1, font_definition_byte_swapping_data);
    // One allocation and two copies: g++ 12 misreads a vector grown by insert
    // here as written past its end.
    std::vector<uint8_t> data(sizeof(header) + block.size());
    memcpy(data.data(), &header, sizeof(header));
    if (!block.empty()) memcpy(data.data() + sizeof(header), block.data(), block.size());
    return data;
}

static builder_glyph box_glyph(uint16_t character, int16_t advance, int16_t width, int16_t height)
{
    builder_glyph g;
    g.character = character;
    g.advance = advance;
    g.width = width;
    g.height = height;
    g.origin_x = 0;
    g.origin_y = TEST_FONT_INK_HEIGHT;
    g.pixels.assign((size_t)width * height, 0);
    return g;
}

builder_font make_test_font(void)
{
    builder_font font;
    font.ascending_height = TEST_FONT_ASCENDING;
    font.descending_height = TEST_FONT_DESCENDING;
    font.leading_height = TEST_FONT_LEADING;
    font.glyphs.push_back(box_glyph(' ', TEST_FONT_ADVANCE, 0, 0));
    for (uint16_t c = 33; c <= 126; ++c)
        font.glyphs.push_back(box_glyph(c, TEST_FONT_ADVANCE, TEST_FONT_INK_WIDTH, TEST_FONT_INK_HEIGHT));
    font.glyphs.push_back(box_glyph(0xC3, TEST_FONT_ADVANCE, TEST_FONT_INK_WIDTH, TEST_FONT_INK_HEIGHT));
    font.glyphs.push_back(box_glyph(165, TEST_FONT_ADVANCE, TEST_FONT_INK_WIDTH, TEST_FONT_INK_HEIGHT));
    for (uint16_t c : {0x8140, 0x8240, 0xA1A1})
        font.glyphs.push_back(box_glyph(c, 2 * TEST_FONT_ADVANCE, 2 * TEST_FONT_INK_WIDTH, TEST_FONT_INK_HEIGHT));
    return font;
}
