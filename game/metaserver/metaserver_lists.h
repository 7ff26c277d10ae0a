#pragma once
// The lobby's list events turned into rows of the lobby dialog's lists: the
// room's players (event 19) and games (21), the local player's own data
// (22), search results (29), buddies and order members (30, 31, 34, 35) and
// one player's statistics (32).
//
// The handlers take the lists they fill, so the lobby dialog (and a test's
// dialog) can call them; metaserver_handler_proc hands them the lists the
// open lobby dialog set with set_metaserver_lobby_lists.  An item of NONE
// (or a null dialog) is not filled.
//
// Every packet is in host order as the pump passes it.  An entry that is too
// short, or whose two texts do not end exactly at its data's end, is skipped;
// the walk stops at the first entry that does not fit in the packet.
// Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_readers.h"

enum player_info_request_state : int16_t
{
    _player_info_not_requested = 0,
    _player_info_requested,
    _player_info_received,
    _player_info_processed, // shown: a later answer is not taken
};

// The lists of the open lobby dialog (and of its search dialog while that is
// open and active).
struct metaserver_lobby_lists
{
    dialog_data *dialog;
    int16_t player_list_item; // 'plli'
    int16_t game_list_item; // 'gaml'
    int16_t buddy_list_item; // 'pbli'
    int16_t order_list_item; // 'poli'
    int16_t room_item; // 'room': its counts follow the lists
    dialog_data *search_dialog;
    int16_t search_list_item; // 'slst': rows keyed by the room the player is in
    metaserver_player_stats *player_stats; // filled by event 32 ...
    int16_t *player_info_state; // ... only while this says requested (then received)
};

// A lobby dialog without lists: every item NONE, every pointer null.
metaserver_lobby_lists empty_metaserver_lobby_lists(void);

// The lists metaserver_handler_proc fills (copied; null: none, as when the
// lobby dialog closes).
// A set naming a dialog first takes, in order, the room's player, game, buddy
// and order lists that came while no dialog was set (kept up to 64 KB).
void set_metaserver_lobby_lists(const metaserver_lobby_lists *lists);
// Drops the lists kept for a dialog to come (a new login's room sends its own).
// It also forgets that buddies or order members were sent.
void forget_pending_metaserver_list_events(void);
// The service sent the buddy list (its update, event 34) or the order's
// members (event 35) since the login: the lobby dialog shows its tabs.
bool metaserver_buddies_sent(void);
bool metaserver_orders_sent(void);

// The small dialogs' part of the lists set: the open search dialog's result
// list (null: no search is active) and where the information dialog wants
// its answer (null: nowhere).  The lobby dialog's own lists stay.
void set_metaserver_search_list(dialog_data *dialog, int16_t item_id);
void set_metaserver_player_info_target(metaserver_player_stats *stats, int16_t *state);

// Handles a list event of the pump: false when `event` is not one of them.
bool handle_metaserver_list_event(const metaserver_lobby_lists *lists, metaserver_context_data *context,
                                  int32_t event, void *data, int32_t length);
// The same with the lists set by the lobby dialog.
bool handle_metaserver_list_event_for_lobby(metaserver_context_data *context, int32_t event, void *data,
                                            int32_t length);

// Event 19: players added, changed or deleted by their lobby id; the local
// player's entry sets the local caste.  The selection stays on its player.
void handle_metaserver_player_list(const metaserver_lobby_lists *lists, metaserver_context_data *context,
                                   const void *packet, int32_t length);
// Event 21: games of more than 567 bytes of data added, deleted or changed by
// game id; a game this program cannot play is marked invalid, and one with a
// password gets a placeholder so that joining asks for it.
void handle_metaserver_game_list(const metaserver_lobby_lists *lists, const void *packet, int32_t length);
// Event 22: the local player's look, name and lobby id from the service.
// False (logged) when the data are malformed: nothing changes then.  On true
// the lobby dialog lets the player join games.
bool handle_metaserver_set_player_data(metaserver_context_data *context, const void *packet, int32_t length);
// Event 29: one row "NAME |p(ROOM)" per valid entry, keyed by the room.
void handle_metaserver_player_search(dialog_data *dialog, int16_t item_id, const void *packet, int32_t length);
// Events 30 and 31: the buddy or order list follows the packet's players.
void handle_metaserver_buddy_or_order_list(dialog_data *dialog, int16_t item_id, bool order, const void *packet,
                                           int32_t length);
// Event 32: true when `stats` was filled; false (nothing changed) for a packet
// shorter than its header and fixed part.
bool handle_metaserver_player_info(metaserver_player_stats *stats, const void *packet, int32_t length);
// Event 34: the 16 buddies (the body, 128 bytes), then a buddy query.
void handle_metaserver_buddy_update(const void *body);
// Event 35: the order's members (the packet), then an order query.  False
// (logged) when the count or the members do not fit.
bool handle_metaserver_order_update(const void *packet, int32_t length);

// The name shown for a lobby room.
void metaserver_room_name(int16_t room_id, char *buffer, int32_t size);
