// The world effects as surfaces: local projectiles as rectangles with their
// shadows and their reflections over water, lightning as streaks with its
// light at the strike, the animated shadows of model animations; what stays
// undrawn (no region, no look, bad sequences and frames); the particle
// systems' pre-render effect.
//
// The camera hangs 4096 units above world (2048, 2048) looking straight down
// with no turn, so viewer space is the world offset from the eye and a
// ground point lands on screen at (320 + dx / 8, 240 - dy / 8).

#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "collection_builder.h"
#include "connectors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "lightning.h"
#include "local_projectile_groups.h"
#include "local_projectiles.h"
#include "mesh.h"
#include "mesh_effects.h"
#include "mirror_groups.h"
#include "model_animations.h"
#include "models.h"
#include "particles.h"
#include "render/mesh_region.h"
#include "render/render.h"
#include "render/render_effects.h"
#include "render/render_objects.h"
#include "render/render_particles.h"
#include "render/render_sort.h"
#include "render/render_world_effects.h"
#include "shapes.h"
#include "state_hash.h"
#include "support/objects_world.h"
#include "support/scratch.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"

namespace render_effects_surfaces_test_file {

namespace {

const tag EFFECTS = FOUR_CHARACTER_CODE('e', 'f', 'c', 't');

enum
{
    BOLT_SEQUENCE = 0, // the lightning segment (always sequence 0); its frame casts light map 1
    PUFF_SEQUENCE = 1, // two frames; frame 0 casts shadow map 0
    PUFF_BITMAP = 0,
    BOLT_BITMAP = 1,
};

// The effects collection: a run-length puff, a flat power-of-two bolt
// segment, a shadow map and a light map.
builder_collection effects_collection(void)
{
    builder_collection c;
    c.user_data_flags = 16; // atmospheric effects
    c.colors.color_count = 4;
    for (int32_t i = 0; i < 4; ++i) c.colors.colors[i] = {(uint16_t)(i * 20000), 30000, 30000, 0};
    c.bitmaps.push_back(new_builder_bitmap("puff", 16, 16, _builder_rle_8bit, 1));
    c.bitmaps.push_back(new_builder_bitmap("bolt", 16, 16, _builder_flat_8bit, 2));
    c.bitmaps.push_back(new_builder_bitmap("shadow", 8, 8, _builder_flat_8bit, 200));
    c.bitmaps.push_back(new_builder_bitmap("light", 8, 8, _builder_flat_8bit, 100));
    shadow_map_data shadow = {};
    shadow.bitmap_index = 2;
    shadow.registration_x = shadow.registration_y = 4 << 16;
    c.shadow_maps.push_back(shadow);
    shadow.bitmap_index = 3;
    shadow.flags = 1; // a light map
    c.shadow_maps.push_back(shadow);
    c.instances.push_back(builder_instance(PUFF_BITMAP, 8, 8, 8, 8));
    c.instances.push_back(builder_instance(BOLT_BITMAP, 8, 8, 8, 8));

    builder_sequence bolt = new_builder_sequence("bolt");
    bolt.data.number_of_views = 1;
    bolt.data.pixels_to_world = 0x10000;
    bolt.frames = {{1}};
    bolt.frame_shadow_maps = {1};
    EXPECT_EQ(complete_builder_sequence(&bolt, &c), nullptr);
    c.sequences.push_back(bolt);
    builder_sequence puff = new_builder_sequence("puff");
    puff.data.number_of_views = 1;
    puff.data.pixels_to_world = 0x40000; // 4 world units a pixel
    puff.frames = {{0}, {0}};
    puff.frame_shadow_maps = {0, NONE};
    EXPECT_EQ(complete_builder_sequence(&puff, &c), nullptr);
    c.sequences.push_back(puff);
    return c;
}

struct surface_counts
{
    int32_t rectangles = 0, triangles = 0, reflected = 0, other = 0;
};

class render_effects_surfaces : public store_fixture::store_test
{
protected:
    int32_t effects = NONE;
    view_data view = {};
    render_surface_list list;
    mesh_region region = {};
    mesh_span spans[8];

    void SetUp() override
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        clear_all_registrations();
        register_shapes_hooks();
        ASSERT_TRUE(initialize_shapes());
        const std::vector<uint8_t> bytes = build_collection_tag_data(effects_collection());
        ASSERT_FALSE(bytes.empty());
        write_local_tag(COLLECTION_GROUP_TAG, "efct", COLLECTION_VERSION_NUMBER, bytes.data(), (int32_t)bytes.size());
        store_model();
        initialize_shapes_for_new_map();
        objects_world_map map;
        map.media_cells = {{2, 2}, {5, 5}};
        ASSERT_TRUE(load_objects_world(map));
        get_mesh_cell(2, 2)->flags |= _mesh_cell_has_reflection_flag; // (5, 5) does not reflect
        effects = get_collection_index(EFFECTS);
        ASSERT_NE(effects, NONE);

        initialize_lightning();
        initialize_lightning_for_new_map();
        ASSERT_TRUE(initialize_local_projectile_group_definitions());
        initialize_local_projectile_group_definitions_for_new_map();
        initialize_local_projectiles();
        initialize_local_projectiles_for_new_map();
        set_local_random_seed(5);

        ASSERT_TRUE(reset_render_memory_pool_for_tests(1 << 20));
        new_render_scene(0);
        new_surface_list(&list);
        view.main_surface_list = &list;
        view.screen_width = 640;
        view.screen_height = 480;
        view.xk = 320;
        view.yk = 240;
        view.fworld_to_screen = 512.0f;
        view.location.position = {2048, 2048, 4096};
        for (int32_t i = 0; i < 3; ++i) view.world_to_viewer_rotation[i][i] = 16384;
        see_rows(0, 7);
        view.region = &region;
    }
    void TearDown() override
    {
        dispose_local_projectiles_from_old_map();
        dispose_local_projectile_group_definitions_from_old_map();
        dispose_lightning_from_old_map();
        dispose_objects_world();
        dispose_shapes_from_old_map();
        clear_all_registrations();
        store_test::TearDown();
    }

    // The region sees every cell of rows first..last.
    void see_rows(int16_t first, int16_t last)
    {
        region.y0 = first;
        region.y1 = last;
        for (mesh_span &span : spans) span = {0, 7};
        region.spans = spans;
    }

    void store_model(void)
    {
        ASSERT_TRUE(store_box_geometry_tag("boxg", 512));
        model_definition model;
        memset(&model, 0, sizeof(model));
        model.geometry_tag = FOUR_CHARACTER_CODE('b', 'o', 'x', 'g');
        model.model_permutation_count = 1;
        model.collection_tag = EFFECTS;
        for (auto &permutation : model.model_permutations) permutation.collection_tag = NONE;
        ASSERT_TRUE(store_definition_tag(MODEL_DEFINITION_GROUP_TAG, "boxm", &model, sizeof(model)));
        model_animation_definition animation;
        memset(&animation, 0, sizeof(animation));
        animation.number_of_frames = 4;
        animation.ticks_per_frame = 1;
        animation.forward_sound_type = animation.backward_sound_type = NONE;
        for (int i = 0; i < 4; ++i) animation.frame_model_tags[i] = FOUR_CHARACTER_CODE('b', 'o', 'x', 'm');
        ASSERT_TRUE(store_definition_tag(MODEL_ANIMATION_DEFINITION_GROUP_TAG, "door", &animation, sizeof(animation)));
    }

    // A burst of `count` particles that stay where they appear, at `center`.
    int32_t burst(world_point3d center, int16_t count, int16_t sequence = PUFF_SEQUENCE, tag name = FOUR_CHARACTER_CODE('b', 'r', 's', 't'))
    {
        local_projectile_group_definition d;
        default_local_projectile_group_definition(&d);
        d.collection_tag = EFFECTS;
        d.collection_index = (int16_t)effects;
        d.sequence_index = sequence;
        d.maximum_projectiles = count;
        d.emission_lower_bound = count;
        d.lifespan_lower_bound = 100;
        d.animation_rate = 0;
        const int32_t type = new_definition(&local_projectile_group_definitions, name, &d);
        EXPECT_NE(type, NONE);
        new_local_projectile_group_data request;
        memset(&request, 0, sizeof(request));
        request.type = (int16_t)type;
        request.center = center;
        request.central_object_index = request.bounds_object_index = NONE;
        request.opacity = FIXED_FRACTION_ONE;
        request.color_table_index = NONE;
        const int32_t group = new_local_projectile_group(&request);
        EXPECT_NE(group, NONE);
        update_local_projectiles(1);
        return group;
    }

    surface_counts count_surfaces(void) const
    {
        surface_counts counts;
        for (const render_surface *s = list.first_surface; s; s = s->next_surface)
        {
            const uint16_t word = s->packed;
            if (surface_word_flags(word) & _surface_reflection_flag) ++counts.reflected;
            if (surface_word_subtype(word) == _surface_subtype_object_rectangle) ++counts.rectangles;
            else if (surface_word_subtype(word) == _surface_subtype_object_triangle) ++counts.triangles;
            else ++counts.other;
        }
        return counts;
    }

    static int32_t overlay_count(const render_map_overlay *overlay)
    {
        int32_t count = 0;
        for (; overlay; overlay = overlay->next_map_overlay) ++count;
        return count;
    }

    void restart_frame(void)
    {
        new_render_scene(0);
        new_surface_list(&list);
        view.shadow_map_overlays = view.light_map_overlays = nullptr;
    }
};

TEST_F(render_effects_surfaces, local_projectiles_are_rectangles_of_their_sequence_with_shadows)
{
    burst({1536, 2560, 0}, 3);
    ASSERT_EQ(get_local_projectile_used_count(), 3);
    build_local_projectiles_surface_list(&view, &region);
    const surface_counts counts = count_surfaces();
    EXPECT_EQ(counts.rectangles, 3);
    EXPECT_EQ(counts.other + counts.triangles + counts.reflected, 0);
    EXPECT_EQ(overlay_count(view.shadow_map_overlays), 3) << "frame 0 casts shadow map 0";

    // Placed and sized from the instance's world extents around the eye's offset.
    const bitmap_instance_data *instance =
        get_bitmap_instance(effects, get_sequence_instance_index(effects, PUFF_SEQUENCE, 0, 0));
    const render_rectangle *r = (const render_rectangle *)list.first_surface;
    local_projectile_surface particle;
    int32_t first = 0;
    while (!get_local_projectile_surface(first, &particle)) ++first;
    const int32_t dx = particle.position.x - 2048, dy = particle.position.y - 2048;
    const int32_t scale = particle.scale;
    EXPECT_EQ(r->header.z, particle.position.z - 4096);
    EXPECT_EQ(r->x0, (int16_t)(320 + (dx + instance->world_left * scale / 256) / 8.0));
    EXPECT_EQ(r->y0, (int16_t)(240 - (dy + instance->world_top * scale / 256) / 8.0));
    EXPECT_LT(r->x0, r->x1);
    EXPECT_LT(r->y0, r->y1);
    EXPECT_EQ(bitmap_identifier_collection_index(r->bitmap_identifier), effects);
    EXPECT_EQ(bitmap_identifier_bitmap_index(r->bitmap_identifier), PUFF_BITMAP);
    EXPECT_EQ(r->header.transparency, 0) << "a group at full opacity";
    EXPECT_EQ(surface_word_flags(r->header.packed) & _surface_transparent_flag, 0u);

    // Outside the region nothing at all.
    restart_frame();
    see_rows(6, 7);
    build_local_projectiles_surface_list(&view, &region);
    EXPECT_EQ(list.surface_count, 0);
    EXPECT_EQ(view.shadow_map_overlays, nullptr);
}

TEST_F(render_effects_surfaces, reflections_of_local_projectiles_only_over_reflecting_water)
{
    burst({1280, 1280, 400}, 2, PUFF_SEQUENCE, FOUR_CHARACTER_CODE('w', 'e', 't', ' ')); // over cell (2, 2), which reflects
    burst({2816, 2816, 400}, 2, PUFF_SEQUENCE, FOUR_CHARACTER_CODE('d', 'r', 'y', ' ')); // over cell (5, 5), which does not
    build_media_local_projectile_effects(&view, &region);
    const surface_counts counts = count_surfaces();
    EXPECT_EQ(counts.rectangles, 2);
    EXPECT_EQ(counts.reflected, 2);
    for (const render_surface *s = list.first_surface; s; s = s->next_surface)
    {
        const render_rectangle *r = (const render_rectangle *)s;
        EXPECT_NE(surface_word_flags(s->packed) & _surface_mirror_vertical_flag, 0u);
        EXPECT_NE(surface_word_flags(s->packed) & _surface_transparent_flag, 0u);
        EXPECT_EQ(bitmap_identifier_color_table_permutation(r->bitmap_identifier), 3);
        EXPECT_GE(s->transparency, 0xE000) << "the reflection is faint";
        EXPECT_EQ(s->z, (2 * 200 - 400) - 4096) << "mirrored in the media surface";
    }
    EXPECT_EQ(view.shadow_map_overlays, nullptr) << "reflections cast no shadow";

    restart_frame();
    view.flags = _render_view_omit_reflections_flag;
    build_media_local_projectile_effects(&view, &region);
    EXPECT_EQ(list.surface_count, 0);
}

TEST_F(render_effects_surfaces, local_projectiles_without_a_drawable_look_are_skipped)
{
    burst({1536, 2560, 64}, 2, 5, FOUR_CHARACTER_CODE('n', 'o', 's', 'e')); // the collection has two sequences
    burst({1536, 1536, 64}, 2, PUFF_SEQUENCE, FOUR_CHARACTER_CODE('o', 'k', ' ', ' '));
    // One particle of the good group on a frame its sequence lacks.
    for (int32_t i = 0; i < get_local_projectile_count(); ++i)
    {
        local_projectile_data *p = (local_projectile_data *)get_local_projectile(i);
        const local_projectile_group_data *g = p ? get_local_projectile_group(p->group_index) : nullptr;
        if (g && get_local_projectile_group_definition(g->type)->sequence_index == PUFF_SEQUENCE)
        {
            p->frame_index = 9;
            break;
        }
    }
    build_local_projectiles_surface_list(&view, &region);
    EXPECT_EQ(list.surface_count, 1) << "only the good particle on a good frame";
}

TEST_F(render_effects_surfaces, a_bad_look_is_logged_once_per_map_however_many_frames_draw_it)
{
    burst({1536, 2560, 64}, 2, 5, FOUR_CHARACTER_CODE('n', 'o', 's', 'e')); // the collection has two sequences
    const auto logged_lines = [this](size_t from) {
        const std::string log = log_text();
        int32_t count = 0;
        for (size_t at = log.find("local projectile: sequence #5", from); at != std::string::npos;
             at = log.find("local projectile: sequence #5", at + 1))
            ++count;
        return count;
    };
    const size_t start = log_text().size();
    for (int32_t map = 1; map <= 2; ++map)
    {
        initialize_world_effects_for_new_map();
        for (int32_t frame = 0; frame < 30; ++frame)
        {
            restart_frame();
            build_local_projectiles_surface_list(&view, &region);
            EXPECT_EQ(list.surface_count, 0);
        }
        EXPECT_EQ(logged_lines(start), map) << "one line per map, whatever the frames";
    }
}

TEST_F(render_effects_surfaces, lightning_is_drawn_in_streaks_to_its_tip_and_lights_the_strike)
{
    lightning_definition definition = {};
    definition.strike_ticks = 4;
    definition.linger_ticks = 3;
    definition.segment_count = 4;
    definition.collection_tag = EFFECTS;
    const int32_t type = new_definition(get_lightning_definition_group(), FOUR_CHARACTER_CODE('b', 'o', 'l', 't'), &definition);
    definition.collection_tag = NONE;
    const int32_t plain = new_definition(get_lightning_definition_group(), FOUR_CHARACTER_CODE('p', 'l', 'a', 'i'), &definition);
    ASSERT_NE(type, NONE);
    const new_lightning_data bolt = {(int16_t)type, NONE, NONE, {1024, 1024, 0}, {3072, 1024, 0}};
    const int32_t bolt_index = new_lightning(&bolt);
    ASSERT_NE(bolt_index, NONE);
    const new_lightning_data unseen = {(int16_t)plain, NONE, NONE, {1024, 3072, 0}, {3072, 3072, 0}};
    ASSERT_NE(new_lightning(&unseen), NONE);
    update_lightning();
    update_lightning();

    // Half way: four segments of two triangles, the last one ending at x 2048.
    build_lightning_surface_list(&view, &region);
    surface_counts counts = count_surfaces();
    EXPECT_EQ(counts.triangles, 8);
    EXPECT_EQ(counts.rectangles + counts.other, 0);
    for (const render_surface *s = list.first_surface; s; s = s->next_surface)
    {
        const render_triangle *t = (const render_triangle *)s;
        EXPECT_EQ(bitmap_identifier_collection_index(t->bitmap_identifier), effects);
        EXPECT_EQ(bitmap_identifier_bitmap_index(t->bitmap_identifier), BOLT_BITMAP);
        EXPECT_EQ(s->z, -4096);
    }
    const render_triangle *last = (const render_triangle *)list.last_surface;
    EXPECT_EQ(last->corners[0].vertex->p.x, 0) << "the tip lies under the eye";
    EXPECT_EQ(view.light_map_overlays, nullptr) << "no light before the strike";

    // Struck: it reaches the end point and lights the ground there.
    for (int32_t i = 0; i < 3; ++i) update_lightning();
    ASSERT_EQ(get_lightning_state(bolt_index), _lightning_struck);
    restart_frame();
    build_lightning_surface_list(&view, &region);
    counts = count_surfaces();
    EXPECT_EQ(counts.triangles, 8);
    last = (const render_triangle *)list.last_surface;
    EXPECT_EQ(last->corners[0].vertex->p.x, 1024);
    ASSERT_EQ(overlay_count(view.light_map_overlays), 1);
    EXPECT_EQ(view.light_map_overlays->mode, _overlay_light_map);

    // Neither end on a visible row: nothing.
    restart_frame();
    see_rows(5, 7);
    build_lightning_surface_list(&view, &region);
    EXPECT_EQ(list.surface_count, 0);
    EXPECT_EQ(view.light_map_overlays, nullptr);
}

TEST_F(render_effects_surfaces, animated_shadows_follow_the_animation_frame)
{
    const int16_t definition =
        (int16_t)try_definition_tag_to_index(&model_animation_definitions, FOUR_CHARACTER_CODE('d', 'o', 'o', 'r'), true, 0);
    ASSERT_NE(definition, NONE);
    const world_point3d at = {1536, 1536, 0};
    const int32_t index = new_model_animation(definition, &at, 0, 0);
    ASSERT_NE(index, NONE);

    build_visible_animating_shadow_overlays(&view);
    ASSERT_EQ(overlay_count(view.shadow_map_overlays), 1);
    const render_map_overlay *overlay = view.shadow_map_overlays;
    EXPECT_EQ(overlay->mode, _overlay_animated_shadow_map);
    EXPECT_EQ(overlay->x0, 1536 - (4 << 6)) << "registered 4 pixels in: 4 texels of 64 units";
    EXPECT_EQ(overlay->width, 8);
    EXPECT_EQ(overlay->pixels[0], 200);

    // Frame 1 takes shadow map 1; frames 2 and 3 have none.
    struct frame_case
    {
        int16_t frame;
        int32_t overlays;
        uint8_t pixel;
    } cases[] = {{1, 1, 100}, {2, 0, 0}, {3, 0, 0}};
    for (const frame_case &c : cases)
    {
        restart_frame();
        jump_model_animation_to_frame(index, c.frame);
        build_visible_animating_shadow_overlays(&view);
        ASSERT_EQ(overlay_count(view.shadow_map_overlays), c.overlays) << "frame " << c.frame;
        if (c.overlays)
        {
            EXPECT_EQ(view.shadow_map_overlays->pixels[0], c.pixel);
        }
    }

    // A model off the visible rows casts nothing.
    restart_frame();
    jump_model_animation_to_frame(index, 0);
    see_rows(5, 7);
    build_visible_animating_shadow_overlays(&view);
    EXPECT_EQ(view.shadow_map_overlays, nullptr);
}

TEST_F(render_effects_surfaces, mesh_effects_are_rings_of_light_that_grow_and_fade)
{
    initialize_mesh_effects();
    struct row
    {
        const char *what;
        int16_t type;
        int16_t age;
        int32_t rings; // runs of lit texels east of the centre; 0: no overlay at all
        int32_t crest_texel; // the brightest texel of the outermost run (texels of 64 units)
        int32_t crest; // the light at the crest
        fixed_fraction density;
        int32_t trough_texel; // the darkest texel of the shade inside the crest; NONE: no shade overlay
    };
    // Radius = final radius x age / duration (at least 64 units); the light
    // is full for the first half of the effect's life, then fades.
    const row rows[] = {
        {"small, new: 64 units", _mesh_effect_small_shockwave, 0, 1, 1, 170, FIXED_FRACTION_ONE, 0},
        {"small, fading: 750 units", _mesh_effect_small_shockwave, 11, 1, 11, 170, 32767, 7}, // 4 of 8 ticks left
        {"large, half grown: 1536", _mesh_effect_large_shockwave, 15, 1, 24, 230, FIXED_FRACTION_ONE, 16},
        {"large, at its end: 2969", _mesh_effect_large_shockwave, 29, 1, 46, 230, 4369, 38}, // 1 of 15 left
        {"ripple: 682, three rings", _mesh_effect_ripple, 40, 3, 10, 140, 14246, NONE}, // 5 of 23 left
        {"an unknown type", 7, 0, 0, 0, 0, 0, NONE},
    };
    for (const row &r : rows)
    {
        SCOPED_TRACE(r.what);
        restart_frame();
        initialize_mesh_effects_for_new_map();
        const new_mesh_effect_data request = {0, _mesh_effect_small_shockwave, {2048, 2048, 0}};
        const int32_t index = new_mesh_effect(&request);
        ASSERT_NE(index, NONE);
        get_mesh_effect_data(index)->type = r.type;
        get_mesh_effect_data(index)->age = r.age;
        build_mesh_effect_surface_list(&view, &region);
        EXPECT_EQ(list.surface_count, 0) << "stamped on the ground, never a surface";
        if (r.rings == 0)
        {
            EXPECT_EQ(view.light_map_overlays, nullptr);
            continue;
        }
        ASSERT_EQ(overlay_count(view.light_map_overlays), 1);
        const render_map_overlay *ring = view.light_map_overlays;
        EXPECT_EQ(ring->mode, _overlay_light_map);
        EXPECT_EQ(ring->density, r.density);
        const int32_t half = ring->width / 2;
        EXPECT_EQ(ring->x0, 2048 - half * 64);
        EXPECT_EQ(ring->y0, 2048 - half * 64);
        const uint8_t *east = ring->pixels + (ptrdiff_t)half * ring->bytes_per_row + half;
        int32_t runs = 0, crest_texel = 0;
        for (int32_t i = 0; i < half; ++i)
        {
            if (east[i] && (i == 0 || !east[i - 1])) ++runs, crest_texel = i;
            if (east[i] > east[crest_texel]) crest_texel = i;
        }
        EXPECT_EQ(runs, r.rings);
        EXPECT_NEAR(crest_texel, r.crest_texel, 1);
        EXPECT_LE(east[crest_texel], r.crest);
        EXPECT_GE(east[crest_texel], r.crest * 3 / 4);
        EXPECT_EQ(east[half - 1], 0) << "the light ends inside the stamp";

        // A shockwave's trough follows its crest two ring widths inside it.
        ASSERT_EQ(overlay_count(view.shadow_map_overlays), r.trough_texel == NONE ? 0 : 1);
        if (r.trough_texel == NONE) continue;
        const render_map_overlay *trough = view.shadow_map_overlays;
        EXPECT_EQ(trough->mode, _overlay_shadow_map);
        EXPECT_EQ(trough->density, r.density);
        const uint8_t *inside = trough->pixels + (ptrdiff_t)half * trough->bytes_per_row + half;
        int32_t darkest = 0;
        for (int32_t i = 0; i < half; ++i)
            if (inside[i] > inside[darkest]) darkest = i;
        EXPECT_NEAR(darkest, r.trough_texel, 1);
        EXPECT_EQ(inside[r.crest_texel], 0) << "no shade under the crest";
    }
    dispose_mesh_effects_from_old_map();
}

TEST_F(render_effects_surfaces, effects_without_a_look_add_nothing_and_particles_register_at_minus_two)
{
    build_connector_surface_list(&view, &region);
    build_mirror_groups_surface_list(&view, &region);
    build_particle_system_splashes(&view, &region);
    build_particle_system_surface_list(&view);
    EXPECT_EQ(list.surface_count, 0);

    // Registered once, however often the scene starts up.
    clear_render_effects();
    initialize_particle_system_surfaces();
    initialize_particle_system_surfaces();
    static render_effect_procedure seen;
    static int16_t seen_priority;
    static int32_t runs;
    seen = nullptr;
    runs = 0;
    run_prerender_effects(&view, [](render_effect_procedure procedure, int16_t priority, view_data *) {
        seen = procedure;
        seen_priority = priority;
        ++runs;
    });
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(seen, build_particle_system_surface_list);
    EXPECT_EQ(seen_priority, -2);
    clear_render_effects();
}

// The weather's look over rows and columns 3..4 only, where every particle
// up to its column's top lands on the screen: each map of the table has its
// own weather tag (subgroup: the map's tag).
class weather_surfaces : public render_effects_surfaces
{
protected:
    void SetUp() override
    {
        render_effects_surfaces::SetUp();
        if (HasFatalFailure()) return;
        reset_state_hash_procedures();
        initialize_particles();
        // A map wider than the flakes' spawning square, all of it drawn but
        // the last row and column (no mesh draws those), the eye high over its
        // middle: every flake is seen against drawn cells (a flake seen
        // against cells the view leaves out is not drawn).
        dispose_objects_world();
        objects_world_map map;
        map.width = map.height = WIDE_MAP_CELLS;
        ASSERT_TRUE(load_objects_world(map));
        region.y0 = 0;
        region.y1 = WIDE_MAP_CELLS - 1;
        region.original_width = region.original_height = WIDE_MAP_CELLS + 1;
        region.max_span_x = region.max_span_y = WIDE_MAP_CELLS - 1;
        for (mesh_span &span : wide_spans) span = {0, WIDE_MAP_CELLS - 1};
        region.spans = wide_spans;
        view.location.position = {WIDE_MAP_CELLS * WORLD_ONE / 2, WIDE_MAP_CELLS * WORLD_ONE / 2, EYE_HEIGHT};
        // A picture that shows the whole map, at the scale of the base's.
        view.fworld_to_screen = 1024.0f;
        view.screen_width = view.screen_height = 4096;
        view.xk = view.yk = 2048;
    }
    static constexpr int16_t WIDE_MAP_CELLS = 64;
    static constexpr world_distance EYE_HEIGHT = 16384;
    mesh_span wide_spans[WIDE_MAP_CELLS];
    void TearDown() override
    {
        dispose_particles_from_old_map();
        render_effects_surfaces::TearDown();
    }
    // Starts the map `map` with a snowing weather of that tag.
    void start_weather(const char *map, int16_t maximum, tag collection, int16_t version = WEATHER_DEFINITION_VERSION,
                       int16_t fall_speed = 256, int16_t splash = NONE)
    {
        weather_definition d = {_weather_starts_snowing_flag, maximum, 0, 0, NONE, 0, 0, 0, 0,
                                collection, PUFF_SEQUENCE, splash, SHORT_FIXED_ONE, fall_speed};
        ASSERT_TRUE(byte_swap_data(map, &d, sizeof(d), 1, weather_definition_byte_swapping_data));
        write_local_tag(WEATHER_DEFINITION_GROUP, map, version, &d, sizeof(d));
        dispose_particles_from_old_map();
        initialize_particles_for_new_map(FOUR_CHARACTER_CODE(map[0], map[1], map[2], map[3]));
        initialize_particle_system_surfaces_for_new_map();
        ASSERT_NE(get_map_weather_definition(), nullptr);
    }
    int32_t draw_particles(int32_t ticks)
    {
        restart_frame();
        view.game_ticks_elapsed = ticks;
        build_particle_system_surface_list(&view);
        return count_surfaces().rectangles;
    }
};

TEST_F(weather_surfaces, one_rectangle_a_particle_from_the_display_generator_clamped_and_none_without_a_look)
{
    const struct
    {
        const char *map;
        int16_t maximum;
        short_fixed multiplier;
        tag collection;
        int16_t version;
        int32_t rectangles;
    } cases[] = {
        {"look", 40, 256, EFFECTS, WEATHER_DEFINITION_VERSION, 40},
        {"half", 40, 128, EFFECTS, WEATHER_DEFINITION_VERSION, 20},
        {"mult", 40, 1024, EFFECTS, WEATHER_DEFINITION_VERSION, 40},  // a script's multiplier past the maximum
        {"many", 3000, 256, EFFECTS, WEATHER_DEFINITION_VERSION, MAXIMUM_WEATHER_PARTICLES},
        {"gone", 40, 256, FOUR_CHARACTER_CODE('g', 'o', 'n', 'e'), WEATHER_DEFINITION_VERSION, 0},
        {"none", 40, 256, NONE, WEATHER_DEFINITION_VERSION, 0},
        {"old1", 40, 256, EFFECTS, 1, 0}, // version 1: its look bytes were reserved
    };
    ASSERT_TRUE(open_log_file_at("weather.log", "weather"));
    for (const auto &c : cases)
    {
        start_weather(c.map, c.maximum, c.collection, c.version);
        set_target_particle_number_multiplier(c.multiplier);
        reset_random_draw_counts();
        for (int32_t frame = 0; frame < 3; ++frame)
            EXPECT_EQ(draw_particles(frame), c.rectangles) << c.map << " frame " << frame;
        EXPECT_EQ(get_vesk_random_draw_count(), 0u) << c.map;
        EXPECT_EQ(get_local_random_draw_count() > 0, c.rectangles > 0) << c.map;
    }
    close_log_file();
    const std::string log = read_whole_file("weather.log");
    const size_t missing = log.find("collection 'gone' is missing");
    EXPECT_NE(missing, std::string::npos) << log;
    EXPECT_EQ(log.find("weather:", log.find("weather:") + 1), std::string::npos) << "one line for three frames:\n" << log;
}

TEST_F(weather_surfaces, particles_that_meet_the_ground_splash_there_and_start_again_at_the_top)
{
    start_weather("fast", 40, EFFECTS, WEATHER_DEFINITION_VERSION, 32767, PUFF_SEQUENCE);
    EXPECT_EQ(draw_particles(0), 40) << "placed";
    restart_frame();
    build_particle_system_splashes(&view, &region);
    EXPECT_EQ(count_surfaces().rectangles, 0) << "none has landed yet";

    // 30 ticks at 128 units a tick take every particle through its column;
    // each splashes where it landed after its drift.
    EXPECT_EQ(draw_particles(30), 40) << "each again in the air";
    restart_frame();
    build_particle_system_splashes(&view, &region);
    EXPECT_EQ(count_surfaces().rectangles, 40);
    const render_rectangle *splash = (const render_rectangle *)list.first_surface;
    EXPECT_EQ(splash->header.z, -EYE_HEIGHT) << "on the ground under the eye";
}

// The band of snow over the far cells a view leaves out: the view here draws
// only the square the flakes appear in, and from above those high near its
// edge are seen against the cells beyond it.
TEST_F(weather_surfaces, flakes_seen_against_cells_the_view_leaves_out_are_not_drawn)
{
    start_weather("edge", 40, EFFECTS);
    const int16_t eye_cell = WIDE_MAP_CELLS / 2;
    region.y0 = eye_cell - WEATHER_SPAWN_RADIUS_CELLS;
    region.y1 = eye_cell + WEATHER_SPAWN_RADIUS_CELLS;
    for (mesh_span &span : wide_spans) span = {region.y0, region.y1};
    const int32_t drawn = draw_particles(0);
    EXPECT_GT(drawn, 20);
    EXPECT_LT(drawn, 40);
}

} // namespace

} // namespace render_effects_surfaces_test_file
