// The ADPCM packet decoder on arbitrary packets: every state word (step
// indexes beyond the table included) and code, with counts from the input,
// must decode within the destination and the sample range.

#include <cstdint>
#include <cstdlib>

#include "cseries/byte_swapping.h"
#include "sound_utils/adpcm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int16_t samples[NUMBER_OF_IMA_SAMPLES_PER_PACKET];
    for (size_t at = 0; at + IMA_PACKET_SIZE + 1 <= size; at += IMA_PACKET_SIZE + 1)
    {
        const int32_t count = data[at] % (NUMBER_OF_IMA_SAMPLES_PER_PACKET + 1);
        const uint8_t *packet = data + at + 1;
        if (!apple_adpcm_packet_decompress(read_be16(packet), packet + 2, samples, count)) abort();
    }
    return 0;
}
