// The texture cache: keys, entries, the LRU list under the budget, resident
// textures, and the layout of one texture.  See texture_cache.h.

#include "hardware/texture_cache.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "alignhash/alignhash.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "hardware/texture_pixels.h"
#include "hardware_rasterizer.h"
#include "shading_tables.h"
#include "shapes.h"

// ---- keys and entries ---------------------------------------------------------------------

struct cache_key
{
    uintptr_t bitmap_id; // the identifier, or the record's or first row's address
    const void *bitmap; // the record, or the first row keyed by pixels
    const void *shading_table;
};

struct cache_key_traits
{
    // Keys of one bitmap share their identifier, so they share a probe chain.
    static uintptr_t hash_identifier(const cache_key &key) { return key.bitmap_id; }
    static bool equal(const cache_key &a, const cache_key &b)
    {
        return a.bitmap_id == b.bitmap_id && a.bitmap == b.bitmap && a.shading_table == b.shading_table;
    }
};

struct cache_value
{
    bool in_map; // in the table and the LRU list (false for resident textures)
    cache_key map_key;
    cache_value *prev, *next; // LRU links
    cached_texture_data texture;
    int64_t memory_use; // charged to the budget; 0 while nothing is
};

// A set of addresses: the bitmaps already refused this map (one log line each).
struct address_key_traits
{
    static uintptr_t hash_identifier(const uintptr_t &key) { return key; }
    static bool equal(const uintptr_t &a, const uintptr_t &b) { return a == b; }
};

typedef alignhash_map<cache_key, cache_value *, cache_key_traits> cache_map;

// Most recently used first.
struct cache_list
{
    cache_value *first, *last;
};

enum
{
    MINIMUM_SCRATCH_SIZE = 1048576,
    MAXIMUM_TEXTURE_DIMENSION = 32768, // the largest a 16-bit size field holds as a power of two
};

class cache
{
public:
    cache(void *user_context, user_new_fn user_new_item, user_update_fn user_update_item,
          user_delete_fn user_delete_item, bool _32bit_textures, bool npo2_textures, bool client_storage,
          int64_t max_memory_size);
    ~cache(void);
    cache(const cache &) = delete;
    cache &operator=(const cache &) = delete;

    const cached_texture_data *lookup(cached_texture_descriptor *descriptor);
    void clear(void);
    void *ensure_scratch_size(size_t size);
    cache_value *new_preallocated_item(cached_texture_descriptor *descriptor);
    bool initialize_or_update_cache_item(cache_value *item, cached_texture_descriptor *descriptor, bool update);
    void delete_cache_item(cache_value *item);
    void forget_memory(uintptr_t first, uintptr_t end, const bitmap_data *bitmap);

    int64_t current_memory_size = 0;
    cache_list cache_lru = {nullptr, nullptr};

private:
    void *user_context;
    bool _32bit_textures, npo2_textures, client_storage;
    int64_t max_memory_size;
    cache_map cache_items;
    alignhash_map<uintptr_t, uint8_t, address_key_traits> refused_bitmaps;
    uint8_t *conversion_scratch = nullptr;
    size_t conversion_scratch_size = 0;
    user_new_fn user_new_item;
    user_update_fn user_update_item;
    user_delete_fn user_delete_item;

    bool resolve_identifier(cached_texture_descriptor *descriptor);
    void purge_if_needed(int64_t memory_needed, const cache_value *item);
    void dispose_item_memory(cache_value *item);
    bool initialize_item_texture_pixels(cache_value *item, cached_texture_descriptor *descriptor);
    void refuse_bitmap(const bitmap_data *bitmap, const char *why);
    void link_first(cache_value *item);
    void unlink(cache_value *item);
};

static struct texture_cache_globals
{
    cache *cache_singleton;
    preallocated_texture *first_preallocated, *last_preallocated; // `preallocated_textures`
} texture_cache_globals;

// ---- descriptors ------------------------------------------------------------------------------

void initialize_cached_texture_descriptor(cached_texture_descriptor *descriptor, uint32_t bitmap_id,
                                          bitmap_data *bitmap, shading_table_header *shading_header,
                                          const void *shading_table, uint32_t usage_flags)
{
    descriptor->identifier.bits = bitmap_id;
    descriptor->bitmap = bitmap;
    descriptor->shading_header = shading_header;
    descriptor->shading_table = shading_table;
    descriptor->usage_flags = usage_flags;
}

// ---- layout -----------------------------------------------------------------------------------

static bool bitmap_carries_transparency(const bitmap_data *bitmap)
{
    return bitmap->flags & (_bitmap_color_key_transparency_flag | _1bit_transparency_encoded_flag |
                            _4bit_transparency_encoded_flag | _bitmap_is_overlay_flag);
}

void compute_bitmap_decompression_mode(const bitmap_data *bitmap, const void *shading_table, bool _32bit_textures,
                                       cached_texture_data *texture)
{
    int32_t encoding, decompressed;
    bool compressed = true;
    switch (bitmap->encoding)
    {
    case _16bit_xrgb_1555_texture_encoding:
    case _16bit_argb_1555_texture_encoding:
    case _16bit_argb_4444_texture_encoding:
    case _32bit_xrgb_8888_texture_encoding:
    case _32bit_argb_8888_texture_encoding:
    case _24bit_rgb_888_texture_encoding:
        encoding = decompressed = bitmap->encoding;
        compressed = false;
        break;
    case _16bit_555_encoding:
        encoding = decompressed = _16bit_xrgb_1555_texture_encoding;
        compressed = false;
        break;
    case _32bit_encoding:
        encoding = decompressed = _32bit_xrgb_8888_texture_encoding;
        compressed = false;
        break;
    case _r8g8b8a5h3_sprite_rle_bitmap_encoding:
        encoding = decompressed = _32bit_argb_8888_texture_encoding;
        break;
    default:
        if (bitmap_is_indexed(bitmap) && !shading_table)
        {
            encoding = _32bit_textures ? _32bit_argb_8888_texture_encoding : _16bit_argb_4444_texture_encoding;
            decompressed = _8bit_encoding;
        }
        else if (!bitmap_carries_transparency(bitmap))
        {
            encoding = _32bit_textures ? _32bit_xrgb_8888_texture_encoding : _16bit_xrgb_1555_texture_encoding;
            decompressed = _8bit_encoding;
        }
        else
        {
            if (_32bit_textures) encoding = _32bit_argb_8888_texture_encoding;
            else if (bitmap->flags & (_4bit_transparency_encoded_flag | _bitmap_is_overlay_flag))
                encoding = _16bit_argb_4444_texture_encoding;
            else encoding = _16bit_argb_1555_texture_encoding;
            decompressed = _16bit_88_encoding;
        }
        break;
    }
    texture->encoding = (uint8_t)encoding;
    texture->bitmap_decompressed_encoding = (uint8_t)decompressed;
    texture->bitmap_compressed = compressed;
    texture->encoding_bytes_per_pixel = (uint8_t)get_encoding_byte_depth((int16_t)encoding);
}

bool initialize_item_texture_header(cached_texture_data *texture, bitmap_data *bitmap,
                                    shading_table_header *shading_header, const void *shading_table,
                                    uint32_t usage_flags, bool _32bit_textures, bool npo2_textures,
                                    bool client_storage)
{
    const int32_t w = bitmap->width, h = bitmap->height;
    const bool border = usage_flags & _texture_border_flag;
    if (w < 1 || h < 1 || w + 2 > MAXIMUM_TEXTURE_DIMENSION || h + 2 > MAXIMUM_TEXTURE_DIMENSION) return false;
    const int32_t adjusted_width = border ? w + 2 : w, adjusted_height = border ? h + 2 : h;
    const int32_t hardware_width = npo2_textures ? adjusted_width : next_highest_power_of_two(adjusted_width);
    const int32_t hardware_height = npo2_textures ? adjusted_height : next_highest_power_of_two(adjusted_height);

    texture->bitmap = bitmap;
    texture->shading_header = shading_header;
    texture->flags = (uint16_t)usage_flags;
    texture->adjusted_width = (uint16_t)adjusted_width;
    texture->adjusted_height = (uint16_t)adjusted_height;
    texture->hardware_width = (uint16_t)hardware_width;
    texture->hardware_height = (uint16_t)hardware_height;
    texture->mipmap_count = (usage_flags & _texture_mipmaps_flag)
                                ? (uint8_t)(1 + find_first_one(hardware_width > hardware_height ? hardware_width
                                                                                                : hardware_height))
                                : 1;

    const long double W = hardware_width, H = hardware_height;
    long double u_bias = 0, v_bias = 0, u_end = w / W, v_end = h / H;
    if (usage_flags & (_texture_border_flag | _texture_clamp_to_border_flag))
    {
        const int32_t dx = (adjusted_width - w) / 2, dy = (adjusted_height - h) / 2;
        u_bias = (dx - 0.5L) / W;
        u_end = (dx + w + 0.5L) / W;
        v_bias = (dy - 0.5L) / H;
        v_end = (dy + h + 0.5L) / H;
    }
    const long double u_scale = u_end - u_bias, v_scale = v_end - v_bias;
    texture->u_bias = (float)u_bias;
    texture->v_bias = (float)v_bias;
    texture->u_scale = (float)u_scale;
    texture->v_scale = (float)v_scale;
    texture->u_texel = (float)(u_scale / w);
    texture->v_texel = (float)(v_scale / h);

    compute_bitmap_decompression_mode(bitmap, shading_table, _32bit_textures, texture);
    texture->passthrough_encoding = !texture->bitmap_compressed &&
                                    texture->encoding == texture->bitmap_decompressed_encoding &&
                                    w == adjusted_width && h == adjusted_height;
    texture->row_pixels = 0;
    if (client_storage && !npo2_textures)
    {
        if (!texture->passthrough_encoding)
        {
            // The converted block covers the whole texture, the bitmap in its top-left corner.
            texture->adjusted_width = (uint16_t)hardware_width;
            texture->adjusted_height = (uint16_t)hardware_height;
        }
        else if (hardware_width != adjusted_width || hardware_height != adjusted_height)
        {
            texture->flags &= (uint16_t)~_texture_pixels_persistent_flag;
        }
    }
    return true;
}

int64_t texture_memory_size(const cached_texture_data *texture)
{
    const int64_t texel_bytes = texture->encoding_bytes_per_pixel == 3 ? 4 : texture->encoding_bytes_per_pixel;
    int64_t size = texel_bytes * texture->hardware_width * texture->hardware_height;
    if (texture->flags & _texture_mipmaps_flag) size = size * 4 / 3;
    return size;
}

// ---- the cache --------------------------------------------------------------------------------

cache::cache(void *user_context, user_new_fn user_new_item, user_update_fn user_update_item,
             user_delete_fn user_delete_item, bool _32bit_textures, bool npo2_textures, bool client_storage,
             int64_t max_memory_size)
    : user_context(user_context), _32bit_textures(_32bit_textures), npo2_textures(npo2_textures),
      client_storage(client_storage), max_memory_size(max_memory_size), user_new_item(user_new_item),
      user_update_item(user_update_item), user_delete_item(user_delete_item)
{
}

cache::~cache(void)
{
    free(conversion_scratch);
    clear();
}

void cache::link_first(cache_value *item)
{
    item->prev = nullptr;
    item->next = cache_lru.first;
    if (cache_lru.first) cache_lru.first->prev = item;
    else cache_lru.last = item;
    cache_lru.first = item;
}

void cache::unlink(cache_value *item)
{
    const bool linked = item->prev || item->next || cache_lru.first == item;
    if (!linked) return;
    if (item->prev) item->prev->next = item->next;
    else cache_lru.first = item->next;
    if (item->next) item->next->prev = item->prev;
    else cache_lru.last = item->prev;
    item->prev = item->next = nullptr;
}

void cache::clear(void)
{
    while (cache_lru.first) delete_cache_item(cache_lru.first);
}

void *cache::ensure_scratch_size(size_t size)
{
    if (size <= conversion_scratch_size) return conversion_scratch;
    size_t new_size = size > (size_t)MINIMUM_SCRATCH_SIZE ? size : (size_t)MINIMUM_SCRATCH_SIZE;
    if (conversion_scratch_size * 2 > new_size) new_size = conversion_scratch_size * 2;
    uint8_t *grown = (uint8_t *)realloc(conversion_scratch, new_size);
    if (!grown)
    {
        log_message(__FILE__, __LINE__, "texture cache: no memory for a scratch buffer of %zu bytes", new_size);
        return nullptr;
    }
    conversion_scratch = grown;
    conversion_scratch_size = new_size;
    return conversion_scratch;
}

void cache::dispose_item_memory(cache_value *item)
{
    if (item->texture.pixels)
    {
        // After a callback an entry keeps a pixel pointer only when it owns it.
        if (VASSERT(item->texture.api_owned_pixels, "item->texture.api_owned_pixels")) free(item->texture.pixels);
        item->texture.pixels = nullptr;
    }
    item->texture.api_owned_pixels = false;
}

void cache::delete_cache_item(cache_value *item)
{
    if (item->texture.user_data) user_delete_item(user_context, item->texture.user_data);
    item->texture.user_data = nullptr;
    dispose_item_memory(item);
    current_memory_size -= item->memory_use;
    item->memory_use = 0;
    if (item->in_map)
    {
        unlink(item);
        cache_items.remove(item->map_key);
    }
    free(item);
}

void cache::purge_if_needed(int64_t memory_needed, const cache_value *item)
{
    cache_value *candidate = cache_lru.last;
    while (candidate && current_memory_size + memory_needed > max_memory_size)
    {
        cache_value *toward_head = candidate->prev;
        if (candidate != item) delete_cache_item(candidate);
        candidate = toward_head;
    }
}

void cache::refuse_bitmap(const bitmap_data *bitmap, const char *why)
{
    bool inserted = false;
    refused_bitmaps.find_or_insert((uintptr_t)bitmap, &inserted);
    if (!inserted) return;
    log_message(__FILE__, __LINE__, "texture cache: bitmap %p (%dx%d, encoding %d, flags 0x%x) %s; drawn without a texture",
                (const void *)bitmap, bitmap->width, bitmap->height, bitmap->encoding, (uint16_t)bitmap->flags, why);
}

bool cache::resolve_identifier(cached_texture_descriptor *descriptor)
{
    if (descriptor->bitmap) return true;
    const bitmap_identifier id = descriptor->identifier;
    const int32_t collection = (int32_t)bitmap_identifier_collection_index(id);
    const int32_t table = (int32_t)bitmap_identifier_color_table_index(id);
    descriptor->bitmap = get_bitmap(collection, (int32_t)bitmap_identifier_bitmap_index(id));
    if (!descriptor->bitmap) return false;
    descriptor->shading_header = get_shading_table_header(collection, table);
    descriptor->shading_table =
        get_shading_table(collection, table, (int32_t)bitmap_identifier_color_table_permutation(id));
    return true;
}

bool cache::initialize_item_texture_pixels(cache_value *item, cached_texture_descriptor *descriptor)
{
    cached_texture_data *texture = &item->texture;
    bitmap_data *bitmap = descriptor->bitmap;
    const int32_t texel_bytes = texture->encoding_bytes_per_pixel;
    if (texture->passthrough_encoding)
    {
        const int32_t row_bytes = bitmap->width * texel_bytes;
        const uint8_t *first = bitmap_row_address(bitmap, 0);
        const int32_t pitch = (bitmap->flags & _no_row_address_table_flag) || bitmap->height < 2
                                  ? bitmap->bytes_per_row
                                  : (int32_t)(bitmap_row_address(bitmap, 1) - first);
        // The back end reads the rows one pitch apart: a pitch shorter than a
        // row, not whole texels, or rows the row table places otherwise would
        // upload other memory.
        bool even = first && pitch >= row_bytes && pitch % texel_bytes == 0 &&
                    !(bitmap->flags & (_1bit_transparency_encoded_flag | _4bit_transparency_encoded_flag));
        for (int32_t y = 2; even && y < bitmap->height; ++y)
            even = bitmap_row_address(bitmap, y) == first + (ptrdiff_t)y * pitch;
        if (!even)
        {
            refuse_bitmap(bitmap, "has rows that cannot be handed over as texture rows");
            return false;
        }
        texture->pixels = (void *)first;
        texture->row_pixels = pitch != row_bytes ? pitch / texel_bytes : 0;
        return true;
    }

    const size_t block_size = (size_t)texture->adjusted_height * texture->adjusted_width * texel_bytes + 4;
    uint8_t *block;
    if (client_storage)
    {
        block = (uint8_t *)malloc(block_size);
        if (!block)
        {
            log_message(__FILE__, __LINE__, "texture cache: no memory for a texture of %zu bytes", block_size);
            return false;
        }
        texture->pixels = block;
        texture->api_owned_pixels = true;
        texture->flags |= _texture_pixels_persistent_flag;
    }
    else
    {
        block = (uint8_t *)ensure_scratch_size(block_size);
        if (!block) return false;
        texture->pixels = block;
    }
    const color_table *colors =
        (bitmap->flags & _bitmap_in_collection_flag) ? get_color_table(bitmap->collection_index) : nullptr;
    const texture_conversion_result result = convert_texture_pixels(
        texture, bitmap, colors, descriptor->shading_table, descriptor->usage_flags, block, block_size);
    if (result == _texture_conversion_done) return true;
    refuse_bitmap(bitmap, result == _texture_conversion_no_decoder ? "has no texel decoder for this request"
                                                                   : "has rows its own fields contradict");
    if (texture->api_owned_pixels) dispose_item_memory(item);
    texture->pixels = nullptr;
    return false;
}

bool cache::initialize_or_update_cache_item(cache_value *item, cached_texture_descriptor *descriptor, bool update)
{
    if (!VASSERT(!update || item->texture.user_data, "!update || item->texture.user_data")) update = false;
    if (!resolve_identifier(descriptor)) return false;
    if (update)
    {
        dispose_item_memory(item);
        current_memory_size -= item->memory_use;
        item->memory_use = 0;
    }
    void *const old_handle = item->texture.user_data;
    if (!initialize_item_texture_header(&item->texture, descriptor->bitmap, descriptor->shading_header,
                                        descriptor->shading_table, descriptor->usage_flags, _32bit_textures,
                                        npo2_textures, client_storage))
    {
        refuse_bitmap(descriptor->bitmap, "has a size no texture can take");
        return false;
    }
    const int64_t charge = texture_memory_size(&item->texture);
    purge_if_needed(charge, item);
    if (!initialize_item_texture_pixels(item, descriptor)) return false;

    void *handle = update ? user_update_item(user_context, descriptor->bitmap, &item->texture)
                          : user_new_item(user_context, descriptor->bitmap, &item->texture);
    if (!item->texture.api_owned_pixels) item->texture.pixels = nullptr; // scratch or the bitmap's own
    if (!handle)
    {
        // The old texture (an update) is still the cache's, deleted with the entry.
        item->texture.user_data = old_handle;
        dispose_item_memory(item);
        return false;
    }
    item->texture.user_data = handle;
    descriptor->bitmap->flags = (int16_t)(descriptor->bitmap->flags & ~_bitmap_changed_flag);
    item->memory_use = charge;
    current_memory_size += charge;
    return true;
}

const cached_texture_data *cache::lookup(cached_texture_descriptor *descriptor)
{
    // Identifier 0 names no collection bitmap: such a request is keyed by its record.
    if (!descriptor->identifier.bits && !descriptor->bitmap) return nullptr;
    cache_key key;
    const bool by_pixels = !descriptor->identifier.bits && (descriptor->usage_flags & _texture_lookup_by_pixels_flag);
    if (descriptor->identifier.bits) key.bitmap_id = descriptor->identifier.bits;
    else if (by_pixels) key.bitmap_id = (uintptr_t)bitmap_row_address(descriptor->bitmap, 0);
    else key.bitmap_id = (uintptr_t)descriptor->bitmap;
    key.bitmap = by_pixels ? (const void *)key.bitmap_id : (const void *)descriptor->bitmap;
    key.shading_table = descriptor->shading_table;

    bool inserted = false;
    const uint32_t slot = cache_items.find_or_insert(key, &inserted);
    if (slot == cache_map::NOT_FOUND)
    {
        log_message(__FILE__, __LINE__, "texture cache: no memory to grow the table of entries");
        return nullptr;
    }
    cache_value *item = cache_items.value_at(slot);
    if (item)
    {
        if (descriptor->bitmap && (descriptor->bitmap->flags & _bitmap_changed_flag) &&
            !initialize_or_update_cache_item(item, descriptor, true))
        {
            delete_cache_item(item);
            return nullptr;
        }
    }
    else
    {
        item = (cache_value *)calloc(1, sizeof(cache_value));
        if (!item)
        {
            cache_items.remove(key);
            return nullptr;
        }
        item->in_map = true;
        item->map_key = key;
        cache_items.value_at(slot) = item;
        if (!initialize_or_update_cache_item(item, descriptor, false))
        {
            delete_cache_item(item);
            return nullptr;
        }
    }
    unlink(item);
    link_first(item);
    return &item->texture;
}

cache_value *cache::new_preallocated_item(cached_texture_descriptor *descriptor)
{
    cache_value *item = (cache_value *)calloc(1, sizeof(cache_value));
    if (!item) return nullptr;
    if (!initialize_or_update_cache_item(item, descriptor, false))
    {
        delete_cache_item(item);
        return nullptr;
    }
    return item;
}

void cache::forget_memory(uintptr_t first, uintptr_t end, const bitmap_data *bitmap)
{
    const uintptr_t record = (uintptr_t)bitmap;
    for (cache_value *item = cache_lru.first; item;)
    {
        cache_value *next = item->next;
        const uintptr_t id = item->map_key.bitmap_id, keyed = (uintptr_t)item->map_key.bitmap;
        // Keyed by an address (the record's, or a pixel's of the bitmap) or
        // made from this record under an identifier.
        const bool by_address = id == keyed && (id == record || (id >= first && id < end));
        if (by_address || keyed == record || item->texture.bitmap == bitmap) delete_cache_item(item);
        item = next;
    }
    refused_bitmaps.remove(record);
}

// ---- the module -----------------------------------------------------------------------------

bool initialize_texture_cache_for_new_map(void *user_context, user_new_fn user_new_item,
                                          user_update_fn user_update_item, user_delete_fn user_delete_item,
                                          bool _32bit_textures, bool npo2_textures, bool client_storage,
                                          int64_t max_memory_size)
{
    if (!VASSERT(!texture_cache_globals.cache_singleton, "!cache_singleton")) return false;
    if (!VASSERT(user_new_item && user_update_item && user_delete_item, "a texture cache needs all three callbacks"))
        return false;
    texture_cache_globals.cache_singleton =
        new (std::nothrow) cache(user_context, user_new_item, user_update_item, user_delete_item, _32bit_textures,
                                 npo2_textures, client_storage, max_memory_size);
    return texture_cache_globals.cache_singleton != nullptr;
}

void dispose_texture_cache_from_old_map(void)
{
    while (texture_cache_globals.first_preallocated)
        texture_cache_dispose_preallocated(texture_cache_globals.first_preallocated);
    delete texture_cache_globals.cache_singleton;
    texture_cache_globals.cache_singleton = nullptr;
}

bool texture_cache_exists(void) { return texture_cache_globals.cache_singleton != nullptr; }

const cached_texture_data *texture_cache_lookup(cached_texture_descriptor *descriptor)
{
    cache *c = texture_cache_globals.cache_singleton;
    return c && descriptor ? c->lookup(descriptor) : nullptr;
}

void flush_texture_cache(void)
{
    if (texture_cache_globals.cache_singleton) texture_cache_globals.cache_singleton->clear();
}

int64_t texture_cache_memory_use(void)
{
    cache *c = texture_cache_globals.cache_singleton;
    return c ? c->current_memory_size : 0;
}

void *texture_cache_scratch(size_t size)
{
    cache *c = texture_cache_globals.cache_singleton;
    return c ? c->ensure_scratch_size(size) : nullptr;
}

// The bytes of a bitmap's flat pixels, first row to last (span rows: up to
// the last row's start, all a by-pixels key can point at).
static void bitmap_pixel_range(const bitmap_data *bitmap, uintptr_t *first, uintptr_t *end)
{
    *first = *end = 0;
    const uint8_t *top = bitmap_row_address(bitmap, 0), *bottom = bitmap_row_address(bitmap, bitmap->height - 1);
    if (!top || !bottom) return;
    const uintptr_t pitch = bitmap->bytes_per_row > 0 ? (uintptr_t)bitmap->bytes_per_row : 1;
    *first = (uintptr_t)(top < bottom ? top : bottom);
    *end = (uintptr_t)(top < bottom ? bottom : top) + pitch;
}

void texture_cache_forget_bitmap(const bitmap_data *bitmap)
{
    cache *c = texture_cache_globals.cache_singleton;
    if (!c || !bitmap) return;
    uintptr_t first, end;
    bitmap_pixel_range(bitmap, &first, &end);
    c->forget_memory(first, end, bitmap);
    // A resident texture keeps its texture but no longer reads the bitmap.
    for (preallocated_texture *ptex = texture_cache_globals.first_preallocated; ptex; ptex = ptex->next)
    {
        if (ptex->bitmap != bitmap) continue;
        ptex->bitmap = nullptr;
        ptex->user_owned_bitmap = true;
        if (ptex->cache_item) ptex->cache_item->texture.bitmap = nullptr;
    }
}

void register_texture_cache_hooks(void) { register_bitmap_disposed_procedure(texture_cache_forget_bitmap); }

// ---- resident textures ------------------------------------------------------------------------

static void build_preallocated_descriptor(const preallocated_texture *ptex, cached_texture_descriptor *descriptor)
{
    const uint32_t id = (ptex->usage_flags & _texture_untinted_flag)
                            ? (uint32_t)TEXTURE_SHADING_PERMUTATION_UNTINTED << 29
                            : 0;
    initialize_cached_texture_descriptor(descriptor, id, ptex->bitmap, nullptr, ptex->shading_table,
                                         ptex->usage_flags);
}

static void attach_preallocated_item(preallocated_texture *ptex, cache_value *item)
{
    ptex->cache_item = item;
    ptex->texture = item ? &item->texture : nullptr;
    ptex->user_data = item ? item->texture.user_data : nullptr;
}

preallocated_texture *texture_cache_initialize_preallocated(preallocated_texture *ptex, bitmap_data *bitmap,
                                                            int16_t bitmap_ownership, const void *shading_table,
                                                            uint32_t usage_flags)
{
    cache *c = texture_cache_globals.cache_singleton;
    if (!c) return nullptr;
    const bool user_owned_ptex = ptex != nullptr;
    if (!ptex) ptex = (preallocated_texture *)malloc(sizeof(preallocated_texture));
    if (!ptex) return nullptr;
    memset(ptex, 0, sizeof(*ptex));
    ptex->user_owned_ptex = user_owned_ptex;
    ptex->prev = texture_cache_globals.last_preallocated;
    if (ptex->prev) ptex->prev->next = ptex;
    else texture_cache_globals.first_preallocated = ptex;
    texture_cache_globals.last_preallocated = ptex;

    if (bitmap_ownership != _bitmap_ownership_ephemeral) usage_flags |= _texture_pixels_persistent_flag;
    ptex->user_owned_bitmap = bitmap_ownership != _bitmap_ownership_by_api;
    ptex->bitmap = bitmap;
    ptex->shading_table = shading_table;
    ptex->usage_flags = (uint16_t)usage_flags;
    if (bitmap)
    {
        cached_texture_descriptor descriptor;
        build_preallocated_descriptor(ptex, &descriptor);
        attach_preallocated_item(ptex, c->new_preallocated_item(&descriptor));
    }
    if (bitmap_ownership == _bitmap_ownership_ephemeral)
    {
        ptex->bitmap = nullptr;
        if (ptex->cache_item) ptex->cache_item->texture.bitmap = nullptr;
    }
    return ptex;
}

void texture_cache_update_preallocated(preallocated_texture *ptex, bool force)
{
    cache *c = texture_cache_globals.cache_singleton;
    if (!c || !ptex || !ptex->bitmap) return;
    if (!force && !(ptex->bitmap->flags & _bitmap_changed_flag)) return;
    cached_texture_descriptor descriptor;
    build_preallocated_descriptor(ptex, &descriptor);
    if (!ptex->cache_item)
    {
        attach_preallocated_item(ptex, c->new_preallocated_item(&descriptor));
        return;
    }
    const bool reloaded = ptex->cache_item->texture.user_data
                              ? c->initialize_or_update_cache_item(ptex->cache_item, &descriptor, true)
                              : c->initialize_or_update_cache_item(ptex->cache_item, &descriptor, false);
    attach_preallocated_item(ptex, ptex->cache_item);
    if (!reloaded) ptex->user_data = nullptr;
}

bool texture_cache_is_preallocated_dirty(const preallocated_texture *ptex)
{
    return ptex && ptex->bitmap && (ptex->bitmap->flags & _bitmap_changed_flag);
}

void texture_cache_dispose_preallocated(preallocated_texture *ptex)
{
    if (!ptex) return;
    cache *c = texture_cache_globals.cache_singleton;
    if (ptex->cache_item)
    {
        if (c) c->delete_cache_item(ptex->cache_item);
        else free(ptex->cache_item);
    }
    if (ptex->prev) ptex->prev->next = ptex->next;
    else if (texture_cache_globals.first_preallocated == ptex) texture_cache_globals.first_preallocated = ptex->next;
    if (ptex->next) ptex->next->prev = ptex->prev;
    else if (texture_cache_globals.last_preallocated == ptex) texture_cache_globals.last_preallocated = ptex->prev;
    bitmap_data *bitmap = ptex->user_owned_bitmap ? nullptr : ptex->bitmap;
    if (ptex->user_owned_ptex)
    {
        // The record stays the caller's: a second disposal (the cache's own
        // at map end after the caller's, say) must find it so, never free it.
        memset(ptex, 0, sizeof(*ptex));
        ptex->user_owned_ptex = true;
    }
    else
        free(ptex);
    dispose_bitmap(bitmap);
}

// ---- for tests -------------------------------------------------------------------------------

int32_t texture_cache_entry_count(void)
{
    int32_t count = 0;
    if (texture_cache_globals.cache_singleton)
        for (const cache_value *item = texture_cache_globals.cache_singleton->cache_lru.first; item;
             item = item->next)
            ++count;
    return count;
}

const cached_texture_data *texture_cache_entry(int32_t index_from_most_recent)
{
    if (!texture_cache_globals.cache_singleton) return nullptr;
    const cache_value *item = texture_cache_globals.cache_singleton->cache_lru.first;
    for (int32_t i = 0; item && i < index_from_most_recent; ++i) item = item->next;
    return item ? &item->texture : nullptr;
}
