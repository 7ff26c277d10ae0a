#pragma once
// The services a collection offers to drawing and to the definitions that
// name its sequences.  They live below the units so that unit and projectile
// definitions can check their sequences and get their shading tables; the
// graphics subsystem fills them later.

#include <cstdint>

#include "cseries/cseries.h"
#include "rgb_color.h"
#include "world.h"

// The collections module answers through its table
// (tag_files/collection_procedures.h); each default below holds until it
// registers.

// Whether the collection holds the sequence: false for collection NONE, true
// for sequence NONE; an index out of range logs error 15.  Until the
// collections module registers, any sequence >= 0 of a collection other than
// NONE counts as held.
bool verify_sequence_index(int32_t collection_index, int32_t sequence_index);

// A new shading table of the collection for the replacement colours (either
// may be null), mode, tint fraction and tint colour; its index.  Until the
// collections module registers no table is made and the answer is NONE.
int32_t add_shading_table_to_collection_index(int32_t collection_index, const rgb_color *primary,
                                              const rgb_color *secondary, int32_t mode, fixed tint_fraction,
                                              const rgb_color *tint_color);

// Readies the sequence's bitmaps for drawing; sets `*had_to_purge` when a
// cache had to give room (it may be null).  Until the collections module
// registers nothing is prepared and nothing purged.
void preload_sequence_index(int32_t collection_index, int32_t sequence_index, bool *had_to_purge);
