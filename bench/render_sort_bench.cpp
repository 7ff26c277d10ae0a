// The depth sort of one frame: postprocess_scene over 20,000 surfaces in the
// mix a terrain view makes (mostly mesh triangles, some under media, model
// triangles, sprites, a few effect overlays), keys from random depths.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "render/render.h"
#include "render/render_sort.h"

static void postprocess_scene_20000(benchmark::State &state)
{
    const int32_t count = 20000;
    std::vector<render_triangle> triangles(count);
    std::vector<render_surface *> order(count);
    std::mt19937 random(8102);
    for (int32_t i = 0; i < count; ++i)
    {
        render_triangle *t = &triangles[i];
        const uint32_t kind = random() % 100;
        int32_t subtype = _surface_subtype_mesh_triangle, type = _surface_type_triangle;
        uint32_t flags = _surface_precise_z_flag;
        if (kind < 8)
            flags |= _surface_media_flag;
        else if (kind < 85)
            ;
        else if (kind < 95)
            // No collection is loaded, so the bitmap lookup finds nothing
            // and these stay opaque: the lookup's cost is still paid.
            subtype = _surface_subtype_model_triangle;
        else
            type = _surface_type_rectangle, subtype = _surface_subtype_object_rectangle;
        t->header.packed = pack_surface_word(flags, type, subtype);
        const uint32_t z = (uint32_t)-(int32_t)(1 + random() % 184320);
        t->header.precise_z = kind == 99 ? -1 : (int32_t)(z << 14);
        t->detail = (uint32_t)(random() % 40) << 9;
        t->bitmap_identifier = (uint32_t)(random() % 64) << 8;
        order[i] = &t->header;
    }
    render_surface_list list;
    view_data view = {};
    view.main_surface_list = &list;
    for (auto _ : state)
    {
        state.PauseTiming();
        new_render_scene(0);
        // The list in the order the builders added it.
        for (int32_t i = 0; i < count; ++i)
        {
            order[i]->previous_surface = i ? order[i - 1] : nullptr;
            order[i]->next_surface = i + 1 < count ? order[i + 1] : nullptr;
        }
        list.first_surface = order[0];
        list.last_surface = order[count - 1];
        list.surface_count = count;
        list.override_precise_z = 0;
        state.ResumeTiming();
        postprocess_scene(&view, &list);
        benchmark::DoNotOptimize(list.first_surface);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(postprocess_scene_20000)->Unit(benchmark::kMicrosecond);
