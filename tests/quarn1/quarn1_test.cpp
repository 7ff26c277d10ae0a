// The image codec: round trips in every mode over many seeded images and the
// largest shapes, byte-exact agreement with a slow model written from the
// format description (header, block table, residue transforms, parameter and
// mode choice, padding and length), known streams, and refusal of damaged
// streams without reading past them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quarn1/quarn1.h"

namespace quarn1_test_file {

namespace {

typedef std::vector<uint8_t> bytes;

// ---- a slow model of the stream, one character per bit -------------------------

int model_zz(int d)
{
    const int8_t s = (int8_t)(uint8_t)(d & 255);
    return s >= 0 ? 2 * s : -2 * s - 1;
}

int model_pred(int a, int b, int c)
{
    const int lo = std::min(a, b), hi = std::max(a, b);
    if (c >= hi) return (int)std::floor((7.0 * lo + hi) / 8.0);
    if (c <= lo) return (int)std::floor((7.0 * hi + lo) / 8.0);
    return a + b - c;
}

bytes model_residues(const bytes &px, int w, int h, int mode)
{
    static const int roles[3][3] = {{0, 2, 1}, {1, 0, 2}, {2, 1, 0}};
    bytes out(px.size());
    auto at = [&](int x, int y, int c) { return (int)px[(size_t)(y * w + x) * 3 + c]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const int *r = (y == 0) ? roles[0] : roles[mode];
            const int p = r[0];
            auto d = [&](int xx, int yy, int s) { return at(xx, yy, p) - at(xx, yy, s); };
            int v[3];
            if (x == 0 && y == 0) v[0] = at(0, 0, 0), v[1] = at(0, 0, 1), v[2] = at(0, 0, 2);
            else if (y == 0)
                v[0] = model_zz(at(x - 1, 0, p) - at(x, 0, p)), v[1] = model_zz(d(x - 1, 0, r[1]) - d(x, 0, r[1])),
                v[2] = model_zz(d(x - 1, 0, r[2]) - d(x, 0, r[2]));
            else if (x == 0)
                v[0] = model_zz(at(0, y - 1, p) - at(0, y, p)), v[1] = model_zz(d(0, y - 1, r[1]) - d(0, y, r[1])),
                v[2] = model_zz(d(0, y - 1, r[2]) - d(0, y, r[2]));
            else
            {
                v[0] = model_zz(model_pred(at(x - 1, y, p), at(x, y - 1, p), at(x - 1, y - 1, p)) - at(x, y, p));
                for (int s = 1; s < 3; ++s)
                    v[s] = model_zz(model_pred(d(x - 1, y, r[s]), d(x, y - 1, r[s]), d(x - 1, y - 1, r[s])) -
                                    d(x, y, r[s]));
            }
            for (int s = 0; s < 3; ++s) out[(size_t)(y * w + x) * 3 + s] = (uint8_t)v[s];
        }
    return out;
}

int model_cost(const std::vector<int> &values, int k)
{
    int cost = 0;
    for (int v : values) cost += (v >> k) + 1 + k;
    return cost;
}

// The parameter of one block and slot, and its cost.
int model_k(const std::vector<int> &values, int *cost)
{
    bool zero = true;
    for (int v : values) zero = zero && v == 0;
    if (zero) return *cost = 0, 7;
    int best = model_cost(values, 0), k = 0;
    while (k < 6 && model_cost(values, k + 1) <= best) best = model_cost(values, ++k);
    *cost = best;
    return k;
}

std::string model_bits(unsigned value, int count)
{
    std::string s;
    for (int i = count - 1; i >= 0; --i) s += ((value >> i) & 1) ? '1' : '0';
    return s;
}

// The whole stream in `mode`, or the cheapest when mode is -1; `*bits` gets
// the table and residue bits.
bytes model_encode(const bytes &px, int w, int h, int mode, long *bits = nullptr)
{
    if (mode < 0)
    {
        long best = -1;
        for (int m = 0; m < 3; ++m)
        {
            long b;
            model_encode(px, w, h, m, &b);
            if (best < 0 || b < best) best = b, mode = m;
        }
    }
    const bytes r = model_residues(px, w, h, mode);
    const int bw = (w + 7) / 8, bh = (h + 7) / 8;
    std::vector<int> ks;
    long total = 0;
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx)
            for (int s = 0; s < 3; ++s)
            {
                std::vector<int> values;
                for (int y = by * 8; y < std::min(h, by * 8 + 8); ++y)
                    for (int x = bx * 8; x < std::min(w, bx * 8 + 8); ++x)
                        values.push_back(r[(size_t)(y * w + x) * 3 + s]);
                int cost;
                ks.push_back(model_k(values, &cost));
                total += cost;
            }
    total += 9L * bw * bh;
    if (bits) *bits = total;
    std::string s = model_bits(w, 12) + model_bits(h, 12) + model_bits(mode, 2);
    for (int k : ks) s += model_bits(k, 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int slot = 0; slot < 3; ++slot)
            {
                const int k = ks[(size_t)((y / 8) * bw + x / 8) * 3 + slot];
                if (k == 7) continue;
                const int v = r[(size_t)(y * w + x) * 3 + slot];
                s += std::string(v >> k, '1') + "0" + model_bits(v & ((1 << k) - 1), k);
            }
    EXPECT_EQ((long)s.size(), 26 + total);
    while (s.size() % 32) s += '0';
    s += std::string(32, '0');
    bytes out;
    for (size_t i = 0; i < s.size(); i += 32)
    {
        const unsigned word = (unsigned)std::stoul(s.substr(i, 32), nullptr, 2);
        for (int b = 0; b < 4; ++b) out.push_back((uint8_t)(word >> (8 * b)));
    }
    return out;
}

// ---- helpers over the codec ---------------------------------------------------------

bytes encode(const bytes &px, int w, int h, int mode = -1)
{
    uint8_t *stream = nullptr;
    int32_t length = 0;
    const bool ok = mode < 0 ? quarn1_encode(px.data(), w, h, &stream, &length)
                             : quarn1_encode_in_mode(px.data(), w, h, mode, &stream, &length);
    EXPECT_TRUE(ok) << w << " x " << h << " mode " << mode;
    bytes out(stream, stream + (ok ? length : 0));
    free(stream);
    return out;
}

bool decode(const bytes &stream, bytes *px, int32_t *w, int32_t *h)
{
    uint8_t *pixels;
    const bool ok = quarn1_decode(&pixels, w, h, stream.data(), (int32_t)stream.size());
    if (ok)
    {
        px->assign(pixels, pixels + (size_t)*w * *h * 3);
        free(pixels);
    }
    return ok;
}

// Noise, gradients, flat areas and a mix, as textures hold them.  The pixel
// noise comes from a cheap generator seeded by `rng`, to keep the thousand
// images fast under the sanitizers.
bytes seeded_image(std::mt19937 &rng, int w, int h)
{
    bytes px((size_t)w * h * 3);
    const int kind = (int)(rng() % 4);
    const int base[3] = {(int)(rng() % 256), (int)(rng() % 256), (int)(rng() % 256)};
    uint32_t state = rng() | 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
            {
                state ^= state << 13, state ^= state >> 17, state ^= state << 5;
                int v;
                switch (kind)
                {
                case 0: v = (int)(state >> 24); break;
                case 1: v = base[c] + x * (c + 1) + y * (3 - c); break;
                case 2: v = base[c]; break;
                default: v = base[c] + (int)(state >> 28) % 9 - 4 + ((x / 5 + y / 3) % 2) * 40; break;
                }
                px[(size_t)(y * w + x) * 3 + c] = (uint8_t)v;
            }
    return px;
}

void expect_round_trip(const bytes &px, int w, int h, int mode)
{
    const bytes stream = encode(px, w, h, mode);
    bytes back;
    int32_t bw, bh;
    ASSERT_TRUE(decode(stream, &back, &bw, &bh)) << w << " x " << h << " mode " << mode;
    EXPECT_EQ(bw, w);
    EXPECT_EQ(bh, h);
    EXPECT_TRUE(back == px) << w << " x " << h << " mode " << mode;
    if (mode >= 0)
    {
        EXPECT_EQ(quarn1_stream_mode(stream.data(), (int32_t)stream.size()), mode);
    }
}

bytes hex(const char *text)
{
    bytes out;
    for (const char *p = text; *p;)
    {
        if (*p == ' ') { ++p; continue; }
        out.push_back((uint8_t)std::stoul(std::string(p, 2), nullptr, 16));
        p += 2;
    }
    return out;
}

} // namespace

TEST(quarn1, seeded_images_round_trip_in_every_mode_and_match_the_model_byte_for_byte)
{
    std::mt19937 rng(20261207);
    for (int i = 0; i < 1000; ++i)
    {
        const int w = 1 + (int)(rng() % 64), h = 1 + (int)(rng() % 64);
        const bytes px = seeded_image(rng, w, h);
        for (int mode = 0; mode < 3; ++mode) expect_round_trip(px, w, h, mode);
        // The model picks the mode and parameters, lays the bits and pads on
        // its own; every 20th image is enough to catch a difference.
        if (i % 20 == 0)
        {
            const bytes chosen = encode(px, w, h);
            long bits;
            const bytes model = model_encode(px, w, h, -1, &bits);
            ASSERT_EQ(chosen, model) << "image " << i << ": " << w << " x " << h;
            EXPECT_EQ((long)chosen.size(), 4 * ((26 + bits + 31) / 32 + 1));
        }
        if (HasFatalFailure() || HasFailure()) return;
    }
}

TEST(quarn1, the_largest_shapes_round_trip_in_every_mode)
{
    std::mt19937 rng(7);
    const int shapes[3][2] = {{4095, 1}, {1, 4095}, {512, 512}};
    for (const auto &shape : shapes)
    {
        const bytes px = seeded_image(rng, shape[0], shape[1]);
        for (int mode = 0; mode < 3; ++mode) expect_round_trip(px, shape[0], shape[1], mode);
    }
    // A 9 x 9 image: partial blocks of 1 x 8, 8 x 1 and 1 x 1 pixels; the model
    // gives the same stream in each mode.
    const bytes small = seeded_image(rng, 9, 9);
    for (int mode = 0; mode < 3; ++mode) EXPECT_EQ(encode(small, 9, 9, mode), model_encode(small, 9, 9, mode));
}

TEST(quarn1, known_streams)
{
    // Re-derived by hand: 1 x 1 (10, 20, 30) takes k = 4, 5, 5; black takes 7, 7, 7.
    EXPECT_EQ(encode({10, 20, 30}, 1, 1), hex("25011000 00e051aa 00000000"));
    EXPECT_EQ(encode({0, 0, 0}, 1, 1), hex("3f011000 000000e0 00000000"));
    const bytes two = {10, 20, 30, 12, 20, 29, 9, 25, 30, 11, 22, 31};
    EXPECT_EQ(encode(two, 2, 2), hex("13022000 53b3d37a 008a4045 00000000"));
    EXPECT_EQ(model_encode(two, 2, 2, -1), encode(two, 2, 2));

    // A black block spends no residue bits: header and table only.
    const bytes flat(8 * 8 * 3, 0);
    const bytes stream = encode(flat, 8, 8);
    bytes back;
    int32_t w, h;
    ASSERT_TRUE(decode(stream, &back, &w, &h));
    EXPECT_EQ(back, flat);
    EXPECT_EQ(stream.size(), 12u);

    // Row 0 keeps the roles of mode 0 in modes 1 and 2: a one-row image has
    // the same residue bits in every mode, only the header's mode differs.
    std::mt19937 rng(3);
    const bytes row = seeded_image(rng, 20, 1);
    const bytes m0 = encode(row, 20, 1, 0), m2 = encode(row, 20, 1, 2);
    ASSERT_EQ(m0.size(), m2.size());
    EXPECT_EQ(m0[0] & 0x3F, m2[0] & 0x3F);
    EXPECT_TRUE(std::equal(m0.begin() + 1, m0.end(), m2.begin() + 1));
}

TEST(quarn1, damaged_streams_are_refused_without_reading_past_them)
{
    std::mt19937 rng(11);
    const bytes px = seeded_image(rng, 23, 17);
    const bytes stream = encode(px, 23, 17, 1);
    bytes back;
    int32_t w, h;
    // Each cut that loses data bits is refused; the buffers are exact copies,
    // so the sanitizer sees any read past them.
    for (size_t cut = 0; cut + 8 <= stream.size(); cut += 4)
    {
        bytes part(stream.begin(), stream.begin() + (long)cut);
        EXPECT_FALSE(decode(part, &back, &w, &h)) << cut;
    }
    bytes odd(stream.begin(), stream.end() - 3); // a partial last word is ignored
    EXPECT_TRUE(decode(odd, &back, &w, &h));

    // Zero sizes, mode 3, and endless one-bits.
    bytes header = hex("25011000 00e051aa 00000000");
    bytes zero_width = header;
    zero_width[3] = 0, zero_width[2] &= 0x0F;
    EXPECT_FALSE(decode(zero_width, &back, &w, &h));
    bytes zero_height = header;
    zero_height[2] &= 0xF0, zero_height[1] = 0;
    EXPECT_FALSE(decode(zero_height, &back, &w, &h));
    bytes mode3 = header;
    mode3[0] |= 0xC0;
    EXPECT_FALSE(decode(mode3, &back, &w, &h));
    bytes ones(4096, 0xFF);
    const bytes one_by_one = hex("00011000"); // 1 x 1, mode 0, k = 0, 0, then one-bits to the end
    memcpy(ones.data(), one_by_one.data(), 4);
    EXPECT_FALSE(decode(ones, &back, &w, &h));
    bytes huge = hex("00ffffff"); // 4095 x 4095 and no block table
    EXPECT_FALSE(decode(huge, &back, &w, &h));
    EXPECT_FALSE(decode(bytes(), &back, &w, &h));

    // The encoder refuses what the header cannot hold.
    uint8_t *out;
    int32_t length;
    const bytes wide(4096 * 3, 1);
    EXPECT_FALSE(quarn1_encode(wide.data(), 4096, 1, &out, &length));
    EXPECT_FALSE(quarn1_encode(wide.data(), 1, 4096, &out, &length));
    EXPECT_FALSE(quarn1_encode(wide.data(), 0, 1, &out, &length));
    EXPECT_FALSE(quarn1_encode(wide.data(), 1, 0, &out, &length));
    EXPECT_FALSE(quarn1_encode_in_mode(wide.data(), 1, 1, 3, &out, &length));
}

TEST(quarn1, file_wrappers_prefix_a_little_endian_length)
{
    std::mt19937 rng(5);
    const bytes px = seeded_image(rng, 30, 12);
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    const int32_t written = quarn1_encode_buffer_to_stream(px.data(), 30, 12, file);
    const bytes stream = encode(px, 30, 12);
    EXPECT_EQ(written, (int32_t)stream.size() + 4);
    rewind(file);
    uint8_t prefix[4];
    ASSERT_EQ(fread(prefix, 1, 4, file), 4u);
    EXPECT_EQ(prefix[0] | prefix[1] << 8 | prefix[2] << 16 | prefix[3] << 24, (int)stream.size());
    rewind(file);
    uint8_t *pixels;
    int32_t w, h;
    EXPECT_EQ(quarn1_decode_stream_to_buffer(&pixels, &w, &h, file), written);
    EXPECT_EQ(bytes(pixels, pixels + px.size()), px);
    free(pixels);
    // At the end of the file the read fails; a length beyond any image is refused.
    EXPECT_EQ(quarn1_decode_stream_to_buffer(&pixels, &w, &h, file), 0);
    rewind(file);
    const uint8_t too_long[4] = {0xFF, 0xFF, 0xFF, 0x7F};
    fwrite(too_long, 1, 4, file);
    rewind(file);
    EXPECT_EQ(quarn1_decode_stream_to_buffer(&pixels, &w, &h, file), 0);
    EXPECT_EQ(pixels, nullptr);
    fclose(file);
}

} // namespace quarn1_test_file
