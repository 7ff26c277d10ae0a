#pragma once
// The client's handlers of the library packets the host sends (types 3-7),
// and the status packets they put into "client status" for the game.  The
// handlers take the packet in host order, already checked against the packet
// rules (from 254, a length its type allows); each returns true, which ends
// the current pass over the queue.
//
// Main thread only.

#include <cstdint>

#include "vesk_networking/network.h"

bool handle_new_player_packet(net_game_data *game, void *packet, int32_t length);
bool handle_join_request_denied_packet(net_game_data *game, void *packet, int32_t length);
bool handle_server_deleted_player_packet(net_game_data *game, void *packet, int32_t length);
bool handle_game_data_packet(net_game_data *game, void *packet, int32_t length);
bool handle_client_connection_closed_packet(net_game_data *game, void *packet, int32_t length);

// The local player has left or lost the game: tells the game.
void queue_player_left_game(net_game_data *game);
// The connection to the host has ended and every whole packet it sent has
// been read: a join still waiting is refused at once (the host closed it
// without an answer), else the player has left the game.
void client_connection_ended(net_game_data *game);
