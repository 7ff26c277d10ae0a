#pragma once
// What the upload callbacks need of the texture cache: the record a callback
// receives, the usage flags, the callback types and the cache's map life.
// The cache itself (game/hardware) owns these declarations; this header
// carries the minimum the back end reads until the two meet.

#include <cstdint>

struct bitmap_data;
struct shading_table_header;

enum texture_usage_flags
{
    _texture_premultiply_flag = 1,
    _texture_border_flag = 2,
    _texture_clamp_to_border_flag = 4,
    _texture_mipmaps_flag = 8,
    _texture_anisotropic_flag = 16,
    _texture_untinted_flag = 32,
    _texture_repeat_flag = 64,
    _texture_lookup_by_pixels_flag = 128,
    _texture_pixels_persistent_flag = 256,
};

// One texture as the cache hands it to the back end.
struct cached_texture_data
{
    void *user_data; // the back end's handle (a GL texture name)
    void *pixels; // valid during the callback
    bitmap_data *bitmap;
    shading_table_header *shading_header;
    uint16_t adjusted_width, adjusted_height; // of the pixel block
    uint16_t hardware_width, hardware_height; // of the texture
    uint16_t flags; // texture_usage_flags
    uint8_t encoding; // 7..13
    uint8_t mipmap_count;
    float u_texel, v_texel, u_bias, v_bias, u_scale, v_scale;
    int32_t row_pixels; // row length of a window of longer rows; 0 otherwise
    uint8_t bitmap_compressed;
    uint8_t bitmap_decompressed_encoding;
    uint8_t encoding_bytes_per_pixel;
    uint8_t api_owned_pixels;
    uint8_t passthrough_encoding;
};

// The handle made, or null on failure (the cache then drops the entry).
typedef void *(*user_new_fn)(void *user_context, bitmap_data *bitmap, cached_texture_data *texture);
// The handle to keep, or null on failure.
typedef void *(*user_update_fn)(void *user_context, bitmap_data *bitmap, cached_texture_data *texture);
typedef void (*user_delete_fn)(void *user_context, void *handle);

// Creates the map's cache with a budget of `max_memory_size` bytes.
void initialize_texture_cache_for_new_map(void *user_context, user_new_fn user_new_item,
                                          user_update_fn user_update_item, user_delete_fn user_delete_item,
                                          bool _32bit_textures, bool npo2_textures, bool client_storage,
                                          int64_t max_memory_size);
// Deletes every texture of the map's cache and the cache.
void dispose_texture_cache_from_old_map(void);
// Bytes charged to the budget; 0 without a cache.
int64_t texture_cache_memory_use(void);
