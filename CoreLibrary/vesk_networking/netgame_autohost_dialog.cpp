#include "netgame_autohost_dialog.h"

bool open_autohost_dialog(net_game_description *, int16_t)
{
    return false;
}
