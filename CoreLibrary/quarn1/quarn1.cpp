// A lossless codec for 24-bit images.  See quarn1.h.

#include "quarn1/quarn1.h"

#include <cstdlib>
#include <cstring>

#include "cseries/log.h"

namespace {

// Primary channel and the two secondary channels (residue slots 1 and 2) of
// each mode.
constexpr int32_t mode_channels[QUARN1_NUMBER_OF_MODES][3] = {{0, 2, 1}, {1, 0, 2}, {2, 1, 0}};

// A signed 8-bit difference folded onto a byte: 0, -1, 1, -2, ... -> 0, 1, 2, 3, ...
inline uint8_t zigzag(int32_t difference)
{
    const uint32_t d = (uint32_t)difference & 0xFF;
    return (uint8_t)(((d << 1) ^ ((d & 0x80) ? 0xFFu : 0u)) & 0xFF);
}

inline int32_t unzigzag(uint8_t u)
{
    return (int32_t)(u >> 1) ^ -(int32_t)(u & 1);
}

// The median-edge predictor on byte values or on signed differences; >> is a
// floor shift (arithmetic on negative values).
inline int32_t predict(int32_t a, int32_t b, int32_t c)
{
    const int32_t lo = a < b ? a : b, hi = a < b ? b : a;
    if (c >= hi) return (7 * lo + hi) >> 3;
    if (c <= lo) return (7 * hi + lo) >> 3;
    return a + b - c;
}

inline int32_t blocks_across(int32_t size) { return (size + QUARN1_BLOCK_SIZE - 1) / QUARN1_BLOCK_SIZE; }

bool refuse_stream(const char *reason)
{
    log_message(__FILE__, __LINE__, "image codec: stream refused: %s", reason);
    return false;
}

// The forward transform: the residues of every pixel in `mode` (three bytes
// per pixel), one instance per mode so the channel roles are constants.
template <int32_t mode>
void _quarn1_transform2(const uint8_t *pixels, int32_t width, int32_t height, uint8_t *residues)
{
    constexpr int32_t p = mode_channels[mode][0], s1 = mode_channels[mode][1], s2 = mode_channels[mode][2];
    const size_t row = (size_t)width * 3;
    for (int32_t y = 0; y < height; ++y)
    {
        for (int32_t x = 0; x < width; ++x)
        {
            const uint8_t *X = pixels + (size_t)y * row + (size_t)x * 3;
            uint8_t *r = residues + (size_t)y * row + (size_t)x * 3;
            if (x == 0 && y == 0)
            {
                r[0] = X[0], r[1] = X[1], r[2] = X[2];
            }
            else if (y == 0)
            {
                // The first row keeps the roles of mode 0 in every mode.
                const uint8_t *L = X - 3;
                r[0] = zigzag(L[0] - X[0]);
                r[1] = zigzag((L[0] - L[2]) - (X[0] - X[2]));
                r[2] = zigzag((L[0] - L[1]) - (X[0] - X[1]));
            }
            else if (x == 0)
            {
                const uint8_t *A = X - row;
                r[0] = zigzag(A[p] - X[p]);
                r[1] = zigzag((A[p] - A[s1]) - (X[p] - X[s1]));
                r[2] = zigzag((A[p] - A[s2]) - (X[p] - X[s2]));
            }
            else
            {
                const uint8_t *L = X - 3, *A = X - row, *U = X - row - 3;
                r[0] = zigzag(predict(L[p], A[p], U[p]) - X[p]);
                r[1] = zigzag(predict(L[p] - L[s1], A[p] - A[s1], U[p] - U[s1]) - (X[p] - X[s1]));
                r[2] = zigzag(predict(L[p] - L[s2], A[p] - A[s2], U[p] - U[s2]) - (X[p] - X[s2]));
            }
        }
    }
}

void compute_residues(const uint8_t *pixels, int32_t width, int32_t height, int32_t mode, uint8_t *residues)
{
    static void (*const transforms[QUARN1_NUMBER_OF_MODES])(const uint8_t *, int32_t, int32_t, uint8_t *) = {
        _quarn1_transform2<0>, _quarn1_transform2<1>, _quarn1_transform2<2>};
    transforms[mode](pixels, width, height, residues);
}

// Solves the residues back into pixels, in reading order.
void rebuild_pixels(const uint8_t *residues, int32_t width, int32_t height, int32_t mode, uint8_t *pixels)
{
    const int32_t p = mode_channels[mode][0], s1 = mode_channels[mode][1], s2 = mode_channels[mode][2];
    const size_t row = (size_t)width * 3;
    for (int32_t y = 0; y < height; ++y)
    {
        for (int32_t x = 0; x < width; ++x)
        {
            uint8_t *X = pixels + (size_t)y * row + (size_t)x * 3;
            const uint8_t *r = residues + (size_t)y * row + (size_t)x * 3;
            if (x == 0 && y == 0)
            {
                X[0] = r[0], X[1] = r[1], X[2] = r[2];
            }
            else if (y == 0)
            {
                const uint8_t *L = X - 3;
                X[0] = (uint8_t)(L[0] - unzigzag(r[0]));
                X[2] = (uint8_t)(X[0] - ((L[0] - L[2]) - unzigzag(r[1])));
                X[1] = (uint8_t)(X[0] - ((L[0] - L[1]) - unzigzag(r[2])));
            }
            else if (x == 0)
            {
                const uint8_t *A = X - row;
                X[p] = (uint8_t)(A[p] - unzigzag(r[0]));
                X[s1] = (uint8_t)(X[p] - ((A[p] - A[s1]) - unzigzag(r[1])));
                X[s2] = (uint8_t)(X[p] - ((A[p] - A[s2]) - unzigzag(r[2])));
            }
            else
            {
                const uint8_t *L = X - 3, *A = X - row, *U = X - row - 3;
                X[p] = (uint8_t)(predict(L[p], A[p], U[p]) - unzigzag(r[0]));
                X[s1] = (uint8_t)(X[p] - (predict(L[p] - L[s1], A[p] - A[s1], U[p] - U[s1]) - unzigzag(r[1])));
                X[s2] = (uint8_t)(X[p] - (predict(L[p] - L[s2], A[p] - A[s2], U[p] - U[s2]) - unzigzag(r[2])));
            }
        }
    }
}

// Rice parameters of every block (three bytes per block, block-table order)
// and their cost in residue bits.
uint64_t choose_parameters(const uint8_t *residues, int32_t width, int32_t height, uint8_t *parameters)
{
    k_Map map;
    const int32_t across = blocks_across(width), down = blocks_across(height);
    for (int32_t by = 0; by < down; ++by)
    {
        for (int32_t bx = 0; bx < across; ++bx)
        {
            const int32_t x0 = bx * QUARN1_BLOCK_SIZE, y0 = by * QUARN1_BLOCK_SIZE;
            const int32_t x1 = x0 + QUARN1_BLOCK_SIZE < width ? x0 + QUARN1_BLOCK_SIZE : width;
            const int32_t y1 = y0 + QUARN1_BLOCK_SIZE < height ? y0 + QUARN1_BLOCK_SIZE : height;
            map.calc_block_k(x0, y0, x1, y1, width, residues, parameters + ((size_t)by * across + bx) * 3);
        }
    }
    return map.total_bits;
}

// Writes bits most significant first into little-endian 32-bit words.
struct bit_writer
{
    uint8_t *words;
    size_t word_index;
    uint64_t accumulator; // the pending bits, right-aligned
    int32_t count;

    void put(uint32_t value, int32_t bits) // bits 0..32
    {
        accumulator = (accumulator << bits) | (bits == 32 ? value : (value & ((1u << bits) - 1)));
        count += bits;
        if (count >= 32) flush_word((uint32_t)(accumulator >> (count - 32))), count -= 32;
    }
    void flush_word(uint32_t word)
    {
        uint8_t *out = words + word_index++ * 4;
        out[0] = (uint8_t)word, out[1] = (uint8_t)(word >> 8), out[2] = (uint8_t)(word >> 16),
        out[3] = (uint8_t)(word >> 24);
    }
    void finish(void)
    {
        if (count > 0) flush_word((uint32_t)(accumulator << (32 - count))), count = 0;
    }
};

// Reads bits from little-endian 32-bit words, never past the last whole word.
struct bit_reader
{
    const uint8_t *words;
    size_t word_count, next_word;
    uint64_t buffer; // valid bits left-aligned, zeros below them
    int32_t count;

    void refill(void)
    {
        while (count <= 32 && next_word < word_count)
        {
            const uint8_t *w = words + next_word++ * 4;
            const uint64_t word = (uint64_t)w[0] | ((uint64_t)w[1] << 8) | ((uint64_t)w[2] << 16) |
                                  ((uint64_t)w[3] << 24);
            buffer |= word << (32 - count);
            count += 32;
        }
    }
    bool get(int32_t bits, uint32_t *value) // bits 1..32
    {
        if (count < bits) refill();
        if (count < bits) return false;
        *value = (uint32_t)(buffer >> (64 - bits));
        buffer = bits == 64 ? 0 : buffer << bits;
        count -= bits;
        return true;
    }
    // One-bits up to the first zero bit (consumed); false past `limit` ones
    // or at the end of the stream.
    bool unary(uint32_t limit, uint32_t *ones)
    {
        uint32_t q = 0;
        for (;;)
        {
            if (count == 0) refill();
            if (count == 0) return false;
            const uint64_t inverted = ~buffer;
            int32_t run = inverted ? __builtin_clzll(inverted) : 64;
            if (run > count) run = count;
            q += (uint32_t)run;
            if (q > limit) return false;
            if (run < count)
            {
                buffer = run + 1 >= 64 ? 0 : buffer << (run + 1);
                count -= run + 1;
                *ones = q;
                return true;
            }
            buffer = 0;
            count = 0;
        }
    }
};

bool encode(const uint8_t *pixels, int32_t width, int32_t height, int32_t forced_mode, uint8_t **stream,
            int32_t *stream_length)
{
    *stream = nullptr;
    *stream_length = 0;
    if (!pixels || width < 1 || height < 1 || width > QUARN1_MAXIMUM_DIMENSION || height > QUARN1_MAXIMUM_DIMENSION)
    {
        log_message(__FILE__, __LINE__, "image codec: cannot encode a %d x %d image (1..%d on a side)", (int)width,
                    (int)height, (int)QUARN1_MAXIMUM_DIMENSION);
        return false;
    }
    const size_t bytes = (size_t)width * height * 3;
    const size_t blocks = (size_t)blocks_across(width) * blocks_across(height);
    uint8_t *residues = (uint8_t *)malloc(bytes);
    uint8_t *parameters = (uint8_t *)malloc(blocks * 3);
    if (!residues || !parameters)
    {
        free(residues), free(parameters);
        log_message(__FILE__, __LINE__, "image codec: out of memory encoding a %d x %d image", (int)width,
                    (int)height);
        return false;
    }

    int32_t mode = forced_mode;
    if (mode < 0)
    {
        uint64_t best = 0;
        for (int32_t m = 0; m < QUARN1_NUMBER_OF_MODES; ++m)
        {
            compute_residues(pixels, width, height, m, residues);
            const uint64_t total = choose_parameters(residues, width, height, parameters) +
                                   (uint64_t)blocks * QUARN1_BLOCK_TABLE_BITS;
            if (m == 0 || total < best) best = total, mode = m;
        }
    }
    compute_residues(pixels, width, height, mode, residues);
    const uint64_t total_bits = choose_parameters(residues, width, height, parameters) +
                                (uint64_t)blocks * QUARN1_BLOCK_TABLE_BITS;
    const uint64_t data_words = (QUARN1_HEADER_BITS + total_bits + 31) / 32;
    const size_t length = (size_t)(4 * (data_words + 1));
    uint8_t *out = (uint8_t *)calloc(1, length + 4);
    if (!out)
    {
        free(residues), free(parameters);
        log_message(__FILE__, __LINE__, "image codec: out of memory for a stream of %zu bytes", length);
        return false;
    }

    bit_writer writer = {out, 0, 0, 0};
    writer.put((uint32_t)width, 12);
    writer.put((uint32_t)height, 12);
    writer.put((uint32_t)mode, 2);
    for (size_t b = 0; b < blocks * 3; ++b) writer.put(parameters[b], 3);
    const int32_t across = blocks_across(width);
    for (int32_t y = 0; y < height; ++y)
    {
        const uint8_t *block_row = parameters + (size_t)(y / QUARN1_BLOCK_SIZE) * across * 3;
        for (int32_t x = 0; x < width; ++x)
        {
            const uint8_t *k = block_row + (size_t)(x / QUARN1_BLOCK_SIZE) * 3;
            const uint8_t *r = residues + ((size_t)y * width + x) * 3;
            for (int32_t slot = 0; slot < 3; ++slot)
            {
                if (k[slot] == QUARN1_ZERO_PARAMETER) continue;
                uint32_t q = (uint32_t)r[slot] >> k[slot];
                for (; q >= 32; q -= 32) writer.put(0xFFFFFFFFu, 32);
                writer.put(((1u << q) - 1) << 1, (int32_t)q + 1); // q one-bits, then a zero
                if (k[slot]) writer.put(r[slot], k[slot]);
            }
        }
    }
    writer.finish();
    free(residues);
    free(parameters);
    *stream = out;
    *stream_length = (int32_t)length;
    return true;
}

} // namespace

void k_Map::calc_block_k(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t image_width,
                         const uint8_t *residues, uint8_t parameters[3])
{
    // A block holds at most 64 values: summing them per k costs less than
    // walking a 256-entry histogram, and gives the same totals.
    for (int32_t slot = 0; slot < 3; ++slot)
    {
        uint8_t values[QUARN1_BLOCK_SIZE * QUARN1_BLOCK_SIZE];
        int32_t count = 0;
        uint32_t any = 0;
        for (int32_t y = y0; y < y1; ++y)
        {
            const uint8_t *r = residues + ((size_t)y * image_width + x0) * 3 + slot;
            for (int32_t x = x0; x < x1; ++x, r += 3) any |= values[count++] = *r;
        }
        if (!any)
        {
            parameters[slot] = QUARN1_ZERO_PARAMETER;
            continue;
        }
        uint64_t best_cost = 0;
        int32_t best_k = 0;
        for (int32_t k = 0; k <= QUARN1_MAXIMUM_RICE_PARAMETER; ++k)
        {
            uint64_t cost = (uint64_t)count * (1 + (uint32_t)k);
            for (int32_t i = 0; i < count; ++i) cost += (uint32_t)values[i] >> k;
            if (k > 0 && cost > best_cost) break;
            best_cost = cost, best_k = k;
        }
        parameters[slot] = (uint8_t)best_k;
        total_bits += best_cost;
    }
}

bool quarn1_decode(uint8_t **pixels, int32_t *width, int32_t *height, const void *stream, int32_t stream_length)
{
    *pixels = nullptr;
    *width = *height = 0;
    if (!stream || stream_length < 4) return refuse_stream("shorter than its header");
    bit_reader reader = {(const uint8_t *)stream, (size_t)stream_length / 4, 0, 0, 0};
    uint32_t w = 0, h = 0, mode = 0;
    reader.get(12, &w);
    reader.get(12, &h);
    reader.get(2, &mode);
    if (w == 0 || h == 0) return refuse_stream("a width or height of 0");
    if (mode >= QUARN1_NUMBER_OF_MODES) return refuse_stream("mode 3");

    const size_t across = (size_t)blocks_across((int32_t)w), blocks = across * (size_t)blocks_across((int32_t)h);
    if ((uint64_t)QUARN1_HEADER_BITS + blocks * QUARN1_BLOCK_TABLE_BITS > (uint64_t)reader.word_count * 32)
        return refuse_stream("the block table runs past the end");
    const size_t bytes = (size_t)w * h * 3;
    uint8_t *parameters = (uint8_t *)malloc(blocks * 3);
    uint8_t *residues = (uint8_t *)malloc(bytes);
    uint8_t *out = (uint8_t *)malloc(bytes);
    const bool allocated = parameters && residues && out;
    bool ok = allocated;
    if (!ok) log_message(__FILE__, __LINE__, "image codec: out of memory decoding a %u x %u image", w, h);
    for (size_t b = 0; ok && b < blocks * 3; ++b)
    {
        uint32_t k;
        ok = reader.get(3, &k);
        parameters[b] = (uint8_t)k;
    }
    for (uint32_t y = 0; ok && y < h; ++y)
    {
        const uint8_t *block_row = parameters + (size_t)(y / QUARN1_BLOCK_SIZE) * across * 3;
        for (uint32_t x = 0; ok && x < w; ++x)
        {
            const uint8_t *k = block_row + (size_t)(x / QUARN1_BLOCK_SIZE) * 3;
            uint8_t *r = residues + ((size_t)y * w + x) * 3;
            for (int32_t slot = 0; ok && slot < 3; ++slot)
            {
                if (k[slot] == QUARN1_ZERO_PARAMETER)
                {
                    r[slot] = 0;
                    continue;
                }
                // No byte needs more than 255 one-bits; a longer run is damage.
                uint32_t q = 0, low = 0;
                ok = reader.unary(255, &q) && (k[slot] == 0 || reader.get(k[slot], &low));
                r[slot] = (uint8_t)((q << k[slot]) | low);
            }
        }
    }
    if (!ok)
    {
        free(parameters), free(residues), free(out);
        return allocated ? refuse_stream("residues run past the end or a code is too long") : false;
    }
    rebuild_pixels(residues, (int32_t)w, (int32_t)h, (int32_t)mode, out);
    free(parameters);
    free(residues);
    *pixels = out;
    *width = (int32_t)w;
    *height = (int32_t)h;
    return true;
}

bool quarn1_encode(const uint8_t *pixels, int32_t width, int32_t height, uint8_t **stream, int32_t *stream_length)
{
    return encode(pixels, width, height, -1, stream, stream_length);
}

bool quarn1_encode_in_mode(const uint8_t *pixels, int32_t width, int32_t height, int32_t mode, uint8_t **stream,
                           int32_t *stream_length)
{
    if (mode < 0 || mode >= QUARN1_NUMBER_OF_MODES)
    {
        *stream = nullptr;
        *stream_length = 0;
        log_message(__FILE__, __LINE__, "image codec: no mode %d", (int)mode);
        return false;
    }
    return encode(pixels, width, height, mode, stream, stream_length);
}

int32_t quarn1_stream_mode(const void *stream, int32_t stream_length)
{
    if (!stream || stream_length < 4) return -1;
    return (((const uint8_t *)stream)[0] >> 6) & 3;
}

int32_t quarn1_decode_stream_to_buffer(uint8_t **pixels, int32_t *width, int32_t *height, FILE *file)
{
    *pixels = nullptr;
    *width = *height = 0;
    uint8_t prefix[4];
    if (!file || fread(prefix, 1, 4, file) != 4) return 0;
    const uint32_t length = (uint32_t)prefix[0] | ((uint32_t)prefix[1] << 8) | ((uint32_t)prefix[2] << 16) |
                            ((uint32_t)prefix[3] << 24);
    if (length > (uint64_t)QUARN1_MAXIMUM_STREAM_LENGTH)
    {
        refuse_stream("its length is larger than any image needs");
        return 0;
    }
    uint8_t *stream = (uint8_t *)malloc(length ? length : 1);
    if (!stream) return 0;
    const bool ok = fread(stream, 1, length, file) == length &&
                    quarn1_decode(pixels, width, height, stream, (int32_t)length);
    free(stream);
    return ok ? (int32_t)length + 4 : 0;
}

int32_t quarn1_encode_buffer_to_stream(const uint8_t *pixels, int32_t width, int32_t height, FILE *file)
{
    uint8_t *stream;
    int32_t length;
    if (!file || !quarn1_encode(pixels, width, height, &stream, &length)) return 0;
    const uint32_t n = (uint32_t)length;
    const uint8_t prefix[4] = {(uint8_t)n, (uint8_t)(n >> 8), (uint8_t)(n >> 16), (uint8_t)(n >> 24)};
    const bool ok = fwrite(prefix, 1, 4, file) == 4 && fwrite(stream, 1, (size_t)length, file) == (size_t)length;
    free(stream);
    return ok ? length + 4 : 0;
}
