// The player statistics of the game just played.

#include "bitmap_dialogs/postgame_player_stats.h"

#include <cstdio>
#include <cstring>

#include "bitmap_dialogs/carnage_stats_list_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "game_records.h"
#include "game_time.h"
#include "interface_definitions.h"
#include "players.h"
#include "scoring.h"
#include "statistics.h"
#include "shapes.h"
#include "vesk/string_lists.h"

enum
{
    _player_stats_font = 0,
    STATS_TEXT_FLAGS = _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag | _draw_string_shadow_flag,
    STATS_NAME_FLAGS = _draw_string_center_vertical_flag | _draw_string_shadow_flag,
    MEMBER_NAME_INDENT = 10,
    FLAG_RALLY_NAME_INDENT = 20,
    FLAG_RALLY_NAME_EXTENSION = 90,
    MINIMUM_NAME_WIDTH = 38,
    PLAYER_ITEM_WIDTH_MARGIN = 15,
    STATS_TEXT_SIZE = 64,
    STATS_TICKS_PER_MINUTE = 1800,
    NUMBERED_FLAG_POSITIONS = 9,
    ROW_BAND_INSET = 2,
};

static const fixed_fraction ROW_BAND_TRANSPARENCY = 32768;

static const uint16_t player_stats_column_flags[NUMBER_OF_SCORINGS_WITH_COLUMNS] = {
    0xF3, 0x7F, 0x7F, 0xF7, 0xF7, 0xF3, 0xF3, 0xF7, 0xF7, 0xF3, 0x73, 0xF3, 0xF3, 0xF3, 0xF3, 0xF3,
};
static const int16_t player_stats_score_widths[NUMBER_OF_SCORINGS_WITH_COLUMNS] = {
    50, 13, 13, 90, 90, 13, 13, 25, 25, 50, 25, 25, 25, 13, 50, 50,
};

static struct player_stats_globals
{
    player_stats_widths widths;
} player_stats_globals;

uint16_t get_player_stats_column_flags(int16_t scoring)
{
    return scoring >= 0 && scoring < NUMBER_OF_SCORINGS_WITH_COLUMNS ? player_stats_column_flags[scoring] : 0x73;
}

int16_t get_player_stats_score_width(int16_t scoring)
{
    return scoring >= 0 && scoring < NUMBER_OF_SCORINGS_WITH_COLUMNS ? player_stats_score_widths[scoring] : 0;
}

const player_stats_widths *get_player_stats_widths(void) { return &player_stats_globals.widths; }

static const team_data *team_or_null(int32_t index)
{
    return index >= 0 && index < get_team_count() ? get_team_data(index) : nullptr;
}
static const player_data *captain_of(const team_data *team)
{
    return team ? player_or_null(team->captain_player_index) : nullptr;
}

static const char *stats_string(int32_t row)
{
    return get_string_from_list(string_list_tag_to_string_index(PLAYER_STATS_STRING_LIST_TAG), row);
}

void format_player_stats_time(int32_t ticks, char *buffer, int32_t size)
{
    buffer[0] = 0;
    if (ticks < 0) return;
    const char *format = stats_string(7);
    if (!*format) format = "%d:%02d";
    format_checked_line(buffer, size, format, "dd", (int)(ticks / STATS_TICKS_PER_MINUTE),
                        (int)((ticks % STATS_TICKS_PER_MINUTE) / TICKS_PER_SECOND));
}

static const team_data *team_of_row(const statistics_parameters *row)
{
    const team_ranking_data *ranking = get_team_ranking(row->team_ranking_index);
    return ranking ? team_or_null(ranking->team_index) : nullptr;
}

// The time texts show only on a team's row or on the row of a player alone.
static void time_texts(const statistics_parameters *row, char *captured, char *held)
{
    captured[0] = held[0] = 0;
    if (!row->is_team_ranking && row->player_is_part_of_a_team) return;
    const team_data *team = team_of_row(row);
    if (!team) return;
    format_player_stats_time(team->game_time_at_last_capture, captured, STATS_TEXT_SIZE);
    format_player_stats_time(team->game_time_of_possession, held, STATS_TEXT_SIZE);
}

static void widen_for_row(const statistics_parameters *row)
{
    player_stats_widths *w = &player_stats_globals.widths;
    char captured[STATS_TEXT_SIZE], held[STATS_TEXT_SIZE], text[STATS_TEXT_SIZE];
    time_texts(row, captured, held);
    widen_carnage_stats_column(&w->captured_time, captured);
    widen_carnage_stats_column(&w->held_time, held);
    snprintf(text, sizeof(text), "%d", (int)row->player_ranking.extant_unit_count);
    widen_carnage_stats_column(&w->survivors, text);
    snprintf(text, sizeof(text), "%d", (int)row->player_ranking.total_kill_count);
    widen_carnage_stats_column(&w->kills, text);
    widen_carnage_stats_column(&w->damage, format_damage_string(row->player_ranking.total_damage, text, sizeof(text)));
    snprintf(text, sizeof(text), "%d", (int)row->player_ranking.casualty_count);
    widen_carnage_stats_column(&w->casualties, text);
}

// Every side that played has its row, people and computers alike: the graphs
// and the statistics file count the computer's side, and a table without it
// would show a battle with one army.
static bool player_is_listed(const player_data *player, const player_ranking_data *ranking)
{
    return player && !(player->flags & (1u << _player_is_observer_bit)) && ranking->rejoined_as_player_index == NONE;
}

void get_player_stats_source(player_stats_source *source)
{
    memset(source, 0, sizeof(*source));
    source->team_rankings = get_team_ranking(0);
    while (get_team_ranking(source->team_ranking_count)) ++source->team_ranking_count;
    source->player_rankings = get_player_ranking(0);
    while (get_player_ranking(source->player_ranking_count)) ++source->player_ranking_count;
    source->player_count = get_player_count();
    source->players = source->player_count > 0 ? get_player_data(0) : nullptr;
    source->team_count = get_team_count();
    source->teams = source->team_count > 0 ? get_team_data(0) : nullptr;
}

static const player_data *source_player(const player_stats_source *source, int32_t index)
{
    return index >= 0 && index < source->player_count ? &source->players[index] : nullptr;
}

int32_t build_player_stats_rows_from(const player_stats_source *source, int16_t scoring, int32_t item_width,
                                     statistics_parameters *rows, int32_t maximum)
{
    player_stats_widths *w = &player_stats_globals.widths;
    w->captured_time = carnage_stats_text_width(stats_string(1));
    w->held_time = carnage_stats_text_width(stats_string(2));
    w->survivors = carnage_stats_text_width(stats_string(3));
    w->kills = carnage_stats_text_width(stats_string(4));
    w->damage = carnage_stats_text_width(stats_string(5));
    w->casualties = carnage_stats_text_width(stats_string(6));

    int32_t count = 0;
    for (int32_t place = 0; place < source->team_ranking_count; ++place)
    {
        const team_ranking_data *team = &source->team_rankings[place];
        int32_t members = 0;
        for (int32_t rank = 0; rank < source->player_ranking_count; ++rank)
        {
            const player_data *player = source_player(source, source->player_rankings[rank].player_index);
            members += player && player->original_team_index == team->team_index;
        }
        if (members == 0) continue;
        if (members >= 2 && count < maximum)
        {
            statistics_parameters *row = &rows[count++];
            memset(row, 0, sizeof(*row));
            const team_data *team_record =
                team->team_index >= 0 && team->team_index < source->team_count ? &source->teams[team->team_index] : nullptr;
            row->player_ranking.player_index = team_record ? team_record->captain_player_index : (int16_t)NONE;
            row->player_ranking.rejoined_as_player_index = NONE;
            row->player_ranking.casualty_count = team->casualty_count;
            row->player_ranking.casualty_cost = team->casualty_cost;
            row->player_ranking.extant_unit_count = team->extant_unit_count;
            row->player_ranking.extant_cost = team->extant_cost;
            row->player_ranking.uncontrollable_count = team->uncontrollable_count;
            row->player_ranking.total_kill_count = team->total_kill_count;
            row->player_ranking.total_damage = team->total_damage;
            row->player_ranking.total_damage_taken = team->total_damage_taken;
            row->team_ranking_index = (int16_t)place;
            row->is_team_ranking = true;
            row->player_is_part_of_a_team = true;
            widen_for_row(row);
        }
        for (int32_t rank = 0; rank < source->player_ranking_count; ++rank)
        {
            const player_ranking_data *ranking = &source->player_rankings[rank];
            const player_data *player = source_player(source, ranking->player_index);
            if (!player || player->original_team_index != team->team_index || !player_is_listed(player, ranking))
                continue;
            if (count >= maximum) break;
            statistics_parameters *row = &rows[count++];
            memset(row, 0, sizeof(*row));
            row->player_ranking = *ranking;
            // A player who left and came back has a ranking for each stay.
            for (int32_t other = 0; other < source->player_ranking_count; ++other)
            {
                const player_ranking_data *earlier = &source->player_rankings[other];
                if (other == rank || earlier->rejoined_as_player_index != ranking->player_index) continue;
                row->player_ranking.casualty_count += earlier->casualty_count;
                row->player_ranking.casualty_cost += earlier->casualty_cost;
                row->player_ranking.total_kill_count += earlier->total_kill_count;
                row->player_ranking.total_damage += earlier->total_damage;
                row->player_ranking.total_damage_taken += earlier->total_damage_taken;
            }
            row->team_ranking_index = (int16_t)place;
            row->is_team_ranking = false;
            row->player_is_part_of_a_team = members >= 2;
            widen_for_row(row);
        }
    }

    const uint16_t columns = get_player_stats_column_flags(scoring);
    int16_t *column_widths[] = {&w->captured_time, &w->held_time, &w->survivors,
                                &w->kills,         &w->damage,    &w->casualties};
    for (int16_t *width : column_widths) *width = (int16_t)(*width + PLAYER_STATS_COLUMN_GAP);
    int32_t name = item_width - PLAYER_ITEM_WIDTH_MARGIN;
    if (columns & _player_stats_score_column) name -= get_player_stats_score_width(scoring) + PLAYER_STATS_COLUMN_GAP;
    const uint16_t bits[] = {_player_stats_captured_time_column, _player_stats_held_time_column,
                             _player_stats_survivors_column,     _player_stats_kills_column,
                             _player_stats_damage_column,        _player_stats_casualties_column};
    for (int32_t i = 0; i < 6; ++i)
        if (columns & bits[i]) name -= *column_widths[i] + PLAYER_STATS_COLUMN_GAP;
    w->name = (int16_t)(name < MINIMUM_NAME_WIDTH ? MINIMUM_NAME_WIDTH : name > INT16_MAX ? INT16_MAX : name);
    return count;
}

int32_t build_player_stats_rows(int16_t scoring, int32_t item_width, statistics_parameters *rows, int32_t maximum)
{
    player_stats_source source;
    get_player_stats_source(&source);
    return build_player_stats_rows_from(&source, scoring, item_width, rows, maximum);
}

// The score cell of a row (empty for a team's member).
static void score_text(int16_t scoring, const statistics_parameters *row, char *text)
{
    text[0] = 0;
    if (!row->is_team_ranking && row->player_is_part_of_a_team) return;
    const team_ranking_data *ranking = get_team_ranking(row->team_ranking_index);
    const team_data *team = ranking ? team_or_null(ranking->team_index) : nullptr;
    if (!ranking) return;
    // A level its script decides keeps no score of its own: the column tells
    // when each team beaten to its last unit went out.
    if (game_is_decided_by_its_script())
    {
        const int32_t out_at = get_team_time_out_of_game(ranking->team_index);
        if (out_at != NONE) format_player_stats_time(out_at, text, STATS_TEXT_SIZE);
        return;
    }
    switch (scoring)
    {
    case 0: format_damage_string(ranking->total_damage, text, STATS_TEXT_SIZE); break;
    case 1:
    case 2:
    case 5:
    case 6:
        if (ranking->score != 0) strlcpy(text, stats_string(11), STATS_TEXT_SIZE);
        break;
    case 3:
    case 4:
        for (int32_t k = 0; k < NUMBERED_FLAG_POSITIONS; ++k)
            text[k] = team && (team->numbered_flags_captured_flags & (1u << k)) ? (char)('0' + k) : ' ';
        text[NUMBERED_FLAG_POSITIONS] = 0;
        break;
    case 7:
    case 8:
    case 10:
    case 11:
    case 12:
        if (ranking->score != 0) snprintf(text, STATS_TEXT_SIZE, "%d", (int)ranking->score);
        break;
    case 9:
    case 14:
    case 15: format_player_stats_time(ranking->score, text, STATS_TEXT_SIZE); break;
    default: break;
    }
}

static const char *score_header(int16_t scoring)
{
    if (game_is_decided_by_its_script()) return "Out at";
    switch (scoring)
    {
    // Most Damage scores the damage dealt, which its own column shows beside:
    // the score column is titled as a score, not as a second "Damage".
    case 0: return *stats_string(12) ? stats_string(12) : "Score";
    case 3: return stats_string(10);
    case 4: return stats_string(9);
    case 9:
    case 14:
    case 15: return stats_string(8);
    default: return "";
    }
}

void lay_out_player_stats_row(int16_t scoring, const statistics_parameters *row, const rectangle2d *bounds,
                              const rectangle2d *clip, player_stats_cell_procedure cell, void *context)
{
    const player_stats_widths *w = &player_stats_globals.widths;
    const uint16_t columns = get_player_stats_column_flags(scoring);
    const bool member = row && !row->is_team_ranking && row->player_is_part_of_a_team;
    const bool flag_scoring = scoring == 3 || scoring == 4;
    char captured[STATS_TEXT_SIZE] = "", held[STATS_TEXT_SIZE] = "";
    if (row) time_texts(row, captured, held);
    const player_data *player = row ? player_or_null(row->player_ranking.player_index) : nullptr;

    int32_t x = bounds->left;
    for (int32_t c = 0; c < NUMBER_OF_PLAYER_STATS_COLUMNS; ++c)
    {
        const uint16_t bit = (uint16_t)(1u << c);
        if (!(columns & bit)) continue;
        int32_t width = 0, indent = 0;
        char text[STATS_TEXT_SIZE] = "";
        uint32_t flags = STATS_TEXT_FLAGS;
        switch (bit)
        {
        case _player_stats_score_column:
            width = get_player_stats_score_width(scoring);
            if (row) score_text(scoring, row, text);
            else strlcpy(text, score_header(scoring), sizeof(text));
            // A member's empty score cell in the flag scorings takes only the gap;
            // its name cell reaches further right, so the later columns stay in line.
            if (member && flag_scoring) width = 0;
            break;
        case _player_stats_name_column:
            width = w->name;
            flags = STATS_NAME_FLAGS;
            if (member)
            {
                indent = flag_scoring ? FLAG_RALLY_NAME_INDENT : MEMBER_NAME_INDENT;
                if (flag_scoring) width += FLAG_RALLY_NAME_EXTENSION;
            }
            if (!row) strlcpy(text, stats_string(0), sizeof(text));
            else if (row->is_team_ranking)
            {
                if (const player_data *captain = captain_of(team_of_row(row))) strlcpy(text, captain->appearance.team_name, sizeof(text));
                // A team without a name of its own is named by its number, as the report names it.
                const team_ranking_data *ranking = get_team_ranking(row->team_ranking_index);
                if (!text[0] && ranking) snprintf(text, sizeof(text), "Team %d", ranking->team_index + 1);
            }
            else if (player)
                strlcpy(text, player->appearance.name, sizeof(text));
            break;
        case _player_stats_captured_time_column:
            width = w->captured_time;
            strlcpy(text, row ? captured : stats_string(1), sizeof(text));
            break;
        case _player_stats_held_time_column:
            width = w->held_time;
            strlcpy(text, row ? held : stats_string(2), sizeof(text));
            break;
        case _player_stats_survivors_column:
            width = w->survivors;
            if (row) snprintf(text, sizeof(text), "%d", (int)row->player_ranking.extant_unit_count);
            else strlcpy(text, stats_string(3), sizeof(text));
            break;
        case _player_stats_kills_column:
            width = w->kills;
            if (row) snprintf(text, sizeof(text), "%d", (int)row->player_ranking.total_kill_count);
            else strlcpy(text, stats_string(4), sizeof(text));
            break;
        case _player_stats_damage_column:
            width = w->damage;
            if (row) format_damage_string(row->player_ranking.total_damage, text, sizeof(text));
            else strlcpy(text, stats_string(5), sizeof(text));
            break;
        default:
            width = w->casualties;
            if (row) snprintf(text, sizeof(text), "%d", (int)row->player_ranking.casualty_count);
            else strlcpy(text, stats_string(6), sizeof(text));
            break;
        }
        int32_t right = x + width;
        if (clip && right > clip->right) right = clip->right;
        const int32_t left = x + indent;
        if (width > 0 && left < right)
        {
            const rectangle2d cell_bounds = {bounds->top, (int16_t)left, bounds->bottom, (int16_t)right};
            cell(context, (int16_t)bit, &cell_bounds, text, flags);
        }
        x += width + PLAYER_STATS_COLUMN_GAP;
    }
}

struct stats_drawing
{
    bitmap_data *bitmap;
    const rectangle2d *clip;
};

static void draw_stats_cell(void *context, int16_t, const rectangle2d *bounds, const char *text, uint32_t flags)
{
    const stats_drawing *drawing = (const stats_drawing *)context;
    const int32_t font = get_interface_font_index(_player_stats_font);
    if (font == NONE || !*text) return;
    draw_string(drawing->bitmap, nullptr, bounds, drawing->clip, font, 0, &rgb_white, text, flags, 0);
}

void draw_player_rankings_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                               const void *data, int16_t length, int16_t, uint16_t)
{
    if (!data || length != (int16_t)sizeof(statistics_parameters)) return;
    statistics_parameters row;
    memcpy(&row, data, sizeof(row));
    const rgb_color *band = &rgb_neutral_grey;
    if (row.is_team_ranking)
    {
        if (const player_data *captain = captain_of(team_of_row(&row))) band = &captain->appearance.primary_color;
    }
    else if (const player_data *player = player_or_null(row.player_ranking.player_index))
        band = row.player_is_part_of_a_team ? &player->appearance.secondary_color : &player->appearance.primary_color;
    rectangle2d inset = *row_bounds;
    inset.top = (int16_t)(inset.top + ROW_BAND_INSET);
    inset.bottom = (int16_t)(inset.bottom - ROW_BAND_INSET);
    fill_rectangle_clipped(destination, band, &inset, clip, ROW_BAND_TRANSPARENCY,
                           get_transparency_table(_transparency_normal));
    stats_drawing drawing = {destination, clip};
    lay_out_player_stats_row(game_->scoring, &row, row_bounds, clip, draw_stats_cell, &drawing);
}

void draw_player_stats_header(bitmap_data *destination, const rectangle2d *bounds)
{
    stats_drawing drawing = {destination, bounds};
    lay_out_player_stats_row(game_->scoring, nullptr, bounds, bounds, draw_stats_cell, &drawing);
}

void rebuild_postgame_player_stats_list(dialog_data *dialog, int16_t item_id)
{
    rectangle2d bounds;
    get_dialog_item_bounds(dialog, item_id, &bounds);
    bitmap_empty_list(dialog, item_id);
    bitmap_set_list_draw_proc(dialog, item_id, draw_player_rankings_proc);
    statistics_parameters rows[MAXIMUM_PLAYERS_PER_GAME + MAXIMUM_TEAMS_PER_GAME];
    const int32_t count = build_player_stats_rows(game_->scoring, bounds.right - bounds.left, rows,
                                                  (int32_t)(sizeof(rows) / sizeof(rows[0])));
    for (int32_t i = 0; i < count; ++i)
        bitmap_add_data_to_list(dialog, item_id, &rows[i], (int16_t)sizeof(rows[i]), PLAYER_STATS_LINE_HEIGHT, true);
}
