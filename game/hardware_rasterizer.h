#pragma once
// What the 2D graphics, collections and the renderer ask of a hardware
// rasterizer back end, in one table that the back end registers.  Until it
// does, the null back end answers: software only, no square textures needed,
// sprites in 32 bits.  With the null back end no bitmap of a hardware
// encoding exists, so none ever reaches a software drawer.
//
// Main thread only.

#include <cstdint>

struct hardware_rasterizer_procedures
{
    // Whether textures must be square (the texture sizes of bitmaps).
    bool (*requires_square_textures)(void);
    // The bit depth and encoding sprites are prepared in with a hardware rasterizer.
    void (*get_shapes_bit_depth_and_encoding)(int16_t *bit_depth, int16_t *encoding);
};

// The back end's table, kept by pointer (it must outlive the program's use).
// Every procedure of it must be given.
typedef const hardware_rasterizer_procedures *(*hardware_rasterizer_table_procedure)(void);
bool register_hardware_rasterizer_procedure(hardware_rasterizer_table_procedure procedure);

// True for the frame-buffer encodings owned by a hardware rasterizer (15-19).
bool is_hardware_encoding(int16_t encoding);

bool rasterizer_requires_square_textures(void);
void get_shapes_bit_depth_and_encoding_hardware(int16_t *bit_depth, int16_t *encoding);
