#pragma once
// Procedures that give units the orders a player could give ('atta', 'gene')
// or end the game with a winner ('endg', 'end2').  Orders go through the
// command builders with an identifier other than NONE, so they are carried
// out at once on every machine and never enter the command queues.

#include <cstdint>

uint32_t attack_command_action_proc(int32_t action_index);
uint32_t general_command_action_proc(int32_t action_index);
uint32_t endgame_action_proc(int32_t action_index);
uint32_t custom_endgame_action_proc(int32_t action_index);
