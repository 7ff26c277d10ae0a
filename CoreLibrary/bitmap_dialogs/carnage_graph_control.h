#pragma once
// The carnage report's graph ('cgrf'): one curve per team of the running sum
// of a value over the game's statistics samples.  Types: 0 score (cattle
// drive only), 1 enemy kills, 2 damage to enemies, 3 none, 4 kills against
// the local team.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "players.h"
#include "rgb_color.h"
#include "statistics.h"

#define CARNAGE_GRAPH_CONTROL_TAG FOUR_CHARACTER_CODE('c', 'g', 'r', 'f')

enum
{
    NUMBER_OF_CARNAGE_GRAPH_TYPES = 5,
    CARNAGE_GRAPH_TITLE_HEIGHT = 18, // the plot starts this far under the item's top
};

// Types 1, 2 and 4 always; 0 only in cattle drive; 3 and any other never.
bool graph_type_is_valid(int16_t type);
// An invalid type, or the current one, changes nothing; else the item is redrawn.
void set_carnage_graph_type(dialog_data *dialog, int16_t item_id, int16_t type);
// NONE for a missing item.
int16_t get_carnage_graph_type(const dialog_data *dialog, int16_t item_id);

intptr_t carnage_graph_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// What a graph is drawn from: the samples and the sides they are split into.
struct carnage_graph_input
{
    const statistics_sample *samples;
    int32_t sample_count;
    int32_t ticks_per_sample;
    int32_t ticks_in_last_sample;
    int16_t scoring;
    int16_t team_count;
    int16_t player_count;
    int8_t player_team[MAXIMUM_PLAYERS_PER_GAME];  // each player's team
    int16_t player_type[MAXIMUM_PLAYERS_PER_GAME]; // 0 a person
    rgb_color team_color[MAXIMUM_TEAMS_PER_GAME];   // the captain's colour (neutral without one), made readable
    char team_name[MAXIMUM_TEAMS_PER_GAME][PLAYER_NAME_SIZE]; // the legend's: the team's, its captain's or "Team N"
};

// The curves are drawn on a dark shade: a colour too dark to read there is
// brightened with its hue kept (the legend's colour stays the player's); one
// an earlier team has already, or black, gives way to the first colour of a
// fixed set of bright ones that no earlier team uses.
void make_carnage_graph_colors_readable(rgb_color *colors, int16_t count);

// Draws one segment of the graph (the zero line, or a team's curve).
typedef void (*carnage_graph_line_procedure)(void *context, const rgb_color *color, point2d from, point2d to);

// Lays the graph of `type` out over `bounds` (the item's) and hands every
// segment to `line`: the black zero line when the range goes below zero,
// then each team's polyline from the left end of the baseline.  A type above
// 4 logs "What kind of graph is %d" and draws nothing; no samples draw
// nothing.
void lay_out_carnage_graph(int16_t type, const rectangle2d *bounds, const carnage_graph_input *input,
                           carnage_graph_line_procedure line, void *context);

// The game's own samples, teams and colours.
void get_carnage_graph_input(carnage_graph_input *input);
