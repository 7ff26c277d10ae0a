#pragma once
// 4-bit IMA ADPCM in packets of 34 bytes, each carrying 64 samples of one
// channel: a big-endian state word (the predictor's top 9 bits, then a 7-bit
// step index) and 32 bytes of codes, the earlier sample in each byte's low
// nibble.  Every packet restarts the decoder from its own state word, so
// packets decode independently.  A stereo sound stores its channels in
// alternate packets (left, right); interleaving them is the caller's business.
//
// Any thread: no state outlives a call except the one-time log of a bad step
// index (main thread).

#include <cstdint>

enum
{
    NUMBER_OF_IMA_SAMPLES_PER_PACKET = 64,
    NUMBER_OF_IMA_SAMPLES_PER_BYTE = 2,
    IMA_PACKET_CODE_BYTES = 32,
    IMA_PACKET_SIZE = 34, // state word + codes
    IMA_MAXIMUM_STEP_INDEX = 88,
    IMA_PREDICTOR_MASK = 0xFF80,
    IMA_STEP_INDEX_MASK = 0x7F,
};

// The standard IMA index adjustments and step sizes.
extern const int8_t indextab[16];
extern const int16_t steptab[IMA_MAXIMUM_STEP_INDEX + 1];

// One 34-byte packet as stored.
struct apple_ima_packet_chunk
{
    uint8_t state[2]; // big-endian
    uint8_t codes[IMA_PACKET_CODE_BYTES];
};
static_assert(sizeof(apple_ima_packet_chunk) == IMA_PACKET_SIZE);

// Decodes the first `count` samples (0..64) of the packet whose state word is
// `state` (already in host order) and whose codes are `codes` (32 bytes) into
// `destination`.  A step index beyond 88 (outside the format: the field is 7
// bits wide) is taken as 88 and logged once per run.  False, writing nothing,
// for a null pointer or a count outside 0..64.
bool apple_adpcm_packet_decompress(uint16_t state, const uint8_t *codes, int16_t *destination, int32_t count);

// The standard IMA encoder: encodes `count` samples of `source` (host order)
// into codes packed two to a byte, low nibble first, at `destination`
// ((count + 1) / 2 bytes), carrying `*step_index` and `*predictor` from call to
// call.  To make a packet the decoder reproduces exactly, start each packet's
// call from the truncated predictor (predictor & 0xFF80) that its state word
// stores.
void apple_adpcm_compress(const int16_t *source, int32_t count, uint8_t *destination, int16_t *step_index,
                          int16_t *predictor);

// Encodes `count` samples (1..64; a short packet is padded with the last
// sample) into one packet, restarting from the truncated predictor, and
// carries `*step_index` and `*predictor` into the next packet.
void encode_ima_packet(const int16_t *source, int32_t count, apple_ima_packet_chunk *packet, int16_t *step_index,
                       int16_t *predictor);

// The record of a decoder working through a run of packets in pieces.  Kept
// for tools; the game decodes whole packets.
struct async_adpcm_decompressor_state
{
    int16_t *destination;
    int32_t samples_to_decompress;
    const uint8_t *source;
    int32_t sample_count;
    int32_t source_offset;
    int16_t predictor;
    int16_t index;
};

// Clears `state` for decoding `sample_count` samples from `source`.
void initialize_adpcm_decompressor_state(async_adpcm_decompressor_state *state, const uint8_t *source,
                                         int32_t sample_count);
