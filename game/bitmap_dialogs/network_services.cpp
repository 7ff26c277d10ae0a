// The game description's stored and wire layout.

#include "bitmap_dialogs/network_services.h"

const byte_swap_code net_game_description_byte_swapping_data[] = {
    _begin_bs_array, 1,
    NET_GAME_NAME_SIZE, NET_GAME_MAP_NAME_SIZE, NET_GAME_PASSWORD_SIZE,
    NEW_GAME_PARAMETER_FIELDS,
    _4byte, _4byte, // host and ping time, or map set checksum and gameplay selector
    _2byte, _2byte, // port, flags
    _4byte, _4byte, _4byte, // game id, the two checksums
    1, 1, _2byte, // player count, unused, seconds remaining
    _end_bs_array};
