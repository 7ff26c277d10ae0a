// vesk_sim --input end to end: timed keyboard and mouse events go through the
// game's input layer tick by tick, the same file gives the same output, input
// leaves the state hash alone, and a line that does not parse is refused with
// its number.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "support/demo_data.h"
#include "support/vesk_sim_fixture.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"

namespace vesk_sim_input_test_file {

namespace {
namespace fs = std::filesystem;

class vesk_sim_input_test : public vesk_sim_fixture
{
protected:
    void write_events(const char *text)
    {
        std::ofstream file("events.txt");
        file << text;
    }
    int run(const std::string &arguments) { return run_vesk_sim(arguments); }
};

} // namespace

// The camera's line of a tick in a --camera trace: position, yaw, pitch, zoom.
struct camera_line
{
    double x = 0, y = 0, yaw = 0, pitch = 0, zoom = 0;
};

static bool find_camera_line(const std::string &trace, int tick, camera_line *line)
{
    const std::string key = "camera " + std::to_string(tick) + " ";
    const size_t at = trace.find(key);
    if (at == std::string::npos || (at != 0 && trace[at - 1] != '\n')) return false;
    return sscanf(trace.c_str() + at + key.size(), "%lf %lf %lf %lf %lf", &line->x, &line->y, &line->yaw, &line->pitch,
                  &line->zoom) == 5;
}

static std::string without_camera_lines(const std::string &trace)
{
    std::string kept;
    size_t start = 0;
    while (start < trace.size())
    {
        size_t end = trace.find('\n', start);
        end = end == std::string::npos ? trace.size() : end + 1;
        if (trace.compare(start, 7, "camera ") != 0) kept.append(trace, start, end - start);
        start = end;
    }
    return kept;
}

TEST_F(vesk_sim_input_test, input_moves_the_camera_the_same_twice_and_leaves_the_state_hash_alone)
{
    write_events("# forward, a turn, the wheel, a typed plus\n"
                 "0 wheel zooms\n"
                 "5 pointer 320 240\n"
                 "10 key down w\n"
                 "40 key up w\n"
                 "50 wheel up\n"
                 "50 wheel up\n"
                 "80 wheel down\n"
                 "100 key down shift\n"
                 "100 key down equals\n"
                 "101 key up equals\n"
                 "101 key up shift\n"
                 "110 key down control\n"
                 "110 key down g\n"
                 "111 key up g\n"
                 "111 key up control\n");
    ASSERT_EQ(run("--map demo --seed 1 --ticks 120 --input events.txt --camera > first.txt 2> err.txt"), 0)
        << read_whole_file("err.txt");
    ASSERT_EQ(run("--map demo --seed 1 --ticks 120 --input events.txt --camera > second.txt 2> err.txt"), 0)
        << read_whole_file("err.txt");
    ASSERT_EQ(run("--map demo --seed 1 --ticks 120 > plain.txt 2> err.txt"), 0) << read_whole_file("err.txt");
    const std::string first = read_whole_file("first.txt");
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, read_whole_file("second.txt"));
    EXPECT_EQ(without_camera_lines(first), read_whole_file("plain.txt")) << "input and the camera are local";

    camera_line before, held, after_in, after_out;
    ASSERT_TRUE(find_camera_line(first, 9, &before));
    ASSERT_TRUE(find_camera_line(first, 45, &held));
    ASSERT_TRUE(find_camera_line(first, 75, &after_in));
    ASSERT_TRUE(find_camera_line(first, 115, &after_out));
    EXPECT_GT((held.x - before.x) * (held.x - before.x) + (held.y - before.y) * (held.y - before.y), 1.0)
        << "the forward key moves the camera";
    EXPECT_EQ(held.zoom, before.zoom);
    EXPECT_GT(after_in.zoom, held.zoom) << "a notch up zooms in";
    EXPECT_LT(after_out.zoom, after_in.zoom) << "a notch down zooms out";
}

TEST_F(vesk_sim_input_test, a_line_that_does_not_parse_is_refused_with_its_number)
{
    const struct
    {
        const char *text;
        const char *expected;
    } rows[] = {
        {"10 key down w\n20 key down nosuchkey\n", "line 2"},
        {"# c\n\n10 button down thumb\n", "line 3"},
        {"10 pointer 5\n", "line 1"},
        {"10 pointer -5 5\n", "line 1"},
        {"10 wheel sideways\n", "line 1"},
        {"20 quit\n10 quit\n", "line 2"},
        {"0x10 quit\n", "line 1"},
        {"10 quit now\n", "line 1"},
        {"10\n", "line 1"},
    };
    for (const auto &row : rows)
    {
        write_events(row.text);
        EXPECT_EQ(run("--map demo --seed 1 --ticks 5 --input events.txt > out.txt 2> err.txt"), 2) << row.text;
        EXPECT_NE(read_whole_file("err.txt").find(row.expected), std::string::npos)
            << row.text << read_whole_file("err.txt");
        EXPECT_EQ(read_whole_file("out.txt"), "") << "no game starts";
    }
    EXPECT_EQ(run("--map demo --seed 1 --ticks 5 --input missing.txt > /dev/null 2>&1"), 2);
}

} // namespace vesk_sim_input_test_file
