#pragma once
// Chat while a network game is set up and in its endgame: players ask the
// host to relay a line to everybody, to one team or to one player; lines
// that begin with a dot may be local commands that print facts about the
// game into the chat; and every chat line, those of the game itself
// included, is kept in a back log of 64 lines that the next chat item
// replays, so the conversation carries over between the dialogs and the
// game.
//
// Trust: the host relays a line with the appearance (name and colour) the
// player list shows for its real sender, and a client takes a delivered line
// only from the host's player, so nobody can speak as another player.  The
// host's own player is trusted (the autohost speaks as "Autohost").
//
// The dialogs that show chat share item numbers: 6 the player list, 8 the
// chat list, 9 the chat edit line.  Main thread only.

#include <cstdint>

#include "rgb_color.h"

struct dialog_data;
struct chat_appearance;
struct new_player_data;

enum
{
    CHAT_BACK_LOG_SIZE = 64,
    CHAT_ENTRY_NAME_SIZE = 32,
    CHAT_ENTRY_TEXT_SIZE = 255,
    CHAT_TEXT_FIELD_SIZE = 255,
    // A shown line holds at most this many characters; longer texts are cut.
    MAXIMUM_SHOWN_CHAT_TEXT_LENGTH = 255,
    CHAT_DIALOG_PLAYER_LIST_ITEM = 6,
    CHAT_DIALOG_CHAT_LIST_ITEM = 8,
    CHAT_DIALOG_EDIT_ITEM = 9,
};

// One line of the back log (memory only).
struct chat_entry_record
{
    char name[CHAT_ENTRY_NAME_SIZE]; // terminated; empty: no sender
    char text[CHAT_ENTRY_TEXT_SIZE]; // terminated
    uint8_t type;                    // display style (chat_list_control.h)
    bool used;
    rgb_color player_color;
};

struct chat_back_log
{
    int32_t index; // the slot the next line goes into (0 .. 63)
    chat_entry_record chat_list[CHAT_BACK_LOG_SIZE];
    char text_field[CHAT_TEXT_FIELD_SIZE]; // a half-typed line kept between dialogs
};

// ---- sending ------------------------------------------------------------------------

// The dialog's send: reads the edit line (item 9, at most 255 characters);
// false when it is empty.  A dot command (exact match) prints its answer;
// any other line is sent (broadcast with nothing selected in the player
// list, to the team of a selected team row, to a selected player, after
// which the selection is cleared unless locked).  The edit line is emptied.
bool send_chat_or_dot_command(dialog_data *dialog);

// Builds a chat packet and sends it; nothing without a session, or for `to`
// above 255 (logged).
void send_chat_text(const chat_appearance *appearance, const char *text, int32_t to, uint16_t flags, int16_t type,
                    int16_t identifier);
// Asks the host to pass `text` on (`type` a chat packet type, `identifier`
// its captain or target; -1 for everybody) under the local player's shown
// appearance; nothing (logged) while the local player is not listed.
void send_local_chat_text(const char *text, int16_t type, int16_t identifier);
// A broadcast request from "Autohost" in black.
void autohost_send_chat_text(const char *text);

// ---- receiving ----------------------------------------------------------------------

// A chat packet (host order, size checked), only while the game is set up:
// the host relays requests; a delivered line is shown in the set-up dialog's
// chat (when it shows) and kept in the back log.
void handle_chat_packet(void *packet);
// Whether the players heed a game packet of type `what` one of them sends
// another through the host now: a chat packet only while the game is set up
// (a running game carries chat as commands).  The host relays nothing else.
bool chat_relay_is_heeded(uint16_t what);

// ---- dot commands and notices ------------------------------------------------------

// Where a dot command's notices go (the dialog's chat item, or a test).
typedef void (*chat_notice_procedure)(void *context, const char *text);

// The chat a dot command is typed in: the network game's (set-up and
// endgame) or the lobby's room chat, which knows fewer commands.
struct chat_dot_place
{
    dialog_data *dialog;     // may be null: no selection, nothing to clear
    int16_t chat_list_item;  // ".clear" empties it
    int16_t player_list_item; // ".userid" reads its selection, ".ping" redraws it
    bool lobby;
};
// The network game's chat items of `dialog`.
chat_dot_place game_chat_dot_place(dialog_data *dialog);

// One table serves both chats: true when `line` is exactly a command of the
// lobby's chat (`lobby`) or of the game's.
bool is_chat_dot_command(const char *line, bool lobby);
// When `line` is exactly one of the place's dot commands, runs it, hands each
// notice to `notice` and returns true; false (nothing done) otherwise.
bool run_chat_dot_command(const char *line, const chat_dot_place &place, chat_notice_procedure notice,
                          void *context);
// The same in the network game's chat of `dialog` (may be null).
bool run_chat_dot_command(const char *line, dialog_data *dialog, chat_notice_procedure notice, void *context);

// A notice of the session (a player who left, the host's restart): shown in
// the open set-up or endgame dialog's chat, or on the console while the game
// runs, and kept in the back log, so the next chat shows it too.
void add_network_notice(const char *text);

// A player left the session (after it left the list; `departed` is its
// record): everybody else is told by name, as one the host removed when it was.
void announce_player_departure(const new_player_data *departed);
// The host removes `player_id`: the player is told so before its connection
// closes, and the host's own notice of the departure says it was removed.
void tell_player_removed_by_host(int32_t player_id);
// The newest line the host's player addressed to this player alone while the
// game was set up (empty: none); forgotten with `forget`.
const char *last_line_from_host_to_me(bool forget);

// Lists the game's active plug-ins as notices in the dialog's chat item.
void display_game_plugins(dialog_data *dialog);

// ---- the back log -------------------------------------------------------------------

// Keeps a line: `type` a display style, `name` and `color` may be null (the
// slot's old colour then stays); the name is cut at 31, the text at 254
// characters.
void add_chat_to_back_log(int16_t type, const char *name, const rgb_color *color, const char *text);
// Replays the kept lines, oldest first, into the chat item `item`: the slot
// the next line goes into (the oldest of a full ring) is left out.
void add_chat_text_from_back_log(dialog_data *dialog, int16_t item);
// The lines a replay shows, oldest first, each handed to `visit`.
typedef void (*chat_entry_visitor)(void *context, const chat_entry_record *entry);
void visit_chat_back_log(chat_entry_visitor visit, void *context);
// Forgets every line and the half-typed one.
void empty_chat_text_log(void);
// The edit item's text into the kept half-typed line, and back.
void store_text_field_string(dialog_data *dialog, int16_t item);
void load_text_field_string(dialog_data *dialog, int16_t item, bool caret_at_end);
// The back log (read only).
const chat_back_log *get_chat_back_log(void);

// Fills networking's table member: the console's player lines and the
// endgame's notices arrive here.
void add_console_chat_to_back_log(int32_t chat_mode, const char *player_name, const rgb_color *player_color,
                                  const char *text);
