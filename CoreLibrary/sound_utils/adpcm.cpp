// IMA ADPCM packets.  See adpcm.h.

#include "adpcm.h"

#include <cstring>

#include "cseries/log.h"

const int8_t indextab[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

const int16_t steptab[IMA_MAXIMUM_STEP_INDEX + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

static struct adpcm_globals
{
    bool bad_step_index_logged;
} adpcm_globals;

static inline int32_t clamp_index(int32_t index)
{
    return index < 0 ? 0 : index > IMA_MAXIMUM_STEP_INDEX ? IMA_MAXIMUM_STEP_INDEX : index;
}

static inline int32_t clamp_sample(int32_t value) { return value < -32768 ? -32768 : value > 32767 ? 32767 : value; }

// The shift-and-add difference of one code at `step`.
static inline int32_t code_difference(int32_t code, int32_t step)
{
    int32_t diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    return (code & 8) ? -diff : diff;
}

bool apple_adpcm_packet_decompress(uint16_t state, const uint8_t *codes, int16_t *destination, int32_t count)
{
    if (!VASSERT(destination != nullptr && codes != nullptr, "destination")) return false;
    if (!VASSERT(count >= 0 && count <= NUMBER_OF_IMA_SAMPLES_PER_PACKET,
                 "samples_to_decompress>=0 && samples_to_decompress<=NUMBER_OF_IMA_SAMPLES_PER_PACKET"))
        return false;
    int32_t predictor = (int16_t)(state & IMA_PREDICTOR_MASK);
    int32_t index = state & IMA_STEP_INDEX_MASK;
    if (index > IMA_MAXIMUM_STEP_INDEX)
    {
        // Outside the format: read as the largest step rather than past the table.
        if (!adpcm_globals.bad_step_index_logged)
            log_message(__FILE__, __LINE__, "ADPCM packet with step index %d taken as %d", (int)index,
                        (int)IMA_MAXIMUM_STEP_INDEX);
        adpcm_globals.bad_step_index_logged = true;
        index = IMA_MAXIMUM_STEP_INDEX;
    }
    for (int32_t k = 0; k < count; ++k)
    {
        const int32_t code = (k & 1) ? codes[k >> 1] >> 4 : codes[k >> 1] & 15;
        predictor = clamp_sample(predictor + code_difference(code, steptab[index]));
        destination[k] = (int16_t)predictor;
        index = clamp_index(index + indextab[code]);
    }
    return true;
}

// The code nearest `sample` from `predictor` at `step`, by the standard
// successive approximation.
static int32_t encode_sample(int32_t sample, int32_t predictor, int32_t step)
{
    int32_t delta = sample - predictor;
    int32_t code = 0;
    if (delta < 0)
    {
        code = 8;
        delta = -delta;
    }
    if (delta >= step)
    {
        code |= 4;
        delta -= step;
    }
    if (delta >= step >> 1)
    {
        code |= 2;
        delta -= step >> 1;
    }
    if (delta >= step >> 2) code |= 1;
    return code;
}

void apple_adpcm_compress(const int16_t *source, int32_t count, uint8_t *destination, int16_t *step_index,
                          int16_t *predictor)
{
    int32_t index = clamp_index(*step_index);
    int32_t value = *predictor;
    for (int32_t k = 0; k < count; ++k)
    {
        const int32_t code = encode_sample(source[k], value, steptab[index]);
        // Track exactly what the decoder will compute.
        value = clamp_sample(value + code_difference(code, steptab[index]));
        index = clamp_index(index + indextab[code]);
        if (k & 1) destination[k >> 1] = (uint8_t)(destination[k >> 1] | (code << 4));
        else destination[k >> 1] = (uint8_t)code;
    }
    *step_index = (int16_t)index;
    *predictor = (int16_t)value;
}

void encode_ima_packet(const int16_t *source, int32_t count, apple_ima_packet_chunk *packet, int16_t *step_index,
                       int16_t *predictor)
{
    int16_t samples[NUMBER_OF_IMA_SAMPLES_PER_PACKET];
    if (count < 0) count = 0;
    if (count > NUMBER_OF_IMA_SAMPLES_PER_PACKET) count = NUMBER_OF_IMA_SAMPLES_PER_PACKET;
    for (int32_t k = 0; k < NUMBER_OF_IMA_SAMPLES_PER_PACKET; ++k)
        samples[k] = count == 0 ? 0 : source[k < count ? k : count - 1];
    const int16_t index = (int16_t)clamp_index(*step_index);
    const uint16_t state = (uint16_t)(((uint16_t)*predictor & IMA_PREDICTOR_MASK) | (uint16_t)index);
    packet->state[0] = (uint8_t)(state >> 8);
    packet->state[1] = (uint8_t)state;
    *predictor = (int16_t)(state & IMA_PREDICTOR_MASK);
    *step_index = index;
    apple_adpcm_compress(samples, NUMBER_OF_IMA_SAMPLES_PER_PACKET, packet->codes, step_index, predictor);
}

void initialize_adpcm_decompressor_state(async_adpcm_decompressor_state *state, const uint8_t *source,
                                         int32_t sample_count)
{
    memset(state, 0, sizeof(*state));
    state->source = source;
    state->sample_count = sample_count;
}
