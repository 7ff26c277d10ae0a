#pragma once
// The data a player's program plays on, as its record carries it: every
// join, the description check, the end barrier and the tools read it.
//
// A record's `data_tags` (ten bytes older programs leave 0 and never read)
// hold a mark, then the foundation and patch checksums, big-endian, the same
// in host and wire order.  A record with the mark also says that its program
// takes the end barrier's final states.

#include <cstddef>
#include <cstdint>

struct new_player_data;

// Writes this program's data tags into `player`.
void mark_player_data_with_local_tags(new_player_data *player);
// False when the record carries no tags (an older program's); the
// checksums are then left alone.
bool get_player_data_tags(const new_player_data *player, uint32_t *foundation, uint32_t *patch);
// Whether data tags `foundation` and `patch` (0: not known) differ from this
// program's; the reason, for the joiner, names which and both (at most
// `size` bytes): `hosts` when the tags are the host's, else the joiner's.
bool describe_other_data(uint32_t foundation, uint32_t patch, bool hosts, char *reason, size_t size);
