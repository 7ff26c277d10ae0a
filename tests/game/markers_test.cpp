// Markers, models, model animations and model effects over definitions read
// from a real tag store: lookup and palette counts, placement order and its
// skips, geometry refusals, model heights and obstruction, animation stepping
// in every mode, and effects ending exactly on their last tick.

#include "tag_files/store_fixture.h"
#include "cseries/registration.h"

#include "game_time.h"
#include "geometry.h"
#include "map_action_procedures.h"
#include "markers.h"
#include "mesh.h"
#include "model_animations.h"
#include "model_effects.h"
#include "models.h"
#include "objects.h"
#include "scenery.h"
#include "state_hash.h"
#include "support/objects_world.h"

namespace markers_test_file {

namespace {

#define T4(a, b, c, d) FOUR_CHARACTER_CODE(a, b, c, d)

std::vector<std::string> placed;
int32_t record_unit(marker_data *marker, marker_palette_entry *)
{
    placed.push_back("unit " + std::to_string(marker->identifier));
    return marker->identifier;
}
int32_t record_sound(marker_data *marker, marker_palette_entry *)
{
    placed.push_back("sound " + std::to_string(marker->identifier));
    return 0;
}
bool accept_entry(marker_palette_entry *entry)
{
    entry->tag_index = 7;
    return true;
}

class markers_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        placed.clear();
        game_->difficulty_level = 2;
        game_->scoring = 0;
    }
    void TearDown() override
    {
        dispose_objects_world();
        store_test::TearDown();
    }

    void store_model(const char *geometry, const char *model_name)
    {
        ASSERT_TRUE(store_box_geometry_tag(geometry, 512));
        model_definition model;
        memset(&model, 0, sizeof(model));
        model.geometry_tag = string_to_tag(geometry);
        model.model_permutation_count = 4;
        model.collection_tag = NONE;
        for (auto &permutation : model.model_permutations) permutation.collection_tag = NONE;
        ASSERT_TRUE(store_definition_tag(MODEL_DEFINITION_GROUP_TAG, model_name, &model, sizeof(model)));
    }

    void store_animation(const char *name, int16_t frames, int16_t ticks)
    {
        model_animation_definition animation;
        memset(&animation, 0, sizeof(animation));
        animation.number_of_frames = frames;
        animation.ticks_per_frame = ticks;
        animation.forward_sound_type = animation.backward_sound_type = NONE;
        for (int i = 0; i < frames; ++i) animation.frame_model_tags[i] = T4('b', 'o', 'x', 'm');
        ASSERT_TRUE(store_definition_tag(MODEL_ANIMATION_DEFINITION_GROUP_TAG, name, &animation, sizeof(animation)));
    }
};

mesh_marker marker(int16_t type, int16_t palette, int16_t identifier, world_distance x, world_distance y,
                   int16_t difficulty = 0)
{
    return {type, palette, identifier, difficulty, 0, {x, y, 0}, 0, 0, NONE, 0};
}

TEST_F(markers_test, markers_are_found_counted_and_placed_in_the_fixed_order)
{
    store_model("boxg", "boxm");
    scenery_definition tree;
    memset(&tree, 0, sizeof(tree));
    tree.flags = _scenery_is_solid_flag;
    tree.collection_tag = tree.object_tag = NONE;
    ASSERT_TRUE(store_definition_tag(SCENERY_DEFINITION_GROUP_TAG, "tree", &tree, sizeof(tree)));

    objects_world_map map;
    map.palette = {{_marker_monster, 0, 0, T4('u', 'n', 'i', 't'), NONE, 0},
                   {_marker_scenery, NONE, 0, T4('t', 'r', 'e', 'e'), NONE, 0},
                   {_marker_scenery, NONE, 0, T4('g', 'o', 'n', 'e'), NONE, 0},
                   {_marker_model, NONE, 0, T4('b', 'o', 'x', 'm'), NONE, 0},
                   {_marker_sound_source, NONE, 0, T4('w', 'a', 't', 'r'), NONE, 0}};
    map.markers = {marker(_marker_monster, 0, 30, 700, 700), marker(_marker_sound_source, 0, 40, 100, 100),
                   marker(_marker_scenery, 0, 10, 1100, 300), marker(_marker_scenery, 1, 11, 1300, 300),
                   marker(_marker_scenery, 0, 12, 1500, 300, 3), marker(_marker_model, 0, 20, 2600, 2600),
                   marker(_marker_monster, 0, 31, 900, 700), marker(_marker_scenery, 0, 13, 1700, 300)};
    ASSERT_TRUE(load_objects_world(map));
    const marker_type_procedures units = {accept_entry, record_unit}, sounds = {accept_entry, record_sound};
    register_marker_type_procedures(_marker_monster, &units);
    register_marker_type_procedures(_marker_sound_source, &sounds);

    EXPECT_EQ(get_marker_count(_marker_scenery), 4);
    EXPECT_EQ(get_marker_palette_entry_count(_marker_scenery), 2);
    ASSERT_NE(get_marker_by_identifier(_marker_monster, 31), nullptr);
    EXPECT_EQ(get_marker_by_identifier(_marker_monster, 31)->marker_index, 1);
    EXPECT_EQ(get_marker_by_identifier(_marker_scenery, 30), nullptr);
    EXPECT_EQ(get_marker_palette_entry(_marker_model, 1), nullptr);

    int16_t order[NUMBER_OF_MARKER_TYPES];
    get_marker_placement_order(order);
    EXPECT_EQ(order[1], _marker_model);
    EXPECT_EQ(order[3], _marker_scenery);
    EXPECT_EQ(order[5], _marker_monster);
    EXPECT_EQ(order[7], _marker_sound_source);
    EXPECT_EQ(place_all_markers(), 6);

    EXPECT_EQ(placed, (std::vector<std::string>{"unit 30", "unit 31", "sound 40"}));
    // Scenery: 10 and 13 placed; 11 names a missing definition, 12 needs difficulty 3.
    EXPECT_EQ(get_marker_palette_entry(_marker_scenery, 0)->count, 2);
    EXPECT_EQ(get_marker_palette_entry(_marker_scenery, 1)->count, 0);
    EXPECT_EQ(get_marker_by_identifier(_marker_scenery, 11)->data_index, NONE);
    EXPECT_EQ(get_marker_by_identifier(_marker_scenery, 12)->data_index, NONE);
    const marker_data *scenery = get_marker_by_identifier(_marker_scenery, 13);
    const object_data *object = get_object(scenery->data_index);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->identifier, 13);
    EXPECT_EQ(object->owner, _object_is_scenery);
    EXPECT_TRUE(object->flags & _object_is_solid_flag);
    EXPECT_TRUE(object_chains_are_consistent());

    // The model stands on the cells under its box and is found by identifier.
    const int32_t model = model_identifier_to_model_index(20);
    ASSERT_NE(model, NONE);
    EXPECT_EQ(get_model_index_from_mesh_cell(5, 5), model);
    EXPECT_EQ(get_model_index_from_mesh_cell(0, 0), NONE);
    EXPECT_EQ(get_model_index_from_mesh_cell(-1, 99), NONE);
    EXPECT_EQ(get_model_height_at_position(model, 2600, 2600, 10000), 512);
    EXPECT_EQ(get_model_height_at_position(model, 2600, 2600, 100), 0);
    EXPECT_EQ(get_model_height_at_position(model, 100, 100, 10000), MESH_NO_HEIGHT);
    world_point3d centre;
    ASSERT_TRUE(get_model_centerpoint(model, &centre));
    EXPECT_EQ(centre.x, 2600);
    EXPECT_EQ(centre.z, 256);

    // A line of fire through the box is blocked; one over it is not.
    const world_point3d from = {1000, 2600, 100}, to = {3500, 2600, 100}, over_from = {1000, 2600, 900},
                        over_to = {3500, 2600, 900};
    bool near_hit = false, far_hit = false;
    check_for_model_obstruction(&from, &to, 0, &near_hit, &far_hit, false);
    EXPECT_TRUE(near_hit || far_hit);
    check_for_model_obstruction(&over_from, &over_to, 0, &near_hit, &far_hit, false);
    EXPECT_FALSE(near_hit || far_hit);
    check_for_model_obstruction(&to, &from, 0, &near_hit, &far_hit, true);
    EXPECT_TRUE(near_hit);
    EXPECT_FALSE(far_hit);

    // Hunted creatures take part only in hunting games.
    marker_palette_entry hunted = *get_marker_palette_entry(_marker_monster, 0);
    hunted.flags = _marker_palette_hunted_creature_flag;
    EXPECT_FALSE(palette_compatible_with_game_scoring(&hunted));
    game_->scoring = 12;
    EXPECT_TRUE(palette_compatible_with_game_scoring(&hunted));
    EXPECT_EQ(new_marker_palette_entry(_marker_monster, &hunted), 1);
    EXPECT_EQ(get_marker_palette_entry(_marker_monster, 1)->count, 0);
}

// Sound sources and local projectile groups are each machine's own: what one
// machine made of them, or their flags, must not set its hash apart, while
// the same change to a synchronized marker must.
TEST_F(markers_test, state_hash_takes_in_synchronized_markers_only)
{
    objects_world_map map;
    map.palette = {{_marker_monster, 0, 0, T4('u', 'n', 'i', 't'), NONE, 0},
                   {_marker_sound_source, NONE, 0, T4('w', 'a', 't', 'r'), NONE, 0},
                   {_marker_local_projectile_group, NONE, 0, T4('g', 'l', 'o', 'w'), NONE, 0}};
    map.markers = {marker(_marker_monster, 0, 30, 700, 700), marker(_marker_sound_source, 0, 40, 100, 100),
                   marker(_marker_local_projectile_group, 0, 50, 300, 300)};
    ASSERT_TRUE(load_objects_world(map));
    const marker_type_procedures units = {accept_entry, record_unit}, sounds = {accept_entry, record_sound};
    register_marker_type_procedures(_marker_monster, &units);
    register_marker_type_procedures(_marker_sound_source, &sounds);
    register_marker_type_procedures(_marker_local_projectile_group, &sounds);
    const uint32_t before = compute_state_hash();

    EXPECT_TRUE(marker_type_is_local(_marker_sound_source));
    EXPECT_TRUE(marker_type_is_local(_marker_local_projectile_group));
    EXPECT_FALSE(marker_type_is_local(_marker_monster));
    // One machine makes its sound and glow, turns the glow's marker on, the other does not.
    EXPECT_EQ(place_markers_of_type(_marker_sound_source), 1);
    EXPECT_EQ(place_markers_of_type(_marker_local_projectile_group), 1);
    for (int16_t type : {_marker_sound_source, _marker_local_projectile_group})
    {
        marker_data *local = get_marker_by_index(type, 0);
        ASSERT_NE(local, nullptr);
        local->flags ^= _marker_is_invisible_flag;
        local->data_identifier = 99;
        local->location.position.x += 512;
    }
    EXPECT_EQ(compute_state_hash(), before);

    marker_data *unit = get_marker_by_identifier(_marker_monster, 30);
    ASSERT_NE(unit, nullptr);
    unit->flags ^= _marker_is_invisible_flag;
    EXPECT_NE(compute_state_hash(), before);
    unit->flags ^= _marker_is_invisible_flag;
    EXPECT_EQ(compute_state_hash(), before);
    EXPECT_EQ(place_markers_of_type(_marker_monster), 1);
    EXPECT_NE(compute_state_hash(), before);
}

// Models have unique identifiers: one taken from a marker must be skipped by
// every model made later while it stands, as a film made before expects.
TEST_F(markers_test, identifiers_taken_from_markers_are_not_handed_out_again)
{
    store_model("boxg", "boxm");
    objects_world_map map;
    map.palette = {{_marker_model, NONE, 0, T4('b', 'o', 'x', 'm'), NONE, 0}};
    map.markers = {marker(_marker_model, 0, 2, 1300, 1300)};
    ASSERT_TRUE(load_objects_world(map));
    ASSERT_EQ(place_all_markers(), 1);
    ASSERT_NE(model_identifier_to_model_index(2), NONE);

    new_model_data data;
    memset(&data, 0, sizeof(data));
    data.type = get_marker_palette_entry(_marker_model, 0)->tag_index;
    data.location = {3300, 3300, 0};
    const int32_t made = new_model(&data);
    ASSERT_NE(made, NONE);
    // The marker's model took value 1 of the sequence before it took 2.
    EXPECT_EQ(get_model(made)->identifier, 3);
    delete_model(model_identifier_to_model_index(2));
    data.location = {5300, 5300, 0};
    const int32_t next = new_model(&data);
    ASSERT_NE(next, NONE);
    EXPECT_EQ(get_model(next)->identifier, 4);
}

// Identifier 0 marks a free slot in every data array: a marker carrying it must
// not free the record placed from it, nor let the slot be handed out twice.
TEST_F(markers_test, markers_with_identifier_zero_leave_their_records_in_place)
{
    store_model("boxg", "boxm");
    store_animation("anim", 2, 3);
    scenery_definition tree;
    memset(&tree, 0, sizeof(tree));
    tree.collection_tag = tree.object_tag = NONE;
    ASSERT_TRUE(store_definition_tag(SCENERY_DEFINITION_GROUP_TAG, "tree", &tree, sizeof(tree)));

    objects_world_map map;
    map.palette = {{_marker_model, NONE, 0, T4('b', 'o', 'x', 'm'), NONE, 0},
                   {_marker_model_animation, NONE, 0, T4('a', 'n', 'i', 'm'), NONE, 0},
                   {_marker_scenery, NONE, 0, T4('t', 'r', 'e', 'e'), NONE, 0}};
    map.markers = {marker(_marker_model, 0, 0, 1300, 1300), marker(_marker_model_animation, 0, 0, 3300, 3300),
                   marker(_marker_scenery, 0, 0, 600, 3000)};
    ASSERT_TRUE(load_objects_world(map));
    EXPECT_EQ(place_all_markers(), 3);

    const struct
    {
        int16_t type;
        bool (*exists)(int32_t);
    } placed_records[] = {
        {_marker_model, [](int32_t i) { return get_model(i) != nullptr; }},
        {_marker_model_animation, [](int32_t i) { return get_model_animation(i) != nullptr; }},
        {_marker_scenery, [](int32_t i) { return get_object(i) != nullptr; }},
    };
    for (const auto &record : placed_records)
    {
        const marker_data *placed_marker = get_marker_by_index(record.type, 0);
        ASSERT_NE(placed_marker->data_index, NONE) << record.type;
        EXPECT_TRUE(record.exists(placed_marker->data_index)) << record.type;
        EXPECT_NE(placed_marker->data_identifier, 0) << record.type;
    }
    // The model's slot stays taken: a new model gets another one, and the
    // cells under the first still name the first.
    const int32_t first = get_marker_by_index(_marker_model, 0)->data_index;
    new_model_data data;
    memset(&data, 0, sizeof(data));
    data.type = get_model(first)->type;
    data.location = {6 * 512, 6 * 512, 0};
    data.permutation = 9; // beyond the definition's four: wraps to 1
    const int32_t second = new_model(&data);
    ASSERT_NE(second, NONE);
    EXPECT_NE(second, first);
    EXPECT_EQ(get_model_index_from_mesh_cell(2, 2), first);
    EXPECT_EQ(get_model(second)->model_permutation, 1);
    EXPECT_TRUE(object_chains_are_consistent());
}

TEST_F(markers_test, damaged_geometry_is_refused_before_anything_reads_it)
{
    std::vector<geometry_material> materials;
    std::vector<world_point3d> vertices;
    std::vector<geometry_surface> surfaces;
    const geometry_definition box = make_box_geometry(100, &materials, &vertices, &surfaces);
    int32_t size = 0;
    uint8_t *good = build_geometry_tag_data(&box, &size);
    ASSERT_NE(good, nullptr);
    std::vector<uint8_t> bytes(good, good + size);
    free(good);
    const int32_t header = (int32_t)sizeof(geometry_header);
    const int32_t surfaces_at = header + 8 + 8 * 12;
    struct refusal
    {
        const char *name;
        int32_t offset; // a big-endian 16-bit field to overwrite
        uint16_t value;
        int32_t cut; // bytes cut from the end
    } refusals[] = {
        {"too many vertices", 0, 2049, 0},
        {"too many surfaces", 2, 513, 0},
        {"truncated", 0, 8, 10},
        {"material out of range", surfaces_at + 2, 1, 0},
        {"vertex out of range", surfaces_at + 20 + 4, 8, 0},
        {"dependency outside the list", surfaces_at + 10, 0, 0},
    };
    for (const refusal &r : refusals)
    {
        std::vector<uint8_t> damaged = bytes;
        write_be16(damaged.data() + r.offset, r.value);
        damaged.resize(damaged.size() - (size_t)r.cut);
        geometry_header parsed;
        memcpy(&parsed, damaged.data(), sizeof(parsed));
        parsed.vertex_count = (int16_t)read_be16(damaged.data());
        parsed.surface_count = (int16_t)read_be16(damaged.data() + 2);
        parsed.material_count = (int16_t)read_be16(damaged.data() + 4);
        parsed.dependency_count = (int16_t)read_be16(damaged.data() + 6);
        geometry_definition out;
        EXPECT_FALSE(load_geometry_arrays(&parsed, damaged.data() + header, (int32_t)damaged.size() - header, &out))
            << r.name;
    }
    // A dependency list goes out big-endian and comes back as it was.
    std::vector<geometry_surface> with_run = surfaces;
    with_run[0].dependency_table_index = 0;
    int16_t run[2] = {1, NONE};
    geometry_definition listed = box;
    listed.surfaces = with_run.data();
    listed.dependency_list = run;
    listed.dependency_count = 2;
    int32_t listed_size = 0;
    uint8_t *listed_bytes = build_geometry_tag_data(&listed, &listed_size);
    ASSERT_NE(listed_bytes, nullptr);
    const uint8_t *list_at = listed_bytes + listed_size - 4;
    EXPECT_EQ(std::vector<uint8_t>(list_at, list_at + 4), (std::vector<uint8_t>{0x00, 0x01, 0xFF, 0xFF}));
    geometry_header listed_header;
    memset(&listed_header, 0, sizeof(listed_header));
    listed_header.vertex_count = 8;
    listed_header.surface_count = box.surface_count;
    listed_header.material_count = 1;
    listed_header.dependency_count = 2;
    geometry_definition loaded;
    ASSERT_TRUE(load_geometry_arrays(&listed_header, listed_bytes + header, listed_size - header, &loaded));
    EXPECT_EQ(loaded.dependency_list[0], 1);
    EXPECT_EQ(loaded.dependency_list[1], NONE);
    EXPECT_EQ(loaded.surfaces[0].dependency_table_index, 0);
    free(loaded.storage);
    free(listed_bytes);

    // Through the store: the model naming a refused geometry is refused too.
    bytes.resize(bytes.size() - 10);
    write_local_tag(GEOMETRY_DEFINITION_GROUP_TAG, "bad!", 1, bytes.data(), (int32_t)bytes.size());
    model_definition model;
    memset(&model, 0, sizeof(model));
    model.geometry_tag = T4('b', 'a', 'd', '!');
    model.model_permutation_count = 1;
    ASSERT_TRUE(store_definition_tag(MODEL_DEFINITION_GROUP_TAG, "badm", &model, sizeof(model)));
    ASSERT_TRUE(load_objects_world(objects_world_map{}));
    EXPECT_EQ(try_definition_tag_to_index(&model_definitions, T4('b', 'a', 'd', 'm'), true, _definition_lookup_quiet_flag), NONE);
}

TEST_F(markers_test, model_animations_step_in_every_mode)
{
    store_model("boxg", "boxm");
    store_animation("door", 4, 2);
    ASSERT_TRUE(load_objects_world(objects_world_map{}));
    const int16_t definition = (int16_t)try_definition_tag_to_index(&model_animation_definitions, T4('d', 'o', 'o', 'r'), true, 0);
    ASSERT_NE(definition, NONE);
    struct mode_case
    {
        const char *name;
        uint16_t flags;
        int16_t start;
        int16_t frames[10]; // frame after each of 10 steps
        int16_t state_after; // after the 10 steps
    } cases[] = {
        {"forward, once", 1, 0, {1, 2, 3, 3, 3, 3, 3, 3, 3, 3}, 0},
        {"forward, cycling", 5, 0, {1, 2, 3, 0, 1, 2, 3, 0, 1, 2}, 1},
        {"backward, once", 0, 3, {2, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"backward, cycling", 4, 3, {2, 1, 0, 3, 2, 1, 0, 3, 2, 1}, 1},
        {"back and forth, once", 3, 0, {1, 2, 3, 2, 1, 0, 0, 0, 0, 0}, 0},
        {"back and forth, cycling", 7, 0, {1, 2, 3, 2, 1, 0, 1, 2, 3, 2}, 1},
    };
    const world_point3d at = {1000, 1000, 0};
    for (const mode_case &c : cases)
    {
        const int32_t index = new_model_animation(definition, &at, 0, 0);
        ASSERT_NE(index, NONE) << c.name;
        model_animation_data *animation = get_model_animation(index);
        animation->flags = c.flags;
        jump_model_animation_to_frame(index, c.start);
        animation->state = _model_animation_running;
        for (int32_t step = 0; step < 10; ++step)
        {
            // Two ticks per frame: the first tick of a pair moves nothing.
            update_model_animations();
            update_model_animations();
            EXPECT_EQ(get_model_animation(index)->current_frame_index, c.frames[step]) << c.name << " step " << step;
        }
        EXPECT_EQ(get_model_animation(index)->state, c.state_after) << c.name;
        EXPECT_NE(get_model(animation->current_model_index), nullptr);
        jump_model_animation_to_frame(index, 99);
        EXPECT_EQ(get_model_animation(index)->current_frame_index, 3);
    }
}

int32_t finished_action = NONE;
void record_finished(int32_t identifier) { finished_action = identifier; }

TEST_F(markers_test, model_effects_reach_their_final_values_at_exactly_the_duration)
{
    store_model("boxg", "boxm");
    ASSERT_TRUE(load_objects_world(objects_world_map{}));
    const int16_t type = (int16_t)try_definition_tag_to_index(&model_definitions, T4('b', 'o', 'x', 'm'), true, 0);
    new_model_data data;
    memset(&data, 0, sizeof(data));
    data.type = type;
    data.location = {2000, 2000, 0};
    const int32_t model = new_model(&data);
    ASSERT_NE(model, NONE);
    static const map_action_procedures scripts = {.map_action_succeeded = record_finished};
    register_map_action_procedures(&scripts);

    new_model_effect_data effect;
    memset(&effect, 0, sizeof(effect));
    effect.flags = _model_effect_fade_out_flag | _model_effect_scale_flag;
    effect.duration = 7;
    effect.delta_yaw = 1000;
    effect.new_permutation = 2;
    effect.set_permutation = NONE;
    effect.material_fading_index = 0;
    effect.material_final_transparency = 60000;
    effect.initial_scale = 512;
    effect.final_scale = 1024;
    ASSERT_TRUE(new_model_effect(model, 77, &effect));
    for (int32_t tick = 1; tick <= 7; ++tick)
    {
        update_model_effects();
        const model_data *m = get_model(model);
        if (tick < 7)
        {
            EXPECT_EQ(m->yaw, 1000 * tick / 7) << tick;
            EXPECT_EQ(m->transparency, 65535 * tick / 7) << tick;
            EXPECT_NE(m->model_permutation, m->desired_model_permutation) << tick;
            EXPECT_EQ(get_model_effect_index(model) != NONE, true);
        }
    }
    const model_data *m = get_model(model);
    EXPECT_EQ(m->yaw, 1000);
    EXPECT_EQ(m->scale, 1024);
    EXPECT_EQ(m->transparency, 65535);
    EXPECT_EQ(m->material_transparency, 60000);
    EXPECT_EQ(m->model_permutation, 2);
    EXPECT_EQ(m->permutation_crossfade_amount, 0);
    EXPECT_EQ(get_model_effect_index(model), NONE);
    EXPECT_EQ(finished_action, 77);

    // Deletion at the end, and a bigger box claims more cells on the way.
    effect.flags = _model_effect_delete_model_flag;
    effect.duration = 3;
    effect.new_permutation = NONE;
    ASSERT_TRUE(new_model_effect(model, NONE, &effect));
    update_model_effects();
    update_model_effects();
    EXPECT_NE(get_model(model), nullptr);
    update_model_effects();
    EXPECT_EQ(get_model(model), nullptr);
    EXPECT_EQ(get_model_index_from_mesh_cell(3, 3), NONE);
    EXPECT_FALSE(new_model_effect(model, NONE, &effect));
    clear_all_registrations();
}

} // namespace

} // namespace markers_test_file

// The test programs compile their files together: this file's macros end here.
#undef T4
