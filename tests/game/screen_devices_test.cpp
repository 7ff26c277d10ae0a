// The display devices over a fake mode list: the common sizes below a single
// mode, "any size", filtering of small, duplicate and surplus modes, the
// device limit, the preference order and the default mode's scores.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "fake_sdl_video.h"
#include "support/expected_assertions.h"

#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "screen.h"
#include "screen_setup.h"

namespace screen_devices_test_file {

namespace {

class screen_devices : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake_sdl::install();
        clear_screen_devices();
    }
    void TearDown() override
    {
        clear_screen_devices();
        fake_sdl::uninstall();
        original_screen_width = original_screen_height = NONE;
    }

    static std::vector<std::pair<int, int>> sizes(const device_info *device)
    {
        std::vector<std::pair<int, int>> result;
        for (int16_t i = 0; i < device->mode_count; ++i) result.push_back({device->modes[i].width, device->modes[i].height});
        return result;
    }

    static void offer(std::vector<SDL_Rect> modes) { fake_sdl::current().modes = std::move(modes); }
};

SDL_Rect size(int width, int height) { return SDL_Rect{0, 0, (Uint16)width, (Uint16)height}; }

TEST_F(screen_devices, a_single_mode_gets_the_common_sizes_below_it)
{
    using sizes_list = std::vector<std::pair<int, int>>;
    offer({size(1920, 1080)});
    display_device_query_and_report_modes(_rasterizer_software, "Software", nullptr);
    ASSERT_EQ(get_screen_device_count(), 1);
    // 1680 x 1050 is left out: 1080 is below its height threshold 1099.
    EXPECT_EQ(sizes(get_screen_device(0)),
              (sizes_list{{1920, 1080}, {640, 480}, {800, 600}, {1024, 768}, {1280, 800}, {1440, 900}}));

    clear_screen_devices();
    offer({size(1366, 768)});
    display_device_query_and_report_modes(_rasterizer_software, "Software", nullptr);
    // 768 fails the heights of 1024 x 768 and 1280 x 800; the chain stops at
    // 1440 x 900, whose width threshold 1489 is not met.
    EXPECT_EQ(sizes(get_screen_device(0)), (sizes_list{{1366, 768}, {640, 480}, {800, 600}}));

    clear_screen_devices();
    fake_sdl::current().modes.clear();
    fake_sdl::current().any_size = true; // what the dummy driver answers
    display_device_query_and_report_modes(_rasterizer_software, "Software", nullptr);
    ASSERT_EQ(get_screen_device_count(), 1) << "\"any size\" still gives a device";
    EXPECT_EQ(sizes(get_screen_device(0)), (sizes_list{{1024, 768}, {640, 480}, {800, 600}}));
    EXPECT_EQ(get_screen_device(0)->rasterizer_id, SOFTWARE_RASTERIZER_ID);
    EXPECT_EQ(get_screen_device(0)->modes[0].bit_depth, 32);
    EXPECT_EQ(get_screen_device(0)->modes[0].scale, 1.0f);
}

TEST_F(screen_devices, small_duplicate_and_surplus_modes_are_left_out)
{
    using sizes_list = std::vector<std::pair<int, int>>;
    offer({size(1280, 1024), size(1280, 1024), size(800, 600), size(639, 480), size(640, 479), size(640, 480)});
    display_device_query_and_report_modes(_rasterizer_software, "Software", nullptr);
    EXPECT_EQ(sizes(get_screen_device(0)), (sizes_list{{1280, 1024}, {800, 600}, {640, 480}}));

    // Thousands of modes: the first 256 distinct valid sizes are kept.
    clear_screen_devices();
    std::vector<SDL_Rect> many;
    for (int i = 0; i < 3000; ++i) many.push_back(size(4000 - i, 3000 - (i % 7)));
    offer(many);
    display_device_query_and_report_modes(_rasterizer_software, "Software", nullptr);
    ASSERT_EQ(get_screen_device(0)->mode_count, MAXIMUM_DEVICE_MODES);
    EXPECT_EQ(get_screen_device(0)->modes[255].width, 4000 - 255);

    // Nothing at all: no device.
    clear_screen_devices();
    offer({size(320, 200)});
    display_device_query_and_report_modes(_rasterizer_software, "Software", nullptr);
    EXPECT_EQ(get_screen_device_count(), 0);
}

TEST_F(screen_devices, a_ninth_device_is_dropped_and_bad_indexes_give_null)
{
    device_info device = {};
    device.rasterizer_code = _rasterizer_software;
    add_resolution(&device, 800, 600);
    add_resolution(&device, 800, 600);
    add_resolution(&device, 639, 480);
    EXPECT_EQ(device.mode_count, 1);
    for (int i = 0; i < MAXIMUM_SCREEN_DEVICES; ++i) EXPECT_EQ(report_device(&device), i + 1);
    EXPECT_EQ(report_device(&device), MAXIMUM_SCREEN_DEVICES);
    EXPECT_EQ(get_screen_device_count(), MAXIMUM_SCREEN_DEVICES);
    {
        expected_assertions expect(2);
        EXPECT_EQ(get_screen_device(-1), nullptr);
        EXPECT_EQ(get_screen_device(MAXIMUM_SCREEN_DEVICES), nullptr);
    }
    clear_screen_devices();
    {
        expected_assertions expect(1, "No devices found!");
        EXPECT_EQ(get_screen_device(0), nullptr);
    }
}

TEST_F(screen_devices, modern_devices_come_first_then_names_and_the_default_mode_scores)
{
    device_info_opengl old_card = {}, new_card = {};
    new_card.opengl2_device = true;
    device_info device = {};
    auto report = [&](int16_t code, const char *name, void *extra, std::vector<device_mode_info> modes) {
        device = {};
        device.rasterizer_code = code;
        strlcpy(device.name, name, sizeof(device.name));
        device.extra_data = extra;
        for (const device_mode_info &mode : modes)
            add_device_mode(&device, mode.flags, mode.width, mode.height, mode.bit_depth, mode.refresh_rate, mode.scale);
        report_device(&device);
    };
    const device_mode_info full_hd = {0, 1920, 1080, 32, 0, 1.0f}, full_hd_2x = {0, 1920, 1080, 32, 0, 2.0f},
                           small = {0, 1024, 768, 32, 0, 1.0f};
    report(_rasterizer_software, "Software", nullptr, {small, full_hd});
    report(_rasterizer_opengl, "Zeta", &old_card, {full_hd});
    report(_rasterizer_opengl, "Beta", &new_card, {full_hd, full_hd_2x, small});
    report(_rasterizer_opengl, "Alpha", &old_card, {small});
    sort_screen_devices();

    const uint8_t *order = get_priority_sorted_device_indexes();
    EXPECT_EQ(std::vector<int>(order, order + 4), (std::vector<int>{2, 3, 0, 1})) << "Beta (modern), then by bytes: Alpha, Software, Zeta";
    EXPECT_TRUE(any_modern_hardware_devices_found());
    EXPECT_EQ(prefer_modern(get_screen_device(2), get_screen_device(0)), _rasterizer_opengl);
    EXPECT_EQ(prefer_modern(get_screen_device(1), get_screen_device(0)), NONE);

    // On a 1920 x 1080 desktop the scale-2.0 mode of the modern device wins (score 3).
    original_screen_width = 1920;
    original_screen_height = 1080;
    int16_t device_index, mode_index;
    select_best_device_found(&device_index, &mode_index);
    EXPECT_EQ(device_index, 2);
    EXPECT_EQ(mode_index, 1);

    // The software device never offers a mode of another scale; its best is 1920 x 1080 (score 2).
    device_mode_info wanted = {0, 1920, 1080, NONE, NONE, 2.0f};
    get_screen_device(0)->modes[0].scale = 2.0f;
    EXPECT_TRUE(find_mode_similar_to(get_screen_device(0), &wanted, &mode_index));
    EXPECT_EQ(mode_index, 1);
    get_screen_device(0)->modes[1].flags = _device_mode_invalid_flag;
    EXPECT_FALSE(find_mode_similar_to(get_screen_device(0), &wanted, &mode_index));
    EXPECT_EQ(mode_index, NONE);

    // find_device_and_mode looks in the first matching device only: Zeta has
    // no 1024 x 768, and Beta, which has, is never searched.
    EXPECT_FALSE(find_device_and_mode(OPENGL_RASTERIZER_ID, nullptr, 1024, 768, &device_index, &mode_index));
    EXPECT_TRUE(find_device_and_mode(OPENGL_RASTERIZER_ID, "Beta", 1024, 768, &device_index, &mode_index));
    EXPECT_EQ(device_index, 2);
    EXPECT_EQ(mode_index, 2);
}

// Where OpenGL draws on the processor the software device is recommended
// and the default; OpenGL stays listed.
TEST_F(screen_devices, a_driver_drawing_on_the_processor_leaves_the_software_device_recommended)
{
    const struct { const char *renderer; bool opengl2, software_first; } cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true, true}, {"softpipe", true, true}, {"llvmpipe", false, true},
        {"Example graphics card", true, false}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.renderer);
        clear_screen_devices();
        device_info_opengl opengl = {};
        opengl.opengl2_device = c.opengl2;
        strlcpy(opengl.renderer, c.renderer, sizeof(opengl.renderer));
        for (const int16_t code : {_rasterizer_software, _rasterizer_opengl})
        {
            device_info device = {};
            device.rasterizer_code = code;
            device.extra_data = code == _rasterizer_opengl ? &opengl : nullptr;
            add_resolution(&device, 1024, 768);
            report_device(&device);
        }
        sort_screen_devices();
        int16_t device_index, mode_index;
        select_best_device_found(&device_index, &mode_index);
        EXPECT_EQ(device_index, c.software_first ? 0 : 1);
        EXPECT_EQ(get_screen_device(0)->recommended, c.software_first);
        EXPECT_EQ(get_screen_device(1)->recommended, !c.software_first);
    }
}

TEST_F(screen_devices, only_the_software_device_is_the_default_without_hardware)
{
    offer({size(1920, 1080), size(1280, 720)});
    original_screen_width = 1280;
    original_screen_height = 720;
    query_for_screen_devices();
    ASSERT_EQ(get_screen_device_count(), 1);
    int16_t device_index, mode_index;
    select_best_device_found(&device_index, &mode_index);
    EXPECT_EQ(device_index, 0);
    EXPECT_STREQ(get_screen_device(device_index)->name, "Software");
    EXPECT_EQ(mode_index, 1);
}

} // namespace

} // namespace screen_devices_test_file
