#pragma once
// Writes the data of a collection ('.256') tag from host-order pieces: the
// data tool's "collection" and "landscape" commands build collections with
// it, tests build every stored form it knows.  Not used by the game.
//
// Pictures are drawn by code into a bitmap's pixel grid (one 16-bit value a
// pixel: a colour index in the low byte and, for two-byte pixels, the
// transparency nibble in the high byte; a 16-bit colour for 16-bit bitmaps);
// the value BUILDER_TRANSPARENT leaves a pixel out of a run-length row.

#include <cstdint>
#include <string>
#include <vector>

#include "shapes.h"

enum builder_bitmap_form
{
    _builder_flat_8bit = 0, // one byte a pixel, no row table, encoding unspecified
    _builder_rle_8bit, // run-length rows of single-byte pixels
    _builder_rle_8bit_nibble, // run-length rows of index-and-nibble pixels
    _builder_flat_8bit_nibble, // flat rows of index-and-nibble pixels
    _builder_flat_16bit, // flat 16-bit 565 pixels
    _builder_flat_8bit_rows, // one byte a pixel, with a row table (pictures read row by row)
    NUMBER_OF_BUILDER_BITMAP_FORMS
};

const uint16_t BUILDER_TRANSPARENT = 0xFFFF;

struct builder_bitmap
{
    std::string name;
    int16_t width = 0, height = 0;
    int32_t form = _builder_flat_8bit;
    std::vector<uint16_t> pixels; // width x height, row by row
};

struct builder_sequence
{
    std::string name;
    sequence_data data = {}; // frames_per_view and the frame-data flag are set from `frames`
    std::vector<std::vector<int16_t>> frames; // one instance index per view
    std::vector<int16_t> frame_shadow_maps; // per frame; NONE when shorter
};

struct builder_collection
{
    uint32_t user_data_flags = 0;
    color_table colors = {};
    std::vector<hue_change> hue_changes;
    std::vector<builder_bitmap> bitmaps;
    std::vector<bitmap_instance_data> instances;
    std::vector<builder_sequence> sequences;
    std::vector<shadow_map_data> shadow_maps;
    std::vector<uint8_t> blend_table; // empty, or 65536 bytes
    std::vector<uint8_t> remapping_table;
};

// A blank picture of the size and form, every pixel `value`.
builder_bitmap new_builder_bitmap(const std::string &name, int16_t width, int16_t height, int32_t form, uint16_t value);

// Drawing by code into a builder bitmap (clipped to it).
void builder_fill_rectangle(builder_bitmap *bitmap, int32_t left, int32_t top, int32_t right, int32_t bottom,
                            uint16_t value);
void builder_fill_ellipse(builder_bitmap *bitmap, int32_t cx, int32_t cy, int32_t rx, int32_t ry, uint16_t value);
// Colour indexes first..last, top to bottom, over the rectangle.
void builder_vertical_gradient(builder_bitmap *bitmap, int32_t left, int32_t top, int32_t right, int32_t bottom,
                               uint8_t first, uint8_t last);
// Every transparent pixel beside an opaque one becomes `value`.
void builder_outline(builder_bitmap *bitmap, uint16_t value);

// An instance of bitmap `bitmap` with its registration and key points.
bitmap_instance_data builder_instance(int16_t bitmap, int16_t rx, int16_t ry, int16_t kx, int16_t ky, uint32_t flags = 0);

// A sequence's defaults: one view, one tick a frame, no key or loop frame,
// scale 1.0, no sounds.
builder_sequence new_builder_sequence(const std::string &name);

// Adds the mirrored views' instances of a sequence whose frames give only the
// views drawn unmirrored (each a copy of its source's).  Null when all is
// well, else why not.
const char *complete_builder_sequence(builder_sequence *sequence, builder_collection *collection);

// The stored tag data: the 320-byte header, then the data block.  Empty when
// a size does not fit its stored field.
std::vector<uint8_t> build_collection_tag_data(const builder_collection &collection);
