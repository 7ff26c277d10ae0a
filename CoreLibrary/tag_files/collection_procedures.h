#pragma once
// What the layers below the collections module ask of collections, in one
// table the collections module (game/shapes) registers whole
// (`register_collection_procedures`).  It lives with the tag store because the
// store is the lowest library that asks (the temporary collection preview);
// the preloader, the world, the definitions and the units read the same table.
//
// Every member may be null, and each is until the collections module registers its
// table; the default of a null member is said beside it.  The table is kept
// by pointer: register a static record.  A null table, or a second one, is
// refused with an assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstdint>

struct collection_reference_definition; // game/collection_references.h
struct mesh_header; // game/mesh_format.h
struct rgb_color; // game/rgb_color.h
struct shape_sequence_information; // game/objects.h
struct world_point3d; // game/world.h

struct collection_procedures
{
    // ---- the tag store's temporary collection preview (tag_files.h) ----
    // Loads the collection tag at `tag_index`; its collection index, NONE on
    // failure (null member: NONE, no preview).
    int32_t (*load_temporary_collection)(int32_t tag_index);
    // Disposes the preview's collection (null member: nothing).
    void (*dispose_temporary_collection)(int32_t collection_index);

    // ---- the preloader (vesk/preloading.h) ----
    // Reads a collection's bulk data into its side record `runtime`, through
    // the store's read-ahead buffer when `read_ahead` is set; true when read
    // (null member: nothing to load, false).
    bool (*load_collection_header_data)(int32_t tag_index, void *header, void *runtime, bool read_ahead);

    // ---- the definitions (collection_services.h, collection_references.h) ----
    // Whether the collection holds the sequence: false for collection NONE,
    // true for sequence NONE (null member: any sequence >= 0 of a collection
    // other than NONE counts as held).
    bool (*collection_holds_sequence)(int32_t collection_index, int32_t sequence_index);
    // A new shading table of the collection for the replacement colours, mode,
    // tint fraction and tint colour; its index (null member: NONE, no table).
    int32_t (*add_shading_table)(int32_t collection_index, const rgb_color *primary, const rgb_color *secondary,
                                 int32_t mode, int32_t tint_fraction, const rgb_color *tint_color);
    // Readies the sequence's bitmaps for drawing; sets `*had_to_purge` when a
    // cache had to give room (null member: nothing prepared, nothing purged).
    void (*preload_sequence)(int32_t collection_index, int32_t sequence_index, bool *had_to_purge);
    // Colours the copy custom_collection_reference just made (null member:
    // the copy keeps the tables of the reference it copies).
    void (*color_custom_collection_reference)(collection_reference_definition *reference);

    // ---- the object world (objects.h) ----
    // What is known of a sequence; false when the sequence is unknown (null
    // member: one frame, one view).
    bool (*shape_sequence_information)(int16_t collection_index, int16_t sequence_index,
                                       shape_sequence_information *information);
    // The key point of a frame (null member: the object's origin).
    bool (*shape_key_point)(int16_t collection_index, int16_t sequence_index, int16_t frame_index,
                            world_point3d *offset);

    // ---- the mesh (mesh.h) ----
    // Loads the landscape collection the header names and writes its run-time
    // index; false, reported, refuses the map (null member: no landscape).
    bool (*load_landscape_collection)(mesh_header *header);
    // The address of landscape bitmap `bitmap_index` (256 x 256 bytes), or null
    // (null member: null).
    uint8_t *(*landscape_bitmap)(int32_t bitmap_index);
    // The landscape collection's lighting table and its 256 x 256 blend table
    // (null members: null).
    const void *(*landscape_shading_table)(void);
    const uint8_t *(*landscape_blend_table)(void);

    // ---- the units (projectiles.h) ----
    // Ahead-of-time read of a projectile sequence's frames; sets *stop to end
    // the pass (null member: nothing read).
    void (*preload_projectile_sequence)(int16_t collection_index, int16_t sequence_index, bool *stop);
};

bool register_collection_procedures(const collection_procedures *procedures);
// Never null: an empty table until one is registered.
const collection_procedures *get_collection_procedures(void);
