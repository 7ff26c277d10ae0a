// The film of a game cut short (killed or crashed: no ending time, its last
// block not whole) replays in step to its last whole block, and vesk_sim
// says it was cut short there rather than passing it for a whole game.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "recording_format.h"
#include "tag_files/tag_file_formats.h"

namespace
{
class vesk_sim_cut_film : public vesk_sim_fixture
{
};

void put_big_endian_32(std::string *bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i) (*bytes)[offset + (size_t)i] = (char)(value >> (24 - 8 * i));
}

TEST_F(vesk_sim_cut_film, a_film_cut_short_replays_to_its_last_whole_block_and_says_so)
{
    std::ofstream("orders.txt") << "30 0 move 10,11,12 4000,7000 6000,7000\n"
                                   "300 0 attack-ground 12 9000,7000\n"
                                   "450 1 stop 22\n";
    ASSERT_EQ(run_vesk_sim("--map demo --seed 1 --ticks 600 --orders orders.txt --record F > whole.txt 2> err.txt"), 0)
        << read_whole_file("err.txt");
    // What a kill leaves: no ending time, and the last block only begun.
    std::string film = read_whole_file("F");
    const size_t header = sizeof(local_tag_file_header);
    ASSERT_GT(film.size(), header + RECORDING_FILE_HEADER_SIZE + 16);
    film.resize(film.size() - 6);
    put_big_endian_32(&film, offsetof(local_tag_file_header, data_size), (uint32_t)(film.size() - header));
    put_big_endian_32(&film, header + offsetof(recording_file_header, recording_ending_time), 0);
    ASSERT_TRUE(write_whole_file("cut", film.data(), film.size()));

    EXPECT_EQ(run_vesk_sim("--film cut > replayed.txt 2> err.txt"), 1);
    const std::string err = read_whole_file("err.txt"), replayed = read_whole_file("replayed.txt");
    const size_t at = err.find("the film was cut short at tick ");
    ASSERT_NE(at, std::string::npos) << err;
    const int tick = atoi(err.c_str() + at + 31);
    EXPECT_GT(tick, 300) << err;
    EXPECT_LT(tick, 600) << err;
    // In step as far as it went: the whole game's trace begins with its lines.
    ASSERT_FALSE(replayed.empty());
    EXPECT_EQ(read_whole_file("whole.txt").rfind(replayed, 0), 0u) << replayed;
}
} // namespace
