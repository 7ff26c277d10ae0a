#pragma once
// Writes the data of a font ('font') tag from host-order glyphs: the data
// tool's "font" command and the tests build fonts with it.  Not used by the
// game.  Also draws the fixed-advance test font, whose every measure is known
// by hand, so that widths, breaks, carets and golden pixels of tests never
// depend on a font renderer.

#include <cstdint>
#include <vector>

#include "bitmap_text.h"

struct builder_glyph
{
    uint16_t character = 0;
    int16_t advance = 0;
    int16_t width = 0, height = 0;
    int16_t origin_x = 0, origin_y = 0;
    std::vector<uint8_t> pixels; // width x height of inverse coverage: 0 full ink, 255 none
};

struct builder_font
{
    int16_t ascending_height = 0, descending_height = 0, leading_height = 0;
    tag style_font_tags[NUMBER_OF_FONT_STYLES] = {NONE, NONE, NONE, NONE};
    std::vector<builder_glyph> glyphs; // stored in this order
};

// The stored tag data: the 64-byte header, then the character block.
std::vector<uint8_t> build_font_tag_data(const builder_font &font);

// The fixed-advance test font: ascending 8, descending 2, leading 1.  Every
// byte 32..126 advances TEST_FONT_ADVANCE; 33..126, the check mark 0xC3 and
// the mask byte 165 are full-ink boxes TEST_FONT_INK_WIDTH x
// TEST_FONT_INK_HEIGHT whose top-left lies at (cursor x, baseline - 7); the
// space has no pixels.  The two-byte codes 0x8140, 0x8240 and 0xA1A1 advance
// twice as far with a box twice as wide.
enum
{
    TEST_FONT_ASCENDING = 8,
    TEST_FONT_DESCENDING = 2,
    TEST_FONT_LEADING = 1,
    TEST_FONT_ADVANCE = 6,
    TEST_FONT_INK_WIDTH = 4,
    TEST_FONT_INK_HEIGHT = 7,
};
builder_font make_test_font(void);
