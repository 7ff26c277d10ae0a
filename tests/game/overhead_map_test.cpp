// The overhead map: the colours given up to the blips, the window sizes (and
// their change with the screen), the fade, the explored window, the blip and
// flag rules, the camera; and its input: sketch commands and their
// thresholds, presses on and off the map, the screen-to-world mapping, zoom,
// and sketch commands from outside.

#include <gtest/gtest.h>

#include "support/expected_assertions.h"
#include "support/test_mesh.h"
#include "tag_files/store_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <vector>

#include "bitmap_drawing.h"
#include "collection_builder.h"
#include "cseries/registration.h"
#include "gameplay_versions.h"
#include "shapes.h"
#include "bitmaps.h"
#include "commands.h"
#include "flags.h"
#include "game_preferences.h"
#include "image_files.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "mesh.h"
#include "mesh_format.h"
#include "monster_visibility.h"
#include "overhead_map.h"
#include "overhead_map_input.h"
#include "render/mesh_region.h"
#include "render/render_surfaces.h"
#include "screen.h"
#include "world.h"

namespace overhead_map_test_file {

namespace {

bool load_flat_mesh(int16_t width, int16_t height)
{
    initialize_mesh();
    return load_test_mesh(test_mesh_header(width, height));
}

action_data make_action(int16_t x, int16_t y, std::initializer_list<int32_t> bits)
{
    action_data action;
    memset(&action, 0, sizeof(action));
    action.pointer = {x, y};
    action.ascii_code = action.key_code = -1;
    for (int32_t bit : bits) action.flags[bit / 32] |= 1u << (bit % 32);
    return action;
}

struct sent_sketch
{
    uint16_t flags;
    std::vector<sketch_point2d> points;
};

// A map of 64 x 64 picture pixels over a 64 x 64 cell mesh, open, drawn at
// (100, 50) on a software screen; the outgoing ring records the commands.
class overhead_map_test : public ::testing::Test
{
protected:
    overhead_map_globals *overhead = get_overhead_map_globals();
    active_color_environment saved_screen = active_screen;
    int32_t saved_local_time = game_->local_time.load();

    static void SetUpTestSuite()
    {
        ASSERT_TRUE(load_flat_mesh(64, 64));
        ASSERT_TRUE(initialize_commands());
        initialize_flags();
    }
    static void TearDownTestSuite() { dispose_mesh_from_old_map(); }

    void SetUp() override
    {
        ASSERT_TRUE(initialize_commands_for_new_map());
        memset(overhead, 0, sizeof(*overhead));
        overhead->original_bitmap = new_bitmap(64, 64, 0, _8bit_encoding, 0);
        overhead->bitmap = new_bitmap(64, 64, 0, _8bit_encoding, _bitmap_color_key_transparency_flag);
        memset(overhead->original_bitmap->row_addresses[0], 7, 64 * 64);
        memset(overhead->bitmap->row_addresses[0], 7, 64 * 64);
        overhead->initialized = true;
        overhead->state = _overhead_map_open;
        overhead->scale = 1.0f;
        overhead->display_width = overhead->display_height = 64;
        overhead->bounds = {50, 100, 114, 164};
        overhead->sketch_point_granularity_x = overhead->sketch_point_granularity_y = 1;
        overhead->last_blip_update_tick = NONE;
        active_screen.rasterizer_code = _rasterizer_software;
        active_screen.width = 1024, active_screen.height = 768;
        game_->local_time = 1000;
    }
    void TearDown() override
    {
        free(overhead->original_bitmap);
        free(overhead->bitmap);
        memset(overhead, 0, sizeof(*overhead));
        active_screen = saved_screen;
        game_->local_time = saved_local_time;
        dispose_commands_from_old_map();
    }

    std::vector<sent_sketch> sent_commands()
    {
        std::vector<sent_sketch> sent;
        while (command_header *command = dequeue_outgoing_command())
        {
            command_sketch_data data;
            int32_t count = 0;
            sketch_point2d points[MAXIMUM_POINTS_PER_SKETCH_COMMAND];
            EXPECT_TRUE(decode_sketch_command(command, &data, &count, points));
            sent.push_back({data.flags, std::vector<sketch_point2d>(points, points + count)});
        }
        return sent;
    }
};

// ---- the picture and its colours ---------------------------------------------------------

TEST_F(overhead_map_test, least_used_colours_are_given_up_and_their_pixels_remapped)
{
    // A grey ramp; six indexes used 1..6 times, every other index 16 times.
    color_table *colors = (color_table *)calloc(1, sizeof(color_table));
    colors->color_count = 256;
    for (int32_t i = 0; i < 256; ++i)
        colors->colors[i] = {(uint16_t)(i * 256), (uint16_t)(i * 256), (uint16_t)(i * 256), 0};
    const int32_t rare[6] = {150, 37, 222, 90, 250, 201}; // used 1, 2, ... 6 times
    std::vector<uint8_t> pixels;
    for (int32_t k = 0; k < 6; ++k) pixels.insert(pixels.end(), k + 1, (uint8_t)rare[k]);
    for (int32_t i = 1; i < 256; ++i)
        if (std::find(rare, rare + 6, i) == rare + 6) pixels.insert(pixels.end(), 16, (uint8_t)i);
    pixels.resize(64 * 64, 1);
    uint8_t *picture_pixels = overhead->original_bitmap->row_addresses[0];
    memcpy(picture_pixels, pixels.data(), pixels.size());

    shading_table table;
    uint8_t indexes[NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS];
    ASSERT_TRUE(build_overhead_map_shading_table(&table, indexes, false, overhead->original_bitmap, colors,
                                                 _32bit_encoding));
    // Least used first; each freed grey's nearest is the grey just below it
    // (the one above is as near, and the first minimum wins).
    for (int32_t k = 0; k < 6; ++k) EXPECT_EQ(indexes[k], rare[k]) << "slot " << k;
    for (int32_t k = 6; k < NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS; ++k) EXPECT_EQ(indexes[k], 255);
    for (size_t i = 0; i < pixels.size(); ++i)
    {
        const bool freed = std::find(rare, rare + 6, (int32_t)pixels[i]) != rare + 6;
        ASSERT_EQ(picture_pixels[i], freed ? pixels[i] - 1 : pixels[i]) << "pixel " << i;
    }
    uint32_t pixel;
    memcpy(&pixel, table.pixels + 4 * 150, 4);
    EXPECT_EQ(pixel, 0xFFFF00u); // slot 0: yellow
    memcpy(&pixel, table.pixels + 4 * 90, 4);
    EXPECT_EQ(pixel, 0xFF0000u); // slot 3: red
    memcpy(&pixel, table.pixels + 4 * 250, 4);
    EXPECT_EQ(pixel, 0x00FF00u); // slot 4: green
    memcpy(&pixel, table.pixels + 4 * 100, 4);
    EXPECT_EQ(pixel, 0x646464u); // untouched grey
    memcpy(&pixel, table.pixels, 4);
    EXPECT_EQ(pixel, 0u); // the colour key stays
    {
        expected_assertions expect(1, "halt");
        EXPECT_FALSE(build_overhead_map_shading_table(&table, indexes, false, overhead->original_bitmap, colors,
                                                      _8bit_encoding));
    }
    free(colors);
}

TEST_F(overhead_map_test, window_size_follows_the_screen)
{
    const struct
    {
        int16_t width, height, window_width, window_height;
    } cases[] = {{640, 480, 128, 128},   {800, 640, 128, 128},    {801, 641, 256, 256},  {1280, 1024, 256, 256},
                 {1281, 1081, 384, 384}, {1680, 1400, 384, 384}, {1920, 1200, 512, 384}, {2560, 1600, 512, 512}};
    for (const auto &c : cases)
    {
        int16_t w = 0, h = 0;
        overhead_map_window_size(c.width, c.height, &w, &h);
        EXPECT_EQ(w, c.window_width) << c.width << " x " << c.height;
        EXPECT_EQ(h, c.window_height) << c.width << " x " << c.height;
    }
}

TEST_F(overhead_map_test, fade_opens_closes_and_turns_back_halfway)
{
    overhead->state = _overhead_map_closed;
    set_overhead_map_visibility(false);
    EXPECT_EQ(overhead->state, _overhead_map_closed);
    EXPECT_EQ(overhead->map_transparency, 65535);

    set_overhead_map_visibility(true);
    EXPECT_EQ(overhead->state, _overhead_map_opening);
    EXPECT_EQ(overhead->ticks, 0);
    EXPECT_EQ(overhead->map_transparency, 65535);
    advance_overhead_map_fade(6);
    EXPECT_EQ(overhead->map_transparency, (uint16_t)~(uint16_t)(6 * 49151 / 15));
    EXPECT_EQ(overhead->overlay_transparency, (uint16_t)~(uint16_t)(6 * 4369));
    set_overhead_map_visibility(false);
    EXPECT_EQ(overhead->state, _overhead_map_closing);
    EXPECT_EQ(overhead->ticks, 8);
    set_overhead_map_visibility(true);
    EXPECT_EQ(overhead->state, _overhead_map_opening);
    EXPECT_EQ(overhead->ticks, 6);
    advance_overhead_map_fade(8);
    EXPECT_EQ(overhead->state, _overhead_map_opening);
    advance_overhead_map_fade(1);
    EXPECT_EQ(overhead->state, _overhead_map_open);
    EXPECT_TRUE(get_overhead_map_state());
    EXPECT_EQ(overhead->map_transparency, 16384);
    EXPECT_EQ(overhead->overlay_transparency, 0);

    overhead->sketching = true;
    set_overhead_map_visibility(false);
    EXPECT_FALSE(overhead->sketching);
    EXPECT_EQ(overhead->state, _overhead_map_closing);
    EXPECT_FALSE(get_overhead_map_state());
    advance_overhead_map_fade(14);
    EXPECT_EQ(overhead->state, _overhead_map_closing);
    advance_overhead_map_fade(1);
    EXPECT_EQ(overhead->state, _overhead_map_closed);
    sent_commands();
}

TEST_F(overhead_map_test, explored_window_shows_only_seen_cells)
{
    ASSERT_TRUE(initialize_monster_visibility());
    ASSERT_TRUE(initialize_monster_visibility_for_new_map());
    overhead->limited_terrain_visibility = true;
    rebuild_overhead_map_bitmap();
    const uint8_t *pixels = overhead->bitmap->row_addresses[0];
    for (int32_t i = 0; i < 64 * 64; ++i) ASSERT_EQ(pixels[i], 0) << "pixel " << i << " with nothing explored";

    // A disc of radius 2 around cell (40, 20): one pixel per cell, x mirrored.
    rasterize_visibility_bitmap(_visibility_type_submerged, 40, 20, false);
    swap_visibility_buffers();
    rebuild_overhead_map_bitmap();
    for (int32_t row = 0; row < 64; ++row)
        for (int32_t column = 0; column < 64; ++column)
        {
            const int32_t dx = (63 - column) - 40, dy = row - 20;
            const bool seen = dx * dx + dy * dy <= 6;
            ASSERT_EQ(overhead->bitmap->row_addresses[row][column], seen ? 7 : 0) << column << ", " << row;
        }
    // Columns 21..25 and rows 18..22 seen: shifted to the window's middle.
    EXPECT_EQ(overhead->visual_offset.x, ((21 + 64 - 25) >> 1) - 21);
    EXPECT_EQ(overhead->visual_offset.y, ((18 + 64 - 22) >> 1) - 18);
    dispose_monster_visibility_from_old_map();
}

// ---- blips, flags, camera --------------------------------------------------------------------

TEST_F(overhead_map_test, blip_slots_follow_the_unit_and_the_game)
{
    overhead_map_blip_facts own = {};
    own.allied = own.same_team = own.own = own.on_visible_cell = true;
    own.team = 0;
    overhead_map_blip_facts ally = own;
    ally.own = ally.same_team = false;
    ally.team = 1;
    ally.on_visible_cell = false;
    overhead_map_blip_facts enemy = {};
    enemy.team = 2;
    enemy.on_visible_cell = true;
    overhead_map_blip_context plain = {};
    plain.allow_overhead_map = true;

    const struct
    {
        const char *what;
        overhead_map_blip_facts unit;
        overhead_map_blip_context game;
        int16_t slot;
    } cases[] = {
        {"own unit", own, plain, _overhead_map_own_slot},
        {"own unit ignoring orders", [&] { auto u = own; u.ignores_user_commands = true; return u; }(), plain,
         _overhead_map_allied_slot},
        {"allied unit", ally, plain, _overhead_map_allied_slot},
        {"enemy", enemy, plain, _overhead_map_enemy_slot},
        {"enemy without the option", enemy, {}, NONE},
        {"enemy in a network film", enemy, [] { overhead_map_blip_context g = {}; g.network_film = true; return g; }(),
         _overhead_map_enemy_slot},
        {"enemy under media", [&] { auto u = enemy; u.object_hidden = true; return u; }(), plain, NONE},
        {"ambient life", [&] { auto u = enemy; u.ambient_life_class = true; return u; }(), plain, NONE},
        {"ambient creature", [&] { auto u = enemy; u.ambient_for_selection = true; return u; }(), plain,
         _overhead_map_neutral_slot},
        {"targetable ambient", [&] { auto u = enemy; u.ambient_for_selection = u.targetable_if_ambient = true; return u; }(),
         plain, _overhead_map_enemy_slot},
        {"hidden ambient",
         [&] { auto u = enemy; u.ambient_for_selection = u.invisible_definition = true; return u; }(), plain, NONE},
        {"hunted hidden ambient in a hunt",
         [&] { auto u = enemy; u.ambient_for_selection = u.invisible_definition = u.hunted = true; u.targetable_if_ambient = true; return u; }(),
         [&] { auto g = plain; g.hunting = true; return g; }(), _overhead_map_neutral_slot},
        {"enemy out of sight", [&] { auto u = enemy; u.on_visible_cell = false; return u; }(),
         [&] { auto g = plain; g.limited_visibility = true; return g; }(), NONE},
        {"own unit out of sight", [&] { auto u = own; u.on_visible_cell = false; return u; }(),
         [&] { auto g = plain; g.limited_visibility = true; return g; }(), NONE},
        {"ally out of sight", ally, [&] { auto g = plain; g.limited_visibility = true; return g; }(),
         _overhead_map_allied_slot},
        {"team colours", enemy, [&] { auto g = plain; g.team_colors = true; return g; }(),
         _overhead_map_first_team_slot + 2},
        {"observer", ally, [] { overhead_map_blip_context g = {}; g.observer = true; return g; }(),
         _overhead_map_first_team_slot + 1},
    };
    for (const auto &c : cases) EXPECT_EQ(overhead_map_blip_slot(&c.unit, &c.game), c.slot) << c.what;

    blip blips[] = {{0, _overhead_map_own_slot}, {1, _overhead_map_enemy_slot}, {2, _overhead_map_first_team_slot + 3},
                    {3, _overhead_map_neutral_slot}, {4, _overhead_map_allied_slot}, {5, _overhead_map_own_slot}};
    sort_friendly_blips_last(blips, 6);
    const int16_t order[] = {2, 4, 3, 1, 0, 5};
    for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(blips[i].object_index, order[i]) << "position " << i;
}

struct drawn_icon
{
    point2d corner;
    const uint8_t *bits;
    int16_t set_color, clear_color;
};

void record_icon(void *data, const point2d *corner, const uint8_t *bits, int16_t set_color, int16_t clear_color)
{
    ((std::vector<drawn_icon> *)data)->push_back({*corner, bits, set_color, clear_color});
}

TEST_F(overhead_map_test, flag_icons_by_owner_and_flashing)
{
    initialize_flags_for_new_map();
    uint8_t indexes[NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS];
    for (int32_t i = 0; i < NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS; ++i) indexes[i] = (uint8_t)(200 + i);
    overhead->active_color_indexes = indexes;
    const int16_t saved_team = local_player_team_index;
    local_player_team_index = 0;
    // World (x, y) maps to picture ((1 - x / 32768) * 64, y / 32768 * 64).
    const world_point3d middle = {16384, 16384, 0}, corner = {32767, 0, 0}, other = {8192, 8192, 0};
    ASSERT_NE(new_flag(0, NONE, NONE, NONE, &middle), NONE);
    ASSERT_NE(new_flag(1, NONE, 0, NONE, &other), NONE);
    ASSERT_NE(new_flag(1, NONE, 1, NONE, &corner), NONE);
    ASSERT_NE(new_flag(1, 3, NONE, NONE, &middle), NONE);
    const int32_t hidden = new_flag(0, NONE, 1, NONE, &middle);
    get_flag_data(hidden)->flags |= _flag_is_invisible_on_overhead_map_flag;

    std::vector<drawn_icon> icons;
    draw_flag_blips(&icons, record_icon);
    ASSERT_EQ(icons.size(), 4u);
    EXPECT_EQ(icons[0].bits, banner_icon_bits);
    EXPECT_EQ(icons[0].corner.x, 29);
    EXPECT_EQ(icons[0].corner.y, 29);
    EXPECT_EQ(icons[0].set_color, 200 + _overhead_map_neutral_slot);
    EXPECT_EQ(icons[0].clear_color, NONE);
    EXPECT_EQ(icons[1].bits, token_icon_bits);
    EXPECT_EQ(icons[1].set_color, 200 + _overhead_map_own_slot);
    EXPECT_EQ(icons[2].set_color, 200 + _overhead_map_enemy_slot);
    EXPECT_EQ(icons[2].corner.x, -3);
    EXPECT_EQ(icons[2].corner.y, -3);
    EXPECT_EQ(icons[3].set_color, 200 + _overhead_map_neutral_slot); // numbered, not captured

    overhead->updates = 1; // odd: drawn inverted
    icons.clear();
    draw_flag_blips(&icons, record_icon);
    ASSERT_EQ(icons.size(), 4u);
    EXPECT_EQ(icons[1].set_color, NONE);
    EXPECT_EQ(icons[1].clear_color, 200 + _overhead_map_own_slot);

    // Team colours: an owned flag takes its owner's team slot.
    overhead->drawing_state = _overhead_map_team_colors;
    icons.clear();
    draw_flag_blips(&icons, record_icon);
    EXPECT_EQ(icons[2].clear_color, 200 + _overhead_map_first_team_slot + 1);
    local_player_team_index = saved_team;
    dispose_flags_from_old_map();
}

TEST_F(overhead_map_test, camera_corners_and_a_camera_looking_straight_down)
{
    const world_point2d center = {10000, 20000};
    world_point2d corners[4];
    get_overhead_map_view_projection_corners(&center, 0, corners);
    const world_point2d east[4] = {{25360, 12320}, {25360, 27680}, {13072, 23584}, {13072, 16416}};
    for (int32_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(corners[i].x, east[i].x) << "corner " << i;
        EXPECT_EQ(corners[i].y, east[i].y) << "corner " << i;
    }
    get_overhead_map_view_projection_corners(&center, 16384, corners);
    const world_point2d south[4] = {{17680, 35360}, {2320, 35360}, {6416, 23072}, {13584, 23072}};
    for (int32_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(corners[i].x, south[i].x) << "corner " << i;
        EXPECT_EQ(corners[i].y, south[i].y) << "corner " << i;
    }

    // A zero-length central ray draws its point and no arrow head.
    bitmap_data *screen = new_bitmap(200, 200, 0, _32bit_encoding, 0);
    zero_bitmap_pixels(screen);
    mesh_region region;
    memset(&region, 0, sizeof(region));
    region.central_ray[0] = region.central_ray[1] = {16384, 16384};
    view_data view;
    memset(&view, 0, sizeof(view));
    view.screen = screen;
    view.region = &region;
    rasterize_camera_trapezoid(&view);
    int32_t lit = 0;
    for (int32_t y = 0; y < 200; ++y)
        for (int32_t x = 0; x < 200; ++x) lit += load_pixel32(bitmap_address(screen, (int16_t)x, (int16_t)y)) != 0;
    EXPECT_EQ(lit, 1);
    EXPECT_EQ(load_pixel32(bitmap_address(screen, 132, 82)), 0xFFFF00u);
    free(screen);
}

TEST_F(overhead_map_test, software_drawing_sits_at_the_top_right_of_the_hole)
{
    active_screen.encoding = _32bit_encoding;
    bitmap_data *screen = new_bitmap(400, 300, 0, _32bit_encoding, 0);
    zero_bitmap_pixels(screen);
    for (int32_t i = 0; i < 256; ++i) store_pixel32(overhead->good_bad_shading_table.pixels + 4 * i, 0x203040);
    uint8_t indexes[NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS];
    for (int32_t i = 0; i < NUMBER_OF_OVERHEAD_MAP_COLOR_SLOTS; ++i) indexes[i] = (uint8_t)(240 + i);
    memcpy(overhead->good_bad_color_indexes, indexes, sizeof(indexes));
    store_pixel32(overhead->good_bad_shading_table.pixels + 4 * (240 + _overhead_map_sketch_slot), 0xFF0000);
    overhead->active_shading_table = &overhead->good_bad_shading_table;
    overhead->active_color_indexes = overhead->good_bad_color_indexes;
    overhead->original_bitmap->row_addresses[5][0] = 0; // the colour key stays transparent
    active_screen.screen_initialized = 1;
    overhead->map_transparency = 0;
    overhead->sketching = true;
    const sketch_point2d line[3] = {{10, 30}, {20, 30}, {0, 0}};
    submit_sketch_points_to_overhead_map(1, 3, line);
    overhead->last_real_update_tick = 0;

    view_data view;
    memset(&view, 0, sizeof(view));
    view.screen = screen;
    view.hole = {10, 0, 290, 400};
    rasterize_overhead_map(&view);
    // 5 pixels in from the hole's top-right corner.
    EXPECT_EQ(overhead->bounds.top, 15);
    EXPECT_EQ(overhead->bounds.right, 395);
    EXPECT_EQ(overhead->bounds.left, 331);
    EXPECT_EQ(overhead->bounds.bottom, 79);
    const struct
    {
        int16_t x, y;
        uint32_t pixel;
    } probes[] = {{336, 25, 0x203040},  {330, 25, 0},        {395, 25, 0},        {331, 15, 0xFF0000},
                  {331, 78, 0xFF0000}, {331, 17, 0x203040}, {331, 20, 0},        {341, 45, 0xFF0000}, {351, 45, 0xFF0000},
                  {352, 45, 0x203040}, {341, 46, 0x203040}, {394, 30, 0x203040}, {331, 80, 0}};
    for (const auto &p : probes)
        EXPECT_EQ(load_pixel32(bitmap_address(screen, p.x, p.y)), p.pixel) << p.x << ", " << p.y;
    // To look at it: OVERHEAD_MAP_PNG=1 leaves overhead_map.png in "frames" beside the test.
    if (getenv("OVERHEAD_MAP_PNG")) write_bitmap_to_file_highlevel(screen, nullptr, "frames", "overhead_map", "png", 90);
    free(screen);
}

// ---- input -------------------------------------------------------------------------------------

TEST_F(overhead_map_test, a_long_sketch_goes_out_in_commands_that_continue_the_line)
{
    overhead->sketching = true;
    for (int32_t i = 0; i < 40; ++i)
    {
        game_->local_time = 2000 + i;
        // Alternate sides, so every point is far from the one before.
        action_data press = make_action((int16_t)(100 + (i & 1 ? 60 : 2)), (int16_t)(50 + i), {_left_mouse_down_bit});
        EXPECT_TRUE(action_for_overhead_map(&press)) << "point " << i;
    }
    action_data release = make_action(0, 0, {});
    EXPECT_FALSE(action_for_overhead_map(&release));

    const std::vector<sent_sketch> sent = sent_commands();
    ASSERT_EQ(sent.size(), 3u);
    const size_t real_points[3] = {19, 19, 4};
    for (size_t c = 0; c < 3; ++c)
    {
        ASSERT_EQ(sent[c].points.size(), real_points[c] + 1) << "command " << c;
        EXPECT_EQ(sent[c].flags, 0);
        EXPECT_EQ(sent[c].points.back().x, 0);
        EXPECT_EQ(sent[c].points.back().y, 0);
    }
    for (size_t c = 1; c < 3; ++c)
    {
        EXPECT_EQ(sent[c].points[0].x, sent[c - 1].points[18].x) << "command " << c;
        EXPECT_EQ(sent[c].points[0].y, sent[c - 1].points[18].y) << "command " << c;
    }
    EXPECT_EQ(sent[0].points[0].x, 2);
    EXPECT_EQ(sent[0].points[0].y, 0);
    EXPECT_EQ(sent[2].points[3].y, 39);
    // Locally: the 40 points and the line's end.
    EXPECT_EQ(overhead->visible_sketch_point_count, 41);
    EXPECT_EQ(overhead->queued_sketch_point_count, 0);
}

TEST_F(overhead_map_test, close_sketch_points_are_dropped)
{
    overhead->sketching = true;
    const struct
    {
        int16_t dx;
        int32_t ticks;
        bool taken;
    } cases[] = {{0, 1, true}, {2, 1, false}, {12, 0, true}, {5, 0, false}, {5, 1, true}, {10, 0, false}, {11, 0, true}};
    int16_t x = 110;
    int16_t queued = 0;
    for (const auto &c : cases)
    {
        x = (int16_t)(x + c.dx);
        game_->local_time += c.ticks;
        action_data press = make_action(x, 60, {_left_mouse_down_bit});
        EXPECT_TRUE(action_for_overhead_map(&press));
        if (c.taken) ++queued;
        EXPECT_EQ(overhead->queued_sketch_point_count, queued) << "step " << c.dx << " after " << c.ticks;
        if (!c.taken) x = (int16_t)(x - c.dx);
    }
}

TEST_F(overhead_map_test, sketch_mode_and_erasing_send_their_flags)
{
    change_sketch_mode(true);
    EXPECT_TRUE(overhead->sketching);
    overhead->visible_sketch_point_count = 5;
    erase_sketch_points(true);
    EXPECT_EQ(overhead->visible_sketch_point_count, 0);
    overhead->visible_sketch_point_count = 5;
    erase_sketch_points(false); // a team-mate's erase: cleared, nothing sent
    EXPECT_EQ(overhead->visible_sketch_point_count, 0);
    change_sketch_mode(false);
    const std::vector<sent_sketch> sent = sent_commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].flags, _command_sketch_start_flag);
    EXPECT_TRUE(sent[0].points.empty());
    EXPECT_EQ(sent[1].flags, _command_sketch_erase_flag);
    EXPECT_TRUE(sent[1].points.empty());
}

TEST_F(overhead_map_test, a_press_begun_off_the_map_or_on_unexplored_ground_is_not_taken)
{
    action_data off = make_action(90, 60, {_right_mouse_down_bit});
    EXPECT_FALSE(action_for_overhead_map(&off));
    action_data onto = make_action(120, 60, {_right_mouse_down_bit, _right_mouse_click_bit});
    EXPECT_FALSE(action_for_overhead_map(&onto));
    EXPECT_EQ(get_overhead_map_click_location(), nullptr);

    action_data release = make_action(120, 60, {});
    EXPECT_FALSE(action_for_overhead_map(&release));
    EXPECT_TRUE(action_for_overhead_map(&onto));
    const world_point2d *clicked = get_overhead_map_click_location();
    ASSERT_NE(clicked, nullptr);
    EXPECT_EQ(clicked->x, 32768 - 20 * 512 - 1);
    EXPECT_EQ(clicked->y, 10 * 512);
    EXPECT_FALSE(action_for_overhead_map(&release));
    EXPECT_EQ(get_overhead_map_click_location(), nullptr);

    // Limited visibility: a transparent pixel is not the map.
    overhead->limited_terrain_visibility = true;
    overhead->bitmap->row_addresses[10][20] = 0;
    EXPECT_FALSE(action_for_overhead_map(&onto));
    EXPECT_FALSE(action_for_overhead_map(&release));
    action_data beside = make_action(121, 60, {_right_mouse_down_bit, _right_mouse_click_bit});
    EXPECT_TRUE(action_for_overhead_map(&beside));
}

// The map is the ground seen from above, not its mirror image: whichever way
// the camera looks, what lies to the right of its view (the renderer's right
// vector) lies clockwise of its heading on the picture (y down), and the
// camera's outline points along that heading.
TEST_F(overhead_map_test, the_picture_turns_with_the_view_and_is_never_its_mirror_image)
{
    const world_point2d center = {16384, 16384};
    const point2d at = overhead_map_picture_position(&center);
    for (const angle yaw : {(angle)0, (angle)16384, (angle)-32768, (angle)-16384, (angle)6000})
    {
        SCOPED_TRACE("yaw " + std::to_string(yaw));
        rotation_matrix m;
        build_rotation_matrix(m, yaw, -5000);
        // Row 0 is the right vector, row 2 the backward one (2.14).
        const world_point2d right = {(world_distance)(center.x + m[0][0] / 4), (world_distance)(center.y + m[0][1] / 4)};
        const world_point2d ahead = {(world_distance)(center.x - m[2][0] / 4), (world_distance)(center.y - m[2][1] / 4)};
        const point2d r = overhead_map_picture_position(&right), f = overhead_map_picture_position(&ahead);
        const int32_t fx = f.x - at.x, fy = f.y - at.y, rx = r.x - at.x, ry = r.y - at.y;
        ASSERT_TRUE(fx || fy);
        EXPECT_GT(fx * ry - fy * rx, 0) << "heading " << fx << "," << fy << " right " << rx << "," << ry;
        world_point2d corners[4];
        get_overhead_map_view_projection_corners(&center, yaw, corners);
        const world_point2d far = {(world_distance)((corners[0].x + corners[1].x) / 2),
                                   (world_distance)((corners[0].y + corners[1].y) / 2)};
        const point2d outline = overhead_map_picture_position(&far);
        EXPECT_GT((outline.x - at.x) * fx + (outline.y - at.y) * fy, 0) << "the outline points ahead";
    }
}

TEST_F(overhead_map_test, screen_corners_map_to_world_corners)
{
    overhead->scale = 2.0f;
    overhead->display_width = overhead->display_height = 128;
    overhead->bounds = {50, 100, 178, 228};
    const struct
    {
        int16_t x, y;
        int32_t world_x, world_y;
    } cases[] = {{100, 50, 32767, 0}, {227, 50, 255, 0}, {100, 177, 32767, 32512}, {227, 177, 255, 32512}};
    for (const auto &c : cases)
    {
        const point2d screen = {c.x, c.y};
        const world_point2d world = overhead_map_screen_to_world(&screen);
        EXPECT_EQ(world.x, c.world_x) << c.x << ", " << c.y;
        EXPECT_EQ(world.y, c.world_y) << c.x << ", " << c.y;
    }
}

TEST_F(overhead_map_test, zoom_only_on_the_hardware_renderer)
{
    game_preferences *preferences = get_game_preferences();
    const float saved_factor = preferences->overhead_map_scale_relative_to_default;
    zoom_overhead_map(2.0f);
    EXPECT_EQ(overhead->scale, 1.0f);
    // A shift-drag is the map's, but changes nothing in software.
    action_data grab = make_action(110, 60, {_shift_down_bit, _left_mouse_down_bit, _left_mouse_click_bit});
    EXPECT_TRUE(action_for_overhead_map(&grab));
    EXPECT_TRUE(overhead->dragging);
    action_data drag = make_action(110, 100, {_shift_down_bit, _left_mouse_down_bit});
    EXPECT_TRUE(action_for_overhead_map(&drag));
    EXPECT_EQ(overhead->scale, 1.0f);
    action_data release = make_action(110, 100, {});
    EXPECT_TRUE(action_for_overhead_map(&release));
    EXPECT_FALSE(overhead->dragging);

    active_screen.rasterizer_code = _rasterizer_opengl;
    zoom_overhead_map(2.0f);
    EXPECT_EQ(overhead->scale, 2.0f);
    EXPECT_EQ(overhead->display_width, 128);
    // The default is the picture's own size, as the software renderer draws it.
    EXPECT_FLOAT_EQ(preferences->overhead_map_scale_relative_to_default, 2.0f);
    // Dragging row 10 of the picture down to 40 pixels below the top.
    overhead->bounds = {50, 100, 178, 228};
    action_data grab2 = make_action(110, 70, {_shift_down_bit, _left_mouse_down_bit, _left_mouse_click_bit});
    EXPECT_TRUE(action_for_overhead_map(&grab2));
    action_data drag2 = make_action(110, 90, {_shift_down_bit, _left_mouse_down_bit});
    EXPECT_TRUE(action_for_overhead_map(&drag2));
    EXPECT_FLOAT_EQ(overhead->scale, 40.5f / 10.5f);
    action_data reset = make_action(110, 90, {_shift_down_bit, _right_mouse_down_bit});
    EXPECT_TRUE(action_for_overhead_map(&release));
    EXPECT_TRUE(action_for_overhead_map(&reset));
    EXPECT_FLOAT_EQ(overhead->scale, 1.0f);
    EXPECT_EQ(overhead->display_width, 64) << "back to the software renderer's size";
    preferences->overhead_map_scale_relative_to_default = saved_factor;
}

// ---- sketch commands from films and peers ---------------------------------------------------------

TEST_F(overhead_map_test, sketch_commands_from_outside_are_bounded)
{
    // Round trip through the ring.
    const sketch_point2d points[3] = {{5, 6}, {200, 250}, {0, 0}};
    const command_sketch_data data = {_command_sketch_start_flag, 0};
    ASSERT_TRUE(queue_sketch_command(&data, 3, points));
    command_header *command = dequeue_outgoing_command();
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->size, 8 + 4 + 2 + 6);
    const uint8_t *bytes = (const uint8_t *)command;
    const uint8_t fields[] = {0, 1, 0, 0, 0, 3, 5, 6, 200, 250, 0, 0};
    EXPECT_EQ(memcmp(bytes + 8, fields, sizeof(fields)), 0);

    std::vector<uint8_t> copy(bytes, bytes + command->size);
    command_sketch_data decoded;
    int32_t count = 0;
    sketch_point2d out[MAXIMUM_POINTS_PER_SKETCH_COMMAND];
    ASSERT_TRUE(decode_sketch_command((command_header *)copy.data(), &decoded, &count, out));
    EXPECT_EQ(decoded.flags, _command_sketch_start_flag);
    ASSERT_EQ(count, 3);
    // Off the picture: clamped to its last sketch unit.
    submit_sketch_points_to_overhead_map(1, count, out);
    ASSERT_EQ(overhead->visible_sketch_point_count, 3);
    EXPECT_EQ(overhead->visible_sketch_points[1].x, 63);
    EXPECT_EQ(overhead->visible_sketch_points[1].y, 63);
    submit_sketch_points_to_overhead_map(1, 5000, out); // the count is clamped too
    EXPECT_EQ(overhead->visible_sketch_point_count, 3 + MAXIMUM_POINTS_PER_SKETCH_COMMAND);

    // Too many points, no terminator, a truncated record: refused.
    auto build = [](int16_t count, bool terminated) {
        std::vector<uint8_t> bytes(8 + 4 + 2 + 2 * count, 9);
        bytes[0] = 0, bytes[1] = (uint8_t)bytes.size();
        command_header *header = (command_header *)bytes.data();
        header->size = (int16_t)bytes.size();
        header->verb = _command_sketch;
        header->player_index = 0;
        header->time = 0;
        bytes[8] = bytes[9] = bytes[10] = bytes[11] = 0;
        bytes[12] = (uint8_t)(count >> 8), bytes[13] = (uint8_t)count;
        if (terminated && count) bytes[bytes.size() - 1] = bytes[bytes.size() - 2] = 0;
        return bytes;
    };
    std::vector<uint8_t> many = build(21, true);
    EXPECT_FALSE(decode_sketch_command((command_header *)many.data(), &decoded, &count, out));
    std::vector<uint8_t> open = build(4, false);
    EXPECT_FALSE(decode_sketch_command((command_header *)open.data(), &decoded, &count, out));
    std::vector<uint8_t> good = build(4, true);
    EXPECT_TRUE(decode_sketch_command((command_header *)good.data(), &decoded, &count, out));
    std::vector<uint8_t> truncated = build(4, true);
    ((command_header *)truncated.data())->size = 8 + 4 + 2 + 3;
    {
        expected_assertions expect(1);
        EXPECT_FALSE(decode_sketch_command((command_header *)truncated.data(), &decoded, &count, out));
    }
}

// ---- the picture from the map's collection ---------------------------------------------------

class overhead_map_picture : public store_fixture::store_test
{
protected:
    active_color_environment saved_screen = active_screen;
    int32_t saved_version = current_gameplay_version;

    void SetUp() override
    {
        store_test::SetUp();
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        ASSERT_TRUE(load_flat_mesh(64, 64));
        active_screen.encoding = _32bit_encoding;
        active_screen.width = 1280, active_screen.height = 1024;
    }
    void TearDown() override
    {
        dispose_overhead_map_from_old_game();
        dispose_mesh_from_old_map();
        active_screen = saved_screen;
        current_gameplay_version = saved_version;
        dispose_definitions();
        clear_all_registrations();
        store_test::TearDown();
    }
    // The map names a collection of one sequence showing `picture`.
    void start(const builder_bitmap &picture, bool with_sequence = true)
    {
        builder_collection c;
        c.colors.color_count = 16;
        for (int32_t i = 0; i < 16; ++i) c.colors.colors[i] = {(uint16_t)(i * 4000), 30000, 20000, 0};
        c.bitmaps.push_back(picture);
        c.instances.push_back(builder_instance(0, 0, 0, 0, 0));
        if (with_sequence)
        {
            builder_sequence sequence = new_builder_sequence("overhead map");
            sequence.frames.push_back({0});
            ASSERT_EQ(complete_builder_sequence(&sequence, &c), nullptr);
            c.sequences.push_back(sequence);
        }
        const std::vector<uint8_t> bytes = build_collection_tag_data(c);
        std::filesystem::remove_all(LOCAL_TAGS_FOLDER);
        start_store();
        write_local_tag(COLLECTION_GROUP_TAG, "over", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        initialize_shapes_for_new_map();
        mesh_header *header = get_mesh_header();
        header->overhead_map_collection_tag = FOUR_CHARACTER_CODE('o', 'v', 'e', 'r');
        header->overhead_map_collection_index = NONE;
        header->flags |= _mesh_is_complete_flag;
        ASSERT_TRUE(initialize_overhead_map_for_new_game(nullptr));
    }
};

// The window of a scrolling limited-visibility map follows the screen when
// its size changes during the game; a map that does not scroll keeps its
// whole picture.
TEST_F(overhead_map_picture, a_new_resolution_resizes_the_window_of_a_scrolling_map)
{
    const struct
    {
        const char *what;
        uint32_t flags;
        int16_t width, height; // the new screen
        int16_t window_width, window_height;
    } cases[] = {
        {"larger screen", _mesh_has_limited_terrain_visibility_flag, 1920, 1200, 512, 300},
        {"smaller screen", _mesh_has_limited_terrain_visibility_flag, 640, 480, 128, 128},
        {"not scrolling", _mesh_has_limited_terrain_visibility_flag | _mesh_overhead_map_doesnt_scroll_flag, 640, 480,
         600, 300},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        active_screen.width = 1280, active_screen.height = 1024;
        get_mesh_header()->flags |= c.flags;
        start(new_builder_bitmap("map", 600, 300, _builder_flat_8bit_rows, 3));
        const overhead_map_globals *overhead = get_overhead_map_globals();
        ASSERT_TRUE(overhead_map_initialized());
        active_screen.width = c.width, active_screen.height = c.height;
        update_overhead_map_for_new_resolution();
        EXPECT_EQ(overhead->bitmap->width, c.window_width);
        EXPECT_EQ(overhead->bitmap->height, c.window_height);
        dispose_overhead_map_from_old_game();
        get_mesh_header()->flags &= ~c.flags;
    }
}

TEST_F(overhead_map_picture, a_flat_picture_is_built_and_others_are_refused)
{
    current_gameplay_version = 1811;
    builder_bitmap flat = new_builder_bitmap("map", 600, 300, _builder_flat_8bit_rows, 3);
    start(flat);
    const overhead_map_globals *overhead = get_overhead_map_globals();
    ASSERT_TRUE(overhead_map_initialized());
    EXPECT_EQ(overhead->bitmap->width, 600);
    EXPECT_EQ(overhead->bitmap->height, 300);
    EXPECT_EQ(overhead->sketch_point_granularity_x, 3); // bytes reach across the whole picture
    EXPECT_EQ(overhead->sketch_point_granularity_y, 2);
    EXPECT_EQ(overhead->limited_visibility_width, 256);
    EXPECT_EQ(take_pending_error(), _error_none);
    dispose_overhead_map_from_old_game();

    const struct
    {
        const char *what;
        builder_bitmap picture;
        bool with_sequence;
        int32_t error;
    } refused[] = {
        {"run-length", new_builder_bitmap("map", 64, 64, _builder_rle_8bit, 3), true, _error_data_mismatch},
        {"16-bit", new_builder_bitmap("map", 64, 64, _builder_flat_16bit, 0xF800), true, _error_data_mismatch},
        {"without a row table", new_builder_bitmap("map", 64, 64, _builder_flat_8bit, 3), true, _error_data_mismatch},
        // The collection itself is refused before the map sees it.
        {"too wide", new_builder_bitmap("map", 4097, 2, _builder_flat_8bit_rows, 3), true, _error_data_corrupted},
        {"no sequence", flat, false, _error_data_mismatch},
    };
    for (const auto &c : refused)
    {
        start(c.picture, c.with_sequence);
        EXPECT_FALSE(overhead_map_initialized()) << c.what;
        EXPECT_EQ(take_pending_error(), c.error) << c.what;
        dispose_overhead_map_from_old_game();
    }
}

} // namespace

} // namespace overhead_map_test_file
