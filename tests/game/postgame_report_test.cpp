// The post-game views laid out through their recording seams: the encoded
// report's tables, the carnage graph's polylines (against points worked out
// by hand), the statistics columns, and the report control's colours.

#include <cstring>
#include <string>
#include <vector>

#include "support/dialog_harness.h"

#include "bitmap_dialogs/carnage_graph_control.h"
#include "bitmap_dialogs/postgame_permanent_stats.h"
#include "bitmap_dialogs/postgame_player_stats.h"
#include "bitmap_dialogs/postgame_report_control.h"
#include "game_records.h"
#include "game_time.h"
#include "players.h"

namespace postgame_report_test_file {

namespace {

struct laid_text
{
    rectangle2d bounds;
    std::string text;
    int16_t kind;
    uint32_t flags;
};

void record_text(void *context, const rectangle2d *bounds, const char *text, int16_t kind, uint32_t flags)
{
    ((std::vector<laid_text> *)context)->push_back({*bounds, text, kind, flags});
}

// A report of the tables in `rows` (NONE: absent), its strings "t0", "t0r0c0"... in reading order.
encoded_postgame_report make_report(const int16_t (&rows)[NUMBER_OF_POSTGAME_REPORT_TABLES], int32_t string_limit)
{
    static const int16_t columns[NUMBER_OF_POSTGAME_REPORT_TABLES] = {0, 4, 3, 2, 0, 0};
    encoded_postgame_report report;
    memset(&report, 0, sizeof(report));
    int32_t used = 0, strings = 0;
    auto add = [&](const std::string &s) {
        if (strings >= string_limit) return;
        memcpy(report.strings + used, s.c_str(), s.size() + 1);
        used += (int32_t)s.size() + 1;
        ++strings;
    };
    for (int32_t t = 0; t < NUMBER_OF_POSTGAME_REPORT_TABLES; ++t)
    {
        if (rows[t] == NONE) continue;
        report.valid_table_flags |= (uint16_t)(1u << t);
        report.table_row_counts[t] = rows[t];
        add("t" + std::to_string(t));
        for (int32_t r = 0; r < rows[t]; ++r)
            for (int32_t c = 0; c < columns[t]; ++c)
                add("t" + std::to_string(t) + "r" + std::to_string(r) + "c" + std::to_string(c));
    }
    report.string_count = (int16_t)strings;
    report.string_buffer_size = (int16_t)used;
    return report;
}

TEST(postgame_report, tables_stack_by_their_rows_and_a_short_report_draws_empty_texts)
{
    const rectangle2d item = {10, 20, 400, 620};
    const int16_t only_1_and_3[NUMBER_OF_POSTGAME_REPORT_TABLES] = {NONE, 2, NONE, 1, NONE, NONE};
    encoded_postgame_report report = make_report(only_1_and_3, 1000);
    std::vector<laid_text> texts;
    lay_out_postgame_report(&report, &item, record_text, &texts);
    ASSERT_EQ(texts.size(), 1u + 2 * 4 + 1 + 1 * 2);
    EXPECT_EQ(texts[0].text, "t1");
    EXPECT_EQ(texts[0].kind, _postgame_report_title);
    const rectangle2d title_1 = {10, 20, 10 + 2 * 14 + 25, 20 + 592};
    EXPECT_EQ(memcmp(&texts[0].bounds, &title_1, sizeof(rectangle2d)), 0);
    // Row 1, column 2 of table 1: right margin 250, 25 under the title.
    EXPECT_EQ(texts[1 + 4 + 2].text, "t1r1c2");
    const rectangle2d cell = {10 + 25 + 14, 20, 10 + 25 + 28, 20 + 250};
    EXPECT_EQ(memcmp(&texts[1 + 4 + 2].bounds, &cell, sizeof(rectangle2d)), 0);
    EXPECT_EQ(texts[1].kind, _postgame_report_first_row);
    EXPECT_EQ(texts[5].kind, _postgame_report_other_row);
    EXPECT_EQ(texts[1].flags, 32u);
    EXPECT_EQ(texts[2].flags, 36u);
    // Table 3 directly under table 1.
    EXPECT_EQ(texts[9].text, "t3");
    EXPECT_EQ(texts[9].bounds.top, 10 + 2 * 14 + 35);
    EXPECT_EQ(texts[11].bounds.right, 20 + 200);

    // Counts that promise more strings than the bytes hold: the rest are "".
    report = make_report(only_1_and_3, 3);
    texts.clear();
    lay_out_postgame_report(&report, &item, record_text, &texts);
    ASSERT_EQ(texts.size(), 12u);
    EXPECT_EQ(texts[2].text, "t1r0c1");
    for (size_t i = 3; i < texts.size(); ++i) EXPECT_EQ(texts[i].text, "") << i;
    // A buffer size beyond the array reads nothing at all.
    report.string_buffer_size = POSTGAME_REPORT_STRING_BUFFER_SIZE + 1;
    texts.clear();
    lay_out_postgame_report(&report, &item, record_text, &texts);
    for (const laid_text &t : texts) EXPECT_EQ(t.text, "");
}

struct graph_segment
{
    rgb_color color;
    point2d from, to;
};

void record_segment(void *context, const rgb_color *color, point2d from, point2d to)
{
    ((std::vector<graph_segment> *)context)->push_back({*color, from, to});
}

std::vector<std::vector<int>> segments_as_numbers(const std::vector<graph_segment> &segments)
{
    std::vector<std::vector<int>> numbers;
    for (const graph_segment &s : segments) numbers.push_back({s.from.x, s.from.y, s.to.x, s.to.y});
    return numbers;
}

// Points worked out by hand for a plot of 100 x 100 under the 18-pixel title.
TEST(carnage_graph, polylines_run_the_sums_of_16_bit_values_over_the_samples)
{
    static statistics_sample samples[4];
    static carnage_graph_input input;
    const rectangle2d item = {0, 0, 118, 100};
    const struct
    {
        const char *what;
        int16_t type;
        std::vector<std::vector<int32_t>> values; // per team, per sample
        int32_t ticks_per_sample, ticks_in_last_sample;
        std::vector<std::vector<int>> expected; // from x, from y, to x, to y
    } cases[] = {
        {"kills of two teams", 1, {{1, 1, 1, 1}, {0, 2, 0, 2}}, 10, 0,
         {{0, 118, 0, 98}, {0, 98, 25, 78}, {25, 78, 50, 58}, {50, 58, 75, 38},
          {0, 118, 0, 118}, {0, 118, 25, 78}, {25, 78, 50, 78}, {50, 78, 75, 38}}},
        {"damage past 16 bits wraps: 70000 is 4464", 2, {{70000}}, 10, 0, {{0, 118, 0, 19}}},
        {"a score below zero draws the zero line", 0, {{-3, 1}, {0, 0}}, 15, 0,
         {{0, 38, 100, 38}, {0, 38, 0, 98}, {0, 98, 50, 78}, {0, 38, 0, 38}, {0, 38, 50, 38}}},
        {"no time spanned: every point on the left edge", 4, {{1, 1}}, 0, 0, {{0, 118, 0, 85}, {0, 85, 0, 52}}},
    };
    for (const auto &c : cases)
    {
        memset(samples, 0, sizeof(samples));
        memset(&input, 0, sizeof(input));
        input.samples = samples;
        input.sample_count = (int32_t)c.values[0].size();
        input.ticks_per_sample = c.ticks_per_sample;
        input.ticks_in_last_sample = c.ticks_in_last_sample;
        input.scoring = _game_scoring_cattle_drive;
        input.team_count = (int16_t)c.values.size();
        input.player_count = input.team_count;
        for (int16_t t = 0; t < input.team_count; ++t)
        {
            input.player_team[t] = (int8_t)t;
            input.team_color[t] = {(uint16_t)t, 0, 0, 0};
            for (size_t i = 0; i < c.values[t].size(); ++i)
            {
                const int32_t v = c.values[t][i];
                samples[i].teams[t] = {v, v, v};
                samples[i].players[t].score = v;
            }
        }
        // A computer's score never counts outside the custom scoring.
        input.player_count = (int16_t)(input.team_count + 1);
        input.player_team[input.team_count] = 0;
        input.player_type[input.team_count] = 1;
        samples[0].players[input.team_count].score = 1000;
        std::vector<graph_segment> segments;
        lay_out_carnage_graph(c.type, &item, &input, record_segment, &segments);
        EXPECT_EQ(segments_as_numbers(segments), c.expected) << c.what;
    }
    std::vector<graph_segment> segments;
    lay_out_carnage_graph(5, &item, &input, record_segment, &segments);
    EXPECT_TRUE(segments.empty()) << "no such graph";
}

// A curve drawn in black (a captain's colour) on the dark shade, or in the
// colour of another team, could not be told apart.
TEST(carnage_graph, dark_and_repeated_colours_give_way_to_bright_distinct_ones)
{
    const rgb_color black = {0, 0, 0, 0}, navy = {0, 0, 0x8000, 0}, yellow = {0xFFFF, 0xF000, 0x3000, 0},
                    blue = {0x5000, 0x9000, 0xFFFF, 0}, red = {0xFFFF, 0x4000, 0x4000, 0}, green = {0x4000, 0xE000, 0x4000, 0},
                    purple = {22936, 2291, 12107, 0}, bright_purple = {62838, 6276, 33169, 0},
                    light_blue = {21154, 21154, 65535, 0};
    const struct
    {
        const char *what;
        std::vector<rgb_color> given, expected;
    } cases[] = {
        {"bright and distinct: kept", {yellow, red}, {yellow, red}},
        {"black: the first bright one; navy: a light blue", {black, navy}, {blue, light_blue}},
        {"a repeat: the first bright one not taken", {blue, blue, black}, {blue, red, green}},
        {"black skips a bright one a team has", {yellow, black}, {yellow, blue}},
        {"the default purple: its own hue, brightened", {purple}, {bright_purple}},
    };
    for (const auto &c : cases)
    {
        std::vector<rgb_color> colors = c.given;
        make_carnage_graph_colors_readable(colors.data(), (int16_t)colors.size());
        for (size_t t = 0; t < colors.size(); ++t)
            EXPECT_TRUE(colors[t].red == c.expected[t].red && colors[t].green == c.expected[t].green &&
                        colors[t].blue == c.expected[t].blue)
                << c.what << ", team " << t;
    }
}

TEST(carnage_graph, the_score_graph_is_offered_only_in_cattle_drive)
{
    const int16_t saved = game_->scoring;
    for (int16_t scoring = 0; scoring < 16; ++scoring)
    {
        game_->scoring = scoring;
        for (int16_t type = -1; type <= NUMBER_OF_CARNAGE_GRAPH_TYPES; ++type)
        {
            const bool valid = type == 1 || type == 2 || type == 4 || (type == 0 && scoring == _game_scoring_cattle_drive);
            EXPECT_EQ(graph_type_is_valid(type), valid) << "scoring " << scoring << " type " << type;
        }
    }
    game_->scoring = saved;
}

struct laid_cell
{
    int16_t column;
    int16_t left, right;
};

void record_cell(void *context, int16_t column, const rectangle2d *bounds, const char *, uint32_t)
{
    ((std::vector<laid_cell> *)context)->push_back({column, bounds->left, bounds->right});
}

// A scratch store behind the string lists and dialogs the views read.
class postgame_views : public dialog_test
{
};

// With no rankings and no font every column is 5 wide (its gap); the name
// takes what the item leaves, at least 38.
TEST_F(postgame_views, columns_follow_the_scoring_and_a_teams_members_stay_in_line)
{
    statistics_parameters none[1];
    const rectangle2d row_bounds = {0, 0, 21, 600};
    statistics_parameters member = {};
    member.team_ranking_index = NONE;
    member.player_ranking.player_index = NONE;
    member.player_is_part_of_a_team = true;
    const struct
    {
        const char *what;
        int16_t scoring;
        bool is_member;
        std::vector<std::vector<int>> cells; // column, left, right
    } cases[] = {
        // name = 600 - 15 - (25 + 5) - 3 x (5 + 5) = 525
        {"cattle drive: no casualties column", 10, false,
         {{1, 0, 25}, {2, 30, 555}, {16, 560, 565}, {32, 570, 575}, {64, 580, 585}}},
        // name = 600 - 15 - 18 - 5 x 10 = 517
        {"steal the bacon: both times, no casualties", 1, false,
         {{1, 0, 13}, {2, 18, 535}, {4, 540, 545}, {8, 550, 555}, {16, 560, 565}, {32, 570, 575}, {64, 580, 585}}},
        // name = 600 - 15 - 55 - 4 x 10 = 490; a member's name 10 pixels in
        {"attrition, a member", 0, true,
         {{1, 0, 50}, {2, 65, 545}, {16, 550, 555}, {32, 560, 565}, {64, 570, 575}, {128, 580, 585}}},
        // name = 600 - 15 - 95 - 5 x 10 = 440; a member's score takes only the
        // gap, its name starts 20 in and reaches 90 further: the rest in line
        {"flag rally, a member", 4, true,
         {{2, 25, 535}, {4, 540, 545}, {16, 550, 555}, {32, 560, 565}, {64, 570, 575}, {128, 580, 585}}},
    };
    for (const auto &c : cases)
    {
        EXPECT_EQ(build_player_stats_rows(c.scoring, 600, none, 1), 0) << c.what;
        std::vector<laid_cell> cells;
        lay_out_player_stats_row(c.scoring, c.is_member ? &member : nullptr, &row_bounds, &row_bounds, record_cell, &cells);
        std::vector<std::vector<int>> numbers;
        for (const laid_cell &cell : cells) numbers.push_back({cell.column, cell.left, cell.right});
        EXPECT_EQ(numbers, c.cells) << c.what;
    }
    EXPECT_EQ(build_player_stats_rows(0, 100, none, 1), 0);
    EXPECT_EQ(get_player_stats_widths()->name, 38) << "the name's floor";
    permanent_player_ranking_data permanent[1];
    EXPECT_EQ(build_permanent_stats_rows(100, permanent, 1), 0);
    EXPECT_EQ(get_permanent_stats_widths()->name, 90) << "the lasting rankings' name floor";
}

// Rows from synthetic rankings: a team of one shows only its player; a team
// of more gets its own row first; an earlier stay of a player who rejoined is
// added to the player's row; observers have no row, computers have theirs
// (the enemy of a game against the computer is one).
TEST_F(postgame_views, rows_come_from_the_rankings_team_by_team)
{
    player_data players[7] = {};
    const struct
    {
        int8_t team;
        int16_t type;
        bool observer;
    } who[7] = {{0, 0, false}, {0, 0, false}, {1, 0, false}, {NONE, 0, true}, {0, 0, false}, {2, 0, false}, {1, 1, false}};
    for (int32_t i = 0; i < 7; ++i)
    {
        players[i].identifier = (int16_t)(i + 1);
        players[i].original_team_index = players[i].team_index = who[i].team;
        players[i].type = who[i].type;
        players[i].flags = who[i].observer ? (uint16_t)(1u << _player_is_observer_bit) : (uint16_t)0;
    }
    team_data teams[3] = {};
    for (int16_t t = 0; t < 3; ++t) teams[t].captain_player_index = t == 0 ? 0 : t == 1 ? 2 : 5;
    // team, place, score, casualties, cost, survivors, their cost, uncontrollable, kills, damage, taken
    const team_ranking_data team_rankings[3] = {{2, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0},
                                                {0, 1, 0, 0, 0, 0, 0, 0, 8, 0, 0},
                                                {1, 2, 0, 0, 0, 0, 0, 0, 7, 0, 0}};
    // player, rejoined as, casualties, cost, survivors, their cost, uncontrollable, kills, damage, taken
    const player_ranking_data player_rankings[7] = {
        {0, NONE, 1, 10, 5, 50, 0, 5, 100, 20}, {1, NONE, 2, 20, 4, 40, 0, 1, 30, 5},
        {2, NONE, 0, 0, 6, 60, 0, 0, 0, 0},     {3, NONE, 0, 0, 0, 0, 0, 0, 0, 0},
        {4, 0, 3, 30, 0, 0, 0, 2, 40, 7},       {5, NONE, 0, 0, 3, 30, 0, 4, 70, 1},
        {6, NONE, 0, 0, 2, 20, 0, 3, 10, 0},
    };
    const player_stats_source source = {team_rankings, 3, player_rankings, 7, players, 7, teams, 3};
    statistics_parameters rows[16];
    ASSERT_EQ(build_player_stats_rows_from(&source, 0, 600, rows, 16), 7);
    const struct
    {
        int16_t player;
        int16_t team_ranking;
        bool team_row, part_of_team;
        int32_t casualties, kills, damage;
    } expected[7] = {
        {5, 0, false, false, 0, 4, 70}, // a team of one: its player alone
        {0, 1, true, true, 0, 8, 0},    // team 0's row, its captain's index
        {0, 1, false, true, 4, 7, 140}, // the stay that rejoined as player 0 added
        {1, 1, false, true, 2, 1, 30},
        {2, 2, true, true, 0, 7, 0},    // the computer makes team 1 a team of two
        {2, 2, false, true, 0, 0, 0},
        {6, 2, false, true, 0, 3, 10},  // the computer's own row
    };
    for (int32_t i = 0; i < 7; ++i)
    {
        EXPECT_EQ(rows[i].player_ranking.player_index, expected[i].player) << i;
        EXPECT_EQ(rows[i].team_ranking_index, expected[i].team_ranking) << i;
        EXPECT_EQ(rows[i].is_team_ranking, expected[i].team_row) << i;
        EXPECT_EQ(rows[i].player_is_part_of_a_team, expected[i].part_of_team) << i;
        EXPECT_EQ(rows[i].player_ranking.casualty_count, expected[i].casualties) << i;
        EXPECT_EQ(rows[i].player_ranking.total_kill_count, expected[i].kills) << i;
        EXPECT_EQ(rows[i].player_ranking.total_damage, expected[i].damage) << i;
    }
    EXPECT_EQ(build_player_stats_rows_from(&source, 0, 600, rows, 3), 3) << "never more rows than room";
}

TEST_F(postgame_views, times_show_minutes_and_seconds_of_game_ticks)
{
    const struct
    {
        int32_t ticks;
        const char *text;
    } cases[] = {{3725, "2:04"}, {0, "0:00"}, {1799, "0:59"}, {-1, ""}, {108000, "60:00"}};
    for (const auto &c : cases)
    {
        char text[32];
        format_player_stats_time(c.ticks, text, (int32_t)sizeof(text));
        EXPECT_STREQ(text, c.text) << c.ticks;
    }
}

TEST_F(postgame_views, colours_given_replace_their_slots_and_a_null_keeps_one)
{
    register_control_procedure(POSTGAME_REPORT_CONTROL_TAG, postgame_report_control_def_proc);
    dialog_description description;
    description.bounds = {0, 0, 400, 620};
    description.items = {{POSTGAME_REPORT_CONTROL_TAG, 1, {10, 10, 390, 610}, 0, 0, {0, 0}, ""}};
    dialog_data *dialog = open_dialog("epdi", description);
    ASSERT_NE(dialog, nullptr);
    const auto *data = (const postgame_report_control_data *)get_dialog_item_extra_data(dialog, 1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->cookie, (int32_t)POSTGAME_REPORT_CONTROL_COOKIE);
    const rgb_color gold = {0xF0F0, 0xD0D0, 0x8080, 0}, grey = {0x8080, 0x8080, 0x8080, 0};
    set_postgame_report_control_colors(dialog, 1, &gold, nullptr, &grey);
    EXPECT_EQ(memcmp(&data->title_color, &gold, sizeof(rgb_color)), 0);
    EXPECT_EQ(data->first_row_color.red, 0xFFFF) << "the first row keeps white";
    EXPECT_EQ(memcmp(&data->other_rows_color, &grey, sizeof(rgb_color)), 0);
    dispose_dialog(dialog);
}

} // namespace

} // namespace postgame_report_test_file
