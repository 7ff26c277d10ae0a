#include "support/demo_render_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "determinism_harness.h"
#include "objects.h"
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

pixel_box box_of_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, int32_t width, int32_t height)
{
    pixel_box box;
    if (a.size() < (size_t)width * height * 3 || b.size() < a.size()) return box;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            const size_t at = ((size_t)y * width + x) * 3;
            int32_t d = 0;
            for (int32_t c = 0; c < 3; ++c) d = std::max(d, std::abs(a[at + c] - b[at + c]));
            if (d <= 40) continue;
            box.left = std::min(box.left, x), box.right = std::max(box.right, x);
            box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
        }
    return box;
}

std::vector<int32_t> unit_objects(void)
{
    std::vector<int32_t> units;
    for (int32_t i = 0; i < get_object_count(); ++i)
        if (const object_data *object = get_object(i); object && object->owner == _object_is_monster) units.push_back(i);
    return units;
}

std::vector<pixel_box> object_pixel_boxes(const std::vector<int32_t> &objects, int32_t width, int32_t height,
                                          const std::function<bool(std::vector<uint8_t> *rgb)> &draw)
{
    std::vector<uint32_t> flags;
    for (int32_t index : objects) flags.push_back(get_object(index)->flags);
    const auto hide = [&](int32_t hidden) {
        for (size_t i = 0; i < objects.size(); ++i)
            get_object(objects[i])->flags = flags[i] | _object_has_no_shadow_flag |
                                            (objects[i] == hidden ? (uint32_t)_object_is_not_rendered_flag : 0u);
    };
    std::vector<pixel_box> boxes;
    std::vector<uint8_t> whole, without;
    hide(-1);
    bool drawn = draw(&whole);
    for (size_t i = 0; drawn && i < objects.size(); ++i)
    {
        hide(objects[i]);
        drawn = draw(&without);
        boxes.push_back(box_of_difference(whole, without, width, height));
    }
    for (size_t i = 0; i < objects.size(); ++i) get_object(objects[i])->flags = flags[i];
    EXPECT_TRUE(drawn) << "a frame could not be drawn";
    if (!drawn) boxes.clear();
    return boxes;
}
