#pragma once
// What the program, the main loop, the game core, the films, the screen and
// the dialogs ask of the networking subsystem, in one table that networking registers whole
// (`register_networking_procedures`).  This header is networking's one face
// to the layers below it.
//
// Every member may be null, and each is until networking registers its table; a null
// member gives the answer of a machine that is in no network game and has no
// web access, as the calls below say.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

struct missing_plugin_info; // tag_files/plugins.h
struct rgb_color;           // rgb_color.h

struct networking_procedures
{
    // Once per pass of the main loop, before a pending state change.
    void (*vesk_net_process)(void);
    // Whether the current network game measures latencies.
    bool (*networked_game_supports_ping)(void);
    // The local player's latency in milliseconds; 65535: none measured yet.
    uint16_t (*get_local_player_latency)(void);
    // A player's latency in milliseconds.
    int16_t (*get_player_latency)(int32_t player_id);
    // Whether the game being set up counts as ranked.
    bool (*enough_players_for_ranked_game)(void);
    // The remaining time of a mid-game join, into `buffer` (`size` bytes,
    // terminator included).
    void (*get_time_remaining_string)(char *buffer, size_t size);
    // Starts the desktop's browser on `url`, without a shell.
    void (*go_to_url)(const char *url);
    // Looks a plug-in up on the web: true with its download address (at most
    // `download_url_size` bytes).
    bool (*lookup_plugin)(const char *name, const char *url, uint32_t checksum, char *download_url,
                          int32_t download_url_size);
    // The missing-plug-ins dialog (mode 2: a film).
    void (*open_missing_plugins_dialog)(const missing_plugin_info *missing, int32_t count, int16_t mode);
    // Whether this machine hosts the network game that starts: the host
    // alone sends the sync commands (null: nobody does).
    bool (*local_player_is_network_originator)(void);
    // The chat back log: a player's line shown on the console, with its chat
    // mode and the player's name and colour (null: the line stays on the
    // console only).
    void (*add_chat_to_back_log)(int32_t chat_mode, const char *player_name, const rgb_color *player_color,
                                 const char *text);
    // A drop-player command ran in a network game: the network layer forgets
    // the player with that network id (null member: only the game's record
    // is marked).
    void (*forget_dropped_player)(int32_t player_id);
};

// Networking's table, kept by pointer (a static record).  Refused (assertion,
// the first kept) for null or when a table is registered already.
bool register_networking_procedures(const networking_procedures *procedures);

// The registered table; never null: until one is registered, every member is null.
const networking_procedures *get_networking_procedures(void);

// The start of the net module manager, which the network transport fills on
// its own (the transport lies below the rest of networking and cannot take
// the whole table).  Refused (assertion, the first kept) for null or a second
// registration.
typedef void (*start_network_module_manager_procedure)(void);
bool register_start_network_module_manager_procedure(start_network_module_manager_procedure procedure);

// Once, by the program, after the core's start-up: the registered start;
// nothing when none is.
void start_network_module_manager(void);

// The calls with their defaults for a null member.
// False: no game measures latencies (player lists show none, the frame-rate
// read-out no ping line).
bool networked_game_supports_ping(void);
// False: no machine of a network game is its host.
bool network_game_originator(void);
// 65535 (none measured).
uint16_t get_local_player_latency(void);
// 0 ms.
int16_t get_player_latency(int32_t player_id);
// False: not ranked (the game graphic shows its ranked-game warning).
bool enough_players_for_ranked_game(void);
