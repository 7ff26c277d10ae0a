#include "support/demo_render_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "determinism_harness.h"
#include "render_harness.h"
#include "support/demo_data.h"
#include "support/tag_file_builder.h"

void demo_render_fixture::SetUp()
{
    char working[4096];
    previous = getcwd(working, sizeof(working)) ? working : "/";
    const std::string tool = data_tool_path();
    if (!std::filesystem::exists(tool)) SKIP_OR_FAIL_UNDER_CI("the data tool is missing");
    directory = enter_test_directory();
    ASSERT_TRUE(write_demo_data_set(tool));
}

void demo_render_fixture::TearDown()
{
    stop_simulation();
    if (!previous.empty() && chdir(previous.c_str()) != 0) abort();
    if (!directory.empty()) std::filesystem::remove_all(directory);
}

bool demo_render_fixture::start(int depth, int width, int height)
{
    stop_simulation();
    set_render_harness_screen(depth, (int16_t)width, (int16_t)height);
    char reason[256];
    const bool started = start_simulation(nullptr, FOUR_CHARACTER_CODE('d', 'e', 'm', 'o'), 0, reason, sizeof(reason));
    EXPECT_TRUE(started) << reason;
    return started;
}
