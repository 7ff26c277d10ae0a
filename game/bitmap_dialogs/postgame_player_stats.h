#pragma once
// The player statistics of the game just played, as rows of the carnage
// report's statistics list ('cstt', type 0): each team of two or more
// players, then its players; a team of one shows only its player.  The
// columns shown depend on the scoring.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "players.h"
#include "statistics.h"

// Row 0 the name header, 1 captured, 2 held, 3 survivors, 4 kills, 5 damage,
// 6 casualties, 7 the time format (two numbers: minutes, seconds), 8 to 10
// score headers, 11 the mark of a team that scored.
#define PLAYER_STATS_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', '0', '2')

enum player_stats_column_bits
{
    _player_stats_score_column = 1,
    _player_stats_name_column = 2,
    _player_stats_captured_time_column = 4,
    _player_stats_held_time_column = 8,
    _player_stats_survivors_column = 16,
    _player_stats_kills_column = 32,
    _player_stats_damage_column = 64,
    _player_stats_casualties_column = 128,
    NUMBER_OF_PLAYER_STATS_COLUMNS = 8,
    NUMBER_OF_SCORINGS_WITH_COLUMNS = 16,
    PLAYER_STATS_COLUMN_GAP = 5,
    PLAYER_STATS_LINE_HEIGHT = 21,
};

// One row of the list.
struct statistics_parameters
{
    player_ranking_data player_ranking; // a team row: the team's counts, player_index its captain
    int16_t team_ranking_index;
    bool is_team_ranking;
    bool player_is_part_of_a_team;
};

// The columns each scoring shows (0x73 for a scoring of 16 or more), and its
// score column's width.
uint16_t get_player_stats_column_flags(int16_t scoring);
int16_t get_player_stats_score_width(int16_t scoring);

// The column widths of the list last built (name included).
struct player_stats_widths
{
    int16_t captured_time, held_time, survivors, kills, damage, casualties, name;
};
const player_stats_widths *get_player_stats_widths(void);

// What the rows are built from: the rankings in order, and the players and
// teams they name.
struct player_stats_source
{
    const team_ranking_data *team_rankings;
    int32_t team_ranking_count;
    const player_ranking_data *player_rankings;
    int32_t player_ranking_count;
    const player_data *players;
    int32_t player_count;
    const team_data *teams;
    int32_t team_count;
};
// The game's rankings, players and teams.
void get_player_stats_source(player_stats_source *source);
// The rows of `source`: for each team ranking with players, a team row when
// it has two or more, then a row per listed player (no observer, a person or
// a computer, not rejoined as another) with the rankings that rejoined as it added.
int32_t build_player_stats_rows_from(const player_stats_source *source, int16_t scoring, int32_t item_width,
                                     statistics_parameters *rows, int32_t maximum);

// Builds the rows of the current rankings into `rows` (at most `maximum`),
// widening the columns by their texts (from the header widths) and fitting
// the name into `item_width`; the row count.
int32_t build_player_stats_rows(int16_t scoring, int32_t item_width, statistics_parameters *rows, int32_t maximum);

// A time in ticks as 'in02' row 7 (minutes, seconds) into `buffer`; empty
// for a negative time.  Row 7 is a text from data: printed as it is unless
// it holds exactly two %d.
void format_player_stats_time(int32_t ticks, char *buffer, int32_t size);

// One cell of a row or of the header: its bounds, text and draw_string flags.
typedef void (*player_stats_cell_procedure)(void *context, int16_t column_bit, const rectangle2d *bounds,
                                            const char *text, uint32_t flags);

// Lays out `row` (null: the header) from `bounds`' left edge, cells clipped
// to `clip`'s right edge, handing each to `cell`.
void lay_out_player_stats_row(int16_t scoring, const statistics_parameters *row, const rectangle2d *bounds,
                              const rectangle2d *clip, player_stats_cell_procedure cell, void *context);

// Empties the list item and fills it with the rows (its draw procedure set).
void rebuild_postgame_player_stats_list(dialog_data *dialog, int16_t item_id);
// The list's row procedure and the header's drawing.
void draw_player_rankings_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                               const void *data, int16_t length, int16_t font_id, uint16_t flags);
void draw_player_stats_header(bitmap_data *destination, const rectangle2d *bounds);
