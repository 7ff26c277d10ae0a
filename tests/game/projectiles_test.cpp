// Projectiles: the order of creation draws, delays, ballistic flight and
// detonation into damage, load shedding, the promotion recursion guard,
// markers, sleep and wake, and the state hash.

#include "console_procedures.h"
#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <string>
#include <vector>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "cseries/registration.h"
#include "damage.h"
#include "explosions.h"
#include "fire.h"
#include "game_hooks.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "lightning.h"
#include "markers.h"
#include "mesh.h"
#include "mesh_effects.h"
#include "mesh_format.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "projectiles.h"
#include "state_hash.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"
#include "vesk_random.h"
#include "sound_procedures.h"

namespace projectiles_test_file {

namespace
{

std::vector<std::string> console_lines;
void record_console(const char *text) { console_lines.push_back(text); }

struct heard_sound
{
    int16_t sound_index;
    int32_t object_index;
};
std::vector<heard_sound> heard_sounds;
void record_sound(int16_t sound_index, int32_t object_index, const world_point3d *, short_fixed pitch, uint16_t flags)
{
    EXPECT_EQ(pitch, 256);
    EXPECT_EQ(flags, 0);
    heard_sounds.push_back({sound_index, object_index});
}

// The generator's sequence, replayed to predict what each draw gave.
struct generator_replica
{
    uint32_t seed;
    uint16_t next(void)
    {
        seed = seed * 1664525u + 1013904223u;
        return (uint16_t)(seed >> 16);
    }
    int32_t random(int32_t delta) { return (int32_t)(((int64_t)next() * delta) >> 16); }
};

class projectiles_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        objects_world_map map;
        map.width = 16;
        map.height = 16;
        ASSERT_TRUE(load_objects_world(map));
        ASSERT_TRUE(initialize_explosions());
        initialize_explosions_for_new_map();
        ASSERT_TRUE(initialize_projectiles());
        initialize_projectiles_for_new_map();
        initialize_lightning();
        initialize_lightning_for_new_map();
        initialize_fire();
        initialize_fire_for_new_map();
        initialize_mesh_effects();
        initialize_mesh_effects_for_new_map();
        heard_sounds.clear();
        current_gameplay_version = 1900;
        game_->game_time = 0;
        game_->option_flags = 0;
        console_lines.clear();
        static const console_procedures console = {.print_to_console = record_console};
        register_console_procedures(&console);
        object_type = add_object_definition(0, 0, 1000);
        solid_type = add_object_definition(0, 0, 1000, _object_definition_is_solid_flag, 64);
    }
    void TearDown() override
    {
        dispose_projectiles_from_old_map();
        dispose_mesh_effects_from_old_map();
        dispose_fire_from_old_map();
        dispose_lightning_from_old_map();
        dispose_explosions_from_old_map();
        clear_all_registrations();
        dispose_objects_world();
        clear_pending_error();
    }

    int16_t add_object_definition(int16_t gravity, int16_t scale_delta, int16_t vitality, uint32_t flags = 0,
                                  int16_t radius = 0)
    {
        object_definition o;
        memset(&o, 0, sizeof(o));
        for (auto &modifier : o.effect_modifiers)
            modifier = 256;
        o.flags = flags;
        o.gravity = gravity;
        o.maximum_vitality = vitality;
        o.scale_lower_bound = 256;
        o.scale_delta = scale_delta;
        o.radius = radius;
        o.height = 64;
        return (int16_t)new_definition(&object_definitions, FOUR_CHARACTER_CODE('o', 'b', '0', '0' + next_tag++), &o);
    }

    projectile_definition base_definition(int16_t object) const
    {
        projectile_definition d;
        default_projectile_definition(&d);
        d.object_type = object;
        d.sequence_indexes[0] = 0;
        d.lifespan_lower_bound = 100;
        return d;
    }
    int16_t add(const projectile_definition &d)
    {
        return (int16_t)new_definition(get_projectile_definition_group(),
                                       FOUR_CHARACTER_CODE('p', 'r', '0', '0' + next_tag++), &d);
    }

    int32_t fire(int16_t type, world_point3d position, world_vector3d velocity = {0, 0, 0})
    {
        new_projectile_data request;
        memset(&request, 0, sizeof(request));
        request.type = type;
        request.location.position = position;
        request.location.velocity = velocity;
        request.damage_scale = 256;
        request.owner_monster_index = request.owner_projectile_index = request.owner_object_index = NONE;
        request.target_monster_index = NONE;
        return new_projectile(&request);
    }

    int32_t target(world_distance x, world_distance y)
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = solid_type;
        request.scale = 256;
        request.owner = _object_is_scenery;
        request.location.position = {x, y, 0};
        return new_object(&request);
    }

    int16_t object_type = NONE, solid_type = NONE;
    int32_t next_tag = 0;
};

TEST_F(projectiles_test, creation_draws_every_random_term_in_order)
{
    const int16_t object = add_object_definition(0, 64, 1000);
    projectile_definition d = base_definition(object);
    d.inertia_delta = 128;
    d.random_initial_velocity = 10;
    d.lifespan_delta = 50;
    d.delay_delta = 0;
    d.animation_rate_delta = 100;
    d.flags = _projectile_can_animate_backwards_flag | _projectile_can_be_mirrored_flag;
    const int16_t type = add(d);

    set_random_seed(12345);
    reset_random_draw_counts();
    const int32_t index = fire(type, {2000, 2000, 500}, {100, -40, 20});
    ASSERT_NE(index, NONE);
    // scale, inertia, i, j, k, lifespan, animation rate, frame, phase, view,
    // backwards, horizontal and vertical mirror.
    EXPECT_EQ(get_vesk_random_draw_count(), 13u);

    generator_replica r{12345};
    const int32_t scale = 256 + r.random(64);
    const int32_t inertia = 256 + r.random(128);
    const int32_t i = ((100 * inertia) >> 8) + (int32_t)((r.next() * 21) >> 16) - 10;
    const int32_t j = ((-40 * inertia) >> 8) + (int32_t)((r.next() * 21) >> 16) - 10;
    const int32_t k = ((20 * inertia) >> 8) + (int32_t)((r.next() * 21) >> 16) - 10;
    const int32_t lifespan = 100 + r.random(50);
    const int32_t rate = 256 + r.random(100);
    r.next(), r.next(), r.next(); // set_object_shape: frame, phase, view
    const bool backwards = r.next() & 1, horizontal = r.next() & 1, vertical = r.next() & 1;

    const projectile_data *p = get_projectile_data(index);
    const object_data *o = get_object(p->object_index);
    EXPECT_EQ(o->scale, scale);
    EXPECT_EQ(o->location.velocity.i, i);
    EXPECT_EQ(o->location.velocity.j, j);
    EXPECT_EQ(o->location.velocity.k, k);
    EXPECT_EQ(p->lifespan, lifespan);
    EXPECT_EQ(o->shape_rate, rate);
    EXPECT_EQ((o->flags & _object_animates_backwards_flag) != 0, backwards);
    EXPECT_EQ((o->flags & _object_is_horizontally_mirrored_flag) != 0, horizontal);
    EXPECT_EQ((o->flags & _object_is_vertically_mirrored_flag) != 0, vertical);
    EXPECT_EQ(get_random_seed(), r.seed);
}

TEST_F(projectiles_test, delayed_projectile_draws_nothing_and_waits)
{
    projectile_definition d = base_definition(add_object_definition(2, 0, 1000));
    d.delay_lower_bound = 4;
    d.contrail_projectile_type = add(base_definition(object_type)); // a contrail would draw
    d.ticks_between_contrails = 0;
    const int16_t type = add(d);
    const int32_t index = fire(type, {3000, 3000, 800}, {10, 0, 0});
    ASSERT_NE(index, NONE);
    const int32_t object_index = get_projectile_data(index)->object_index;
    EXPECT_TRUE(get_object(object_index)->flags & _object_is_invisible_flag);
    reset_random_draw_counts();
    for (int tick = 0; tick < 3; ++tick)
    {
        update_projectiles();
        ++game_->game_time;
    }
    EXPECT_EQ(get_vesk_random_draw_count(), 0u);
    EXPECT_EQ(get_object(object_index)->location.position.x, 3000);
    EXPECT_EQ(get_projectile_count(), 1);
    update_projectiles(); // the delay ends: visible, and it flies from this tick on
    EXPECT_FALSE(get_object(object_index)->flags & _object_is_invisible_flag);
    EXPECT_EQ(get_object(object_index)->location.position.x, 3010);
}

TEST_F(projectiles_test, ballistic_flight_follows_the_closed_form_and_detonates_into_damage)
{
    const int16_t gravity = 3;
    projectile_definition d = base_definition(add_object_definition(gravity, 0, 1000));
    d.lifespan_lower_bound = 1000;
    d.damage = {_damage_explosion, 0, 100, 0, 256, 0, 0, 0};
    const int16_t type = add(d);
    const world_point3d start = {1000, 1000, 300};
    const world_vector3d velocity = {20, 10, 30};
    const int32_t index = fire(type, start, velocity);
    ASSERT_NE(index, NONE);
    const int32_t object_index = get_projectile_data(index)->object_index;
    // Flight time to the ground: z(t) = z0 + t*vk - g*t*(t+1)/2 <= 0.
    int32_t landing = 1;
    while (start.z + landing * velocity.k - gravity * landing * (landing + 1) / 2 > 0)
        ++landing;
    const int32_t land_x = start.x + landing * velocity.i, land_y = start.y + landing * velocity.j;
    const int32_t victim = target((world_distance)land_x + 100, (world_distance)land_y);
    const short_fixed vitality = get_object(victim)->vitality;

    for (int32_t t = 1; t < landing; ++t)
    {
        update_projectiles();
        const object_data *o = get_object(object_index);
        ASSERT_NE(o, nullptr) << "tick " << t;
        EXPECT_EQ(o->location.position.x, start.x + t * velocity.i) << "tick " << t;
        EXPECT_EQ(o->location.position.y, start.y + t * velocity.j) << "tick " << t;
        EXPECT_EQ(o->location.position.z, start.z + t * velocity.k - gravity * t * (t + 1) / 2) << "tick " << t;
        EXPECT_EQ(o->location.velocity.k, velocity.k - gravity * t) << "tick " << t;
    }
    update_projectiles(); // strikes the ground and detonates
    EXPECT_EQ(get_projectile_data(index), nullptr);
    EXPECT_EQ(get_object(object_index), nullptr);
    EXPECT_LT(get_object(victim)->vitality, vitality);
}

TEST_F(projectiles_test, load_shedding_thresholds_and_the_promotion_unit_exception)
{
    const int16_t filler = add(base_definition(object_type));
    projectile_definition blood = base_definition(object_type);
    blood.flags = _projectile_bloodies_landscape_flag;
    const int16_t blood_type = add(blood);
    projectile_definition decoration = base_definition(object_type);
    decoration.flags = _projectile_detonates_when_animation_loops_flag;
    const int16_t decorative_type = add(decoration);
    decoration.promotion_unit_tag = FOUR_CHARACTER_CODE('u', 'n', 'i', 't');
    const int16_t promoting_type = add(decoration);

    auto fill_to = [&](int32_t count)
    {
        while (get_projectile_count() < count)
            ASSERT_NE(fire(filler, {500, 500, 100}), NONE);
    };
    auto try_one = [&](int16_t type)
    {
        const int32_t index = fire(type, {500, 500, 100});
        if (index == NONE) return false;
        const int32_t object_index = get_projectile_data(index)->object_index;
        sleep_projectile(index); // leaves the count unchanged for the next try
        delete_object(object_index);
        return true;
    };
    fill_to(924);
    EXPECT_TRUE(try_one(blood_type));
    fill_to(925);
    EXPECT_FALSE(try_one(blood_type));
    EXPECT_TRUE(try_one(decorative_type));
    fill_to(984);
    EXPECT_TRUE(try_one(decorative_type));
    fill_to(985);
    EXPECT_FALSE(try_one(decorative_type));
    EXPECT_TRUE(try_one(promoting_type));
    current_gameplay_version = 1708;
    EXPECT_FALSE(try_one(promoting_type));
    current_gameplay_version = 1300; // no shedding: only the on-fire media rule
    EXPECT_TRUE(try_one(blood_type));
    EXPECT_TRUE(try_one(decorative_type));
}

TEST_F(projectiles_test, self_promoting_definition_stops_at_depth_256_with_one_console_line)
{
    projectile_definition d = base_definition(object_type);
    d.flags = _projectile_definition_detonates_immediately_flag;
    d.promotion_on_detonation_fraction = 65535;
    const int16_t type = add(d);
    projectile_definition *stored =
        (projectile_definition *)try_and_get_definition(get_projectile_definition_group(), type);
    stored->promoted_projectile_type = type;

    EXPECT_EQ(fire(type, {500, 500, 100}), NONE);
    ASSERT_EQ(console_lines.size(), 1u);
    EXPECT_NE(console_lines[0].find("exceeded 256 promotions"), std::string::npos) << console_lines[0];
    EXPECT_EQ(get_projectile_recursion_depth(), 0);
    EXPECT_EQ(get_projectile_count(), 0);
    EXPECT_TRUE(object_chains_are_consistent());
    // A second chain reports again.
    EXPECT_EQ(fire(type, {500, 500, 100}), NONE);
    EXPECT_EQ(console_lines.size(), 2u);
}

TEST_F(projectiles_test, marker_places_a_sleeping_projectile_that_wakes_in_the_same_slot)
{
    const int16_t type = add(base_definition(object_type));
    marker_palette_entry entry = {};
    entry.type = _marker_projectile;
    entry.tag_index = type;
    marker_data marker = {};
    marker.type = _marker_projectile;
    marker.identifier = 77;
    marker.location.position = {1500, 1500, 0};
    const int32_t object_index = new_projectile_from_marker(&marker, &entry);
    ASSERT_NE(object_index, NONE);
    object_data *object = get_object(object_index);
    EXPECT_EQ(object->identifier, 77);
    EXPECT_EQ(marker.data_identifier, 77);
    EXPECT_EQ(object->owner, _object_is_dormant_projectile);
    EXPECT_EQ(object->owner_index, type);
    EXPECT_EQ(get_projectile_count(), 0);

    object->dormant_proj_flags = _projectile_originated_from_ambient_life_monster_flag;
    object->original_owner_player_index = 3;
    const int32_t index = wake_projectile(object_index, 5);
    ASSERT_NE(index, NONE);
    const projectile_data *p = get_projectile_data(index);
    EXPECT_EQ(p->object_index, object_index);
    EXPECT_EQ(get_object(object_index)->identifier, 77);
    EXPECT_EQ(get_object(object_index)->owner, _object_is_projectile);
    EXPECT_EQ(p->owner_unit_index, 5);
    EXPECT_EQ(p->original_owner_player_index, 3);
    EXPECT_TRUE(p->flags & _projectile_originated_from_ambient_life_monster_flag);
    EXPECT_TRUE(object_chains_are_consistent());

    // A detonating marker explodes at once: nothing is left.
    marker.flags = _marker_detonates_immediately_flag;
    marker.identifier = 78;
    const int32_t exploding = new_projectile_from_marker(&marker, &entry);
    ASSERT_NE(exploding, NONE);
    EXPECT_EQ(get_object(exploding)->owner, _object_is_projectile);
    update_projectiles();
    EXPECT_EQ(get_object_by_identifier(exploding, 78), nullptr);
}

TEST_F(projectiles_test, lightning_bolt_is_made_probed_and_strikes_without_extra_draws)
{
    lightning_definition bolt_definition = {};
    bolt_definition.strike_ticks = 3;
    bolt_definition.linger_ticks = 2;
    const int16_t bolt_type = (int16_t)new_definition(get_lightning_definition_group(),
                                                      FOUR_CHARACTER_CODE('l', 'g', '0', '0'), &bolt_definition);
    ASSERT_NE(bolt_type, NONE);
    projectile_definition plain = base_definition(object_type);
    projectile_definition d = plain;
    d.flags = _projectile_is_lightning_flag;
    d.lightning_index = bolt_type;
    const int16_t type = add(d), plain_type = add(plain);

    // Neither a target unit nor a target location: nowhere to strike.
    EXPECT_EQ(fire(type, {1000, 1000, 200}), NONE);
    EXPECT_EQ(get_projectile_count(), 0);
    EXPECT_EQ(get_lightning_bolt_count(), 0);

    // The bolt itself draws nothing: the same draws as a plain projectile.
    set_random_seed(77);
    ASSERT_NE(fire(plain_type, {1000, 1000, 200}), NONE);
    const uint32_t plain_seed = get_random_seed();

    set_random_seed(77);
    new_projectile_data request;
    memset(&request, 0, sizeof(request));
    request.type = type;
    request.flags = _projectile_has_valid_target_location_flag;
    request.location.position = {1000, 1000, 200};
    request.damage_scale = 256;
    request.owner_monster_index = request.owner_projectile_index = request.owner_object_index = NONE;
    request.target_monster_index = NONE;
    request.target_location = {1300, 1000, 200};
    const int32_t index = new_projectile(&request);
    ASSERT_NE(index, NONE);
    EXPECT_EQ(get_random_seed(), plain_seed);
    const projectile_data *p = get_projectile_data(index);
    const lightning_data *bolt = get_lightning_data_by_identifier(p->lightning_index, p->lightning_identifier);
    ASSERT_NE(bolt, nullptr);
    EXPECT_EQ(bolt->end_point.x, 1300);
    const int32_t object_index = p->object_index;

    // The probe reaches the bolt's end at once and waits there for the strike.
    update_projectiles();
    ASSERT_NE(get_object(object_index), nullptr);
    EXPECT_EQ(get_object(object_index)->location.position.x, 1300);
    EXPECT_EQ(get_object(object_index)->radius, 128);
    for (int32_t tick = 0; tick < 4 && get_projectile_data(index); ++tick)
    {
        update_lightning();
        update_projectiles();
    }
    EXPECT_EQ(get_projectile_data(index), nullptr);
    EXPECT_EQ(get_object(object_index), nullptr);

    // Something standing in the bolt's path is struck before the bolt ends.
    d.damage = {_damage_explosion, 0, 100, 0, 256, 0, 0, 0};
    request.type = add(d);
    const int32_t victim = target(2150, 1000);
    const short_fixed vitality = get_object(victim)->vitality;
    request.location.position = {2000, 1000, 20};
    request.target_location = {2300, 1000, 20};
    const int32_t struck = new_projectile(&request);
    ASSERT_NE(struck, NONE);
    update_projectiles();
    EXPECT_EQ(get_projectile_data(struck), nullptr);
    EXPECT_LT(get_object(victim)->vitality, vitality);
}

TEST_F(projectiles_test, landscape_fire_starts_only_on_a_map_that_can_burn)
{
    projectile_definition d = base_definition(object_type);
    d.flags = _projectile_can_set_landscape_on_fire_flag | _projectile_definition_detonates_immediately_flag;
    const int16_t type = add(d);

    set_random_seed(5);
    EXPECT_EQ(fire(type, {2100, 1100, 100}), NONE); // detonates at creation
    const uint32_t seed_without_fire = get_random_seed();
    EXPECT_EQ(get_burning_cell_count(), 0);

    get_mesh_header()->flags |= _mesh_can_catch_fire_flag;
    set_random_seed(5);
    EXPECT_EQ(fire(type, {2100, 1100, 100}), NONE);
    EXPECT_EQ(get_random_seed(), seed_without_fire);
    EXPECT_TRUE(cell_is_on_fire(2100 >> 9, 1100 >> 9));
    EXPECT_EQ(get_burning_cell_count(), 1);
}

TEST_F(projectiles_test, groups_start_their_mesh_effect_and_sounds_play_where_they_belong)
{
    static const sound_procedures sound_table = {.play_projectile_sound = record_sound};
    register_sound_procedures(&sound_table);
    projectile_group_definition group;
    default_projectile_group_definition(&group);
    group.mesh_effect_type = _mesh_effect_ripple;
    group.sound_index = 7;
    const int16_t group_type = (int16_t)new_definition(get_projectile_group_definition_group(),
                                                       FOUR_CHARACTER_CODE('g', 'r', '0', '0'), &group);
    ASSERT_NE(group_type, NONE);
    const int32_t bounds = target(1500, 1700);
    new_projectile_group_data request = {};
    request.type = group_type;
    request.owner_object_index = request.bounds_object_index = (int16_t)bounds;
    request.owner_monster_index = NONE;
    new_projectile_group(&request);
    ASSERT_EQ(get_mesh_effect_count(), 1);
    const mesh_effect_data *effect = get_mesh_effect_data(0);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->type, _mesh_effect_ripple);
    EXPECT_EQ(effect->origin.x, 1500);
    EXPECT_EQ(effect->origin.y, 1700);
    ASSERT_EQ(heard_sounds.size(), 1u);
    EXPECT_EQ(heard_sounds[0].sound_index, 7);
    EXPECT_EQ(heard_sounds[0].object_index, bounds);

    // A group that cannot detonate starts neither.
    request.flags = _new_projectile_group_cannot_detonate_flag;
    new_projectile_group(&request);
    EXPECT_EQ(get_mesh_effect_count(), 1);
    EXPECT_EQ(heard_sounds.size(), 1u);

    // Flight at creation, rebound off the ground while it bounces on.
    heard_sounds.clear();
    projectile_definition d = base_definition(add_object_definition(4, 0, 1000));
    d.lifespan_lower_bound = 1000;
    d.sound_indexes[_projectile_sound_flight] = 3;
    d.sound_indexes[_projectile_sound_rebound] = 4;
    d.detonation_frequency = 0; // it bounces on
    const int16_t type = add(d);
    const int32_t index = fire(type, {3000, 3000, 20}, {0, 0, -10});
    ASSERT_NE(index, NONE);
    const int32_t object_index = get_projectile_data(index)->object_index;
    ASSERT_EQ(heard_sounds.size(), 1u);
    EXPECT_EQ(heard_sounds[0].sound_index, 3);
    EXPECT_EQ(heard_sounds[0].object_index, object_index);
    for (int32_t tick = 0; tick < 4; ++tick)
        update_projectiles();
    ASSERT_NE(get_projectile_data(index), nullptr);
    ASSERT_GE(heard_sounds.size(), 2u);
    EXPECT_EQ(heard_sounds[1].sound_index, 4);
    EXPECT_EQ(heard_sounds[1].object_index, object_index);
}

TEST_F(projectiles_test, state_hash_follows_projectiles_but_not_their_local_group)
{
    const int16_t type = add(base_definition(object_type));
    const uint32_t empty = compute_state_hash();
    const int32_t index = fire(type, {500, 500, 100});
    ASSERT_NE(index, NONE);
    const uint32_t one = compute_state_hash();
    EXPECT_NE(one, empty);
    get_projectile_data(index)->local_projectile_group_index = 42;
    EXPECT_EQ(compute_state_hash(), one);
    get_projectile_data(index)->lifespan += 1;
    EXPECT_NE(compute_state_hash(), one);
}

TEST_F(projectiles_test, fade_animates_then_deletes_its_object)
{
    const int32_t victim = target(800, 800);
    const int32_t index = fade_object(true, victim, 0, 3);
    ASSERT_NE(index, NONE);
    EXPECT_EQ(get_object(victim)->owner, _object_is_special_projectile);
    for (int tick = 0; tick < 2; ++tick)
        update_projectiles();
    EXPECT_NE(get_object(victim), nullptr);
    update_projectiles();
    EXPECT_EQ(get_object(victim), nullptr);
    EXPECT_EQ(get_projectile_count(), 0);
}

TEST_F(projectiles_test, accelerate_projectile_refuses_other_objects_and_detonates_on_instant_damage)
{
    const int32_t scenery = target(900, 900);
    {
        expected_assertions expect(1, "accelerate_projectile() called with object");
        damage_definition damage = {_damage_explosion, 0, 10, 0, 0, 0, 0, 0};
        damage_data data;
        initialize_damage_data(&data);
        accelerate_projectile(&damage, &data, scenery);
    }
    projectile_definition d = base_definition(add_object_definition(0, 0, 10));
    const int32_t index = fire(add(d), {500, 500, 100});
    ASSERT_NE(index, NONE);
    damage_definition damage = {_damage_explosion, 0, 100, 0, 0, 0, 0, 0};
    damage_data data;
    initialize_damage_data(&data);
    data.damage = 100 << 8;
    accelerate_projectile(&damage, &data, get_projectile_data(index)->object_index);
    EXPECT_EQ(get_projectile_data(index), nullptr);
}

TEST_F(projectiles_test, owners_mana_without_a_maximum_and_orphaning)
{
    // The owner is a unit record of a type without a mana maximum.
    if (!get_monster_array()->blocks) { ASSERT_TRUE(initialize_data(get_monster_array())); }
    initialize_data_for_new_map(get_monster_array());
    const int32_t owner_index = new_datum(get_monster_array());
    ASSERT_NE(owner_index, NONE);
    monster_data *owner = get_monster_data(owner_index);
    owner->type = NONE;
    owner->unit_type = 4;
    owner->owner_player_index = 1;
    owner->object_index = NONE;
    owner->mana = 50;
    projectile_definition d = base_definition(object_type);
    d.flags = _projectile_damage_proportional_to_mana_flag;
    d.damage = {_damage_explosion, 0, 40, 0, 256, 0, 0, 0};
    const int16_t type = add(d);
    new_projectile_data request;
    memset(&request, 0, sizeof(request));
    request.type = type;
    request.location.position = {700, 700, 0};
    request.damage_scale = 256;
    request.owner_monster_index = owner_index;
    request.owner_projectile_index = request.owner_object_index = NONE;
    request.target_monster_index = owner_index;
    const int32_t index = new_projectile(&request);
    ASSERT_NE(index, NONE);
    EXPECT_EQ(get_projectile_data(index)->owner_unit_index, 4);
    EXPECT_EQ(get_projectile_data(index)->original_owner_player_index, 1);

    // The owner dies: the projectile forgets it as owner and as target.
    orphan_monster_projectiles(owner_index, 0);
    EXPECT_EQ(get_projectile_data(index)->owner_monster_index, NONE);
    EXPECT_EQ(get_projectile_data(index)->target_monster_index, NONE);

    // A living owner without a mana maximum spends its mana on the whole amount.
    get_projectile_data(index)->owner_monster_index = owner_index;
    const int32_t victim = target(750, 700);
    const short_fixed vitality = get_object(victim)->vitality;
    detonate_projectile(nullptr, 0, index, NONE, false);
    EXPECT_EQ(get_monster_data(owner_index)->mana, 0);
    EXPECT_EQ(get_object(victim)->vitality, vitality - 40);
    EXPECT_EQ(get_projectile_data(index), nullptr);
    dispose_data_from_old_map(get_monster_array());
}

// The registry rows: dependencies resolved in order through stored tags,
// the absent-tag rules and the postprocess refusals.
class projectile_registry_test : public store_fixture::store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        objects_world_map map;
        ASSERT_TRUE(load_objects_world(map));
        ASSERT_TRUE(initialize_projectiles());
        initialize_projectiles_for_new_map();
        object_definition o;
        memset(&o, 0, sizeof(o));
        o.maximum_vitality = 10;
        ASSERT_TRUE(store_definition_tag(OBJECT_DEFINITION_GROUP_TAG, "boxy", &o, sizeof(o)));
    }
    void TearDown() override
    {
        dispose_projectiles_from_old_map();
        clear_all_registrations();
        dispose_objects_world();
        store_test::TearDown();
    }
    static bool store(tag group, const char *name, const void *record, int32_t size, const byte_swap_code *codes)
    {
        std::vector<uint8_t> bytes((const uint8_t *)record, (const uint8_t *)record + size);
        if (!byte_swap_data(name, bytes.data(), size, 1, codes)) return false;
        int32_t index = tag_file_new(group, name, 1);
        return index != NONE && tag_file_write(&index, 0, size, bytes.data());
    }
    static projectile_definition arrow(void)
    {
        projectile_definition d;
        default_projectile_definition(&d);
        d.object_tag = FOUR_CHARACTER_CODE('b', 'o', 'x', 'y');
        d.artifact_tag = 0; // 0 counts as absent for these four
        d.geometry_tag = 0;
        d.local_projectile_group_tag = 0;
        d.target_detonation_projectile_group_tag = 0;
        return d;
    }
    int32_t load(tag subgroup)
    {
        return try_definition_tag_to_index(get_projectile_definition_group(), subgroup, true,
                                           _definition_lookup_quiet_flag);
    }
};

TEST_F(projectile_registry_test, dependencies_resolve_and_absent_tags_follow_their_rules)
{
    projectile_definition puff = arrow();
    ASSERT_TRUE(
        store(PROJECTILE_DEFINITION_GROUP_TAG, "puff", &puff, sizeof(puff), projectile_definition_byte_swapping_data));
    projectile_definition shot = arrow();
    shot.contrail_projectile_tag = FOUR_CHARACTER_CODE('p', 'u', 'f', 'f');
    shot.sequence_indexes[0] = 3;
    ASSERT_TRUE(
        store(PROJECTILE_DEFINITION_GROUP_TAG, "shot", &shot, sizeof(shot), projectile_definition_byte_swapping_data));
    projectile_definition melee = arrow();
    melee.flags = _projectile_is_melee_attack_flag;
    ASSERT_TRUE(store(PROJECTILE_DEFINITION_GROUP_TAG, "mele", &melee, sizeof(melee),
                      projectile_definition_byte_swapping_data));
    projectile_definition lost = arrow();
    lost.local_projectile_group_tag = FOUR_CHARACTER_CODE('m', 'i', 's', 's');
    ASSERT_TRUE(
        store(PROJECTILE_DEFINITION_GROUP_TAG, "lost", &lost, sizeof(lost), projectile_definition_byte_swapping_data));
    projectile_definition bare = arrow();
    bare.object_tag = FOUR_CHARACTER_CODE('n', 'o', 'n', 'e');
    ASSERT_TRUE(
        store(PROJECTILE_DEFINITION_GROUP_TAG, "bare", &bare, sizeof(bare), projectile_definition_byte_swapping_data));
    projectile_group_definition group;
    default_projectile_group_definition(&group);
    group.number_of_parts = 1;
    group.parts[0].projectile_tag = FOUR_CHARACTER_CODE('s', 'h', 'o', 't');
    group.parts[0].count_lower_bound = 2;
    ASSERT_TRUE(store(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, "volley", &group, sizeof(group),
                      projectile_group_definition_byte_swapping_data));

    const int32_t shot_index = load(FOUR_CHARACTER_CODE('s', 'h', 'o', 't'));
    ASSERT_NE(shot_index, NONE);
    const projectile_definition *loaded = get_projectile_definition(shot_index);
    EXPECT_EQ(loaded->object_type,
              subgroup_tag_to_definition_index(&object_definitions, FOUR_CHARACTER_CODE('b', 'o', 'x', 'y')));
    EXPECT_EQ(loaded->contrail_projectile_type, load(FOUR_CHARACTER_CODE('p', 'u', 'f', 'f')));
    EXPECT_NE(loaded->contrail_projectile_type, NONE);
    // No collection: valid, and no sequences.
    EXPECT_EQ(loaded->collection_index, NONE);
    EXPECT_EQ(loaded->sequence_indexes[0], NONE);
    EXPECT_EQ(loaded->artifact_index, NONE);
    EXPECT_EQ(loaded->local_projectile_group_type, NONE);
    EXPECT_TRUE(loaded->damage.flags & _damage_is_long_range_flag);

    const int32_t melee_index = load(FOUR_CHARACTER_CODE('m', 'e', 'l', 'e'));
    ASSERT_NE(melee_index, NONE);
    EXPECT_FALSE(get_projectile_definition(melee_index)->damage.flags & _damage_is_long_range_flag);

    EXPECT_EQ(load(FOUR_CHARACTER_CODE('l', 'o', 's', 't')), NONE); // missing local group
    EXPECT_EQ(load(FOUR_CHARACTER_CODE('b', 'a', 'r', 'e')), NONE); // missing object definition

    const int32_t group_index = (int32_t)try_definition_tag_to_index(get_projectile_group_definition_group(),
                                                                     FOUR_CHARACTER_CODE('v', 'o', 'l', 'l'), true, 0);
    ASSERT_NE(group_index, NONE);
    EXPECT_EQ(get_projectile_group_definition(group_index)->parts[0].projectile_type, shot_index);
}

} // namespace

} // namespace projectiles_test_file
