// The IMA ADPCM packet codec: bit-exact against an independent decoder (sox's
// WAV IMA-ADPCM, fed each packet rewrapped as a WAV block), the format's edge
// cases, and the encoder's quality.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "sound_utils/adpcm.h"
#include "support/scratch.h"
#include "support/sound_signals.h"

namespace adpcm_test_file {

namespace {

std::vector<apple_ima_packet_chunk> encode_mono(const std::vector<int16_t> &samples)
{
    std::vector<apple_ima_packet_chunk> packets;
    int16_t index = 0, predictor = 0;
    for (size_t first = 0; first < samples.size(); first += NUMBER_OF_IMA_SAMPLES_PER_PACKET)
    {
        apple_ima_packet_chunk packet;
        const int32_t count = (int32_t)std::min<size_t>(NUMBER_OF_IMA_SAMPLES_PER_PACKET, samples.size() - first);
        encode_ima_packet(&samples[first], count, &packet, &index, &predictor);
        packets.push_back(packet);
    }
    return packets;
}

std::vector<int16_t> decode_mono(const std::vector<apple_ima_packet_chunk> &packets)
{
    std::vector<int16_t> samples(packets.size() * NUMBER_OF_IMA_SAMPLES_PER_PACKET);
    for (size_t p = 0; p < packets.size(); ++p)
        EXPECT_TRUE(apple_adpcm_packet_decompress(read_be16(packets[p].state), packets[p].codes,
                                                  &samples[p * NUMBER_OF_IMA_SAMPLES_PER_PACKET],
                                                  NUMBER_OF_IMA_SAMPLES_PER_PACKET));
    return samples;
}

void put(std::vector<uint8_t> &out, uint32_t value, int32_t bytes)
{
    for (int32_t i = 0; i < bytes; ++i) out.push_back((uint8_t)(value >> (8 * i)));
}

// Each 34-byte packet as a 36-byte mono WAV IMA-ADPCM block of 65 samples:
// the block's header sample is the packet's truncated predictor.
std::vector<uint8_t> rewrap_as_wav(const std::vector<apple_ima_packet_chunk> &packets)
{
    const uint32_t count = (uint32_t)packets.size();
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    // Format 0x11 (IMA ADPCM), mono, 22050 Hz, blocks of 36 bytes, 4 bits, 65 samples a block.
    const uint32_t format[][2] = {{20, 4}, {0x11, 2}, {1, 2}, {22050, 4}, {22050 * 36 / 65, 4},
                                  {36, 2}, {4, 2}, {2, 2}, {65, 2}};
    for (const auto &field : format) put(wav, field[0], (int32_t)field[1]);
    wav.insert(wav.end(), {'f', 'a', 'c', 't', 4, 0, 0, 0});
    put(wav, count * 65, 4);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    put(wav, count * 36, 4);
    for (const apple_ima_packet_chunk &packet : packets)
    {
        const uint16_t state = read_be16(packet.state);
        put(wav, state & IMA_PREDICTOR_MASK, 2);
        put(wav, state & IMA_STEP_INDEX_MASK, 2);
        wav.insert(wav.end(), packet.codes, packet.codes + IMA_PACKET_CODE_BYTES);
    }
    const uint32_t riff = (uint32_t)wav.size() - 8;
    memcpy(&wav[4], &riff, 4);
    return wav;
}

// sox's decoding of the rewrapped packets, the header samples dropped; empty
// when sox is missing.
std::vector<int16_t> decode_with_sox(const std::vector<apple_ima_packet_chunk> &packets)
{
    if (system("sox --version >/dev/null 2>&1") != 0) return {};
    scratch_directory scratch;
    const std::vector<uint8_t> wav = rewrap_as_wav(packets);
    EXPECT_TRUE(write_file_bytes("in.wav", wav));
    EXPECT_EQ(system("sox in.wav -t raw -e signed -b 16 -L out.raw 2>sox.txt"), 0) << read_whole_file("sox.txt");
    const std::vector<uint8_t> raw = read_file_bytes("out.raw");
    std::vector<int16_t> samples;
    for (size_t i = 0; i + 1 < raw.size(); i += 2)
        if ((i / 2) % 65 != 0) samples.push_back((int16_t)(raw[i] | raw[i + 1] << 8));
    return samples;
}

// Random packets with every valid step index: the decoder's clamping of both
// the predictor and the index gets exercised, not only the encoder's output.
std::vector<apple_ima_packet_chunk> random_packets(int32_t count)
{
    std::vector<apple_ima_packet_chunk> packets(count);
    const std::vector<int16_t> bytes = make_noise(count * IMA_PACKET_SIZE, 1, 77);
    for (int32_t p = 0; p < count; ++p)
    {
        uint8_t *raw = (uint8_t *)&packets[p];
        for (int32_t i = 0; i < IMA_PACKET_SIZE; ++i) raw[i] = (uint8_t)bytes[p * IMA_PACKET_SIZE + i];
        write_be16(raw, (uint16_t)((read_be16(raw) & IMA_PREDICTOR_MASK) | (p % (IMA_MAXIMUM_STEP_INDEX + 1))));
    }
    return packets;
}

TEST(adpcm, decoder_matches_an_independent_decoder_bit_for_bit)
{
    const struct
    {
        const char *name;
        std::vector<apple_ima_packet_chunk> packets;
    } signals[] = {
        {"sine", encode_mono(make_sine(64 * 100, 1, 440, 22050, 20000))},
        {"noise", encode_mono(make_noise(64 * 100, 1, 5))},
        {"clipping", encode_mono(make_clipped_sine(64 * 100, 1))},
        {"random packets", random_packets(400)},
    };
    for (const auto &signal : signals)
    {
        const std::vector<int16_t> reference = decode_with_sox(signal.packets);
        if (reference.empty()) GTEST_SKIP() << "sox is not installed (scripts/install_dependencies.sh)";
        EXPECT_EQ(decode_mono(signal.packets), reference) << signal.name;
    }
}

TEST(adpcm, packet_edge_cases)
{
    uint8_t zeros[IMA_PACKET_CODE_BYTES] = {};
    uint8_t down[IMA_PACKET_CODE_BYTES];
    memset(down, 0xFF, sizeof(down)); // every code 15: the largest step down
    const struct
    {
        const char *name;
        uint16_t state;
        const uint8_t *codes;
        int32_t count;
        int16_t first, last; // samples 0 and count - 1
    } cases[] = {
        {"zero packet stays silent", 0, zeros, 64, 0, 0},
        {"0x8000 starts at the bottom and clamps there", 0x8000, down, 64, -32768, -32768},
        {"low bits are the index, not the predictor", 0x007F, zeros, 64, 4095, 0},
        {"a short count decodes the leading codes", 0x1000 | 10, zeros, 5, 4096 + 2, 0},
    };
    for (const auto &c : cases)
    {
        int16_t out[NUMBER_OF_IMA_SAMPLES_PER_PACKET + 1];
        for (int16_t &s : out) s = 0x5A5A;
        ASSERT_TRUE(apple_adpcm_packet_decompress(c.state, c.codes, out, c.count)) << c.name;
        EXPECT_EQ(out[0], c.first) << c.name;
        if (c.last) { EXPECT_EQ(out[c.count - 1], c.last) << c.name; }
        EXPECT_EQ(out[c.count], 0x5A5A) << c.name << ": nothing past the count";
    }
    int16_t untouched = 0x5A5A;
    EXPECT_TRUE(apple_adpcm_packet_decompress(0x1234, zeros, &untouched, 0));
    EXPECT_EQ(untouched, 0x5A5A) << "a count of 0 writes nothing";
}

TEST(adpcm, step_index_beyond_the_table_decodes_as_the_largest_step)
{
    uint8_t codes[IMA_PACKET_CODE_BYTES];
    for (int32_t i = 0; i < IMA_PACKET_CODE_BYTES; ++i) codes[i] = (uint8_t)(i * 37);
    int16_t at_88[NUMBER_OF_IMA_SAMPLES_PER_PACKET], beyond[NUMBER_OF_IMA_SAMPLES_PER_PACKET];
    ASSERT_TRUE(apple_adpcm_packet_decompress(0x0100 | 88, codes, at_88, NUMBER_OF_IMA_SAMPLES_PER_PACKET));
    for (uint16_t index : {89, 100, 127})
    {
        ASSERT_TRUE(apple_adpcm_packet_decompress(0x0100 | index, codes, beyond, NUMBER_OF_IMA_SAMPLES_PER_PACKET));
        EXPECT_EQ(memcmp(at_88, beyond, sizeof(beyond)), 0) << index;
    }
}

TEST(adpcm, encoder_then_decoder_keeps_a_sine_clean)
{
    // 440 Hz at -6 dBFS, one second.
    const std::vector<int16_t> sine = make_sine(22050, 1, 440, 22050, 16384);
    std::vector<int16_t> decoded = decode_mono(encode_mono(sine));
    decoded.resize(sine.size());
    EXPECT_GE(signal_to_noise_db(sine, decoded), 20.0);
}

} // namespace

} // namespace adpcm_test_file
