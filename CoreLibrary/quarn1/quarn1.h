#pragma once
// A lossless codec for 24-bit images (three bytes a pixel, rows from the top,
// no gaps between rows) of up to 4095 x 4095 pixels.  The stream is a run of
// 32-bit little-endian words read from each word's most significant bit down:
// a 26-bit header (width, height, mode), one 9-bit set of three Rice
// parameters per 8 x 8 block, then one Rice-coded residue per pixel and
// channel, then zero padding to the word and one zero word.  The residues come
// from a median-edge predictor over one of three channel decorrelations (the
// mode).  docs/formats.md "Image codec stream" gives the layout bit by bit.
//
// Main thread or any one thread at a time: no state outlives a call.

#include <cstdint>
#include <cstdio>

enum
{
    QUARN1_MAXIMUM_DIMENSION = 4095, // the header's 12-bit sizes
    QUARN1_BLOCK_SIZE = 8,
    QUARN1_HEADER_BITS = 26,
    QUARN1_BLOCK_TABLE_BITS = 9, // three 3-bit parameters per block
    QUARN1_NUMBER_OF_MODES = 3,
    QUARN1_ZERO_PARAMETER = 7, // a block and slot whose residues are all 0: no bits
    QUARN1_MAXIMUM_RICE_PARAMETER = 6,
};

// The longest stream any image can need (every residue at its dearest
// parameter-6 code of 10 bits), so a length read from a file is bounded.
constexpr int64_t QUARN1_MAXIMUM_STREAM_LENGTH =
    4 * ((QUARN1_HEADER_BITS + 512LL * 512 * QUARN1_BLOCK_TABLE_BITS + 4095LL * 4095 * 3 * 10 + 31) / 32 + 1);

// The encoder's parameter chooser.  `total_bits` counts the residue bits the
// chosen parameters cost, summed over every block given to calc_block_k.
class k_Map
{
public:
    uint64_t total_bits = 0;

    // Chooses the parameters of the block of pixels x0 <= x < x1, y0 <= y < y1
    // of an image `image_width` pixels wide whose residues (three per pixel,
    // slots 0, 1, 2, rows without gaps) are `residues`; writes the three
    // parameters into `parameters` and adds their cost to total_bits.  Per
    // slot: 7 when every residue is 0 (no bits), else the k from 0 up that
    // costs least, an equal cost moving to the larger k, stopping at the first
    // dearer k or at 6.
    void calc_block_k(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t image_width, const uint8_t *residues,
                      uint8_t parameters[3]);
};

// Decodes `stream_length` bytes of `stream` into a new pixel buffer (malloc'd,
// the caller frees it) of `*width` x `*height` pixels.  False, with a log line
// and nothing allocated, for a stream that is too short for what it claims,
// names a size of 0 or mode 3, or holds a residue code longer than any byte
// needs (more than 255 one-bits); nothing outside the stream is ever read.
// Trailing bytes beyond the last whole word are ignored.
bool quarn1_decode(uint8_t **pixels, int32_t *width, int32_t *height, const void *stream, int32_t stream_length);

// Encodes `width` x `height` pixels in the mode that costs fewest bits (the
// lower mode on a tie) into a new stream (malloc'd, the caller frees it) of
// `*stream_length` bytes: 4 x (ceil((26 + table and residue bits) / 32) + 1).
// False, with a log line and nothing allocated, for a width or height outside
// 1..4095 (the header could not hold it) or when memory is short.
bool quarn1_encode(const uint8_t *pixels, int32_t width, int32_t height, uint8_t **stream, int32_t *stream_length);

// The same in the given mode (0..2) instead of the cheapest; tools and tests.
bool quarn1_encode_in_mode(const uint8_t *pixels, int32_t width, int32_t height, int32_t mode, uint8_t **stream,
                           int32_t *stream_length);

// The mode a stream was written in (bits 7..6 of its first word); NONE for a
// stream shorter than one word.
int32_t quarn1_stream_mode(const void *stream, int32_t stream_length);

// Reads a 32-bit little-endian length and that many stream bytes from `file`
// and decodes them.  Returns the bytes consumed (length + 4), or 0 when a read
// fails, the length exceeds QUARN1_MAXIMUM_STREAM_LENGTH or the stream is
// refused; nothing is allocated then.
int32_t quarn1_decode_stream_to_buffer(uint8_t **pixels, int32_t *width, int32_t *height, FILE *file);

// Encodes the pixels and writes the 32-bit little-endian length and the stream
// to `file`.  Returns the bytes written (length + 4), or 0 when the image is
// refused or a write fails.
int32_t quarn1_encode_buffer_to_stream(const uint8_t *pixels, int32_t width, int32_t height, FILE *file);
