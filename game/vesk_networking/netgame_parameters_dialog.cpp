#include "netgame_parameters_dialog.h"

bool netgame_parameters_dialog(net_game_description *, int16_t, bool, bool)
{
    return false;
}
