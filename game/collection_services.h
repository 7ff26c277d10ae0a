#pragma once
// The services a collection offers to drawing and to the definitions that
// name its sequences.  They live below the units so that unit and projectile
// definitions can check their sequences and get their shading tables; the
// graphics subsystem fills them later.

#include <cstdint>

#include "cseries/cseries.h"
#include "rgb_color.h"
#include "world.h"

// Whether the collection holds the sequence: false for collection NONE, true
// for sequence NONE; an index out of range logs error 15.  Until the graphics
// subsystem fills the slot, the collections module's own check answers (a
// sequence is valid when its collection holds it); without that module
// either, any sequence >= 0 of a collection other than NONE counts as held.
typedef bool (*verify_sequence_index_procedure)(int32_t collection_index, int32_t sequence_index);
bool register_verify_sequence_index_procedure(verify_sequence_index_procedure procedure);
bool verify_sequence_index(int32_t collection_index, int32_t sequence_index);

// The collections module's own answer to `verify_sequence_index`, used while
// the graphics subsystem has not filled its slot.
bool register_collection_holds_sequence_procedure(verify_sequence_index_procedure procedure);

// A new shading table of the collection for the replacement colours (either
// may be null), mode, tint fraction and tint colour; its index.  Until the
// graphics subsystem fills the slot no table is made and the answer is NONE.
typedef int32_t (*add_shading_table_procedure)(int32_t collection_index, const rgb_color *primary,
                                               const rgb_color *secondary, int32_t mode, fixed tint_fraction,
                                               const rgb_color *tint_color);
bool register_add_shading_table_to_collection_index_procedure(add_shading_table_procedure procedure);
int32_t add_shading_table_to_collection_index(int32_t collection_index, const rgb_color *primary,
                                              const rgb_color *secondary, int32_t mode, fixed tint_fraction,
                                              const rgb_color *tint_color);

// Readies the sequence's bitmaps for drawing; sets `*had_to_purge` when a
// cache had to give room (it may be null).  Until the graphics subsystem fills
// the slot nothing is prepared and nothing purged.
typedef void (*preload_sequence_index_procedure)(int32_t collection_index, int32_t sequence_index,
                                                 bool *had_to_purge);
bool register_preload_sequence_index_procedure(preload_sequence_index_procedure procedure);
void preload_sequence_index(int32_t collection_index, int32_t sequence_index, bool *had_to_purge);
