// The frame's surface list: adding, the depth sort and the categories.
#include "render/render_sort.h"

#include <cstring>

#include "bitmaps.h"
#include "cseries/log.h"
#include "cseries/sorting.h"
#include "render/render.h"
#include "render/render_clip.h"
#include "screen.h"
#include "shapes.h"

surface_category surface_categories[NUMBER_OF_SURFACE_CATEGORIES] = {
    {"Media", (int32_t)offsetof(render_triangle, detail), 0x3ffffe00u, false, nullptr, 0},
    {"Mesh", (int32_t)offsetof(render_triangle, detail), 0x3ffffe00u, false, nullptr, 0},
    {"Reflective Objects", (int32_t)offsetof(render_triangle, bitmap_identifier), 0xffffffffu, false, nullptr, 0},
    {"Opaque Objects", (int32_t)offsetof(render_triangle, bitmap_identifier), 0xffffffffu, false, nullptr, 0},
    {"Reflections", -1, 0, false, nullptr, 0},
    {"Text Rectangles", -1, 0, false, nullptr, 0},
    {"Translucent Objects", -1, 0, false, nullptr, 0},
    {"Discarded Surfaces", -1, 0, false, nullptr, 0},
};

enum
{
    DEPTH_SORT_PASSES = 3,
};

void new_surface_list(render_surface_list *list)
{
    list->first_surface = nullptr;
    list->last_surface = nullptr;
    list->surface_count = 0;
    list->override_precise_z = 0;
}

void add_surface_to_surface_list(view_data *view, render_surface *surface)
{
    render_surface_list *list = view->main_surface_list;
    if (!VASSERT(list, "surface added outside a frame")) return;
    const bool hardware_mesh = (view->rasterizer_code == _rasterizer_opengl || view->rasterizer_code == _rasterizer_dx11) &&
                               surface_word_subtype(surface->packed) == _surface_subtype_mesh_triangle;
    if (!hardware_mesh)
    {
        clip_surface(view, surface);
        if (surface_word_flags(surface->packed) & _surface_discarded_flag) return;
    }

    if (list->override_precise_z != 0)
        surface->precise_z = list->override_precise_z;
    else if (!(surface_word_flags(surface->packed) & _surface_precise_z_flag))
        // Shifted as unsigned: z is negative in front of the viewer, and the
        // key is the bit pattern modulo 2^32, which grows with z.
        surface->precise_z = (int32_t)((uint32_t)surface->z << 14);

    surface->previous_surface = list->last_surface;
    surface->next_surface = nullptr;
    if (list->last_surface)
        list->last_surface->next_surface = surface;
    else
        list->first_surface = surface;
    list->last_surface = surface;
    ++list->surface_count;
}

static bool surface_bitmap_is_transparent(const render_surface *surface)
{
    // Model and object triangles keep the identifier at the same offset.
    const uint32_t identifier = ((const render_triangle *)surface)->bitmap_identifier;
    const bitmap_data *bitmap =
        get_bitmap(bitmap_identifier_collection_index(identifier), bitmap_identifier_bitmap_index(identifier));
    return bitmap && (bitmap->flags & TRANSPARENT_BITMAP_FLAGS);
}

int32_t surface_category_of(render_surface *surface)
{
    const uint32_t flags = surface_word_flags(surface->packed);
    const int32_t type = surface_word_type(surface->packed);
    const int32_t subtype = surface_word_subtype(surface->packed);

    if (subtype == _surface_subtype_mesh_triangle)
        return (flags & _surface_media_flag) ? _surface_category_media : _surface_category_mesh;
    if (flags & _surface_discarded_flag) return _surface_category_discarded;
    if (flags & _surface_media_flag)
    {
        // The reflective category is drawn as triangles keyed by their bitmap;
        // anything else there would be read at the wrong offsets, so it goes
        // with the translucent surfaces, which are drawn by type.
        if (!VASSERT(type == _surface_type_triangle, "media surfaces must be triangles"))
            return _surface_category_translucent_objects;
        return _surface_category_reflective_objects;
    }
    if (flags & _surface_reflection_flag) return _surface_category_reflections;
    if (type == _surface_type_triangle &&
        (subtype == _surface_subtype_model_triangle || subtype == _surface_subtype_object_triangle) &&
        !(flags & _surface_transparent_flag))
    {
        if (surface_bitmap_is_transparent(surface))
        {
            surface->packed = pack_surface_word(flags | _surface_transparent_flag, type, subtype);
            return _surface_category_translucent_objects;
        }
        return subtype == _surface_subtype_model_triangle ? _surface_category_opaque_objects
                                                          : _surface_category_translucent_objects;
    }
    return subtype == _surface_subtype_text_rectangle ? _surface_category_text_rectangles
                                                      : _surface_category_translucent_objects;
}

static void empty_surface_categories(void)
{
    for (surface_category &category : surface_categories)
    {
        category.sorted = false;
        category.surfaces = nullptr;
        category.count = 0;
    }
}

// The scratch of the depth sort, carved from one render_temporary block: the
// sorted surfaces, the keys, the radix buffers and each surface's category.
struct depth_sort_scratch
{
    render_surface **sorted;
    uint32_t *keys;
    uint32_t *buffer1;
    uint32_t *buffer2;
    uint8_t *categories;
};

static bool take_depth_sort_scratch(size_t count, depth_sort_scratch *scratch)
{
    const size_t pointers = count * sizeof(render_surface *);
    const size_t words = count * sizeof(uint32_t);
    uint8_t *block = (uint8_t *)render_temporary(pointers + 3 * words + count);
    if (!block) return false;
    scratch->sorted = (render_surface **)block;
    scratch->keys = (uint32_t *)(block + pointers);
    scratch->buffer1 = (uint32_t *)(block + pointers + words);
    scratch->buffer2 = (uint32_t *)(block + pointers + 2 * words);
    scratch->categories = block + pointers + 3 * words;
    return true;
}

void postprocess_scene(view_data *view, render_surface_list *list)
{
    empty_surface_categories();
    if (list->surface_count <= 0 || !list->first_surface) return;

    const int32_t count = list->surface_count;
    render_surface **surfaces = render_new<render_surface *>((size_t)count);
    depth_sort_scratch scratch;
    // Only a test's pool failure returns here; the categories stay empty.
    if (!surfaces || !take_depth_sort_scratch((size_t)count, &scratch)) return;

    // One walk in the order of addition, which is the order of the pool, so
    // each surface's header is read once and in memory order: its key and
    // its category (which depends on the surface alone).
    uint32_t category_counts[NUMBER_OF_SURFACE_CATEGORIES] = {};
    int32_t n = 0;
    for (render_surface *surface = list->first_surface; surface && n < count; surface = surface->next_surface)
    {
        surfaces[n] = surface;
        scratch.keys[n] = (uint32_t)surface->precise_z;
        const int32_t category = surface_category_of(surface);
        scratch.categories[n] = (uint8_t)category;
        ++category_counts[category];
        ++n;
    }
    // A count that disagrees with the links: sort what the links hold.
    VASSERT(n == count && !surfaces[n - 1]->next_surface, "surface count does not match the list");

    const uint32_t *order =
        fastradix(scratch.keys, scratch.buffer1, scratch.buffer2, n, DEPTH_SORT_PASSES, radix_mode_indices);

    // Relink from far (smallest key) to near: each surface's next is the one
    // farther away, its previous the one nearer.  The nearest has no
    // previous: nothing is read past the last index.
    render_surface *farther = nullptr;
    for (int32_t i = 0; i < n; ++i)
    {
        render_surface *surface = surfaces[order[i]];
        scratch.sorted[i] = surface;
        surface->next_surface = farther;
        surface->previous_surface = i + 1 < n ? surfaces[order[i + 1]] : nullptr;
        farther = surface;
    }
    list->last_surface = scratch.sorted[0];
    list->first_surface = scratch.sorted[n - 1];
    list->surface_count = n;

    // The categories take consecutive slices of the pointer array, each
    // filled far to near.
    uint32_t fill[NUMBER_OF_SURFACE_CATEGORIES];
    uint32_t start = 0;
    for (int32_t c = 0; c < NUMBER_OF_SURFACE_CATEGORIES; ++c)
    {
        surface_categories[c].surfaces = category_counts[c] ? surfaces + start : nullptr;
        surface_categories[c].count = category_counts[c];
        fill[c] = start;
        start += category_counts[c];
    }
    for (int32_t i = 0; i < n; ++i) surfaces[fill[scratch.categories[order[i]]]++] = scratch.sorted[i];
}

static uint32_t category_key(const surface_category *category, const render_surface *surface, uint32_t mask)
{
    uint32_t word;
    memcpy(&word, (const uint8_t *)surface + category->sort_offset, sizeof(word));
    return word & mask;
}

void sort_surface_category(surface_category *category, uint32_t mask)
{
    if (category->sorted || category->count <= 1 || category->sort_offset < 0) return;
    void **scratch = (void **)render_temporary((size_t)category->count * 3 * sizeof(void *));
    if (!scratch) return;
    radix_sort_struct_pointers2((void **)category->surfaces, scratch, (int32_t)category->count, category->sort_offset,
                                mask ? mask : category->sort_mask, true);
    category->sorted = true;
}

// The end of the run of `key` that starts at pos, within the window [pos, end):
// the first position holding another key, or end when the run fills it.
static uint32_t find_chunk_end(const surface_category *category, uint32_t pos, uint32_t end, uint32_t key,
                               uint32_t mask)
{
    render_surface *const *surfaces = category->surfaces;
    if (category_key(category, surfaces[end - 1], mask) == key) return end;

    uint32_t chunk_end;
    const uint32_t probe = pos + 64 < end - 1 ? pos + 64 : end - 1;
    if (category_key(category, surfaces[probe], mask) != key)
    {
        chunk_end = pos + 1;
        while (category_key(category, surfaces[chunk_end], mask) == key) ++chunk_end;
    }
    else
    {
        // Long runs of one texture: bisect between the probe and the window's
        // last surface, which holds another key.
        uint32_t low = probe + 1, high = end - 1;
        while (low < high)
        {
            const uint32_t mid = low + (high - low) / 2;
            if (category_key(category, surfaces[mid], mask) == key)
                low = mid + 1;
            else
                high = mid;
        }
        chunk_end = low;
    }
    VASSERT(chunk_end < end, "chunk_end < max_pos");
    VASSERT(category_key(category, surfaces[chunk_end], mask) != key, "KEY(surfaces[chunk_end])!=key");
    return chunk_end;
}

void rasterize_surface_category(void *context, surface_category *category, int32_t maximum_chunk, bool by_key,
                                uint32_t key_mask, surface_chunk_procedure chunk)
{
    const uint32_t count = category->count;
    if (count == 0 || !category->surfaces) return;
    // 0 or less: no limit.
    const uint32_t limit = maximum_chunk > 0 ? (uint32_t)maximum_chunk : count;

    if (by_key && category->sort_offset >= 0)
    {
        sort_surface_category(category, category->sort_mask);
        const uint32_t mask = key_mask ? key_mask : category->sort_mask;
        for (uint32_t pos = 0; pos < count;)
        {
            const uint32_t key = category_key(category, category->surfaces[pos], mask);
            const uint32_t end = count - pos > limit ? pos + limit : count;
            const uint32_t chunk_end = find_chunk_end(category, pos, end, key, mask);
            chunk(context, &category->surfaces[pos], (int32_t)(chunk_end - pos));
            pos = chunk_end;
        }
        return;
    }

    for (uint32_t pos = 0; pos < count; pos += limit)
    {
        const uint32_t length = count - pos > limit ? limit : count - pos;
        chunk(context, &category->surfaces[pos], (int32_t)length);
    }
}
