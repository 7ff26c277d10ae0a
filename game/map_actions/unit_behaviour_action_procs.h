#pragma once
// Unit behaviour procedures: assassins ('assa'), shamans ('sham') and scripted pick-ups ('pick').

#include <cstdint>

uint32_t assassin_action_proc(int32_t action_index);
uint32_t shaman_action_proc(int32_t action_index);
uint32_t pick_up_object_action_proc(int32_t action_index);
