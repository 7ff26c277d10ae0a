#pragma once
// What the map scripts and the units ask of overhead text, in one table the
// overhead text module (game/overhead_text) registers whole
// (`register_overhead_text_procedures`).  Overhead text is local: nothing here
// may change the game.
//
// Every member may be null, and each is until the module registers its table; the default
// of a null member is said beside it.  The table is kept by pointer: register
// a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstdint>

#include "cseries/cseries.h"

struct overhead_text_data; // map_actions/world_knot_action_procs.h

struct overhead_text_procedures
{
    // Makes a text from the request; its index, or NONE when none is free
    // (null member: no text, NONE).
    int32_t (*new_overhead_text)(const overhead_text_data *data);
    // Deletes the text `overhead_text_index`: a script replacing a unit's text,
    // a dying unit's text (null member: nothing deleted).
    void (*delete_overhead_text)(int32_t overhead_text_index);
    // The font of an overhead text: the font with tag `font_tag` when it is
    // known, else the interface's font slot 1, also for NONE (null member: NONE).
    int32_t (*overhead_text_font)(tag font_tag);
};

bool register_overhead_text_procedures(const overhead_text_procedures *procedures);
// Never null: an empty table until one is registered.
const overhead_text_procedures *get_overhead_text_procedures(void);
