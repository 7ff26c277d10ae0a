#include "autohost_preferences.h"

#include "bitmap_dialogs/network_services.h"

static net_game_description current_autohosted_game;

const net_game_description *get_next_autohosted_game_description(void)
{
    return &current_autohosted_game;
}

const net_game_description *get_current_autohosted_game_description(void)
{
    return &current_autohosted_game;
}
