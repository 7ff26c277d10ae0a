#pragma once
// The unit trading dialog ('untr'): before its game clock starts, a team's
// captain exchanges units of one tradable type for another, paying with the
// units' worth.  It opens by itself when a game starts in its planning time
// and does not pause the game.  The chosen counts leave as one unit
// adjustment command (monster_placement.h) when the captain accepts or when
// the clock starts; the dialog itself changes nothing of the game.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "point2d.h"

struct action_data;
struct dialog_data;
struct monster_placement;

#define UNIT_TRADING_DIALOG_TAG FOUR_CHARACTER_CODE('u', 'n', 't', 'r')
// The background collection and the string list of the points line.
#define UNIT_TRADING_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'u', 't')
#define UNIT_TRADING_STRING_LIST_TAG FOUR_CHARACTER_CODE('i', 'n', 'u', 't')

enum unit_trading_item
{
    _unit_trading_accept_item = 1, // queues the counts and closes
    _unit_trading_cancel_item = 2, // closes without a command
    _unit_trading_reset_item = 3,  // every count back to the team's own
    _unit_trading_first_header_item = 4, // 4-11: the column headers
    _unit_trading_last_header_item = 11,
    // Entry k: 12 + 4k the unit's name, 13 + 4k its cost, 14 + 4k
    // "minimum/maximum", 15 + 4k the count (a double arrow).
    _unit_trading_first_entry_item = 12,
    UNIT_TRADING_ITEMS_PER_ENTRY = 4,
    _unit_trading_points_left_item = 44,
};

struct unit_trading_globals
{
    int16_t total_available_points; // the tradable units' worth at opening
    int16_t monster_placement_count;
    monster_placement *monster_placements; // owned; from get_monster_placement_data
    dialog_data *dialog;
};

// Opens the dialog when it is not open, the game allows trading, its clock has
// not started, the local player has a team and captains it, and the team has
// units to trade; false otherwise (or without the tag).
bool open_unit_trading_dialog(void);
// The same with the placements given (taken over: freed on closing); the
// checks of the game and the player are the caller's.
bool open_unit_trading_dialog_with(monster_placement *placements, int16_t count);
// Queues the adjustment command of the counts shown and closes.  Nothing when
// closed.
void close_unit_trading_dialog(void);
// Closes without a command (the map ends).  Nothing when closed.
void dispose_unit_trading_dialog(void);
bool unit_trading_dialog_is_open(void);
dialog_data *get_unit_trading_dialog(void);

// Top of the screen, below the status bar when it is shown; centred across.
// Kept there while open (each tick).
void position_unit_trading_dialog(void);
// After every change of a count: the points left (item 44) and each tradable
// count's maximum, min(maximum_count, count + points left / cost), its
// maximum_count when it costs nothing.
void update_unit_trading_dialog(void);
// The view's question (front_end_procedures.h): the dialog's screen
// rectangle while it is shown.
bool unit_trading_dialog_visible(rectangle2d *bounds);

void unit_trading_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *action);
