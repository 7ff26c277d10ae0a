#pragma once
// The OpenGL back end's test picture and context for tools and tests: a
// window with a live OpenGL context under the back end's own set-up, texel
// blocks of every uploadable encoding made in memory, and one textured quad
// per encoding 7..12 made through the texture cache and its upload callbacks,
// drawn and read back.

#include <cstdint>
#include <vector>

#include "hardware/texture_cache.h"

struct bitmap_data;
struct screen_parameters;

// Opens SDL video and the OpenGL window of `width` x `height` on the current
// display, reads the device and starts the rasterizer for a map (settings,
// remembered state, programs).  False with a one-line reason when no usable
// OpenGL device is found.  `prefs` must outlive the context.
bool start_gl_pattern_context(int32_t width, int32_t height, screen_parameters *prefs, const char **reason);
// Ends the rasterizer's map and closes SDL.
void stop_gl_pattern_context(void);

// 8-bit red, green, blue, alpha packed into one texel of `encoding` (7..12),
// written at `texel` (2, 3 or 4 bytes).
void encode_texel(int32_t encoding, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha, uint8_t *texel);
// Bytes per texel of encodings 7..12 (0 for others).
int32_t texel_bytes(int32_t encoding);

enum
{
    GL_PATTERN_COLUMNS = 3,
    GL_PATTERN_ROWS = 2,
    GL_PATTERN_CELL = 128, // each quad is drawn in a cell of this size ...
    GL_PATTERN_QUAD = 96, // ... at this size, centred
    GL_PATTERN_TEXTURE = 64, // texels of each pattern
    GL_PATTERN_WIDTH = GL_PATTERN_COLUMNS * GL_PATTERN_CELL,
    GL_PATTERN_HEIGHT = GL_PATTERN_ROWS * GL_PATTERN_CELL,
};

// The 8-bit colour (0xRRGGBB) that fills the middle of encoding's pattern.
uint32_t gl_pattern_centre_color(int32_t encoding);
// The texels of encoding's pattern: a white frame, the centre colour, and a
// dark square in the top-left corner of the middle (so a flipped picture shows).
std::vector<uint8_t> gl_pattern_texels(int32_t encoding);
// The pixel at the centre of encoding's quad in the frame.
void gl_pattern_quad_centre(int32_t encoding, int32_t *x, int32_t *y);

// Makes a bitmap of each encoding's pattern, looks its texture up in the
// running rasterizer's cache (which makes it through the upload callbacks),
// draws the six quads into the back buffer and reads the frame back (a 32-bit
// bitmap: free()).  Null when there is no cache or a texture could not be
// made.  The cache is flushed and the bitmaps disposed before returning.
bitmap_data *draw_gl_pattern(void);
