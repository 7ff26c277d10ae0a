#pragma once
// The texture cache: turns bitmaps into back-end textures on demand, charges
// each to a memory budget and evicts the least recently used ones when a new
// texture would not fit.  It knows nothing of the graphics library: the back
// end hands it three callbacks (new, update, delete) that make, refresh and
// destroy the real texture from a `cached_texture_data` record; the cache
// only decides what to convert, into which layout, when, and what to drop.
//
// One cache exists per map (`initialize_texture_cache_for_new_map` ..
// `dispose_texture_cache_from_old_map`).  Beside the entries under the budget
// it keeps preallocated (resident) textures, never evicted but charged.
//
// Entries are keyed by a bitmap identifier (collection, bitmap, colour table,
// permutation) or, without one, by the bitmap record's address, or with
// `_texture_lookup_by_pixels_flag` by the address of its first pixel row.
// Address keys would outlive their bitmaps, so every bitmap freed through
// `dispose_bitmap` (game/bitmaps.h) drops the entries keyed by its memory
// (`texture_cache_forget_bitmap`): a bitmap made anew at a reused address is
// converted anew.
//
// Main thread only.  Callbacks run synchronously inside the calls below.

#include <cstddef>
#include <cstdint>

struct bitmap_data;
struct shading_table_header;
struct preallocated_texture;

// ---- the request ------------------------------------------------------------------------

// A bitmap named by its collection: bits 0-7 the collection, 8-21 the
// bitmap, 22-28 the colour table, 29-31 the shading permutation.  Zero names
// no bitmap by identifier (the request's record is keyed by its address).
struct bitmap_identifier
{
    uint32_t bits;
};

inline bitmap_identifier make_bitmap_identifier(uint32_t collection_index, uint32_t bitmap_index,
                                                uint32_t color_table_index, uint32_t color_table_permutation)
{
    return {(collection_index & 0xFF) | (bitmap_index & 0x3FFF) << 8 | (color_table_index & 0x7F) << 22 |
            (color_table_permutation & 7) << 29};
}
inline uint32_t bitmap_identifier_collection_index(bitmap_identifier id) { return id.bits & 0xFF; }
inline uint32_t bitmap_identifier_bitmap_index(bitmap_identifier id) { return (id.bits >> 8) & 0x3FFF; }
inline uint32_t bitmap_identifier_color_table_index(bitmap_identifier id) { return (id.bits >> 22) & 0x7F; }
inline uint32_t bitmap_identifier_color_table_permutation(bitmap_identifier id) { return id.bits >> 29; }

enum texture_usage_flags
{
    _texture_premultiply_flag = 1, // colours premultiplied by alpha
    _texture_border_flag = 2, // a one-texel transparent frame around the bitmap
    _texture_clamp_to_border_flag = 4, // coordinates reach half a texel past the bitmap
    _texture_mipmaps_flag = 8, // a full mipmap chain, charged x 4/3
    _texture_anisotropic_flag = 16, // for the back end
    _texture_untinted_flag = 32, // the identifier's permutation is the untinted one (7)
    _texture_repeat_flag = 64, // for the back end
    _texture_lookup_by_pixels_flag = 128, // without an identifier, keyed by the first pixel row
    _texture_pixels_persistent_flag = 256, // the pixels stay valid after the callback
};

enum
{
    TEXTURE_SHADING_PERMUTATION_UNTINTED = 7,
};

struct cached_texture_descriptor
{
    bitmap_identifier identifier;
    bitmap_data *bitmap; // may be null when the identifier names one
    shading_table_header *shading_header;
    const void *shading_table; // 256 xrgb1555 or xrgb8888 entries, as the cache's depth; null for none
    uint32_t usage_flags;
};

void initialize_cached_texture_descriptor(cached_texture_descriptor *descriptor, uint32_t bitmap_id,
                                          bitmap_data *bitmap, shading_table_header *shading_header,
                                          const void *shading_table, uint32_t usage_flags);

// ---- what the callbacks receive ----------------------------------------------------------

struct cached_texture_data
{
    void *user_data; // the back end's handle: the last new or update callback's result
    void *pixels; // valid during the callback; afterwards only with api_owned_pixels
    bitmap_data *bitmap;
    shading_table_header *shading_header;
    uint16_t adjusted_width, adjusted_height; // the pixel block in `pixels`
    uint16_t hardware_width, hardware_height; // the texture to create
    uint16_t flags; // the request's usage flags, persistence added or removed
    uint8_t encoding; // texture encoding 7..13
    uint8_t mipmap_count; // 1, or the whole chain
    float u_texel, v_texel, u_bias, v_bias, u_scale, v_scale; // bitmap x maps to u_bias + x * u_texel
    int32_t row_pixels; // row length of passed-through pixels with longer rows; else 0
    uint8_t bitmap_compressed; // the source pixels are converted
    uint8_t bitmap_decompressed_encoding; // the encoding the converter reads
    uint8_t encoding_bytes_per_pixel;
    uint8_t api_owned_pixels; // `pixels` belongs to this entry (client storage)
    uint8_t passthrough_encoding; // `pixels` are the bitmap's own
};

// Make the texture from `texture` (its pixels, sizes and encoding); the
// handle, or null on failure (the cache then drops the entry and the caller
// draws without it).
typedef void *(*user_new_fn)(void *user_context, bitmap_data *bitmap, cached_texture_data *texture);
// Refresh the texture of an entry that has a handle (`texture->user_data`);
// the handle to keep (the same or a new one), or null on failure, after which
// the old handle is still the cache's and is deleted with the entry.
typedef void *(*user_update_fn)(void *user_context, bitmap_data *bitmap, cached_texture_data *texture);
// Destroy the texture of `handle`.
typedef void (*user_delete_fn)(void *user_context, void *handle);

// ---- resident textures -------------------------------------------------------------------

struct cache_value;

struct preallocated_texture
{
    void *user_data; // the back end's handle
    const cached_texture_data *texture; // the entry's record; null when none was made
    bitmap_data *bitmap;
    const void *shading_table;
    uint16_t usage_flags;
    uint8_t user_owned_bitmap; // the cache does not free the bitmap
    uint8_t user_owned_ptex; // the record is the caller's
    cache_value *cache_item;
    preallocated_texture *prev, *next;
};

// ---- the module --------------------------------------------------------------------------

// Creates the map's cache with an empty table, list and scratch.  Refused
// (assertion "!cache_singleton", nothing changed) while one exists, and when
// any callback is null.  The budget is in bytes.
bool initialize_texture_cache_for_new_map(void *user_context, user_new_fn user_new_item,
                                          user_update_fn user_update_item, user_delete_fn user_delete_item,
                                          bool _32bit_textures, bool npo2_textures, bool client_storage,
                                          int64_t max_memory_size);

// Disposes every preallocated texture in list order, then every entry, and
// destroys the cache.  Nothing without a cache.
void dispose_texture_cache_from_old_map(void);

// True while a cache exists.
bool texture_cache_exists(void);

// The texture of the request, loaded (or reloaded when its bitmap's
// `_bitmap_changed_flag` is set) and made the most recently used; null when
// no cache exists, the request names no bitmap, the bitmap cannot be turned
// into a texture (logged once per bitmap and map) or the callback failed.
// A failure leaves no entry: the next lookup tries again.  The record stays
// valid until the entry is evicted, flushed or forgotten.
const cached_texture_data *texture_cache_lookup(cached_texture_descriptor *descriptor);

// Deletes every entry under the budget; preallocated textures stay.
void flush_texture_cache(void);

// Bytes charged to the budget by live entries, preallocated ones included; 0
// without a cache.
int64_t texture_cache_memory_use(void);

// The shared conversion scratch, at least `size` bytes (grown to the largest
// of `size`, 1 MiB and twice its size; contents kept).  Null without a cache
// or when the memory cannot be had.  Any later load may move or overwrite it.
void *texture_cache_scratch(size_t size);

// Drops every entry whose key is `bitmap`'s record or lies in its pixels (the
// delete callback runs), and detaches preallocated textures from it.  Called
// for every bitmap freed by `dispose_bitmap`; nothing without a cache.
void texture_cache_forget_bitmap(const bitmap_data *bitmap);

// The resident texture of `bitmap` in `ptex` (a new record when null),
// through `shading_table` (null: none) with the usage flags; ownership is a
// `texture_bitmap_ownership` of game/hardware_rasterizer.h.  The record is
// returned even when no texture could be made (then its `texture`,
// `cache_item` and `user_data` are null); null only without a cache or when
// no record could be allocated.  The back end puts these four in its table.
preallocated_texture *texture_cache_initialize_preallocated(preallocated_texture *ptex, bitmap_data *bitmap,
                                                            int16_t bitmap_ownership, const void *shading_table,
                                                            uint32_t usage_flags);
// Uploads again when `force` or when the bitmap's `_bitmap_changed_flag` is
// set; nothing without a bitmap.  A failed reload leaves `user_data` null.
void texture_cache_update_preallocated(preallocated_texture *ptex, bool force);
// True when the texture has a bitmap whose `_bitmap_changed_flag` is set.
bool texture_cache_is_preallocated_dirty(const preallocated_texture *ptex);
// Deletes the texture, frees the bitmap unless the caller owns it, unlinks the
// record and frees it (zero-fills it when it is the caller's).
void texture_cache_dispose_preallocated(preallocated_texture *ptex);

// Joins the cache to the bitmaps' disposal (`register_bitmap_disposed_procedure`).
void register_texture_cache_hooks(void);

// ---- layout (pure; also used by the tests) --------------------------------------------------

// Fills the encoding fields of `texture` for `bitmap` (the table of
// encodings: pass-through, alpha mask, opaque or transparent texels).
void compute_bitmap_decompression_mode(const bitmap_data *bitmap, const void *shading_table, bool _32bit_textures,
                                       cached_texture_data *texture);

// Fills sizes, mipmap count, coordinates, encoding, pass-through and flags of
// `texture` for the request.  False (nothing usable) for a bitmap whose sizes
// are below 1 or too large for a texture.
bool initialize_item_texture_header(cached_texture_data *texture, bitmap_data *bitmap,
                                    shading_table_header *shading_header, const void *shading_table,
                                    uint32_t usage_flags, bool _32bit_textures, bool npo2_textures,
                                    bool client_storage);

// Bytes a texture is charged: bytes per texel (3 counts as 4) x hardware
// width x height, x 4/3 (integer) with mipmaps.
int64_t texture_memory_size(const cached_texture_data *texture);

// For tests: entries under the budget, most recently used first.
int32_t texture_cache_entry_count(void);
const cached_texture_data *texture_cache_entry(int32_t index_from_most_recent);
