#pragma once
// The automatic host's playlist: up to 32 prepared network games, stored in
// the "autohost" preferences record, hosted one after the other while the
// host only watches.
//
// Main thread only.

struct net_game_description;

// Advances to the next filled entry of the playlist (wrapping to the first
// at the end or at an empty entry) and returns a copy of it, kept as the
// game being hosted.
const net_game_description *get_next_autohosted_game_description(void);
// The copy of the entry being hosted.
const net_game_description *get_current_autohosted_game_description(void);
