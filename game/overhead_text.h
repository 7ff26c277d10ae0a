#pragma once
// Texts over units.
//
// Map scripts attach one short text to a unit; the scene's sprite builder
// draws it above the unit.  A text lives `timer` game ticks, dies with its
// unit, and every text is dropped when the map ends.  The unit keeps the
// reverse link `current_overhead_text_index`.
//
// The texts are local (left out of the state hash; nothing here draws a
// random number), but they are made inside the tick by scripts, so their
// slots follow the data array's rules and are the same on every replay.
//
// Main thread only.

#include <cstdint>

#include "map_actions/world_knot_action_procs.h"

struct datum_globals;

// Start-up: creates the "overhead text" data array.
void initialize_overhead_text(void);
// Empties it when a map begins.
void initialize_overhead_text_for_new_map(void);
void dispose_overhead_text_from_old_map(void);

// A new text with every field of `data` but the identifier; its index, or
// NONE (logged) when all MAXIMUM_OVERHEAD_TEXT_PER_MAP texts are used or
// `data` is null.  The caller links the unit.
int32_t new_overhead_text(const overhead_text_data *data);
// Unlinks the text from its unit (the unit's link becomes NONE when it names
// this text) and frees it.  An index that names no text is refused (logged).
void delete_overhead_text(int32_t overhead_text_index);
// Once per game tick: every text loses one tick and is deleted below 1.
void update_overhead_text(void);

// The text at `overhead_text_index`, null when none is there.
overhead_text_data *get_overhead_text(int32_t overhead_text_index);
// The array, for walks by the sprite builder.
datum_globals *get_overhead_text_data_array(void);

// Registers the start-up step, the map step and the tick step with the game
// core, and the procedures the scripts and unit deaths call.
void register_overhead_text_hooks(void);
