// Veterans: the 40-byte record as exported, the import's refusals, the
// lookup a placed unit makes, and the forms the films use.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/log.h"
#include "game_records.h"
#include "monster_initializers.h"
#include "players.h"
#include "support/expected_assertions.h"
#include "support/game_core_fixture.h"
#include "support/scratch.h"

namespace monster_initializers_test_file {

namespace {

constexpr tag UNIT_A = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
constexpr tag UNIT_B = FOUR_CHARACTER_CODE('w', 'a', '0', '2');
constexpr tag MONS_A = FOUR_CHARACTER_CODE('m', 'o', 'n', 'a');
constexpr tag MONS_B = FOUR_CHARACTER_CODE('m', 'o', 'n', 'b');

// One record as a film or a peer carries it, byte by byte.
std::vector<uint8_t> stored_record(uint32_t flags, uint32_t owner, tag unit, tag monster, uint8_t experience,
                                   int8_t battles, int8_t permutation, int8_t name_index, const char *name)
{
    std::vector<uint8_t> bytes(40, 0);
    write_be32(&bytes[0], flags);
    write_be32(&bytes[4], owner);
    write_be32(&bytes[8], unit);
    write_be32(&bytes[12], monster);
    bytes[16] = experience;
    bytes[17] = (uint8_t)battles;
    bytes[18] = (uint8_t)permutation;
    bytes[19] = (uint8_t)name_index;
    write_be16(&bytes[20], 0xBEEF);
    memcpy(&bytes[22], name, strlen(name));
    return bytes;
}

std::vector<uint8_t> concatenate(std::initializer_list<std::vector<uint8_t>> records)
{
    std::vector<uint8_t> all;
    for (const auto &record : records) all.insert(all.end(), record.begin(), record.end());
    return all;
}

std::vector<uint8_t> exported(void)
{
    int32_t length = -1;
    export_monster_initializers(nullptr, &length);
    std::vector<uint8_t> bytes((size_t)length + 1, 0xAA);
    int32_t written = -1;
    export_monster_initializers(bytes.data(), &written);
    EXPECT_EQ(written, length);
    EXPECT_EQ(bytes.back(), 0xAA) << "export wrote past its length";
    bytes.pop_back();
    return bytes;
}

std::string log_text(void) { return read_whole_file(LOG_FILE_NAME); }

class monster_initializers_test : public ::testing::Test
{
protected:
    scratch_directory scratch;

    void SetUp() override
    {
        open_log_file("monster initializers test");
        reset_game_core();
        initialize_monster_initializers();
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, 2);
        data.players[0].unique_identifier = 101;
        data.players[1].unique_identifier = 202;
        initialize_players();
        initialize_players_for_new_map(&data);
    }
    void TearDown() override
    {
        reset_monster_initializers();
        close_log_file();
    }
};

TEST_F(monster_initializers_test, records_import_as_stored_and_export_the_same_bytes_with_flags_cleared)
{
    const std::vector<uint8_t> first = stored_record(1, 101, UNIT_A, MONS_A, 3, -2, 5, 7, "Bregan of the Ford");
    const std::vector<uint8_t> second = stored_record(0, 202, UNIT_B, MONS_B, 255, 127, -1, -128, "Ash");
    const std::vector<uint8_t> blob = concatenate({first, second});
    ASSERT_TRUE(import_monster_initializers(blob.data(), (int32_t)blob.size()));

    int32_t count = 0;
    const monster_initializer *set = get_monster_initializers(&count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(set[0].flags, 0u) << "import clears the used bit a film or peer carried";
    EXPECT_EQ(set[0].owner_player_identifier, 101u);
    EXPECT_EQ(set[0].unit_tag, UNIT_A);
    EXPECT_EQ(set[0].monster_tag, MONS_A);
    EXPECT_EQ(set[0].experience, 3);
    EXPECT_EQ(set[0].battles_survived, -2);
    EXPECT_EQ(set[0].color_table_permutation, 5);
    EXPECT_EQ(set[0].original_name_string_index, 7);
    EXPECT_EQ(set[0].pad, 0xBEEF);
    EXPECT_EQ(std::string(set[0].name, 18), std::string("Bregan of the Ford", 18));
    EXPECT_EQ(set[1].experience, 255);
    EXPECT_EQ(set[1].original_name_string_index, -128);

    std::vector<uint8_t> expected = blob;
    expected[3] = 0; // the first record's used bit
    EXPECT_EQ(exported(), expected);
}

TEST_F(monster_initializers_test, bad_lengths_are_refused_and_leave_the_set_untouched)
{
    const std::vector<uint8_t> good = stored_record(0, 101, UNIT_A, MONS_A, 1, 1, 1, 1, "Keeper");
    ASSERT_TRUE(import_monster_initializers(good.data(), 40));
    const std::vector<uint8_t> before = exported();

    std::vector<uint8_t> big((MAXIMUM_MONSTER_INITIALIZERS + 1) * 40, 0);
    const struct
    {
        const char *what;
        const void *buffer;
        int32_t length;
    } refused[] = {
        {"negative", big.data(), -40},
        {"not a multiple of 40", big.data(), 41},
        {"a short record", big.data(), 39},
        {"more than 400 records", big.data(), (int32_t)big.size()},
        {"no buffer", nullptr, 40},
    };
    for (const auto &row : refused)
    {
        SCOPED_TRACE(row.what);
        const size_t log_before = log_text().size();
        EXPECT_FALSE(import_monster_initializers(row.buffer, row.length));
        EXPECT_NE(log_text().find("unit initializers refused", log_before), std::string::npos);
        EXPECT_EQ(exported(), before);
    }

    // The largest set and the empty set are taken.
    EXPECT_TRUE(import_monster_initializers(big.data(), MAXIMUM_MONSTER_INITIALIZERS * 40));
    int32_t count = 0;
    get_monster_initializers(&count);
    EXPECT_EQ(count, MAXIMUM_MONSTER_INITIALIZERS);
    EXPECT_TRUE(import_monster_initializers(nullptr, 0));
    get_monster_initializers(&count);
    EXPECT_EQ(count, 0);
}

TEST_F(monster_initializers_test, a_unit_takes_its_players_veteran_once_preferring_the_same_unit)
{
    const std::vector<uint8_t> blob = concatenate({
        stored_record(0, 202, UNIT_A, MONS_A, 1, 0, 0, 0, "other player"),
        stored_record(0, 101, UNIT_B, MONS_A, 2, 0, 0, 0, "same body"),
        stored_record(0, 101, UNIT_A, MONS_B, 3, 0, 0, 0, "same unit"),
    });
    ASSERT_TRUE(import_monster_initializers(blob.data(), (int32_t)blob.size()));

    const monster_initializer *first = get_monster_initializer(UNIT_A, MONS_A, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->experience, 3) << "the same unit tag comes before a veteran of the same body";
    EXPECT_TRUE(first->flags & _monster_initializer_used_flag);
    const monster_initializer *second = get_monster_initializer(UNIT_A, MONS_A, 0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->experience, 2);
    EXPECT_EQ(second->unit_tag, UNIT_B) << "the placement takes the veteran's own unit";
    EXPECT_EQ(get_monster_initializer(UNIT_A, MONS_A, 0), nullptr) << "each veteran is taken once";
    EXPECT_EQ(get_monster_initializer(UNIT_A, MONS_A, 5), nullptr) << "no such player";
    EXPECT_EQ(get_monster_initializer(UNIT_A, MONS_A, NONE), nullptr);

    mark_monster_initializers_as_unused();
    EXPECT_EQ(get_monster_initializer(UNIT_A, MONS_A, 0)->experience, 3) << "a new map frees them all";
    const monster_initializer *other = get_monster_initializer(UNIT_B, MONS_A, 1);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->experience, 1) << "by monster tag, the other player";
}

TEST_F(monster_initializers_test, the_films_form_exports_only_into_a_buffer_of_the_exact_length)
{
    const std::vector<uint8_t> blob = concatenate({stored_record(0, 101, UNIT_A, MONS_A, 4, 0, 0, 0, "A"),
                                                   stored_record(0, 101, UNIT_B, MONS_B, 5, 0, 0, 0, "B")});
    ASSERT_TRUE(import_monster_initializers(blob.data(), (int32_t)blob.size()));
    ASSERT_EQ(get_monster_initializers_export_length(), 80);
    std::vector<uint8_t> buffer(80, 0);
    EXPECT_FALSE(export_monster_initializers_to_buffer(buffer.data(), 40));
    EXPECT_FALSE(export_monster_initializers_to_buffer(nullptr, 80));
    ASSERT_TRUE(export_monster_initializers_to_buffer(buffer.data(), 80));
    EXPECT_EQ(buffer, blob);

    reset_monster_initializers();
    EXPECT_EQ(get_monster_initializers_export_length(), 0);
    ASSERT_TRUE(import_monster_initializers(buffer.data(), 80));
    EXPECT_EQ(exported(), blob);
}

} // namespace

} // namespace monster_initializers_test_file
