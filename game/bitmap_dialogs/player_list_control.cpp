// The list of a game's players and teams.
#include "bitmap_dialogs/player_list_control.h"
