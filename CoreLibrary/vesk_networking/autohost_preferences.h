#pragma once
// The automatic host's playlist: up to 32 prepared network games, stored in
// the "autohost" preferences record, hosted one after the other while the
// host only watches.  An entry is empty when its map (`scenario_tag`) is
// NONE; empty entries may lie between filled ones.  Every stored entry has
// the host-is-observer option.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "bitmap_dialogs/network_services.h" // net_game_description

struct preferences_globals;

#define AUTOHOST_PREFERENCES_NAME "autohost"

enum
{
    AUTOHOST_PREFERENCES_VERSION = 2,
    MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES = 32,
};

// Stored big-endian (autohost_preferences_byte_swapping_data).
struct autohost_preferences
{
    net_game_description playlist[MAXIMUM_AUTOHOST_PLAYLIST_ENTRIES];
};
static_assert(sizeof(autohost_preferences) == 22784);
static_assert(offsetof(autohost_preferences, playlist) == 0);

extern const byte_swap_code autohost_preferences_byte_swapping_data[];

// The preferences store's procedures of the record (`data` is an
// autohost_preferences).  The defaults hold one game, the default network
// game named "Autohosted Game"; verification repairs every entry as a listed
// game's description (an empty one stays empty) and sets the observer
// option; it refuses (the defaults are used, logged) only a record whose
// first entry is empty, which would host no game.
void default_autohost_preferences(void *data);
bool verify_autohost_preferences(void *data);

// The record's descriptor for read_preferences_convert / write_preferences /
// free_preferences (the playlist dialog reads and writes through it).
preferences_globals *get_autohost_preferences_store(void);

// Whether the entry holds a game.
bool autohost_entry_is_filled(const net_game_description *entry);

// Advances to the next entry of the playlist, wrapping to the first at the
// end or when the next one is empty, keeps a copy of it as the game being
// hosted and returns that copy.  When the record cannot be read the copy
// stays as it was.
const net_game_description *get_next_autohosted_game_description(void);
// The copy of the entry being hosted.
const net_game_description *get_current_autohosted_game_description(void);

// The index of the entry started last (0 at start-up), and its change by the
// playlist dialog when the player starts an entry: the entry is copied as the
// game being hosted.
int16_t get_autohost_playlist_index(void);
void set_autohosted_game(int16_t index, const net_game_description *entry);
