// The session's answers for the in-game dialogs.

#include "ingame_dialog_network.h"

#include "cseries/log.h"
#include "lobby_procedures.h"
#include "vesk_networking/vesk_networking.h"

bool ingame_dialog_local_player_is_originator(void) { return local_player_is_network_originator(); }

bool ingame_dialog_force_network_endgame(int16_t type)
{
    if (!is_vesk_networking() || get_vesk_net_globals()->endgame_raised)
    {
        log_message(__FILE__, __LINE__, "no network game to end with type %d", type);
        return false;
    }
    force_network_endgame(type);
    return true;
}

// The lobby's room died under a lobby game: there is nobody to rehost or restart for.
bool ingame_dialog_lobby_connection_died(void) { return lobby_connection_died(false); }
