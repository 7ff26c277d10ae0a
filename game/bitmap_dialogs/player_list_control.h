#pragma once
// The player list ('plli'): the players of a game being set up, of a lobby
// room or of a film, each team shown as an extra row just above its captain
// and members, enabled rows before disabled ones.  A list control (its
// bitmap_* calls work on it) with its own row record, drawing and order.
//
// Rows are player_list_data records; a team row is a copy of its captain's
// row with flags 3 and the captain's uid.  Player rows are found by uid among
// rows without _player_is_actually_team_flag, team rows among rows with it.
// A row of another length (put there through the list calls) is logged and
// skipped by every operation.  Names that arrive without a terminator are
// read within their fields.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "game_records.h"

#define PLAYER_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('p', 'l', 'l', 'i')
// The lobby's buddy and order lists: player lists whose calls work on them too.
#define BUDDY_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('p', 'b', 'l', 'i')
#define ORDER_LIST_CONTROL_TAG FOUR_CHARACTER_CODE('p', 'o', 'l', 'i')
#define PLAYER_ICON_COLLECTION_TAG FOUR_CHARACTER_CODE('n', 'e', 'p', 'i')

enum
{
    PLAYER_LIST_ROW_HEIGHT = 21,
    ROW_PADDING = 2,
    CASTE_ICON_WIDTH = 22,
    CASTE_ICON_HEIGHT = 17,
    TEAM_MEMBER_INDENT = 8,
    DRAXIL_CASTE_ICON_INDEX = 800, // the caste sequence's last bitmap
    PLAYER_LIST_IDLE_MILLISECONDS = 1001,
    PLAYER_LIST_STATUS_TEXT_SIZE = 256,
    PLAYER_LIST_DISABLED_SORT_OFFSET = 6000,
    THIS_PROGRAM_VERSION = CURRENT_VERSION_IDENTIFIER,
    THIS_PROGRAM_BUILD = 443,
};

// Sequences of 'nepi'.
enum
{
    _player_icon_coats_of_arms_sequence = 0,
    _player_icon_list_highlight_sequence,
    _player_icon_castes_sequence,
    _player_icon_icon_highlight_sequence,
    _player_icon_ready_sequence, // bitmap 0 host, 1 client
};

// player_list_data.flags
enum
{
    _player_is_enabled_flag = 1,
    _player_is_actually_team_flag = 2,
    _player_is_gagged_flag = 4,
    _player_is_host_flag = 8,
    _player_dont_show_ready_icon_flag = 16,
    _player_show_version_flag = 32,
    _player_show_diff_version_number_flag = 64,
};

// new_player_data.flags: the player came through the lobby's own service.
enum
{
    _player_is_from_draxil_flag = 2,
};

// One row (the list keeps copies).
struct player_list_data
{
    new_player_data player;
    uint32_t uid; // lobby user id or network player id; 0 the host
    int32_t room_id;
    uint16_t flags; // _player_*_flag above
    int16_t sort_order;
};
static_assert(sizeof(player_list_data) == 136);

intptr_t player_list_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// The list's row drawing and order (ascending sort_order, ties by name
// without regard to case).
void draw_player_list_proc(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                           const void *data, int16_t length, int16_t font_id, uint16_t flags);
int32_t player_list_sort_proc(const void *a, int16_t length_a, const void *b, int16_t length_b);

// The right-hand status text of a row (latency, version); *transparency gets
// 32768 for a version name, else 0.  Empty when there is nothing to show.
void build_player_list_status_text(const player_list_data *row, char *buffer, int32_t size,
                                   fixed_fraction *transparency);

// Replaces any row of `uid`; `host` 1 shows the version name, 2 the version
// number when it differs from this program's; a captain gets a team row.
void add_player_to_list(dialog_data *dialog, int16_t item_id, const new_player_data *player, int16_t host,
                        uint32_t uid, int32_t room_id, bool enabled);
// Many rows of one list changed in a row (a lobby room's list of hundreds):
// between the two calls the list's order is worked out once, at the end,
// rather than after every row.  A second begin ends the first batch.
void begin_player_list_batch(dialog_data *dialog, int16_t item_id);
void end_player_list_batch(void);
void set_player_data_in_list(dialog_data *dialog, int16_t item_id, const new_player_data *player, int16_t host,
                             uint32_t uid);
void delete_player_from_list_by_id(dialog_data *dialog, int16_t item_id, uint32_t id);
void set_player_appearance_by_id(dialog_data *dialog, int16_t item_id, const player_appearance_data *appearance,
                                 uint32_t id);
// False when no player row has the id.
bool get_player_appearance_by_id(const dialog_data *dialog, int16_t item_id, uint32_t id,
                                 player_appearance_data *appearance);
bool get_player_from_list_by_id(const dialog_data *dialog, int16_t item_id, uint32_t id, new_player_data *player);
void gag_player(dialog_data *dialog, int16_t item_id, uint32_t id, bool gag);
bool player_is_gagged(const dialog_data *dialog, int16_t item_id, uint32_t id);
bool player_id_in_list(const dialog_data *dialog, int16_t item_id, uint32_t id);
void select_player_list_item_by_id(dialog_data *dialog, int16_t item_id, uint32_t id);
// 0 when nothing is selected.
uint32_t get_selected_player_user_id(const dialog_data *dialog, int16_t item_id);
char get_selected_player_buddy_status(const dialog_data *dialog, int16_t item_id);
// 0 for a missing row.
uint32_t get_player_list_item_id(const dialog_data *dialog, int16_t item_id, int16_t index);
// Whether row `index` is a team row; its captain's identifier into
// *team_captain_identifier (may be NULL).
bool player_list_item_is_team(const dialog_data *dialog, int16_t item_id, int16_t index,
                              int32_t *team_captain_identifier);
void player_list_show_ready_icons(dialog_data *dialog, int16_t item_id, bool show);
bool player_list_selection_is_locked(const dialog_data *dialog, int16_t item_id);
void clear_player_list(dialog_data *dialog, int16_t item_id);
// Drops the list's rows-by-id index; for the dispose verb of every control
// type that keeps player rows (the list's record is about to be freed).
void forget_player_list_rows(const dialog_data *dialog, int16_t item_id);
// The first row whose primary colour (red, green, blue) and name equal the
// appearance's, copied into `buffer`; NULL when none.
player_list_data *get_player_list_data_by_chat_appearance(const dialog_data *dialog, int16_t item_id,
                                                          const player_appearance_data *appearance,
                                                          player_list_data *buffer);
