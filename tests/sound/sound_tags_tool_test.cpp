// The data tool's sound commands: WAV files become sounds the game decodes
// close to the source; ambient sounds, sound lists and a map's reverb come out
// in their stored layouts; damaged inputs are refused.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "mesh_format.h"
#include "sound/sound_definitions.h"
#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/sound_signals.h"
#include "support/tag_file_builder.h"

namespace sound_tags_tool_test_file {

namespace {

void put(std::vector<uint8_t> &out, uint32_t value, int32_t bytes)
{
    for (int32_t i = 0; i < bytes; ++i) out.push_back((uint8_t)(value >> (8 * i)));
}

// A PCM WAV file; `bits` and `encoding` may lie to make damaged ones.
std::vector<uint8_t> wav_file(const std::vector<int16_t> &samples, int32_t channels, int32_t bits = 16,
                              int32_t encoding = 1)
{
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    put(out, 16, 4);
    put(out, (uint32_t)encoding, 2);
    put(out, (uint32_t)channels, 2);
    put(out, 22050, 4);
    put(out, 22050u * channels * 2, 4);
    put(out, (uint32_t)channels * 2, 2);
    put(out, (uint32_t)bits, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put(out, (uint32_t)samples.size() * 2, 4);
    for (int16_t s : samples) put(out, (uint16_t)s, 2);
    return out;
}

class sound_tags_tool_test : public ::testing::Test
{
protected:
    scratch_directory scratch;
    std::string tool;
    void SetUp() override { REQUIRE_DATA_TOOL(tool); }
};

TEST_F(sound_tags_tool_test, wav_permutations_become_a_sound_close_to_its_source)
{
    const std::vector<int16_t> mono = make_sine(22050 / 4, 1, 440, 22050, 16384);
    const std::vector<int16_t> stereo = make_sine(22050 / 4, 2, 660, 22050, 12000);
    ASSERT_TRUE(write_file_bytes("mono.wav", wav_file(mono, 1)));
    ASSERT_TRUE(write_file_bytes("stereo.wav", wav_file(stereo, 2)));
    ASSERT_EQ(run_data_tool("sound s.tag --subgroup tone --name tone --loudness 2 --pitch 200 56 mono.wav stereo.wav"), 0)
        << read_whole_file("tool.err");
    const std::vector<uint8_t> data = local_tag_file_data("s.tag");
    ASSERT_GE(data.size(), (size_t)SOUND_DEFINITION_SIZE);
    EXPECT_EQ(read_be16(&data[4]), 2) << "loudness";
    EXPECT_EQ(read_be16(&data[10]), 200) << "pitch_lower_bound";
    EXPECT_EQ(read_be32(&data[36]), 2u) << "number_of_permutations";
    int32_t decoded = 0;
    ASSERT_EQ(check_sound_tag_data(data.data(), (int32_t)data.size(), &decoded), nullptr);
    // Both sources padded to whole packets.
    const int32_t packets = (22050 / 4 + 63) / 64;
    EXPECT_EQ(decoded, packets * 64 * 3);
}

TEST_F(sound_tags_tool_test, ambient_sounds_lists_and_reverb_are_written_as_stored)
{
    ASSERT_EQ(run_data_tool("ambient-sound a.tag --subgroup wind --name wind --loop tone --random none --inner 100 "
                            "--outer 900 --period 30 60"),
              0)
        << read_whole_file("tool.err");
    const std::vector<uint8_t> ambient = local_tag_file_data("a.tag");
    ASSERT_EQ(ambient.size(), (size_t)AMBIENT_SOUND_DEFINITION_SIZE);
    EXPECT_EQ(read_be16(&ambient[4]), 100);
    EXPECT_EQ(read_be16(&ambient[6]), 900);
    EXPECT_EQ(read_be16(&ambient[8]), 30);
    EXPECT_EQ(read_be32(&ambient[12]), FOUR_CHARACTER_CODE('t', 'o', 'n', 'e'));
    EXPECT_EQ(read_be32(&ambient[16]), (uint32_t)NONE);
    EXPECT_EQ(read_be16(&ambient[36]), 3072) << "the default one-shot radius";

    ASSERT_EQ(run_data_tool("sound-list l.tag --subgroup list --name list tone none wind"), 0)
        << read_whole_file("tool.err");
    const std::vector<uint8_t> list = local_tag_file_data("l.tag");
    ASSERT_EQ(list.size(), (size_t)SOUND_LIST_DEFINITION_SIZE);
    EXPECT_EQ(read_be16(&list[0]), 3);
    EXPECT_EQ(read_be32(&list[16]), FOUR_CHARACTER_CODE('t', 'o', 'n', 'e'));
    EXPECT_EQ(read_be32(&list[24]), (uint32_t)NONE);

    const std::string map = "size 8 8\nreverb 2 0.5 1.75 0.25\n";
    ASSERT_TRUE(write_whole_file("map.txt", map.data(), map.size()));
    ASSERT_EQ(run_data_tool("mesh m.tag --subgroup revb --name revb map.txt"), 0) << read_whole_file("tool.err");
    const std::vector<uint8_t> mesh = local_tag_file_data("m.tag");
    ASSERT_GT(mesh.size(), (size_t)180);
    EXPECT_EQ(read_be32(&mesh[164]), 2u);
    const uint32_t decay_bits = read_be32(&mesh[172]);
    float decay;
    memcpy(&decay, &decay_bits, 4);
    EXPECT_EQ(decay, 1.75f);
}

TEST_F(sound_tags_tool_test, damaged_inputs_are_refused)
{
    const std::vector<int16_t> tone = make_sine(640, 1, 440, 22050, 8000);
    std::vector<uint8_t> truncated = wav_file(tone, 1);
    truncated.resize(truncated.size() - 10);
    ASSERT_TRUE(write_file_bytes("good.wav", wav_file(tone, 1)));
    ASSERT_TRUE(write_file_bytes("eight.wav", wav_file(tone, 1, 8)));
    ASSERT_TRUE(write_file_bytes("float.wav", wav_file(tone, 1, 16, 3)));
    ASSERT_TRUE(write_file_bytes("three.wav", wav_file(tone, 3)));
    ASSERT_TRUE(write_file_bytes("short.wav", truncated));
    const std::string map = "size 8 8\nreverb 26 0.5 1 1\n";
    ASSERT_TRUE(write_whole_file("map.txt", map.data(), map.size()));
    const struct
    {
        const char *arguments;
        int status;
    } cases[] = {
        {"sound o.tag --subgroup x --name x good.wav", 2},
        {"sound o.tag --subgroup xxxx --name x eight.wav", 1},
        {"sound o.tag --subgroup xxxx --name x float.wav", 1},
        {"sound o.tag --subgroup xxxx --name x three.wav", 1},
        {"sound o.tag --subgroup xxxx --name x short.wav", 1},
        {"sound o.tag --subgroup xxxx --name x good.wav good.wav good.wav good.wav good.wav good.wav", 2},
        {"sound o.tag --subgroup xxxx --name x --loudness 4 good.wav", 2},
        {"sound-list o.tag --subgroup xxxx --name x toolong", 1},
        {"ambient-sound o.tag --subgroup xxxx --name x --inner 900 --outer 100", 1},
        {"mesh o.tag --subgroup xxxx --name x map.txt", 1},
    };
    for (const auto &c : cases)
    {
        const int status = run_data_tool(c.arguments);
        EXPECT_EQ(status, c.status) << c.arguments;
        EXPECT_FALSE(std::filesystem::exists("o.tag")) << c.arguments << ": nothing is left behind";
    }
}

} // namespace

} // namespace sound_tags_tool_test_file
