#pragma once
// Image files: a bitmap written as the program's own BMP, as PNG or as JPEG,
// and the power-user settings of screenshots (the "Screenshots" section).
// PNG and JPEG are encoded into memory first and then written by the program,
// so a file on disk is either whole or gone: every failure deletes it.
//
// Main thread only.

#include <cstdint>

struct bitmap_data;
struct color_table;
struct file_reference;

enum screenshot_type
{
    _screenshot_type_none = 0,
    _screenshot_type_capture = 1,
    _screenshot_type_mega = 2,
    NUMBER_OF_SCREENSHOT_TYPES
};

enum
{
    // Bytes of "<filename>.<extension>" with its terminator.
    MAXIMUM_IMAGE_FILE_NAME = 4096,
    SCREENSHOT_FORMAT_SIZE = 16,
    DEFAULT_JPEG_QUALITY = 95,
};

// The "Screenshots" section after normalisation: every format is "png",
// "jpg" or "bmp", the quality lies in 1..100.
struct screenshot_settings
{
    char hardware_ingame_format[SCREENSHOT_FORMAT_SIZE]; // OpenGL renderer in a game
    char software_ingame_format[SCREENSHOT_FORMAT_SIZE]; // software renderer in a game
    char outgame_format[SCREENSHOT_FORMAT_SIZE]; // menus and dialogs
    int32_t jpeg_quality;
    bool play_screenshot_sound;
    bool show_console_message;
};

// Writes `bitmap` as a BMP (40-byte information header, rows top to bottom
// padded with zeros to four bytes) at the current position of the open
// `file`.  Written: flat 555, 565 and 32-bit bitmaps, and flat 8-bit ones with
// `table` as their palette (null: 256 greys).  False, with nothing written,
// for any other bitmap and for a table of no colours or more than 256; false
// as soon as a write fails (what was written stays: the caller deletes it).
bool write_bitmap_to_file(const bitmap_data *bitmap, const color_table *table, file_reference *file);

// Writes "<filename>.<extension>" in `directory` (relative to the program's
// directory, or from the root when it starts with '/'; made when missing;
// components separated by '/').  "png" and
// "jpg" (any case) encode a 24-bit copy of the bitmap: 555, 565 and 32-bit
// bitmaps are copied by the copier, flat 8-bit ones through `table` (null:
// greys, as the BMP writer's palette); `quality` (1..100) is the JPEG's.  Any
// other extension writes the BMP above.  False, with no file left behind, when
// the name does not fit, the directory or file cannot be made, the bitmap
// cannot be converted or encoded, or a write fails.
bool write_bitmap_to_file_highlevel(const bitmap_data *bitmap, const color_table *table, const char *directory,
                                    const char *filename, const char *extension, int32_t quality);

// The same into a file of that name that does not exist yet, created
// exclusively: a file on disk, another program's as well, is never replaced.
// False with `*taken` true when the name is on disk already (nothing
// written; the caller tries another name).
bool write_bitmap_to_new_file(const bitmap_data *bitmap, const color_table *table, const char *directory,
                              const char *filename, const char *extension, int32_t quality, bool *taken);

// Encodes `width` x `height` pixels of `channels` bytes (1 grey, 3 red green
// blue, 4 red green blue and an ignored byte), rows `width` x `channels` bytes
// apart, as a baseline JPEG of `quality` (clamped to 1..100) with 2 x 2 chroma
// subsampling in one pass.  The buffer (free it with free()) and its length in
// `size`; null when the arguments are unusable or the encoder fails.
uint8_t *compress_image_to_jpeg_file_in_memory(const uint8_t *pixels, int32_t width, int32_t height,
                                               int32_t channels, int32_t quality, int32_t *size);

// The same as PNG of red, green and blue bytes (8 bits a channel), rows
// `row_bytes` apart; null on failure.
uint8_t *compress_image_to_png_file_in_memory(const uint8_t *pixels, int32_t width, int32_t height,
                                              int32_t row_bytes, int32_t *size);

// Reads the "Screenshots" section of the power-user file and normalises it.
// Called once at start-up; true (the section cannot fail: bad values are
// normalised).
bool initialize_screenshots(void);
const screenshot_settings *get_screenshot_settings(void);

// Registers initialize_screenshots as its start-up step.
void register_image_file_hooks(void);
