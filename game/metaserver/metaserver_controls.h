#pragma once
// The lobby's own control types: the animated banner ('bann'), the room
// chooser over the icon popup ('room'), the list of the room's games
// ('gaml'), the buddy and order lists that ask the service again every
// minute ('pbli', 'poli') and a plain list of rooms that no dialog tag can
// name (it is never registered).  The status bar ('sacc') is the dialog
// framework's own (bitmap_dialogs/status_bar_control.h).
//
// Every accessor checks that the item is of its type; a missing item or one
// of another type is logged and left alone (neutral answer).  The game
// list's countdown and the lists' query clocks read the machine clock
// (machine_tick_count), the banner the game's local 30 Hz time.
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/icon_popup_control.h" // ROOM_GRAPHIC_CONTROL_TAG
#include "bitmap_dialogs/player_list_control.h" // BUDDY_LIST_CONTROL_TAG, ORDER_LIST_CONTROL_TAG

struct net_game_description;

#define BANNER_CONTROL_TAG FOUR_CHARACTER_CODE('b', 'a', 'n', 'n')
#define GAME_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('g', 'a', 'm', 'l')
#define BANNER_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'm', 'b')
#define ROOM_GRAPHIC_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'r', 'g')
#define GAME_LIST_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'g', 'e', 'n')

enum : uint32_t
{
    LOBBY_LIST_QUERY_INTERVAL = 60000, // ms between a buddy or order list's queries
    GAME_LIST_COUNTDOWN_INTERVAL = 1000, // ms between the game list's countdown steps
};

enum
{
    ROOM_GRAPHIC_COLUMNS = 2,
    ROOM_GRAPHIC_ROWS = 12,
    DEFAULT_GAME_LIST_ROW_HEIGHT = 40,
};

// Bitmaps of the room chooser's second sequence.
enum
{
    _bitmap_player_count = 0,
    _bitmap_game_count,
    _bitmap_not_popped_up,
    _bitmap_ranked_room,
    _bitmap_tournament_room,
    _bitmap_films_room,
};

// The banner item's own record, made at creation and freed with the item.
struct banner_extra_data
{
    int32_t cookie; // BANNER_CONTROL_TAG
    int16_t collection_index; // NONE until a collection is shown
    int16_t sequence_index;
    int16_t view_index;
    int16_t bitmap_index;
    int32_t last_ticks; // local time at the last idle pass
    int32_t ticks; // local ticks left before the next frame
    bool animated;
};

// A row of the room list.
struct room_list_data
{
    char room_name[32];
    int16_t room_id;
    int16_t player_count;
    int16_t game_count;
};

// The control procedures.
intptr_t banner_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);
intptr_t room_graphic_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);
intptr_t game_list_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);
intptr_t buddy_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);
intptr_t order_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);
intptr_t room_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Adds the lobby's five registered types to the game's control table; from
// register_metaserver_hooks, at start-up.
void register_metaserver_controls(void);

// ---- banner --------------------------------------------------------------------

// With a collection (not NONE): shows frame 0 of the sequence and restarts its timing.
void set_banner_shape(dialog_data *dialog, int16_t item_id, int16_t collection_index, int16_t sequence_index);
// The view and bitmap as they are given.
void set_banner_shape_ext(dialog_data *dialog, int16_t item_id, int16_t view_index, int16_t bitmap_index);
void set_banner_animated(dialog_data *dialog, int16_t item_id, bool animated);
// The web address of the sequence shown (its name) into `buffer`: false when
// there is none, or when it does not fit (a cut address is never opened).
bool get_banner_url(const dialog_data *dialog, int16_t item_id, char *buffer, int32_t size);
// The banner's record, null for a bad item (for the lobby dialog and tests).
const banner_extra_data *get_banner_data(const dialog_data *dialog, int16_t item_id);

// ---- room chooser ----------------------------------------------------------------

void reset_room_graphic(dialog_data *dialog, int16_t item_id);
// The room becomes the current one (and is redrawn) when it, or its player or
// game count in the room table, differs from what was last shown.
void set_current_room_counts(dialog_data *dialog, int16_t item_id, int16_t room_id, int16_t unused_players,
                             int16_t unused_games);
int16_t get_current_room_graphic_id(const dialog_data *dialog, int16_t item_id); // NONE for a bad item
void set_room_graphic_bitmap(dialog_data *dialog, int16_t item_id, int16_t room_id);
// The room exists, has room for another player and lets users in.
bool room_enabled(int16_t room_id);
void room_icon_draw_proc(bitmap_data *destination, int16_t collection_index, int16_t sequence_index,
                         int16_t room_id, rectangle2d *bounds, const rectangle2d *clip,
                         const rgb_color *replacement_colors, fixed_fraction transparency, bool popped_up,
                         bool highlighted);

// ---- game list ----------------------------------------------------------------------

// Rows are whole descriptions, identified by game_id; a row is enabled only
// when the game is neither in progress, invalid nor closed.
void add_game_to_list(dialog_data *dialog, int16_t item_id, const net_game_description *description);
// Replaces the row of the same game_id (nothing without one); re-sorts when
// its enabled state changed.
void change_game_in_list(dialog_data *dialog, int16_t item_id, const net_game_description *description);
void delete_game_by_id(dialog_data *dialog, int16_t item_id, uint32_t game_id);
void select_game_by_id(dialog_data *dialog, int16_t item_id, uint32_t game_id);
// False when nothing is selected; else the selected row into `description`.
bool get_game_list_selection(const dialog_data *dialog, int16_t item_id, net_game_description *description);
void clear_game_list(dialog_data *dialog, int16_t item_id);
// Open, closed, in progress, invalid, invalid and in progress; games in
// progress by fewer seconds left; then by game_id.
int32_t sort_game_list(const void *a, int16_t length_a, const void *b, int16_t length_b);
// More than a second after its last step, every game in progress with a
// known time left above 0 loses one second.  True when a row changed.
bool idle_game_time_remaining(dialog_data *dialog, int16_t item_id);
void draw_game_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                         const void *data, int16_t length, int16_t font_id, uint16_t flags);

// ---- buddy and order lists ------------------------------------------------------------

// Tests watch the lists' queries instead of sending them (null: send them again).
void set_lobby_list_queries_for_tests(void (*buddy_query)(void), void (*order_query)(void));

// ---- room list (unregistered) -------------------------------------------------------

int16_t get_selected_room_identifier(const dialog_data *dialog, int16_t item_id); // NONE when none
void select_room_by_identifier(dialog_data *dialog, int16_t item_id, int16_t room_id);
