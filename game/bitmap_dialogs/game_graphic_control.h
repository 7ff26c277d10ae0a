#pragma once
// The game graphic ('game'): a network game or film being configured or
// chosen, drawn as its map's preview picture with, over it, its description
// as styled text (name, scoring, map, options, plan time, difficulty) or the
// list of its active plug-ins.
//
// The texts come from the string lists 'ingo' (lines), 'innn' (scoring
// names) and 'indl' (difficulty names), which a plug-in may override: a
// line's format is used only when its conversions are exactly the ones the
// line is given (one %s, one %d or none; %% and flags, width and precision
// are allowed), otherwise the line's text is shown as it stands.  Names
// from the description are read within their fields, terminated or not.
//
// The description's text is assembled by assemble_game_description, which
// tests and the fuzz target call without drawing.  Main thread only.

#include <cstdint>

#include "cseries/cstrings.h"

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/network_services.h"

#define GAME_GRAPHIC_CONTROL_TAG FOUR_CHARACTER_CODE('g', 'a', 'm', 'e')
#define GAME_GRAPHIC_COOKIE FOUR_CHARACTER_CODE('g', 'a', 'm', 'e')
#define INTERNAL_GAME_OPTIONS_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'g', 'o')
#define NET_GAME_SCORING_LIST FOUR_CHARACTER_CODE('i', 'n', 'n', 'n')
#define DIFFICULTY_LEVEL_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'd', 'l')
#define INTERNAL_SOLO_PREGAME_COLLECTION FOUR_CHARACTER_CODE('i', 'n', 's', 'r')

// Rows of 'ingo'.
enum
{
    _game_options_game_line = 2,
    _game_options_type_line = 3,
    _game_options_unit_trading = 20,
    _game_options_veterans,
    _game_options_teams,
    _game_options_no_alliances,
    _game_options_server_is_observer,
    _game_options_no_overhead_map,
    _game_options_deathmatch,
    _game_options_maximum_teams,
    _game_options_time_limit,
    _game_options_planning_minutes,
    _game_options_planning_seconds,
    _game_options_difficulty,
    _game_options_starting_locations,
    _game_options_ranked_warning, // 33
    NUMBER_OF_GAME_OPTIONS_STRINGS
};

enum
{
    _pregame_sequence_netgame_preview = 1,
    GAME_DESCRIPTION_LINE_SIZE = 256,
    GAME_DESCRIPTION_TEXT_SIZE = 2048,
    COOPERATIVE_DEFAULT_DIFFICULTY = 2, // the difficulty not worth a line
    SCORING_WITHOUT_TYPE_LINE = 13,
};

// The item's extra data.
struct game_extra_data
{
    uint32_t cookie; // GAME_GRAPHIC_COOKIE
    net_game_description game;
    file_tag collection_tag; // the preview collection, NONE when none
    bool collection_loaded_here; // this control loaded it, so it unloads it
    int32_t maximum_teams; // the map's starting locations, 0 when its header was not read
    bool show_plugins;
    bool is_replay;
};

// The description's texts, each drawn in its own style.
struct game_description_text
{
    char version[16];                            // films: "v1.3.0"; else empty
    char game_line[GAME_DESCRIPTION_LINE_SIZE];  // ends with "\r"
    char type_line[GAME_DESCRIPTION_LINE_SIZE];  // ends with "\r"; empty for scoring 13
    char map_line[GAME_DESCRIPTION_LINE_SIZE];   // ends with "\r\r"
    bool map_line_is_warning;                    // drawn red
    char options[GAME_DESCRIPTION_TEXT_SIZE];    // the option lines
};

// Builds the texts of `data` (nothing here is drawn or loaded).
void assemble_game_description(const game_extra_data *data, game_description_text *text);

intptr_t game_graphic_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Copies the description (its in-progress bit cleared), unloads the previous
// preview, opens its plug-ins to read its map's header for the preview
// collection and team count, and falls back on 'insr' when the map has no
// preview.  A preview collection is unloaded again when a collection without
// a preview picture, the next description or the item's disposal replaces
// it, but only when this item loaded it: one that was loaded before (the
// running map's, another item's) stays.
void set_game_control_description(dialog_data *dialog, int16_t item_id, const net_game_description *description);
// Store only (no redraw).
void set_game_graphic_is_replay(dialog_data *dialog, int16_t item_id, bool is_replay);
void set_game_graphic_show_plugin_list(dialog_data *dialog, int16_t item_id, bool show);
void draw_game_graphic(bitmap_data *destination, const rectangle2d *bounds, const game_extra_data *data);
