// Image files: the BMP writer, the PNG and JPEG encoders into memory, the
// high-level writer that leaves no partial file, and the screenshot settings.

#include "image_files.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <jpeglib.h>
#include <png.h>

#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "cseries/cseries.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "game_hooks.h"
#include "iniparser3.0b/inifile.h"

namespace {

enum
{
    BMP_FILE_HEADER_SIZE = 14,
    BMP_INFO_HEADER_SIZE = 40,
    BMP_HEADERS_SIZE = BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE, // 54
    BMP_BITFIELDS_SIZE = 12,
    BMP_GREY_PALETTE_COLORS = 256,
};

struct screenshot_globals
{
    screenshot_settings settings;
} screenshot_globals;

// ---- little-endian output ---------------------------------------------------------------

void put_le16(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
void put_le32(uint8_t *p, uint32_t v)
{
    put_le16(p, v & 0xFFFF);
    put_le16(p + 2, v >> 16);
}

// A flat bitmap of the encoding the writers take, with a row table we can walk.
bool is_flat_bitmap(const bitmap_data *bitmap)
{
    if (!bitmap || bitmap->width <= 0 || bitmap->height <= 0) return false;
    if (bitmap->flags & (_1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag)) return false;
    const int32_t depth = get_encoding_byte_depth(bitmap->encoding);
    return depth > 0 && bitmap->bytes_per_row >= bitmap->width * depth && bitmap->row_addresses[0] != nullptr;
}

const uint8_t *bitmap_row(const bitmap_data *bitmap, int32_t y)
{
    return bitmap->row_addresses[0] + (ptrdiff_t)y * bitmap->bytes_per_row;
}

// The palette entry of index i: the table's colour (high bytes), or grey.
void palette_color(const color_table *table, int32_t i, uint8_t *red, uint8_t *green, uint8_t *blue)
{
    if (!table)
    {
        *red = *green = *blue = (uint8_t)i;
        return;
    }
    if (i >= table->color_count)
    {
        *red = *green = *blue = 0;
        return;
    }
    *red = (uint8_t)(table->colors[i].red >> 8);
    *green = (uint8_t)(table->colors[i].green >> 8);
    *blue = (uint8_t)(table->colors[i].blue >> 8);
}

bool color_table_is_usable(const color_table *table)
{
    return !table || (table->color_count > 0 && table->color_count <= MAXIMUM_COLORS_PER_TABLE);
}

// Writes `bytes` or fails the whole file.
bool write_all(file_reference *file, const void *bytes, size_t size)
{
    return size <= (size_t)INT32_MAX && file_write(file, (int32_t)size, bytes);
}

// ---- the 24-bit copy the encoders take --------------------------------------------------

// A new 24-bit bitmap of the same size holding `bitmap` as red, green, blue
// bytes; null when it cannot be converted or allocated.  8-bit pixels go
// through the palette (the copier draws 8-bit sources only into 8, 16 and 32
// bits, so converting them here keeps uninitialised memory out of the file).
bitmap_data *make_24bit_copy(const bitmap_data *bitmap, const color_table *table)
{
    if (!is_flat_bitmap(bitmap)) return nullptr;
    switch (bitmap->encoding)
    {
    case _16bit_555_encoding:
    case _16bit_565_encoding:
    case _32bit_encoding:
    case _8bit_encoding:
        break;
    default:
        return nullptr;
    }
    if (!color_table_is_usable(table)) return nullptr;
    bitmap_data *copy = new_bitmap(bitmap->width, bitmap->height, 0, _24bit_encoding, _bitmap_extended_encoding_flag);
    if (!copy) return nullptr;
    if (bitmap->encoding == _8bit_encoding)
    {
        for (int32_t y = 0; y < bitmap->height; ++y)
        {
            const uint8_t *in = bitmap_row(bitmap, y);
            uint8_t *out = copy->row_addresses[0] + (ptrdiff_t)y * copy->bytes_per_row;
            for (int32_t x = 0; x < bitmap->width; ++x, out += 3)
                palette_color(table, in[x], &out[0], &out[1], &out[2]);
        }
        return copy;
    }
    if (choose_copy_bitmap_mode(copy, bitmap, false, 0) == NONE)
    {
        free(copy);
        return nullptr;
    }
    copy_bitmap(copy, nullptr, bitmap, nullptr, nullptr, 0, nullptr);
    return copy;
}

// ---- JPEG error handling: libjpeg's default handler exits the process -------------------

struct jpeg_failure
{
    jpeg_error_mgr manager;
    jmp_buf jump;
    unsigned char *buffer; // the encoder's output, grown by it: freed after a failure
    unsigned long length;
};

[[noreturn]] void jpeg_failed(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    log_message(__FILE__, __LINE__, "the JPEG encoder failed: %s", text);
    longjmp(((jpeg_failure *)info->err)->jump, 1);
}

void jpeg_quiet(j_common_ptr, int) {}

// ---- the settings ---------------------------------------------------------------------

const screenshot_settings default_screenshot_settings = {
    "jpg", "png", "png", DEFAULT_JPEG_QUALITY, true, false,
};

// "png" and "jpg" in any case become lower case; anything else is a BMP.
void normalize_format(char *format)
{
    if (strcasecmp(format, "png") == 0) strcpy(format, "png");
    else if (strcasecmp(format, "jpg") == 0) strcpy(format, "jpg");
    else strcpy(format, "bmp");
}

void verify_screenshot_settings(void *target)
{
    screenshot_settings *settings = (screenshot_settings *)target;
    normalize_format(settings->hardware_ingame_format);
    normalize_format(settings->software_ingame_format);
    normalize_format(settings->outgame_format);
    if (settings->jpeg_quality > 100) settings->jpeg_quality = 100;
    if (settings->jpeg_quality <= 0) settings->jpeg_quality = 1;
}

const inifile_entry screenshot_entries[] = {
    {"HardwareIngameFormat", _inifile_string, offsetof(screenshot_settings, hardware_ingame_format),
     SCREENSHOT_FORMAT_SIZE, 0, 0},
    {"SoftwareIngameFormat", _inifile_string, offsetof(screenshot_settings, software_ingame_format),
     SCREENSHOT_FORMAT_SIZE, 0, 0},
    {"OutgameFormat", _inifile_string, offsetof(screenshot_settings, outgame_format), SCREENSHOT_FORMAT_SIZE, 0, 0},
    {"JpegQuality", _inifile_integer, offsetof(screenshot_settings, jpeg_quality), 0, 0, 0},
    {"PlayScreenshotSound", _inifile_boolean, offsetof(screenshot_settings, play_screenshot_sound), 0, 0, 0},
    {"ShowConsoleMessage", _inifile_boolean, offsetof(screenshot_settings, show_console_message), 0, 0, 0},
    {nullptr, 0, 0, 0, 0, 0},
};

const inifile_section screenshot_section = {
    "Screenshots",
    nullptr,
    verify_screenshot_settings,
    screenshot_entries,
    &screenshot_globals.settings,
    &default_screenshot_settings,
    sizeof(screenshot_settings),
};

bool startup_screenshots(void) { return initialize_screenshots(); }

// Makes `directory` (components separated by '/') under the program's
// directory; false when a component is not allowed or cannot be made.
bool make_directory_reference(file_reference *reference, const char *directory)
{
    // A leading '/' names the directory from the root; otherwise it lies in the program's.
    file_reference_create(reference, directory && directory[0] == '/' ? _file_reference_absolute
                                                                       : _file_reference_application_relative);
    char component[MAXIMUM_FILE_NAME];
    const char *p = directory ? directory : "";
    while (*p)
    {
        const char *slash = strchr(p, '/');
        const size_t length = slash ? (size_t)(slash - p) : strlen(p);
        if (length >= sizeof(component)) return false;
        memcpy(component, p, length);
        component[length] = 0;
        if (length > 0 && !file_reference_add_directory(reference, component)) return false;
        p += length + (slash ? 1 : 0);
    }
    return file_exists(reference) || file_create(reference);
}

} // namespace

// ---- BMP --------------------------------------------------------------------------------

bool write_bitmap_to_file(const bitmap_data *bitmap, const color_table *table, file_reference *file)
{
    if (!bitmap || !file) return false;
    const int16_t encoding = bitmap->encoding;
    if (encoding != _16bit_555_encoding && encoding != _16bit_565_encoding && encoding != _32bit_encoding &&
        encoding != _8bit_encoding)
        return false;
    if (!is_flat_bitmap(bitmap)) return false;
    if (encoding == _8bit_encoding && !color_table_is_usable(table))
    {
        log_message(__FILE__, __LINE__, "a colour table of %d colours cannot be a BMP palette", table->color_count);
        return false;
    }

    const bool indexed = encoding == _8bit_encoding;
    const bool bitfields = encoding == _16bit_555_encoding || encoding == _16bit_565_encoding;
    const int32_t colors = !indexed ? 0 : table ? table->color_count : BMP_GREY_PALETTE_COLORS;
    const int32_t depth = get_encoding_byte_depth(encoding);
    const size_t row_bytes = (size_t)bitmap->width * (size_t)depth;
    const size_t padded_row = (row_bytes + 3) & ~(size_t)3;
    const size_t offset = BMP_HEADERS_SIZE + (bitfields ? BMP_BITFIELDS_SIZE : 0) + 4 * (size_t)colors;

    uint8_t header[BMP_HEADERS_SIZE + BMP_BITFIELDS_SIZE + 4 * MAXIMUM_COLORS_PER_TABLE] = {};
    header[0] = 'B';
    header[1] = 'M';
    // The file size (2) and reserved words (6) stay 0.
    put_le32(header + 10, (uint32_t)offset);
    put_le32(header + 14, BMP_INFO_HEADER_SIZE);
    put_le32(header + 18, (uint32_t)bitmap->width);
    put_le32(header + 22, (uint32_t)-(int32_t)bitmap->height); // rows run top to bottom
    put_le16(header + 26, 1);
    put_le16(header + 28, (uint32_t)bitmap->logical_bit_depth);
    put_le32(header + 30, bitfields ? 3 : 0);
    // Image size (34), pixels per metre (38, 42) stay 0.
    put_le32(header + 46, (uint32_t)colors);
    // Important colours (50) stay 0.
    uint8_t *p = header + BMP_HEADERS_SIZE;
    if (encoding == _16bit_555_encoding)
    {
        put_le32(p, 0x7C00);
        put_le32(p + 4, 0x3E0);
        put_le32(p + 8, 0x1F);
    }
    else if (encoding == _16bit_565_encoding)
    {
        put_le32(p, 0xF800);
        put_le32(p + 4, 0x7E0);
        put_le32(p + 8, 0x1F);
    }
    for (int32_t i = 0; i < colors; ++i, p += 4)
        palette_color(table, i, &p[2], &p[1], &p[0]); // blue, green, red, 0
    if (!write_all(file, header, offset)) return false;

    uint8_t *row = (uint8_t *)calloc(padded_row, 1);
    if (!row) return false;
    bool written = true;
    for (int32_t y = 0; written && y < bitmap->height; ++y)
    {
        const uint8_t *in = bitmap_row(bitmap, y);
        // Pixels are host words in memory and little-endian in the file.
        if (depth == 2)
            for (int32_t x = 0; x < bitmap->width; ++x)
            {
                uint16_t v;
                memcpy(&v, in + 2 * x, 2);
                put_le16(row + 2 * x, v);
            }
        else if (depth == 4)
            for (int32_t x = 0; x < bitmap->width; ++x)
            {
                uint32_t v;
                memcpy(&v, in + 4 * x, 4);
                put_le32(row + 4 * x, v);
            }
        else memcpy(row, in, row_bytes);
        written = write_all(file, row, padded_row);
    }
    free(row);
    return written;
}

// ---- encoders ---------------------------------------------------------------------------

uint8_t *compress_image_to_png_file_in_memory(const uint8_t *pixels, int32_t width, int32_t height,
                                              int32_t row_bytes, int32_t *size)
{
    if (size) *size = 0;
    if (!pixels || !size || width <= 0 || height <= 0 || row_bytes < width * 3) return nullptr;
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = (png_uint_32)width;
    image.height = (png_uint_32)height;
    image.format = PNG_FORMAT_RGB;
    // One pass into room for the largest PNG these pixels can make, then the
    // rest given back: measuring first would compress every image twice.
    png_alloc_size_t length = PNG_IMAGE_PNG_SIZE_MAX(image);
    if (length > (png_alloc_size_t)INT32_MAX)
    {
        log_message(__FILE__, __LINE__, "a %dx%d image is too large to encode as PNG", width, height);
        return nullptr;
    }
    uint8_t *buffer = (uint8_t *)malloc(length);
    if (!buffer) return nullptr;
    if (!png_image_write_to_memory(&image, buffer, &length, 0, pixels, row_bytes, nullptr) || length == 0)
    {
        log_message(__FILE__, __LINE__, "the PNG encoder failed: %s", image.message);
        png_image_free(&image);
        free(buffer);
        return nullptr;
    }
    if (uint8_t *fitted = (uint8_t *)realloc(buffer, length)) buffer = fitted;
    *size = (int32_t)length;
    return buffer;
}

uint8_t *compress_image_to_jpeg_file_in_memory(const uint8_t *pixels, int32_t width, int32_t height,
                                               int32_t channels, int32_t quality, int32_t *size)
{
    if (size) *size = 0;
    if (!pixels || !size || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return nullptr;
    if (channels != 1 && channels != 3 && channels != 4) return nullptr;
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;

    // What the handler needs after the jump lives in memory the encoder was
    // handed (the failure record), not in registers.
    jpeg_compress_struct info;
    jpeg_failure failure;
    memset(&info, 0, sizeof(info));
    failure.buffer = nullptr;
    failure.length = 0;
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jpeg_failed;
    failure.manager.emit_message = jpeg_quiet;
    if (setjmp(failure.jump))
    {
        jpeg_destroy_compress(&info);
        free(failure.buffer);
        return nullptr;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &failure.buffer, &failure.length); // grows as the encoder needs
    info.image_width = (JDIMENSION)width;
    info.image_height = (JDIMENSION)height;
    info.input_components = channels;
    info.in_color_space = channels == 1 ? JCS_GRAYSCALE : channels == 3 ? JCS_RGB : JCS_EXT_RGBX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.optimize_coding = FALSE; // one pass
    if (channels != 1)
    {
        info.comp_info[0].h_samp_factor = 2; // 2 x 2 chroma
        info.comp_info[0].v_samp_factor = 2;
        info.comp_info[1].h_samp_factor = info.comp_info[1].v_samp_factor = 1;
        info.comp_info[2].h_samp_factor = info.comp_info[2].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height)
    {
        JSAMPROW row = (JSAMPROW)(pixels + (size_t)info.next_scanline * (size_t)width * (size_t)channels);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    uint8_t *buffer = failure.buffer;
    const unsigned long length = failure.length;
    if (length == 0 || length > (unsigned long)INT32_MAX)
    {
        free(buffer);
        return nullptr;
    }
    *size = (int32_t)length;
    return buffer;
}

// ---- the high-level writer --------------------------------------------------------------

// The writer of both entry points; with `taken` (not null) the file is made
// exclusively and `*taken` tells that the name was on disk already.
static bool write_bitmap_file(const bitmap_data *bitmap, const color_table *table, const char *directory,
                              const char *filename, const char *extension, int32_t quality, bool *taken)
{
    if (taken) *taken = false;
    if (!bitmap || !filename || !extension) return false;
    char name[MAXIMUM_IMAGE_FILE_NAME];
    const int written_name = snprintf(name, sizeof(name), "%s.%s", filename, extension);
    if (written_name < 0 || written_name >= (int)sizeof(name))
    {
        log_message(__FILE__, __LINE__, "the image file name '%s.%s' is too long", filename, extension);
        return false;
    }
    file_reference file;
    if (!make_directory_reference(&file, directory))
    {
        log_message(__FILE__, __LINE__, "the directory '%s' cannot be made", directory ? directory : "");
        return false;
    }
    if (!file_reference_set_name(&file, name))
    {
        log_message(__FILE__, __LINE__, "'%s' cannot name a file", name);
        return false;
    }

    const bool png = strcasecmp(extension, "png") == 0;
    const bool jpg = strcasecmp(extension, "jpg") == 0;
    bitmap_data *copy = nullptr;
    const bitmap_data *pixels = bitmap;
    if ((png || jpg) && bitmap->encoding != _24bit_encoding)
    {
        copy = make_24bit_copy(bitmap, table);
        if (!copy)
        {
            log_message(__FILE__, __LINE__, "a bitmap of encoding %d cannot be converted for '%s'",
                        bitmap->encoding, name);
            return false;
        }
        pixels = copy;
    }
    else if ((png || jpg) && !is_flat_bitmap(bitmap))
        return false;

    if (taken ? !file_create_exclusive(&file, taken) : !file_create(&file))
    {
        free(copy);
        return false;
    }
    if (!file_open(&file, _permission_write_flag))
    {
        file_delete(&file);
        free(copy);
        return false;
    }

    bool success;
    if (png || jpg)
    {
        int32_t size = 0;
        uint8_t *encoded;
        if (png)
            encoded = compress_image_to_png_file_in_memory(pixels->row_addresses[0], pixels->width, pixels->height,
                                                           pixels->bytes_per_row, &size);
        else if (pixels->bytes_per_row == pixels->width * 3)
            encoded = compress_image_to_jpeg_file_in_memory(pixels->row_addresses[0], pixels->width,
                                                            pixels->height, 3, quality, &size);
        else encoded = nullptr; // a caller's 24-bit bitmap with padded rows
        success = encoded && file_write(&file, size, encoded);
        free(encoded);
    }
    else success = write_bitmap_to_file(bitmap, table, &file);

    if (!file_close(&file)) success = false;
    if (!success) file_delete(&file);
    free(copy);
    return success;
}

bool write_bitmap_to_file_highlevel(const bitmap_data *bitmap, const color_table *table, const char *directory,
                                    const char *filename, const char *extension, int32_t quality)
{
    return write_bitmap_file(bitmap, table, directory, filename, extension, quality, nullptr);
}

bool write_bitmap_to_new_file(const bitmap_data *bitmap, const color_table *table, const char *directory,
                              const char *filename, const char *extension, int32_t quality, bool *taken)
{
    bool own_taken;
    return write_bitmap_file(bitmap, table, directory, filename, extension, quality, taken ? taken : &own_taken);
}

// ---- settings ---------------------------------------------------------------------------

bool initialize_screenshots(void)
{
    inifile_readsec(&screenshot_section);
    return true;
}

const screenshot_settings *get_screenshot_settings(void) { return &screenshot_globals.settings; }

void register_image_file_hooks(void) { register_startup_procedure(_startup_screenshots, startup_screenshots); }
