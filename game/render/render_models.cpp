// Models standing on the visible cells, each drawn once per frame.
#include "render/render_models.h"

#include <algorithm>
#include <cstring>

#include "bitmaps.h"
#include "cseries/log.h"
#include "geometry.h"
#include "media.h"
#include "mesh.h"
#include "models.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_geometry.h"
#include "render/render_objects.h"
#include "shapes.h"

namespace {

// 1 - (1 - a)(1 - b) in 16-bit fractions: what shows through both.
fixed_fraction combine_transparencies(fixed_fraction a, fixed_fraction b)
{
    const uint32_t through = ((~(uint32_t)a & 65535u) * (~(uint32_t)b & 65535u)) >> 16;
    return (fixed_fraction)(~through & 65535u);
}

// The bitmap of view `view` of the material's sequence at this frame, NONE
// when it is missing or cannot texture a model.
int32_t material_bitmap_index(const view_data *view, int32_t model_index, int32_t material_index,
                              int32_t collection_index, int32_t sequence_index, int32_t view_index)
{
    const sequence_data *sequence = get_sequence(collection_index, sequence_index);
    if (!sequence) return NONE;
    const int32_t ticks_per_frame = sequence->ticks_per_frame > 0 ? sequence->ticks_per_frame : 1;
    const uint32_t clock = (uint32_t)model_index + (uint32_t)view->tick_count + (uint32_t)material_index;
    const int32_t frame = (int32_t)((clock & 0x7fffffffu) / (uint32_t)ticks_per_frame);
    const int32_t bitmap_index = get_sequence_bitmap_index(collection_index, sequence_index, view_index, frame,
                                                           nullptr, nullptr);
    if (bitmap_index == NONE) return NONE;
    const bitmap_data *bitmap = get_bitmap(collection_index, bitmap_index);
    return bitmap && (bitmap->flags & _power_of_two_flag) ? bitmap_index : NONE;
}

enum
{
    MODEL_SHADOW_TEXEL_BITS = 6,       // one overlay texel covers 64 world units, as sprites' shadow maps
    MODEL_SHADOW_MAXIMUM_WIDTH = 128,  // texels on a side (16 cells); a larger shadow is not cast
    MODEL_SHADOW_DENSITY = 0xB000,     // about as dark as a tree's shadow at its foot
    // The shadows of a frame take at most a quarter of the pool's reserve, so
    // that a map of many models never runs the frame out of render memory.
    MODEL_SHADOW_FRAME_BYTES = RENDER_MEMORY_POOL_RESERVE / 4,
};

// Render memory the frame's model shadows may still take.
struct render_models_globals_data
{
    size_t shadow_bytes_left;
} render_models_globals;

// floor(n / d) and ceil(n / d) for any signs, d != 0.
int64_t floor_quotient(int64_t n, int64_t d)
{
    const int64_t q = n / d;
    return (n % d != 0 && ((n < 0) != (d < 0))) ? q - 1 : q;
}

int64_t ceil_quotient(int64_t n, int64_t d)
{
    const int64_t q = n / d;
    return (n % d != 0 && ((n < 0) == (d < 0))) ? q + 1 : q;
}

} // namespace

// Each edge value is linear in tx, so each of the two sets is an interval.
// The three values sum to twice the triangle's signed area: with area, only
// the set of its sign can hold a centre; a flat triangle (a wall seen
// edge-on) has both sets the same line.
bool model_shadow_row_texels(int64_t x, int64_t y, const world_point2d &a, const world_point2d &b,
                             const world_point2d &c, int32_t *first, int32_t *last)
{
    const world_point2d *const corners[3] = {&a, &b, &c};
    const int64_t area = (int64_t)(b.x - a.x) * (c.y - a.y) - (int64_t)(b.y - a.y) * (c.x - a.x);
    const int32_t sign = area < 0 ? -1 : 1;
    int64_t low = *first, high = *last;
    for (int32_t k = 0; k < 3 && low <= high; ++k)
    {
        const world_point2d &from = *corners[k], &to = *corners[(k + 1) % 3];
        // The edge value at texel tx: constant - slope * tx, times sign.
        const int64_t slope = sign * (int64_t)(to.y - from.y) * 64;
        const int64_t constant =
            sign * ((int64_t)(to.x - from.x) * (y - from.y) - (int64_t)(to.y - from.y) * (x - from.x));
        if (slope > 0) high = std::min(high, floor_quotient(constant, slope));
        else if (slope < 0) low = std::max(low, ceil_quotient(constant, slope));
        else if (constant < 0) high = low - 1;
    }
    if (low > high) return false;
    *first = (int32_t)low;
    *last = (int32_t)high;
    return true;
}

namespace {

// A model casts its shadow onto the terrain as a sprite's shadow map does:
// every surface of its geometry is laid flat along the light (each point
// shifted by the same slope a sprite's shadow takes with its height) and the
// union stamped as one shadow overlay of the frame.
void build_model_shadow(view_data *view, const model_data *model, const geometry_definition *geometry)
{
    const int32_t vertex_count = geometry->vertex_count;
    if (vertex_count <= 0 || geometry->surface_count <= 0) return;
    const world_point2d foot = {model->location.x, model->location.y};
    const int32_t ground = get_mesh_height(&foot, _mesh_ground_height);
    if (ground == MESH_NO_HEIGHT) return;
    size_t &budget = render_models_globals.shadow_bytes_left;
    const size_t vertex_bytes = sizeof(world_point2d) * (size_t)vertex_count;
    if (vertex_bytes > budget) return;
    world_point2d *flat = render_new<world_point2d>((size_t)vertex_count);
    if (!flat) return;
    budget -= vertex_bytes;
    geometry_matrix to_world, to_geometry;
    get_geometry_matrices(&model->forward_vector, &model->up_vector, &model->scale_vector, &to_world, &to_geometry);
    int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;
    for (int32_t v = 0; v < vertex_count; ++v)
    {
        world_point3d world;
        transform_geometry_point_to_world(&model->location, &geometry->center, &geometry->vertices[v], &to_world,
                                          &world);
        const int64_t above = std::max<int64_t>(0, (int64_t)world.z - ground);
        const int32_t shift = (int32_t)((above * MAXIMUM_SHADOW_SHIFT) / ZERO_SHADOW_DENSITY_HEIGHT);
        flat[v] = {world.x + shift, world.y + shift};
        x0 = std::min(x0, flat[v].x);
        y0 = std::min(y0, flat[v].y);
        x1 = std::max(x1, flat[v].x);
        y1 = std::max(y1, flat[v].y);
    }
    x0 &= ~((1 << MODEL_SHADOW_TEXEL_BITS) - 1);
    y0 &= ~((1 << MODEL_SHADOW_TEXEL_BITS) - 1);
    const int32_t width = ((x1 - x0) >> MODEL_SHADOW_TEXEL_BITS) + 1, height = ((y1 - y0) >> MODEL_SHADOW_TEXEL_BITS) + 1;
    if (width > MODEL_SHADOW_MAXIMUM_WIDTH || height > MODEL_SHADOW_MAXIMUM_WIDTH) return;
    const size_t pixel_bytes = (size_t)(width * height) + sizeof(render_map_overlay) * 16; // and its copies for the tiles
    if (pixel_bytes > budget) return;
    budget -= pixel_bytes;
    uint8_t *pixels = static_cast<uint8_t *>(render_malloc((size_t)(width * height)));
    if (!pixels) return;
    memset(pixels, 0, (size_t)(width * height));
    for (int32_t i = 0; i < geometry->surface_count; ++i)
    {
        const geometry_surface &surface = geometry->surfaces[i];
        const world_point2d &a = flat[surface.corners[0].vertex_index], &b = flat[surface.corners[1].vertex_index],
                            &c = flat[surface.corners[2].vertex_index];
        const int32_t tx0 = (std::min({a.x, b.x, c.x}) - x0) >> MODEL_SHADOW_TEXEL_BITS;
        const int32_t tx1 = (std::max({a.x, b.x, c.x}) - x0) >> MODEL_SHADOW_TEXEL_BITS;
        const int32_t ty0 = (std::min({a.y, b.y, c.y}) - y0) >> MODEL_SHADOW_TEXEL_BITS;
        const int32_t ty1 = (std::max({a.y, b.y, c.y}) - y0) >> MODEL_SHADOW_TEXEL_BITS;
        for (int32_t ty = ty0; ty <= ty1; ++ty)
        {
            const int64_t py = y0 + ((int64_t)ty << MODEL_SHADOW_TEXEL_BITS) + 32;
            int32_t first = tx0, last = tx1;
            if (model_shadow_row_texels(x0 + 32, py, a, b, c, &first, &last))
                memset(pixels + ty * width + first, 255, (size_t)(last - first + 1));
        }
    }
    render_map_overlay *overlay = render_new<render_map_overlay>();
    if (!overlay) return;
    overlay->x0 = x0;
    overlay->y0 = y0;
    overlay->pixels = pixels;
    overlay->width = (int16_t)width;
    overlay->height = (int16_t)height;
    overlay->bytes_per_row = (int16_t)width;
    overlay->density = MODEL_SHADOW_DENSITY;
    overlay->mode = _overlay_shadow_map;
    overlay->next_map_overlay = nullptr;
    add_overlay_to_overlay_lists(view, overlay);
}

} // namespace

void render_model_permutation(view_data *view, const mesh_region *region, int32_t model_index, int32_t permutation,
                              fixed_fraction transparency)
{
    const model_data *model = get_model(model_index);
    const model_definition *definition = model ? get_model_definition(model->type) : nullptr;
    geometry_definition *geometry = definition ? get_geometry_definition(definition->geometry_index) : nullptr;
    if (!geometry)
    {
        log_message(__FILE__, __LINE__, "model #%d not drawn: no model, definition or geometry", model_index);
        return;
    }
    const int32_t count = definition->model_permutation_count;
    if (count < 1 || count > MAXIMUM_MODEL_PERMUTATIONS)
    {
        log_message(__FILE__, __LINE__, "model #%d not drawn: its definition has %d permutations", model_index, count);
        VASSERT(false, "model definition without permutations");
        return;
    }
    const model_permutation *record = &definition->model_permutations[((permutation % count) + count) % count];

    const int32_t materials = std::min<int32_t>(geometry->material_count, MODEL_PERMUTATION_MATERIALS);
    for (int32_t i = 0; i < geometry->material_count; ++i)
    {
        geometry_material *material = &geometry->materials[i];
        if (material->sequence_index == NONE || i >= materials)
        {
            material->color_table_index = NONE;
            continue;
        }
        material->collection_index = record->collection_index;
        material->color_table_index = record->color_table_index;
        const uint8_t view_index = record->permutations[i];
        material->bitmap_index =
            view_index == 255 ? (int16_t)NONE
                              : (int16_t)material_bitmap_index(view, model_index, i, record->collection_index,
                                                               material->sequence_index, view_index);
    }

    render_geometry(view, region, model_index, geometry, &model->location, &model->up_vector, &model->forward_vector,
                    &model->scale_vector, false, transparency);
    // One shadow however many permutations are cross-fading: the one desired.
    if (permutation == model->desired_model_permutation)
        build_model_shadow(view, model, geometry);

    if (!(view->flags & _render_view_omit_reflections_flag) && (model->flags & _model_has_reflection_flag))
    {
        const mesh_header *header = get_mesh_header();
        const media_definition *media = header ? get_media_definition(header->media_type) : nullptr;
        const fixed_fraction reflection = media ? media->reflection_transparency : 0;
        render_geometry(view, region, model_index, geometry, &model->location, &model->up_vector,
                        &model->forward_vector, &model->scale_vector, true,
                        combine_transparencies(reflection, transparency));
    }
}

void build_models_surface_list(view_data *view, const mesh_region *region)
{
    if (!region) return;
    render_models_globals.shadow_bytes_left = MODEL_SHADOW_FRAME_BYTES;
    bool drawn[MAXIMUM_MODELS_PER_MAP];
    memset(drawn, 0, sizeof(drawn));
    for (int32_t y = region->y0; y < region->y1; ++y)
    {
        const mesh_span *span = get_mesh_region_span(region, y);
        if (!span || !span_is_wider_than_one_cell(span)) continue;
        for (int32_t x = span->x0; x < span->x1; ++x)
        {
            const int32_t model_index = get_model_index_from_mesh_cell(x, y);
            if (model_index < 0 || model_index >= MAXIMUM_MODELS_PER_MAP || drawn[model_index]) continue;
            drawn[model_index] = true;
            const model_data *model = get_model(model_index);
            if (!model) continue;
            render_model_permutation(view, region, model_index, model->desired_model_permutation,
                                     model->transparency);
            if (model->model_permutation != model->desired_model_permutation)
                render_model_permutation(view, region, model_index, model->model_permutation,
                                         model->permutation_crossfade_amount);
        }
    }
}
