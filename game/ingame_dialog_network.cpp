// The session's answers for the in-game dialogs.  Until the network session
// offers an originator query and a forced endgame, this machine is never the
// originator, so the quit dialog shows its information line and never
// offers rehost or restart; nothing is sent.

#include "ingame_dialog_network.h"

#include "cseries/log.h"

bool ingame_dialog_local_player_is_originator(void) { return false; }

bool ingame_dialog_force_network_endgame(int16_t type)
{
    log_message(__FILE__, __LINE__, "no network session to end with type %d", type);
    return false;
}

bool ingame_dialog_lobby_connection_died(void) { return false; }
