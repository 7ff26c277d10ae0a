#pragma once
// What the main loop, the films and the dialogs ask of the lobby client, in one table that
// the lobby registers whole (`register_lobby_procedures`).  This header is the
// lobby's one face to the layers below it.
//
// Every member may be null, and each is until the lobby is built; a null
// member gives the answer of a machine outside the lobby, as said below.
//
// Main thread only.

#include <cstdint>

struct command_header; // commands.h

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
