#pragma once
// What the main loop, the films, the dialogs and the network game ask of the
// lobby client, in one table that the lobby registers whole
// (`register_lobby_procedures`).  This header is the lobby's one face to the
// layers below it: the network game reaches the lobby only through it.
//
// Every member may be null, and each is until the lobby registers its table; a null
// member gives the answer of a machine outside the lobby, as said below.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

struct command_header; // commands.h
struct net_game_description; // bitmap_dialogs/network_services.h
struct new_game_data; // game_records.h
struct new_player_data; // game_records.h

// The lobby's login options, as the "metaserver" preferences record stores
// them; the network selection dialog reads and sets them.
enum metaserver_preferences_flags : uint16_t
{
    _use_metaserver_flag = 1,
    _login_anonymous_flag = 2,
    _save_password_flag = 4,
    _reset_client_data_flag = 8,
    _default_metaserver_flags = _use_metaserver_flag | _login_anonymous_flag,
    _all_metaserver_flags = 15,
};

struct lobby_procedures
{
    // Once per pass of the main loop, first of all.
    void (*update_metaserver)(void);
    // A lobby player's buddy status character (null member: 0, none).
    char (*get_player_buddy_status)(int32_t lobby_player_id);
    // The number of lobby rooms (null member: 0; a room-list icon popup shows one row).
    int16_t (*metaserver_room_count)(void);
    // The stream of the game being recorded: the film written so far, in
    // pieces of at most 1024 bytes; each recorded command (big-endian, null
    // commands too); the film's ending time.  Null members: nothing is streamed.
    void (*send_recording_stream_header)(const void *data, int32_t size);
    void (*send_recording_stream_command)(const command_header *command);
    void (*send_recording_stream_end)(int32_t game_time);

    // ---- what the network game asks (defaults: a machine outside the lobby) ----
    // Connected to the lobby (null member: false).
    bool (*connected)(void);
    // The room entered is ranked (null member: false).
    bool (*current_room_is_ranked)(void);
    // The network selection with the lobby's saved login and options: 0
    // cancelled, 1 chosen, 2 choose again; the options go back into the
    // lobby's preferences, `use_lobby` says whether the lobby was chosen
    // (null member: 0, logged).
    int16_t (*choose_protocol)(new_player_data *player, uint32_t *protocol, bool first_pass, bool *use_lobby,
                               char *login, size_t login_size, char *password, size_t password_size);
    // Logs in and enters a room: 0 failed, 1 entered, 2 bad login, 3 quit
    // the game, 4 retry (null member: 0).
    int16_t (*login)(net_game_description *description, new_player_data *player, const char *login,
                     const char *password);
    // The lobby dialog's session: non-zero once a network session started
    // from it (null member: 0).
    int16_t (*run_session_dialog)(new_game_data *data, net_game_description *description, new_player_data *player,
                                  uint32_t protocol, bool first_entry);
    // The last session ended because the service sent the player to a web
    // address (null member: false).
    bool (*session_returns_to_login)(void);
    void (*logout)(void); // null member: nothing
    // The room died; `show` shows the message (null member: false).
    bool (*connection_died)(bool show);
    // The host's listed game takes the set-up's description and flags (null
    // member: nothing).
    void (*synchronize_game_description)(void);
    // The lobby's id of this session's game, -1 while unknown (null member:
    // the id the network game keeps).
    int32_t (*game_id)(void);
    // The host's game started (null member: nothing).
    void (*game_started)(const new_game_data *data);
    // The lobby ids of a game's players after a mid-game join (null member: nothing).
    void (*send_game_player_list)(int32_t game_id, const uint32_t *player_ids, int16_t count);
    // The game's end: its standings scored for `game_id` (null member: nothing).
    void (*handle_network_endgame)(int32_t game_id);
    // A chat line starting with a dot and a letter goes to the lobby room:
    // true when the room took it (null member: false, the line is chat).
    bool (*send_room_chat_command)(const char *line);
    // A yes-or-no question: true for yes (null member: false).
    bool (*query_dialog)(const char *text);
    // Shows an error with one button (null member: the text is logged).
    void (*show_error_message)(const char *text, const char *button);
    // The lobby's address, "host:port" (null member: "", none to offer).
    void (*get_address)(char *text, size_t size);
    // Stores an address the player typed ("host" or "host:port"; empty: the
    // default): false, nothing stored, for one that is no address (null
    // member: false).
    bool (*set_address)(const char *text);
};

// The lobby's table, kept by pointer (a static record).  Refused (assertion,
// the first kept) for null or when a table is registered already.
bool register_lobby_procedures(const lobby_procedures *procedures);

// The registered table; never null: until one is registered, every member is null.
const lobby_procedures *get_lobby_procedures(void);

// Whether a table is registered (a test may have put its own in first).
bool lobby_procedures_registered(void);

// The calls with their defaults for a null member.
char get_player_buddy_status(int32_t lobby_player_id);
int16_t metaserver_room_count(void);

// The network game's calls, each with its default for a null member (above).
bool lobby_connected(void);
bool lobby_room_is_ranked(void);
int16_t lobby_choose_protocol(new_player_data *player, uint32_t *protocol, bool first_pass, bool *use_lobby,
                              char *login, size_t login_size, char *password, size_t password_size);
int16_t lobby_login(net_game_description *description, new_player_data *player, const char *login,
                    const char *password);
int16_t lobby_run_session_dialog(new_game_data *data, net_game_description *description, new_player_data *player,
                                 uint32_t protocol, bool first_entry);
bool lobby_session_returns_to_login(void);
void lobby_logout(void);
bool lobby_connection_died(bool show);
void lobby_synchronize_game_description(void);
void lobby_game_started(const new_game_data *data);
void lobby_send_game_player_list(int32_t game_id, const uint32_t *player_ids, int16_t count);
void lobby_handle_network_endgame(int32_t game_id);
bool lobby_send_room_chat_command(const char *line);
bool lobby_query_dialog(const char *text);
void lobby_show_error_message(const char *text, const char *button);
void lobby_get_address(char *text, size_t size);
bool lobby_set_address(const char *text);
