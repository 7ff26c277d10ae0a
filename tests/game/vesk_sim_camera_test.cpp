// vesk_sim --camera on the demo map (its 'obpc' tag made by the data tool):
// a camera line after every tick's hash line, the same lines twice, the
// camera on the map, and the hashes those of a run without the camera.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/demo_data.h"
#include "support/vesk_sim_fixture.h"
#include "support/scratch.h"
#include "support/tag_file_builder.h"

namespace vesk_sim_camera_test_file {

namespace {
namespace fs = std::filesystem;

constexpr int TICKS = 120;

class vesk_sim_camera_test : public vesk_sim_fixture
{
protected:
    std::string run(const std::string &arguments)
    {
        const std::string out = directory + "/out.txt";
        EXPECT_EQ(run_vesk_sim("--log '" + directory + "/sim_log.txt' --map demo --seed 1 --ticks " +
                               std::to_string(TICKS) + " " + arguments + " > '" + out + "' 2> '" + directory +
                               "/err.txt'"),
                  0)
            << read_whole_file(directory + "/err.txt");
        return read_whole_file(out);
    }
};

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

TEST_F(vesk_sim_camera_test, the_camera_is_printed_after_every_tick_the_same_each_run_and_hashes_stay)
{
    const std::string plain = run("");
    const std::string first = run("--camera");
    EXPECT_EQ(run("--camera"), first);

    std::string hashes;
    int cameras = 0;
    const std::vector<std::string> lines = lines_of(first);
    for (size_t i = 0; i < lines.size(); i++)
    {
        if (lines[i].rfind("camera ", 0) != 0)
        {
            hashes += lines[i] + "\n";
            continue;
        }
        ASSERT_GT(i, 0u);
        std::istringstream words(lines[i]);
        std::string word;
        int tick = -1;
        double x = -1, y = -1, yaw = -1, pitch = -1, zoom = -9;
        words >> word >> tick >> x >> y >> yaw >> pitch >> zoom;
        ASSERT_FALSE(words.fail()) << lines[i];
        EXPECT_EQ(std::to_string(tick), lines[i - 1].substr(0, lines[i - 1].find(' '))) << "after its tick's hash";
        EXPECT_GE(x, 0);
        EXPECT_LT(x, 32);
        EXPECT_GE(y, 0);
        EXPECT_LT(y, 32);
        EXPECT_NEAR(pitch, 5.8118701, 1e-3) << "the placed camera's pitch";
        EXPECT_GE(zoom, -1.0);
        EXPECT_LE(zoom, 1.0);
        cameras++;
    }
    EXPECT_EQ(cameras, TICKS);
    EXPECT_EQ(hashes, plain) << "the camera is local: the hashes do not change";
}

} // namespace

} // namespace vesk_sim_camera_test_file
