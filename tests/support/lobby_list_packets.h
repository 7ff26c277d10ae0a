#pragma once
// Lobby list packets as the pump hands them on (host order), for the tests of
// the list events and of the dialogs they fill.

#include <cstdint>
#include <vector>

#include "cseries/cseries.h"
#include "metaserver/metaserver_authentication.h"
#include "metaserver_lib/metaserver_packets.h"

// The header, then the entries.
std::vector<uint8_t> list_packet(int16_t type, const std::vector<std::vector<uint8_t>> &entries);
// A player's lobby data: the record and both names, as the service sends them.
std::vector<uint8_t> lobby_player_data(const char *name, int16_t state = _player_state_idle);
// A player entry; `prefix` adds the room the player is in (`room`), as search,
// buddy and order lists carry it.  `declared` (not NONE) replaces the data's
// length in the entry.
std::vector<uint8_t> player_entry(uint32_t id, const std::vector<uint8_t> &data, uint16_t verb = _add_player_verb,
                                  bool prefix = false, int16_t declared = NONE, int32_t room = 3);
