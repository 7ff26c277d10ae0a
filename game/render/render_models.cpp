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
