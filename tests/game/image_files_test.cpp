// The image writers, checked by decoding what they write with an
// independent decoder (stb_image): BMP and PNG give back exactly the pixels
// written, JPEG close to them; the BMP header is byte-exact; a failed write
// leaves no file; the screenshot settings are normalised.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/stb_image_decoder.h"

#include "bitmaps.h"
#include "cseries/files.h"
#include "image_files.h"
#include "iniparser3.0b/inifile.h"
#include "support/scratch.h"

namespace image_files_test_file {

namespace {

struct decoded
{
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

decoded decode(const std::string &path)
{
    decoded d;
    const std::vector<uint8_t> bytes = read_file_bytes(path);
    if (bytes.empty()) return d;
    int channels = 0;
    uint8_t *pixels = stbi_load_from_memory(bytes.data(), (int)bytes.size(), &d.width, &d.height, &channels, 3);
    if (!pixels) return decoded();
    d.rgb.assign(pixels, pixels + (size_t)d.width * d.height * 3);
    stbi_image_free(pixels);
    return d;
}

bool exists(const std::string &path)
{
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

// A bitmap of `encoding` whose every pixel differs from its neighbours.
bitmap_data *make_pattern(int16_t encoding, int16_t width, int16_t height)
{
    bitmap_data *b = new_bitmap(width, height, 0, encoding, 0);
    for (int32_t y = 0; y < height; ++y)
    {
        uint8_t *row = b->row_addresses[0] + y * b->bytes_per_row;
        for (int32_t x = 0; x < width; ++x)
        {
            const uint32_t v = (uint32_t)(x * 37 + y * 101 + 11);
            switch (encoding)
            {
            case _8bit_encoding: row[x] = (uint8_t)(v % 4 == 3 ? 2 : v % 4); break;
            case _16bit_555_encoding:
            case _16bit_565_encoding:
            {
                const uint16_t p = (uint16_t)(v * 2654435761u >> 16);
                memcpy(row + 2 * x, &p, 2);
                break;
            }
            case _32bit_encoding:
            {
                const uint32_t p = (v * 2654435761u) & 0xFFFFFF;
                memcpy(row + 4 * x, &p, 4);
                break;
            }
            default: break;
            }
        }
    }
    return b;
}

color_table *make_table(int32_t count)
{
    color_table *t = (color_table *)calloc(1, sizeof(color_table));
    t->color_count = count;
    for (int32_t i = 0; i < count; ++i)
        t->colors[i] = {(uint16_t)(0x1234 + i * 0x3100), (uint16_t)(0xFFFF - i * 0x2200), (uint16_t)(i * 0x4455), 0};
    return t;
}

// What the pixel means as red, green, blue bytes.  5- and 6-bit channels
// widen by `five_bits` / `six_bits`: the BMP decoder repeats the high bits,
// the writers' 24-bit copy shifts left (and reads 565's green by its top
// five bits).
void expected_pixel(const bitmap_data *b, const color_table *t, int32_t x, int32_t y, bool copier, uint8_t out[3])
{
    const uint8_t *row = b->row_addresses[0] + y * b->bytes_per_row;
    auto widen5 = [&](uint32_t c) { return (uint8_t)(copier ? c << 3 : (c << 3) | (c >> 2)); };
    auto widen6 = [&](uint32_t c) { return (uint8_t)(copier ? (c >> 1) << 3 : (c << 2) | (c >> 4)); };
    switch (b->encoding)
    {
    case _8bit_encoding:
        if (t)
        {
            out[0] = (uint8_t)(t->colors[row[x]].red >> 8);
            out[1] = (uint8_t)(t->colors[row[x]].green >> 8);
            out[2] = (uint8_t)(t->colors[row[x]].blue >> 8);
        }
        else out[0] = out[1] = out[2] = row[x];
        break;
    case _16bit_555_encoding:
    {
        uint16_t p;
        memcpy(&p, row + 2 * x, 2);
        out[0] = widen5((p >> 10) & 31);
        out[1] = widen5((p >> 5) & 31);
        out[2] = widen5(p & 31);
        break;
    }
    case _16bit_565_encoding:
    {
        uint16_t p;
        memcpy(&p, row + 2 * x, 2);
        out[0] = widen5((p >> 11) & 31);
        out[1] = widen6((p >> 5) & 63);
        out[2] = widen5(p & 31);
        break;
    }
    case _32bit_encoding:
    {
        uint32_t p;
        memcpy(&p, row + 4 * x, 4);
        out[0] = (uint8_t)(p >> 16);
        out[1] = (uint8_t)(p >> 8);
        out[2] = (uint8_t)p;
        break;
    }
    }
}

void expect_pixels(const decoded &d, const bitmap_data *b, const color_table *t, bool copier, const char *label)
{
    ASSERT_EQ(d.width, b->width) << label;
    ASSERT_EQ(d.height, b->height) << label;
    int32_t wrong = 0;
    for (int32_t y = 0; y < b->height; ++y)
        for (int32_t x = 0; x < b->width; ++x)
        {
            uint8_t want[3];
            expected_pixel(b, t, x, y, copier, want);
            const uint8_t *got = &d.rgb[(size_t)(y * b->width + x) * 3];
            if (memcmp(want, got, 3) != 0 && wrong++ < 3)
                ADD_FAILURE() << label << " at " << x << "," << y << ": " << (int)got[0] << " " << (int)got[1]
                              << " " << (int)got[2] << " instead of " << (int)want[0] << " " << (int)want[1] << " "
                              << (int)want[2];
        }
    EXPECT_EQ(wrong, 0) << label;
}

uint32_t le32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
uint16_t le16(const std::vector<uint8_t> &b, size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); }

class image_files : public ::testing::Test
{
protected:
    scratch_directory scratch;
    void TearDown() override
    {
        set_file_step_procedure(nullptr);
        dispose_poweruser_settings();
    }
};

struct source_case
{
    const char *label;
    int16_t encoding;
    int32_t table_colors; // 0: no table
};
const source_case sources[] = {
    {"8-bit with a table", _8bit_encoding, 3},
    {"8-bit without a table", _8bit_encoding, 0},
    {"555", _16bit_555_encoding, 0},
    {"565", _16bit_565_encoding, 0},
    {"32-bit", _32bit_encoding, 0},
};

TEST_F(image_files, bmp_and_png_decode_to_the_pixels_written_from_every_source_encoding)
{
    for (const source_case &c : sources)
        for (const char *extension : {"bmp", "png", "PNG"})
        {
            bitmap_data *b = make_pattern(c.encoding, 7, 5); // odd width: padded BMP rows
            color_table *t = c.table_colors ? make_table(c.table_colors) : nullptr;
            const std::string label = std::string(c.label) + " as " + extension;
            ASSERT_TRUE(write_bitmap_to_file_highlevel(b, t, "shots", "picture", extension, 95)) << label;
            const decoded d = decode(std::string("shots/picture.") + extension);
            expect_pixels(d, b, t, strcmp(extension, "bmp") != 0, label.c_str());
            free(t);
            free(b);
        }
}

TEST_F(image_files, jpeg_of_a_gradient_stays_close_to_it_at_quality_95)
{
    bitmap_data *b = new_bitmap(96, 64, 0, _32bit_encoding, 0);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x)
        {
            const uint32_t p = (uint32_t)(x * 255 / 95) << 16 | (uint32_t)(y * 255 / 63) << 8 | (uint32_t)((x + y) * 255 / 158);
            memcpy(b->row_addresses[0] + y * b->bytes_per_row + 4 * x, &p, 4);
        }
    ASSERT_TRUE(write_bitmap_to_file_highlevel(b, nullptr, "shots", "gradient", "jpg", 95));
    const decoded d = decode("shots/gradient.jpg");
    // With VESK_IMAGE_FILES_OUT set to a directory, the JPEG and a PNG of the
    // same gradient are copied there, to be looked at.
    if (const char *out = getenv("VESK_IMAGE_FILES_OUT"))
    {
        ASSERT_TRUE(write_bitmap_to_file_highlevel(b, nullptr, "shots", "gradient", "png", 95));
        write_file_bytes(std::string(out) + "/gradient.jpg", read_file_bytes("shots/gradient.jpg"));
        write_file_bytes(std::string(out) + "/gradient.png", read_file_bytes("shots/gradient.png"));
    }
    ASSERT_EQ(d.width, 96);
    ASSERT_EQ(d.height, 64);
    double error = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x)
        {
            uint8_t want[3];
            expected_pixel(b, nullptr, x, y, true, want);
            for (int32_t k = 0; k < 3; ++k)
            {
                const double e = (double)want[k] - d.rgb[(size_t)(y * 96 + x) * 3 + k];
                error += e * e;
            }
        }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (error / (96 * 64 * 3)));
    EXPECT_GE(psnr, 35.0);
    free(b);

    // Images smaller than the JPEG headers still encode: the buffer grows.
    const uint8_t one[3] = {200, 100, 50};
    int32_t size = 0;
    uint8_t *tiny = compress_image_to_jpeg_file_in_memory(one, 1, 1, 3, 95, &size);
    ASSERT_NE(tiny, nullptr);
    int w = 0, h = 0, n = 0;
    uint8_t *back = stbi_load_from_memory(tiny, size, &w, &h, &n, 3);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(w, 1);
    EXPECT_NEAR(back[0], 200, 8);
    stbi_image_free(back);
    free(tiny);
    EXPECT_EQ(compress_image_to_jpeg_file_in_memory(one, 1, 1, 2, 95, &size), nullptr);
    EXPECT_EQ(compress_image_to_jpeg_file_in_memory(one, 0, 1, 3, 95, &size), nullptr);
}

TEST_F(image_files, bmp_headers_hold_the_offsets_masks_palette_and_zero_padding)
{
    file_reference file;
    // 16-bit 565 of width 3: 6 pixel bytes and 2 zero bytes a row, pixels at 66.
    {
        bitmap_data *b = make_pattern(_16bit_565_encoding, 3, 2);
        ASSERT_TRUE(write_bitmap_to_file_highlevel(b, nullptr, "", "sixteen", "bmp", 0));
        const std::vector<uint8_t> f = read_file_bytes("sixteen.bmp");
        ASSERT_EQ(f.size(), 66u + 2 * 8);
        EXPECT_EQ(f[0], 'B');
        EXPECT_EQ(f[1], 'M');
        EXPECT_EQ(le32(f, 2), 0u);
        EXPECT_EQ(le32(f, 10), 66u);
        EXPECT_EQ(le32(f, 14), 40u);
        EXPECT_EQ(le32(f, 18), 3u);
        EXPECT_EQ((int32_t)le32(f, 22), -2);
        EXPECT_EQ(le16(f, 26), 1);
        EXPECT_EQ(le16(f, 28), 16);
        EXPECT_EQ(le32(f, 30), 3u);
        EXPECT_EQ(le32(f, 46), 0u);
        EXPECT_EQ(le32(f, 54), 0xF800u);
        EXPECT_EQ(le32(f, 58), 0x7E0u);
        EXPECT_EQ(le32(f, 62), 0x1Fu);
        for (int32_t y = 0; y < 2; ++y)
        {
            EXPECT_EQ(memcmp(&f[66 + y * 8], b->row_addresses[0] + y * b->bytes_per_row, 6), 0);
            EXPECT_EQ(f[66 + y * 8 + 6], 0);
            EXPECT_EQ(f[66 + y * 8 + 7], 0);
        }
        free(b);
    }
    // 555 masks.
    {
        bitmap_data *b = make_pattern(_16bit_555_encoding, 2, 1);
        ASSERT_TRUE(write_bitmap_to_file_highlevel(b, nullptr, "", "five", "bmp", 0));
        const std::vector<uint8_t> f = read_file_bytes("five.bmp");
        ASSERT_GE(f.size(), 66u);
        EXPECT_EQ(le32(f, 54), 0x7C00u);
        EXPECT_EQ(le32(f, 58), 0x3E0u);
        EXPECT_EQ(le32(f, 62), 0x1Fu);
        free(b);
    }
    // 8-bit without a table: 256 greys, pixels at 1078.
    {
        bitmap_data *b = make_pattern(_8bit_encoding, 5, 1);
        ASSERT_TRUE(write_bitmap_to_file_highlevel(b, nullptr, "", "grey", "bmp", 0));
        const std::vector<uint8_t> f = read_file_bytes("grey.bmp");
        ASSERT_EQ(f.size(), 1078u + 8);
        EXPECT_EQ(le32(f, 10), 1078u);
        EXPECT_EQ(le16(f, 28), 8);
        EXPECT_EQ(le32(f, 30), 0u);
        EXPECT_EQ(le32(f, 46), 256u);
        for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(le32(f, 54 + 4 * i), i | i << 8 | i << 16) << i;
        EXPECT_EQ(f[1078 + 5], 0);
        free(b);
    }
    // 8-bit with a table of three colours: blue, green, red, 0 each, pixels at 66.
    {
        bitmap_data *b = make_pattern(_8bit_encoding, 4, 1);
        color_table *t = make_table(3);
        ASSERT_TRUE(write_bitmap_to_file_highlevel(b, t, "", "palette", "bmp", 0));
        const std::vector<uint8_t> f = read_file_bytes("palette.bmp");
        ASSERT_EQ(f.size(), 66u + 4);
        EXPECT_EQ(le32(f, 10), 66u);
        EXPECT_EQ(le32(f, 46), 3u);
        for (int32_t i = 0; i < 3; ++i)
        {
            EXPECT_EQ(f[54 + 4 * i + 0], t->colors[i].blue >> 8);
            EXPECT_EQ(f[54 + 4 * i + 1], t->colors[i].green >> 8);
            EXPECT_EQ(f[54 + 4 * i + 2], t->colors[i].red >> 8);
            EXPECT_EQ(f[54 + 4 * i + 3], 0);
        }
        free(t);
        free(b);
    }
    // 32-bit: no masks, pixels at 54, no padding.
    {
        bitmap_data *b = make_pattern(_32bit_encoding, 3, 1);
        ASSERT_TRUE(write_bitmap_to_file_highlevel(b, nullptr, "", "deep", "bmp", 0));
        const std::vector<uint8_t> f = read_file_bytes("deep.bmp");
        ASSERT_EQ(f.size(), 54u + 12);
        EXPECT_EQ(le32(f, 10), 54u);
        EXPECT_EQ(le16(f, 28), 32);
        free(b);
    }
    (void)file;
}

TEST_F(image_files, a_failed_write_leaves_no_file)
{
    bitmap_data *b = make_pattern(_32bit_encoding, 8, 8);
    bitmap_data *b24 = new_bitmap(4, 4, 0, _24bit_encoding, 0);
    memset(b24->row_addresses[0], 0x55, 4 * 4 * 3);

    // Bitmaps the writers do not take: nothing is written, nothing stays.
    EXPECT_FALSE(write_bitmap_to_file_highlevel(b24, nullptr, "shots", "wide", "bmp", 95));
    EXPECT_FALSE(exists("shots/wide.bmp"));
    bitmap_data *rle = make_pattern(_8bit_encoding, 4, 4);
    rle->flags |= _1bit_transparency_encoded_flag;
    for (const char *extension : {"png", "jpg", "bmp"})
    {
        EXPECT_FALSE(write_bitmap_to_file_highlevel(rle, nullptr, "shots", "rle", extension, 95)) << extension;
        EXPECT_FALSE(exists(std::string("shots/rle.") + extension)) << extension;
    }
    color_table *empty = make_table(0);
    bitmap_data *indexed = make_pattern(_8bit_encoding, 4, 4);
    EXPECT_FALSE(write_bitmap_to_file_highlevel(indexed, empty, "shots", "empty", "png", 95));
    EXPECT_FALSE(exists("shots/empty.png"));

    // A directory that cannot be made: a file holds its name.
    ASSERT_TRUE(write_whole_file("blocked", "x", 1));
    for (const char *extension : {"png", "jpg", "bmp"})
    {
        EXPECT_FALSE(write_bitmap_to_file_highlevel(b, nullptr, "blocked", "picture", extension, 95));
        EXPECT_FALSE(exists(std::string("blocked/picture.") + extension));
    }
    take_pending_error();

    // A disk that fails the write: the half-made file is deleted.
    set_file_step_procedure([](const char *step, const char *) { return strcmp(step, "write") != 0; });
    for (const char *extension : {"png", "jpg", "bmp"})
    {
        EXPECT_FALSE(write_bitmap_to_file_highlevel(b, nullptr, "shots", "failed", extension, 95)) << extension;
        EXPECT_FALSE(exists(std::string("shots/failed.") + extension)) << extension;
    }
    set_file_step_procedure(nullptr);
    take_pending_error();

    // A name past the limit is refused before anything is made.
    const std::string long_name(5000, 'a');
    EXPECT_FALSE(write_bitmap_to_file_highlevel(b, nullptr, "shots", long_name.c_str(), "png", 95));
    EXPECT_TRUE(write_bitmap_to_file_highlevel(b, nullptr, "shots", "fine", "png", 95));
    EXPECT_TRUE(exists("shots/fine.png"));

    free(empty);
    free(indexed);
    free(rle);
    free(b24);
    free(b);
}

TEST_F(image_files, screenshot_settings_are_normalised)
{
    struct settings_case
    {
        const char *text;
        const char *hardware, *software, *outgame;
        int32_t quality;
        bool sound, console;
    };
    const settings_case cases[] = {
        {"", "jpg", "png", "png", 95, true, false},
        {"[Screenshots]\nOutgameFormat = PNG\nHardwareIngameFormat = JpG\nSoftwareIngameFormat = tga\n", "jpg",
         "bmp", "png", 95, true, false},
        {"[Screenshots]\nJpegQuality = 0\n", "jpg", "png", "png", 1, true, false},
        {"[Screenshots]\nJpegQuality = -7\n", "jpg", "png", "png", 1, true, false},
        {"[Screenshots]\nJpegQuality = 250\nPlayScreenshotSound = 0\nShowConsoleMessage = yes\n", "jpg", "png",
         "png", 100, false, true},
        {"[Screenshots]\nOutgameFormat = jpeg\nSoftwareIngameFormat = pngpngpngpngpngpngpng\n", "jpg", "bmp", "bmp",
         95, true, false},
    };
    for (const settings_case &c : cases)
    {
        ASSERT_TRUE(load_poweruser_settings_from_buffer(c.text, strlen(c.text))) << c.text;
        ASSERT_TRUE(initialize_screenshots());
        const screenshot_settings *s = get_screenshot_settings();
        EXPECT_STREQ(s->hardware_ingame_format, c.hardware) << c.text;
        EXPECT_STREQ(s->software_ingame_format, c.software) << c.text;
        EXPECT_STREQ(s->outgame_format, c.outgame) << c.text;
        EXPECT_EQ(s->jpeg_quality, c.quality) << c.text;
        EXPECT_EQ(s->play_screenshot_sound, c.sound) << c.text;
        EXPECT_EQ(s->show_console_message, c.console) << c.text;
    }
}

} // namespace

} // namespace image_files_test_file
