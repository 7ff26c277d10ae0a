// The frame's surface list.
#include "render/render_sort.h"

#include "render/render_clip.h"

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

void new_surface_list(render_surface_list *list)
{
    list->first_surface = nullptr;
    list->last_surface = nullptr;
    list->surface_count = 0;
    list->override_precise_z = 0;
}

void add_surface_to_surface_list(view_data *view, render_surface *surface) {}

int32_t surface_category_of(render_surface *surface) { return _surface_category_translucent_objects; }

void postprocess_scene(view_data *view, render_surface_list *list) {}

void sort_surface_category(surface_category *category, uint32_t mask) {}

void rasterize_surface_category(void *context, surface_category *category, int32_t maximum_chunk, bool by_key,
                                uint32_t key_mask, surface_chunk_procedure chunk)
{
}
