#pragma once
// Collections ('.256', "collection"): sprite sets of one colour table, the
// bitmaps, their placements (bitmap instances), animation sequences of frames
// and views, shadow maps, and optional blend and remapping tables.  Units,
// projectiles, scenery, effects, interface pictures and the terrain's colour
// and shadow maps (colour-map collections) are all collections.  This module
// loads them, turns every stored bitmap into a ready `bitmap_data` over the
// loaded data block, derives the world-space data of sequences and instances,
// and answers the lookups of drawing and of the simulation (the sequence facts
// and key points it reads through the object layer).  Their shading tables are
// shading_tables.h.
//
// A loaded collection is checked whole before anything is built from it: every
// block, record, index, bitmap size and run-length row must lie inside the
// tag, else the tag is refused with code 10 naming the field (15 for the count
// limits).  The stored header's initialized bit is ignored (cleared on load),
// so a tag cannot skip its own checks.  Run-time pointers live in the
// registry's side record of each collection, never in the stored words.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "bitmaps.h"
#include "collection_services.h"
#include "shading_tables.h"
#include "rgb_color.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"
#include "vesk/shape_file.h"
#include "mesh_format.h"
#include "world.h"

// A pixel position in a bitmap.
struct bitmap_point
{
    int16_t x, y;
};
static_assert(sizeof(bitmap_point) == 4);

enum
{
    COLLECTION_VERSION_NUMBER = 4,
    MAXIMUM_COLLECTIONS_PER_MAP = 256,
    MAXIMUM_BITMAPS_PER_COLLECTION = 16384,
    BITMAP_INDEX_BITS = 14,
    MAXIMUM_SEQUENCES_PER_COLLECTION = 256,
    MAXIMUM_BITMAP_DIMENSION = 4096,
    PIXELS_TO_WORLD_MULTIPLIER = 10,

    COLLECTION_HEADER_SIZE = 320,
    COLOR_TABLE_SIZE = 2080,
    BITMAP_REFERENCE_SIZE = 128,
    BITMAP_INSTANCE_SIZE = 64,
    SEQUENCE_REFERENCE_SIZE = 128,
    SHADOW_MAP_SIZE = 32,
    SEQUENCE_DATA_SIZE = 64,
    SEQUENCE_FRAME_HEADER_SIZE = 46, // followed by one 16-bit instance index per view
    STORED_BITMAP_HEADER_SIZE = 52,
};

enum collection_header_flag_bits
{
    _collection_header_initialized_bit = 0,
    _collection_header_initialized_flag = FLAG(_collection_header_initialized_bit),
};

// user_data_flags: what the collection may be used for.
enum
{
    _collection_used_for_textures_flag = 1,
    _collection_used_for_monsters_flag = 2,
    _collection_used_for_projectiles_flag = 4,
    _collection_used_for_scenery_flag = 8,
    _collection_used_for_atmospheric_effects_flag = 16,
    _collection_used_for_interface_flag = 32,
    _collection_is_color_map_flag = 256,
};

enum sequence_flags
{
    _sequence_uses_mirroring_flag = 1,
    _sequence_has_frame_data_flag = 2,
    _sequence_has_no_rotation_flag = 4,
};

enum bitmap_instance_flags
{
    _bitmap_instance_mirror_horizontal_flag = 1,
    _bitmap_instance_mirror_vertical_flag = 2,
    _bitmap_instance_transparent_flag = 4,
    _bitmap_instance_key_point_obscured_flag = 8,
    _bitmap_instance_texture_flag = 16,
    _bitmap_instance_high_resolution_flag = 32,
};

// The blocks of the data block, in header order.
enum collection_block
{
    _collection_block_color_tables = 0,
    _collection_block_hue_changes,
    _collection_block_bitmap_references,
    _collection_block_bitmap_instances,
    _collection_block_sequence_references,
    _collection_block_shadow_maps,
    _collection_block_blend_table,
    _collection_block_remapping_table,
    NUMBER_OF_COLLECTION_BLOCKS
};

// Where a block lies: count records, `offset` from the start of the data
// block, `size` bytes.  `pointer` is a stored run-time word, written 0.
struct collection_block_data
{
    int32_t count;
    int32_t offset;
    int32_t size;
    uint32_t pointer;
};
static_assert(sizeof(collection_block_data) == 16);

// 320 bytes stored; the registry's record.
struct collection_header
{
    uint32_t flags;
    uint32_t user_data_flags;
    uint8_t unused1[56];
    collection_block_data blocks[NUMBER_OF_COLLECTION_BLOCKS];
    uint32_t shading_table_count; // run time; not swapped
    uint32_t shading_table_pointers; // run time; not swapped
    uint8_t unused3[48];
    int32_t data_offset; // of the data block in the tag's data
    int32_t data_size;
    int32_t data_delta; // must be 0
    uint32_t data; // run time
    uint8_t unused2[40];
    uint8_t extractor_data[16];
};
static_assert(sizeof(collection_header) == COLLECTION_HEADER_SIZE);
static_assert(offsetof(collection_header, blocks) == 64);
static_assert(offsetof(collection_header, shading_table_count) == 192);
static_assert(offsetof(collection_header, data_offset) == 248);
static_assert(offsetof(collection_header, data) == 260);
static_assert(offsetof(collection_header, extractor_data) == 304);

// 128 bytes stored.
struct sequence_reference
{
    char name[64];
    int32_t offset; // of the sequence in the data block
    int32_t size;
    uint32_t sequence; // run time
    uint8_t unused[36];
    uint8_t extractor_data[16];
};
static_assert(sizeof(sequence_reference) == SEQUENCE_REFERENCE_SIZE);
static_assert(offsetof(sequence_reference, offset) == 64);
static_assert(offsetof(sequence_reference, extractor_data) == 112);

// 64 bytes stored, followed by frames_per_view frames of
// SEQUENCE_FRAME_HEADER_SIZE + 2 * number_of_views bytes.
struct sequence_data
{
    uint32_t flags; // sequence_flags
    fixed pixels_to_world; // 16.16
    int16_t number_of_views;
    int16_t frames_per_view;
    int16_t ticks_per_frame;
    int16_t key_frame;
    int16_t loop_frame;
    int16_t sound_indexes[3]; // run time
    tag sound_tags[3]; // first frame, key frame, last frame; NONE when absent
    int16_t transfer_mode;
    int16_t transfer_period;
    fixed radius, height0, height1; // 16.16 pixels
    short_world_distance world_radius, world_height0, world_height1; // computed
    int16_t unused[3];
};
static_assert(sizeof(sequence_data) == SEQUENCE_DATA_SIZE);
static_assert(offsetof(sequence_data, number_of_views) == 8);
static_assert(offsetof(sequence_data, sound_tags) == 24);
static_assert(offsetof(sequence_data, transfer_mode) == 36);
static_assert(offsetof(sequence_data, radius) == 40);
static_assert(offsetof(sequence_data, world_radius) == 52);

// The frame record as the loader keeps it (stored: shadow map index, the key
// point as three 16-bit world distances, 38 unused bytes).
struct sequence_frame_data
{
    int16_t shadow_map_index;
    world_point3d key_point; // computed at load
};

// 64 bytes stored.
struct bitmap_instance_data
{
    uint32_t flags; // bitmap_instance_flags
    int16_t unused1[3];
    int16_t lowres_bitmap_index; // run time
    bitmap_point registration_point;
    int16_t world_top, world_left, world_right, world_bottom; // computed
    bitmap_point key_point;
    int16_t bitmap_index;
    int16_t highres_bitmap_index;
    fixed highres_pixels_to_world;
    bitmap_point highres_registration_point;
    int16_t unused2[4];
    uint8_t extractor_data[16];
};
static_assert(sizeof(bitmap_instance_data) == BITMAP_INSTANCE_SIZE);
static_assert(offsetof(bitmap_instance_data, registration_point) == 12);
static_assert(offsetof(bitmap_instance_data, key_point) == 24);
static_assert(offsetof(bitmap_instance_data, bitmap_index) == 28);
static_assert(offsetof(bitmap_instance_data, highres_registration_point) == 36);
static_assert(offsetof(bitmap_instance_data, extractor_data) == 48);

// 128 bytes stored.
struct bitmap_reference
{
    char name[64];
    int32_t offset; // of the stored bitmap in the data block
    int32_t size;
    uint32_t bitmap; // run time
    int16_t width, height;
    uint8_t runtime[32]; // texture-cache words; run time, not swapped
    uint8_t extractor_data[16];
};
static_assert(sizeof(bitmap_reference) == BITMAP_REFERENCE_SIZE);
static_assert(offsetof(bitmap_reference, width) == 76);
static_assert(offsetof(bitmap_reference, runtime) == 80);
static_assert(offsetof(bitmap_reference, extractor_data) == 112);

enum shadow_map_flags
{
    _shadow_map_is_light_map_flag = 1,
    // The frame's shadow is its sprite's own silhouette laid on the ground
    // away from the light (drawn on the screen), not the stamp of the map's
    // bitmap; the map still sets how the shadow fades with height.
    _shadow_map_cast_by_sprite_flag = 8,
};

// 32 bytes stored.
struct shadow_map_data
{
    uint32_t flags;
    fixed registration_x, registration_y; // 16.16 bitmap pixels
    int16_t bitmap_index;
    int16_t unused;
    uint8_t extractor_data[16];
};
static_assert(sizeof(shadow_map_data) == SHADOW_MAP_SIZE);
static_assert(offsetof(shadow_map_data, bitmap_index) == 12);

extern const byte_swap_code collection_header_byte_swapping_data[];
extern const byte_swap_code hue_change_byte_swapping_data[];
extern const byte_swap_code sequence_reference_byte_swapping_data[];
extern const byte_swap_code sequence_data_byte_swapping_data[];
extern const byte_swap_code bitmap_instance_byte_swapping_data[];
extern const byte_swap_code bitmap_reference_byte_swapping_data[];
extern const byte_swap_code shadow_map_byte_swapping_data[];

extern definition_globals collections;

// Registers the group (start-up); empties it for a map; frees it.
bool initialize_shapes(void);
void initialize_shapes_for_new_map(void);
void dispose_shapes_from_old_map(void);

// The loaded collection of `collection_tag` (loaded now when missing), or NONE.
int32_t get_collection_index(tag collection_tag);

// Checks a stored collection whole: `header` in host order, `data` the stored
// data block of `header->data_size` bytes.  False, after a code-10 error that
// names the field (code 15 for the bitmap and sequence count limits), for
// anything that would read outside the block or a table.  `name` labels the
// messages.
bool validate_collection(const collection_header *header, const uint8_t *data, const char *name);

// The whole load of a stored collection tag (`size` bytes: the header, then
// the rest of the tag) done in memory and undone: true when the game would
// take it.  For the fuzz target and checks that have no store.
// `visit`, when given, sees every ready bitmap of a collection it takes.
typedef void (*collection_bitmap_visitor)(const bitmap_data *bitmap, const color_table *colors);
bool check_collection_tag_data(const void *tag_data, int32_t size, const char *name,
                               collection_bitmap_visitor visit = nullptr);

// Lookups of a loaded collection.  An index out of range at either end (NONE
// included) never reads outside a table: each answer says what it gives then.
const collection_header *get_collection_header(int32_t collection_index);
// The tag's name ("<unknown>" when none).
const char *get_collection_name(int32_t collection_index);
int32_t get_collection_sequence_count(int32_t collection_index); // 0 when not loaded
int32_t get_collection_bitmap_count(int32_t collection_index);
// Sequence 0 for an index out of range; null when the collection has none.
const sequence_data *get_sequence(int32_t collection_index, int32_t sequence_index);
const sequence_reference *get_sequence_reference(int32_t collection_index, int32_t sequence_index);
const char *get_sequence_name(int32_t collection_index, int32_t sequence_index); // lower case
// Null (logged) for a frame out of range.
const sequence_frame_data *get_sequence_frame(int32_t collection_index, int32_t sequence_index, int32_t frame_index);
// Record 0 (logged) for an index out of range; null when there is none.
const bitmap_instance_data *get_bitmap_instance(int32_t collection_index, int32_t instance_index);
const shadow_map_data *get_shadow_map(int32_t collection_index, int32_t shadow_map_index);
// Whether both renderers may draw `instance` of the collection as a sprite: its
// bitmap is 1 to MAXIMUM_BITMAP_DIMENSION pixels each way and its registration
// point lies within it (edges included).  False otherwise, the first time for
// each bitmap with a log line naming the fault (once while the collection is
// loaded, not every frame).  True for an instance without a bitmap.
bool sprite_instance_is_drawable(int32_t collection_index, const bitmap_instance_data *instance);
// Null for an index out of range (and, logged, for a colour-map collection).
const bitmap_reference *get_bitmap_reference(int32_t collection_index, int32_t bitmap_index);
// The bitmap, ready to draw; null for an index out of range.  The first call
// marks it as the collection's and, unless it is run-length or has two-byte
// pixels, gives it colour-key transparency when any pixel byte is 0.
bitmap_data *get_bitmap(int32_t collection_index, int32_t bitmap_index);
// The bitmap instance of a sequence's frame at a view: view NONE counts the
// frame over all views (view = k / frames, frame = k mod frames with
// k = frame mod frames * views).  NONE when any of them is missing.
int32_t get_sequence_instance_index(int32_t collection_index, int32_t sequence_index, int32_t view, int32_t frame);
// The bitmap index of that instance (NONE when missing), with its
// registration and key points when the out points are given.
int32_t get_sequence_bitmap_index(int32_t collection_index, int32_t sequence_index, int32_t view, int32_t frame,
                                  point2d *registration_point, point2d *key_point);
bitmap_data *get_sequence_bitmap(int32_t collection_index, int32_t sequence_index, int32_t view, int32_t frame,
                                 point2d *registration_point, point2d *key_point);
// The palette strip: pixel `color_index` of the first row of view 0, frame 0
// names the colour; white for an index outside the strip or a strip that is
// not a flat 8-bit bitmap.
rgb_color *get_rgb_color_from_sequence(int32_t collection_index, int32_t sequence_index, int32_t color_index,
                                       rgb_color *color);
// Case-insensitive; the name is only read.  NONE when nothing has that name.
int32_t get_named_sequence_index(int32_t collection_index, const char *name);
int32_t get_named_bitmap_index(int32_t collection_index, const char *name);
enum count_sequence_bitmaps_mode
{
    _count_views_times_frames = 0,
    _count_frames_per_view = 1,
    _count_views = 2,
};
int32_t count_sequence_bitmaps(int32_t collection_index, int32_t sequence_index, int32_t mode);
// False with error 15 for a bitmap out of range.
bool verify_bitmap_index(int32_t collection_index, int32_t bitmap_index);
// The first pixel of bitmap `bitmap_index` of a colour-map collection; null otherwise.
uint8_t *get_submesh_bitmap_base_address(int32_t collection_index, int32_t bitmap_index);
// Exactly one colour table (asserted); null when not loaded.
const color_table *get_color_table(int32_t collection_index);
const hue_change *get_collection_hue_changes(int32_t collection_index, int32_t *count);
// Null (logged for the blend table) when the collection has none.
const uint8_t *get_remapping_table(int32_t collection_index, int32_t *size);
const uint8_t *get_blend_table(int32_t collection_index);
bool add_blend_table_to_collection_index(int32_t collection_index);
// The 16 KB transparency table of `mode` (transparency_mode); null for another mode.
const uint8_t *get_transparency_table(int32_t mode);
int16_t get_shapes_encoding(void);
// The secondary sequence takes the primary's radius and heights (world ones too).
void equalize_sequence_collision_rectangles(int32_t collection_index, int32_t primary_sequence,
                                            int32_t secondary_sequence);
// Whether some hue change would be recoloured: a primary one when neither the
// primary nor replacement colour i is unused, a secondary one likewise.
bool test_collection_replacement_colors(int32_t collection_index, const rgb_color *replacement_colors,
                                        int32_t replacement_color_count, const rgb_color *primary,
                                        const rgb_color *secondary);
// Writes `bitmap` back over bitmap `bitmap_index` in the collection's tag
// (same size, row size and flags, each asserted).  False when it cannot.
bool write_bitmap_to_collection(int32_t collection_index, int32_t bitmap_index, const bitmap_data *bitmap);
// The shading-table list of a loaded collection (shading_tables.cpp keeps it).
shading_table_list *get_collection_shading_table_list(int32_t collection_index);

// Loading and unloading by hand.  try_and_get_collection_index reads the tag
// again even when it is loaded.
int32_t try_and_get_collection_index(tag collection_tag);
// The collection of `collection_tag`, loaded when needed; NONE without a
// word when the data has none (for collections a plug-in may or may not bring).
int32_t get_collection_index_if_present(tag collection_tag);
// The loaded collection of `collection_tag`, or NONE when it is not loaded
// (nothing is read): a caller that loads a collection for a while and
// unloads it afterwards asks first, so that it never unloads one that
// somebody else loaded.
int32_t find_loaded_collection_index(tag collection_tag);
void delete_collection(int32_t collection_index);
void delete_collection_tag(tag collection_tag);
// The preview's collection: loads the tag at `tag_index` into a slot of its
// own (NONE when refused); disposing deletes it.
int32_t load_temporary_collection(int32_t tag_index);
void dispose_temporary_collection(int32_t collection_index);

// Preloading: readies a bitmap (the first use above); nothing has to be purged.
void preload_bitmap(int32_t collection_index, int32_t bitmap_index, bool *had_to_purge);
// Rewrites the header of the map's 'prel' tag `preload_tag` with an empty
// bitmap list placed right after its preload data: no bitmap read-ahead is
// recorded, so the next load of the map reads none.  False, reported (code 3
// for the read, 4 for the write), when the header cannot be read or written;
// the tag is then left as it was.
bool report_preloaded_bitmaps(tag mesh_tag, tag preload_tag);
// No caches exist.
void *get_shapes_bitmap_cache(void);
void *get_shapes_submesh_cache(void);
void preload_submesh_cache(void);

// High-resolution sprites: nothing switches them on; switching them off
// rebuilds the world data of every loaded collection.
bool highres_sprites_enabled(void);
void enable_highres_sprites(bool enable);
void toggle_highres_sprites(void);
// Also clears the preference for them in the screen preferences (saved):
// false when it was not set.
bool perma_disable_highres_sprites(void);

// The landscape collection of the current mesh: loaded from its header's tag
// with its lighting table (the mesh's load hook).
bool load_landscape_collection(mesh_header *header);
// The landscape's lighting table for the water's surface (its palette mixed
// toward the map's media tint); null for a map without tinted water.
const void *get_color_map_media_shading_table(void);

// Registers the group's start-up and per-map steps, the object layer's shape
// procedures, the preloader's collection reader, the collection services the
// units call (sequence check, shading tables, preloading), the landscape
// hooks of the mesh, the colours of custom collection references and the
// preview's procedures.
void register_shapes_hooks(void);
