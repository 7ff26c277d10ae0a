#pragma once
// What the in-game dialogs ask of the game's networking, gathered in one
// place so that the quit dialog does not depend on how the session is built.
//
// Main thread only.

#include <cstdint>

// Whether this machine started (hosts) the network game.  False outside one.
bool ingame_dialog_local_player_is_originator(void);
// Ends the network game for every player with the forced-endgame `type`
// (forced_endgame_type: 2 rehost, 3 restart).  False when it was not sent.
bool ingame_dialog_force_network_endgame(int16_t type);
// Whether the connection to the lobby service was lost (rehost and restart
// then have nowhere to announce the next game).
bool ingame_dialog_lobby_connection_died(void);
