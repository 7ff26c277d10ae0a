// The sound tags through the registry: decoding the sample block of generated
// mono, stereo and multi-chunk sounds, sound lists, and the refusal of every
// record whose counts, offsets or sizes disagree with its data.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "sound/sound_definitions.h"
#include "sound_utils/adpcm.h"
#include "support/expected_assertions.h"
#include "support/sound_signals.h"
#include "tag_files/store_fixture.h"

namespace sound_definitions_test_file {

namespace {

// The stored bytes of a sound of the given permutations (host-order PCM).
std::vector<uint8_t> sound_tag_bytes(const std::vector<sound_pcm_permutation> &permutations)
{
    sound_definition record;
    get_default_sound_definition(&record);
    const int32_t size = encode_sound_tag_data(&record, permutations.data(), (int32_t)permutations.size(), nullptr, 0);
    EXPECT_GT(size, 0);
    std::vector<uint8_t> bytes((size_t)size);
    EXPECT_EQ(encode_sound_tag_data(&record, permutations.data(), (int32_t)permutations.size(), bytes.data(), size),
              size);
    return bytes;
}

// What the stored packets of permutation `p` decode to, one packet at a time
// straight from the bytes, interleaved by channel.
std::vector<int16_t> decode_stored_packets(const std::vector<uint8_t> &bytes, int32_t permutation)
{
    const int32_t n = (int32_t)read_be32(&bytes[36]);
    const int32_t block = (int32_t)read_be32(&bytes[20]);
    size_t position = (size_t)block + (size_t)n * SAMPLED_SOUND_HEADER_SIZE;
    for (int32_t i = 0; i < permutation; ++i)
        position += (size_t)read_be32(&bytes[block + i * SAMPLED_SOUND_HEADER_SIZE + 16]) * IMA_PACKET_SIZE;
    const uint8_t *header = &bytes[block + permutation * SAMPLED_SOUND_HEADER_SIZE];
    const int32_t channels = (int16_t)read_be16(header + 8), packets = (int32_t)read_be32(header + 16);
    std::vector<int16_t> out((size_t)(packets / channels) * channels * NUMBER_OF_IMA_SAMPLES_PER_PACKET);
    int16_t one[NUMBER_OF_IMA_SAMPLES_PER_PACKET];
    for (int32_t p = 0; p < packets / channels * channels; ++p)
    {
        const uint8_t *packet = &bytes[position + (size_t)p * IMA_PACKET_SIZE];
        apple_adpcm_packet_decompress(read_be16(packet), packet + 2, one, NUMBER_OF_IMA_SAMPLES_PER_PACKET);
        const size_t frame0 = (size_t)(p / channels) * NUMBER_OF_IMA_SAMPLES_PER_PACKET;
        for (int32_t k = 0; k < NUMBER_OF_IMA_SAMPLES_PER_PACKET; ++k)
            out[(frame0 + k) * channels + p % channels] = one[k];
    }
    return out;
}

class sound_definitions_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        start_store();
        ASSERT_TRUE(initialize_sound_definitions());
        initialize_sound_definitions_for_new_map();
    }
    void TearDown() override
    {
        dispose_sound_definitions_from_old_map();
        dispose_sound_definitions();
        store_test::TearDown();
    }
    int32_t load_sound(const char *name, const std::vector<uint8_t> &bytes)
    {
        write_local_tag(SOUND_DEFINITION_GROUP_TAG, name, SOUND_DEFINITION_VERSION, bytes.data(), (int32_t)bytes.size());
        return try_definition_tag_to_index(&sound_definitions, FOUR_CHARACTER_CODE(name[0], name[1], name[2], name[3]),
                                           true, _definition_lookup_quiet_flag);
    }
};

TEST_F(sound_definitions_test, generated_sounds_decode_exactly_as_their_packets)
{
    const std::vector<int16_t> mono = make_sine(64 * 40 + 17, 1, 440, 22050, 12000);
    const std::vector<int16_t> stereo = make_noise(64 * 30, 2, 9);
    // More packets than the decompression buffer holds: read in two pieces.
    const int32_t long_frames = ((int32_t)DECOMPRESSION_BUFFER_SIZE / (int32_t)IMA_PACKET_SIZE + 6) * (int32_t)NUMBER_OF_IMA_SAMPLES_PER_PACKET;
    const std::vector<int16_t> long_mono = make_sine(long_frames, 1, 1000, 22050, 9000);
    const struct
    {
        const char *name;
        std::vector<sound_pcm_permutation> permutations;
    } cases[] = {
        // Two stereo packets: 128 interleaved samples.
        {"pair", {{stereo.data(), 64, 2, _sample_rate_22k, 0, nullptr}}},
        {"mono", {{mono.data(), 64 * 40 + 17, 1, _sample_rate_22k, 0, "a"}}},
        {"ster", {{stereo.data(), 64 * 30, 2, _sample_rate_22k, 0, "b"}, {mono.data(), 640, 1, _sample_rate_22k, 0, "c"}}},
        {"long", {{long_mono.data(), long_frames, 1, _sample_rate_22k, 0, nullptr}}},
    };
    for (const auto &c : cases)
    {
        std::vector<uint8_t> bytes = sound_tag_bytes(c.permutations);
        // A file that says 8 bits still decodes to 16-bit PCM, and says so.
        write_be16(&bytes[SOUND_DEFINITION_SIZE + (int32_t)c.permutations.size() * SOUND_PERMUTATION_DATA_SIZE + 4], 8);
        const int32_t index = load_sound(c.name, bytes);
        ASSERT_NE(index, NONE) << c.name;
        ASSERT_TRUE(load_sound_definition_data(index)) << c.name;
        for (int32_t p = 0; p < (int32_t)c.permutations.size(); ++p)
        {
            const int16_t *samples = nullptr;
            const sampled_sound_header *header = get_sound_permutation_header(index, p, &samples);
            ASSERT_NE(header, nullptr) << c.name;
            const std::vector<int16_t> expected = decode_stored_packets(bytes, p);
            ASSERT_EQ(header->number_of_samples, (int32_t)expected.size()) << c.name << p;
            EXPECT_EQ(header->logical_bits_per_sample, 16);
            EXPECT_EQ(header->channels, c.permutations[p].channels);
            EXPECT_EQ(std::vector<int16_t>(samples, samples + expected.size()), expected) << c.name << p;
        }
        int32_t decoded = 0;
        EXPECT_EQ(check_sound_tag_data(bytes.data(), (int32_t)bytes.size(), &decoded), nullptr) << c.name;
    }
}

// Patches the stored record or the first sample header of a valid stereo tag.
struct malformed_case
{
    const char *name;
    int32_t offset; // within the tag's data; the first header sits at 64 + 32 n
    int32_t value;
    int32_t width;
    bool refused; // else taken with the damage contained
};

TEST_F(sound_definitions_test, records_that_disagree_with_their_data_are_refused_without_overrun)
{
    const std::vector<int16_t> stereo = make_noise(64 * 3, 2, 4);
    const std::vector<uint8_t> good = sound_tag_bytes({{stereo.data(), 64 * 3, 2, _sample_rate_22k, 0, nullptr}});
    const int32_t header = SOUND_DEFINITION_SIZE + SOUND_PERMUTATION_DATA_SIZE;
    const malformed_case cases[] = {
        {"six permutations", 36, 6, 4, true},
        {"seventeen permutations", 36, 17, 4, true},
        {"negative permutations", 36, -1, 4, true},
        {"permutation list too small", 44, 31, 4, true},
        {"permutation list beyond the data", 40, 1 << 20, 4, true},
        {"packets beyond the sample block", header + 16, 7, 4, true},
        {"huge packet count", header + 16, 0x7FFFFFFF, 4, true},
        {"sample block beyond the data", 20, 1 << 24, 4, true},
        {"sample block smaller than its headers", 24, 31, 4, true},
        {"three channels", header + 8, 3, 2, true},
        {"odd stereo packet count", header + 16, 5, 4, false},
    };
    char name[5] = "bad0";
    for (const malformed_case &c : cases)
    {
        std::vector<uint8_t> bytes = good;
        if (c.width == 4) write_be32(&bytes[c.offset], (uint32_t)c.value);
        else write_be16(&bytes[c.offset], (uint16_t)c.value);
        ++name[3];
        const int32_t index = load_sound(name, bytes);
        take_pending_error();
        if (c.refused)
        {
            EXPECT_EQ(index, NONE) << c.name;
            EXPECT_NE(check_sound_tag_data(bytes.data(), (int32_t)bytes.size(), nullptr), nullptr) << c.name;
            continue;
        }
        ASSERT_NE(index, NONE) << c.name;
        ASSERT_TRUE(load_sound_definition_data(index)) << c.name;
        const sampled_sound_header *decoded = get_sound_permutation_header(index, 0, nullptr);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(decoded->number_of_samples, 4 * NUMBER_OF_IMA_SAMPLES_PER_PACKET) << c.name << ": the unpaired packet is dropped";
    }
}

TEST_F(sound_definitions_test, sound_lists_answer_by_position_and_clamp_their_count)
{
    const std::vector<int16_t> tone = make_sine(64, 1, 440, 22050, 8000);
    const std::vector<uint8_t> bytes = sound_tag_bytes({{tone.data(), 64, 1, _sample_rate_22k, 0, nullptr}});
    write_local_tag(SOUND_DEFINITION_GROUP_TAG, "tone", SOUND_DEFINITION_VERSION, bytes.data(), (int32_t)bytes.size());
    const struct
    {
        const char *name;
        int16_t count;
        int16_t expected_count;
    } cases[] = {{"lst1", 2, 2}, {"lst2", 31, 30}, {"lst3", -4, 0}};
    for (const auto &c : cases)
    {
        sound_list_definition list;
        get_default_sound_list_definition(&list);
        list.number_of_sounds = c.count;
        for (sound_list_entry &entry : list.sounds) get_default_sound_list_entry(&entry);
        list.sounds[0].sound_tag = FOUR_CHARACTER_CODE('t', 'o', 'n', 'e');
        list.sounds[1].sound_tag = NONE;
        ASSERT_TRUE(byte_swap_data("list", &list, SOUND_LIST_DEFINITION_SIZE, 1, sound_list_definition_byte_swapping_data));
        write_local_tag(SOUND_LIST_DEFINITION_GROUP_TAG, c.name, SOUND_LIST_DEFINITION_VERSION, &list, sizeof(list));
        const int32_t index = try_definition_tag_to_index(
            &sound_list_definitions, FOUR_CHARACTER_CODE(c.name[0], c.name[1], c.name[2], c.name[3]), true, 0);
        ASSERT_NE(index, NONE) << c.name;
        EXPECT_EQ(get_sound_list_definition(index)->number_of_sounds, c.expected_count) << c.name;
        const int32_t tone_index = subgroup_tag_to_definition_index(&sound_definitions, FOUR_CHARACTER_CODE('t', 'o', 'n', 'e'));
        EXPECT_EQ(get_sound_list_sound_index(index, 0), c.expected_count > 0 ? tone_index : NONE) << c.name;
        EXPECT_EQ(get_sound_list_sound_index(index, 1), NONE) << c.name << ": a NONE entry";
        EXPECT_EQ(get_sound_list_sound_index(index, c.expected_count < 30 ? c.expected_count : 29), NONE) << c.name;
    }
}

TEST_F(sound_definitions_test, ambient_sounds_resolve_their_loop_and_one_shot_or_are_refused)
{
    const std::vector<int16_t> tone = make_sine(64, 1, 440, 22050, 8000);
    const std::vector<uint8_t> bytes = sound_tag_bytes({{tone.data(), 64, 1, _sample_rate_22k, 0, nullptr}});
    write_local_tag(SOUND_DEFINITION_GROUP_TAG, "tone", SOUND_DEFINITION_VERSION, bytes.data(), (int32_t)bytes.size());
    const tag present = FOUR_CHARACTER_CODE('t', 'o', 'n', 'e'), missing = FOUR_CHARACTER_CODE('g', 'o', 'n', 'e');
    const struct
    {
        const char *name;
        tag loop, random;
        bool taken;
    } cases[] = {{"amb1", present, NONE, true}, {"amb2", NONE, present, true}, {"amb3", present, missing, false}};
    for (const auto &c : cases)
    {
        ambient_sound_definition ambient;
        get_default_ambient_sound_definition(&ambient);
        ambient.sound_tags[_ambient_sound_background_sound] = c.loop;
        ambient.sound_tags[_ambient_sound_random_sound] = c.random;
        ambient.sound_tags[2] = missing; // unused slots are never resolved
        ASSERT_TRUE(byte_swap_data("ambient", &ambient, AMBIENT_SOUND_DEFINITION_SIZE, 1,
                                   ambient_sound_definition_byte_swapping_data));
        write_local_tag(AMBIENT_SOUND_DEFINITION_GROUP_TAG, c.name, AMBIENT_SOUND_DEFINITION_VERSION, &ambient,
                        sizeof(ambient));
        const int32_t index = try_definition_tag_to_index(
            &ambient_sound_definitions, FOUR_CHARACTER_CODE(c.name[0], c.name[1], c.name[2], c.name[3]), true,
            _definition_lookup_quiet_flag);
        take_pending_error();
        ASSERT_EQ(index != NONE, c.taken) << c.name;
        if (!c.taken) continue;
        const ambient_sound_definition *loaded = get_ambient_sound_definition(index);
        const int32_t tone_index = subgroup_tag_to_definition_index(&sound_definitions, present);
        EXPECT_EQ(loaded->sound_indexes[0], c.loop == NONE ? NONE : tone_index) << c.name;
        EXPECT_EQ(loaded->sound_indexes[1], c.random == NONE ? NONE : tone_index) << c.name;
        EXPECT_EQ(loaded->sound_indexes[2], NONE) << c.name;
        EXPECT_EQ(loaded->inner_radius, 6144) << c.name;
    }
}

TEST_F(sound_definitions_test, the_preloader_reads_a_sounds_permutation_list_ahead)
{
    ASSERT_TRUE(register_sound_definition_preloading());
    const std::vector<int16_t> tone = make_sine(640, 1, 440, 22050, 8000);
    const std::vector<uint8_t> bytes = sound_tag_bytes(
        {{tone.data(), 640, 1, _sample_rate_22k, 300, "low"}, {tone.data(), 320, 1, _sample_rate_22k, 0, "high"}});
    write_local_tag(SOUND_DEFINITION_GROUP_TAG, "prel", SOUND_DEFINITION_VERSION, bytes.data(), (int32_t)bytes.size());
    const int32_t index = fetch_definition_from_tag(SOUND_DEFINITION_GROUP_TAG, FOUR_CHARACTER_CODE('p', 'r', 'e', 'l'));
    ASSERT_NE(index, NONE);
    EXPECT_TRUE(sound_definitions.flags[index] & _definition_preloaded_flag);
    const sound_runtime *runtime = get_sound_runtime(index);
    ASSERT_NE(runtime->permutations, nullptr);
    EXPECT_EQ(runtime->permutations[0].skip_fraction, 300);
    EXPECT_STREQ(runtime->permutations[1].name, "high");
    ASSERT_TRUE(load_sound_definition_data(index));
    EXPECT_EQ(get_sound_permutation_header(index, 1, nullptr)->number_of_samples, 320);
}

} // namespace

} // namespace sound_definitions_test_file
