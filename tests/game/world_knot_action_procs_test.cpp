// Overhead texts and world knots: 'uind' replaces a unit's text, keeps string
// 0 for an index beyond the list and leaves units without text when the pool
// is full; 'ctrl' gives the same texts.  A pair of knots swaps the units
// inside them (the receiver waiting for a clear radius), overfull queues are
// capped or refused without losing a wave, and set-up errors end the action.

#include "overhead_text_procedures.h"
#include "script_test_world.h"

#include "support/expected_assertions.h"

#include <cstring>
#include <vector>

#include "map_action_block_writer.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "map_actions/world_knot_action_procs.h"
#include "markers.h"
#include "model_effects.h"
#include "monster_hiding.h"
#include "models.h"
#include "monsters.h"
#include "objects.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "vesk/string_lists.h"

namespace world_knot_action_procs_test_file {

namespace {

constexpr uint32_t DEACTIVATED = _map_action_proc_executed_flag | _map_action_proc_deactivate_flag;
constexpr uint32_t FINISHED = DEACTIVATED | _map_action_proc_succeeded_flag;

// What the interface was asked: texts made (up to a pool size) and deleted.
struct text_recorder
{
    std::vector<overhead_text_data> made;
    std::vector<int32_t> deleted;
    int32_t pool = MAXIMUM_OVERHEAD_TEXT_PER_MAP;
} texts;

int32_t record_new_text(const overhead_text_data *data)
{
    if ((int32_t)texts.made.size() >= texts.pool) return NONE;
    texts.made.push_back(*data);
    return (int32_t)texts.made.size() - 1;
}
void record_deleted_text(int32_t index) { texts.deleted.push_back(index); }
int32_t font_of(tag font_tag) { return font_tag == FOUR_CHARACTER_CODE('f', 'o', 'n', 't') ? 7 : 1; }

test_action &shorts(test_action &action, const char *name, int16_t type, std::vector<int16_t> values)
{
    return action.raw(type, four(name), (int16_t)values.size(), values.data(), (int32_t)(values.size() * 2));
}
test_action &point(test_action &action, const char *name, world_point2d value)
{
    return action.raw(_parameter_world_point2d, four(name), 1, &value, (int32_t)sizeof(value));
}

class world_knot_test : public script_test_world
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(script_test_world::SetUp());
        ASSERT_TRUE(store_box_geometry_tag("boxg", 512));
        model_definition model;
        memset(&model, 0, sizeof(model));
        model.geometry_tag = FOUR_CHARACTER_CODE('b', 'o', 'x', 'g');
        model.model_permutation_count = 8;
        model.collection_tag = NONE;
        for (auto &permutation : model.model_permutations) permutation.collection_tag = NONE;
        ASSERT_TRUE(store_definition_tag(MODEL_DEFINITION_GROUP_TAG, "boxm", &model, sizeof(model)));
        texts = {};
    }
    // A 64 x 64 world with unit markers 1 to 8 (their units made by `unit_at`).
    void start(int32_t version = 1820)
    {
        new_game_data data = make_test_game_data(_game_type_local, version, 1, 2);
        data.players[0].team_index = 0;
        data.players[1].team_index = 1;
        objects_world_map map;
        map.width = map.height = 64;
        map.palette = {{_marker_monster, 0, 0, UNIT_TAG, NONE, 0}};
        for (int16_t i = 1; i <= 8; i++)
            map.markers.push_back({_marker_monster, 0, i, 0, 0, {1000 * i, 30000, 0}, 0, 0, NONE, 0});
        ASSERT_TRUE(start_units_world(&data, &map));
        started = true;
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_monster_hooks();
        register_map_action_procedures(map_action_engine_procedures());
        current_gameplay_version = version;
        game_->time_state = _game_time_no_countdown;
        definition();
        initialize_script_modules_for_new_map();
        game_->game_time = 0;
    }
    // The unit of marker `identifier`, placed at `at`.
    int32_t unit_at(int16_t identifier, world_point2d at)
    {
        const int32_t index = make_unit(0, at);
        unit(index)->identifier = identifier;
        marker_data *marker = get_marker_by_identifier(_marker_monster, identifier);
        EXPECT_NE(marker, nullptr);
        marker->data_index = (int16_t)index;
        marker->data_identifier = identifier;
        return index;
    }
    int16_t model_at(int16_t identifier, world_point2d at)
    {
        new_model_data data;
        memset(&data, 0, sizeof(data));
        data.type = (int16_t)try_definition_tag_to_index(&model_definitions, FOUR_CHARACTER_CODE('b', 'o', 'x', 'm'),
                                                         true, 0);
        data.location = {at.x, at.y, 0};
        const int32_t index = new_model(&data);
        EXPECT_NE(index, NONE);
        get_model(index)->identifier = identifier;
        return identifier;
    }
    world_knot_globals knot(int32_t action_index)
    {
        world_knot_globals globals;
        memset(&globals, 0, sizeof(globals));
        EXPECT_TRUE(get_map_action_structure(action_index, _common_internal_field_name_globals, sizeof(globals),
                                             &globals));
        return globals;
    }
    void store(const world_knot_globals &globals)
    {
        ASSERT_TRUE(set_unique_map_action_parameter(globals.action_index, _common_internal_field_name_globals,
                                                    _parameter_character, sizeof(globals), &globals));
    }
    world_point3d at(int32_t index) { return get_object(unit(index)->object_index)->location.position; }
    bool visible(int32_t index) { return !(get_object(unit(index)->object_index)->flags & _object_is_invisible_flag); }
    int32_t store_string_list(const char *name, const std::vector<const char *> &rows)
    {
        const int32_t size = encode_string_list_data(rows.data(), (int32_t)rows.size(), nullptr, 0);
        std::vector<uint8_t> data((size_t)size);
        EXPECT_EQ(encode_string_list_data(rows.data(), (int32_t)rows.size(), data.data(), size), size);
        write_local_tag(STRING_LIST_GROUP_TAG, name, STRING_LIST_VERSION, data.data(), size);
        return string_list_tag_to_string_index(four(name));
    }
};

// ---- overhead text ----------------------------------------------------------------------

TEST_F(world_knot_test, unit_indicators_replace_each_units_text_and_fall_back_to_defaults)
{
    start();
    static const overhead_text_procedures text_procedures = {
        .new_overhead_text = record_new_text, .delete_overhead_text = record_deleted_text, .overhead_text_font = font_of};
    ASSERT_TRUE(register_overhead_text_procedures(&text_procedures));
    const int32_t list = store_string_list("labl", {"guard", "chief"});
    ASSERT_NE(list, NONE);
    const int32_t a = unit_at(1, {4000, 4000}), b = unit_at(2, {5000, 4000});

    test_action plain{10, four("uind")};
    plain.units(four("subj"), {1, 2}).ints(four("otxt"), {four("labl")}, _parameter_field_name);
    test_action styled{11, four("uind")};
    styled.units(four("subj"), {1}).ints(four("otxt"), {four("labl")}, _parameter_field_name);
    styled.ints(four("otsi"), {1}).ints(four("otft"), {four("font")}, _parameter_field_name);
    styled.ints(four("otim"), {90}).ints(four("otcl"), {65535, 0, 70000}).flag(four("otsh"));
    test_action beyond{12, four("uind")};
    beyond.units(four("subj"), {2}).ints(four("otxt"), {four("labl")}, _parameter_field_name).ints(four("otsi"), {2});
    test_action unknown{13, four("uind")};
    unknown.units(four("subj"), {1}).ints(four("otxt"), {four("none")}, _parameter_field_name);
    test_action control{14, four("ctrl")};
    control.units(four("subj"), {2}).ints(four("otxt"), {four("labl")}, _parameter_field_name).ints(four("otsi"), {1});
    ASSERT_TRUE(import_test_actions({plain, styled, beyond, unknown, control}));

    trigger_map_action(0);
    ASSERT_EQ(texts.made.size(), 2u);
    const overhead_text_data &first = texts.made[0];
    EXPECT_EQ(first.monster_index, a);
    EXPECT_EQ(first.string_list_index, list);
    EXPECT_EQ(first.string_index, 0);
    EXPECT_EQ(first.font_index, 1);
    EXPECT_EQ(first.style, NONE);
    EXPECT_EQ(first.color.red, 65535);
    EXPECT_EQ(first.color.blue, 65535);
    EXPECT_EQ(first.text_flags, 1u);
    EXPECT_EQ(first.timer, 300);
    EXPECT_EQ(texts.made[1].monster_index, b);
    EXPECT_EQ(unit(a)->current_overhead_text_index, 0);
    EXPECT_EQ(unit(b)->current_overhead_text_index, 1);
    EXPECT_TRUE(texts.deleted.empty());

    // The second text replaces the first: it is deleted before the new one is made.
    trigger_map_action(1);
    ASSERT_EQ(texts.made.size(), 3u);
    EXPECT_EQ(texts.deleted, std::vector<int32_t>({0}));
    const overhead_text_data &second = texts.made[2];
    EXPECT_EQ(second.string_index, 1);
    EXPECT_EQ(second.font_index, 7);
    EXPECT_EQ(second.timer, 90);
    EXPECT_EQ(second.color.green, 0);
    EXPECT_EQ(second.color.blue, 65535);
    EXPECT_EQ(second.text_flags, 33u);
    EXPECT_EQ(unit(a)->current_overhead_text_index, 2);

    // An index beyond the list keeps string 0; a full pool leaves the unit without text.
    texts.pool = 3;
    trigger_map_action(2);
    EXPECT_EQ(texts.made.size(), 3u);
    EXPECT_EQ(texts.deleted, std::vector<int32_t>({0, 1}));
    EXPECT_EQ(unit(b)->current_overhead_text_index, NONE);
    texts.pool = 64;
    trigger_map_action(2);
    ASSERT_EQ(texts.made.size(), 4u);
    EXPECT_EQ(texts.made[3].string_index, 0);

    // A list that does not exist changes nothing.
    trigger_map_action(3);
    EXPECT_EQ(texts.made.size(), 4u);
    EXPECT_EQ(unit(a)->current_overhead_text_index, 2);

    // 'ctrl' gives the same text.
    trigger_map_action(4);
    ASSERT_EQ(texts.made.size(), 5u);
    EXPECT_EQ(texts.made[4].monster_index, b);
    EXPECT_EQ(texts.made[4].string_index, 1);
    EXPECT_EQ(unit(b)->current_overhead_text_index, 4);
}

// Without the interface no text exists and the units keep NONE; the
// simulated state is untouched.
TEST_F(world_knot_test, unit_indicators_without_the_interface_leave_units_without_text)
{
    start();
    store_string_list("labl", {"guard"});
    const int32_t a = unit_at(1, {4000, 4000});
    unit(a)->current_overhead_text_index = 5;
    test_action plain{10, four("uind")};
    plain.units(four("subj"), {1}).ints(four("otxt"), {four("labl")}, _parameter_field_name);
    ASSERT_TRUE(import_test_actions({plain}));
    uint32_t before = 0, after = 0;
    hash_monsters(&before);
    trigger_map_action(0);
    EXPECT_EQ(unit(a)->current_overhead_text_index, NONE);
    // The text index is local: the units' state hash does not see it.
    hash_monsters(&after);
    EXPECT_EQ(before, after);
}

// ---- units inside a radius and the 'subj' rewrite ------------------------------------------

TEST_F(world_knot_test, units_inside_a_radius_are_strictly_inside_visible_and_at_most_32)
{
    start();
    const int32_t edge = unit_at(1, {5000, 4000}); // exactly at the radius
    unit_at(2, {4999, 4000});
    const int32_t hidden = unit_at(3, {4000, 4000});
    unit_at(4, {4750, 4750}); // inside the square, outside the circle (d² = 1125000)
    get_object(unit(hidden)->object_index)->flags |= _object_is_invisible_flag;
    int16_t found[MAXIMUM_MONSTERS_PER_WORLD_KNOT];
    ASSERT_EQ(get_monster_identifiers_inside_radius({4000, 4000}, 1000, found), 1);
    EXPECT_EQ(found[0], 2);
    EXPECT_EQ(get_monster_identifiers_inside_radius({4000, 4000}, 0, found), 0);
    (void)edge;

    for (int16_t i = 0; i < 40; i++) soldier(0, {10000 + i * 10, 10000}, (int16_t)(100 + i));
    EXPECT_EQ(get_monster_identifiers_inside_radius({10200, 10000}, 1000, found), MAXIMUM_MONSTERS_PER_WORLD_KNOT);
    EXPECT_EQ(found[0], 100);
    EXPECT_EQ(found[31], 131);
}

TEST_F(world_knot_test, add_objects_to_parameter_replaces_every_own_subj_entry_and_keeps_the_rest)
{
    start();
    test_action wave{10, four("wcon")};
    wave.units(four("subj"), {1, 2}).ints(four("subj"), {5}).units(four("subj"), {3}).ints(four("dura"), {9});
    ASSERT_TRUE(import_test_actions({wave}));
    const int16_t ids[] = {7, 8, 9};
    EXPECT_EQ(add_objects_to_parameter(0, four("subj"), _parameter_monster_identifier, ids, 3), 3);
    EXPECT_EQ(values_of<int16_t>(0, four("subj"), _parameter_monster_identifier), std::vector<int16_t>({7, 8, 9}));
    EXPECT_EQ(values_of<int32_t>(0, four("subj"), _parameter_integer), std::vector<int32_t>({5}));
    EXPECT_EQ(own_integer_of(0, "dura", NONE), 9);
    EXPECT_EQ(get_map_action(0)->parameter_count, 3);
    EXPECT_EQ(add_objects_to_parameter(0, four("subj"), _parameter_monster_identifier, ids, 0), 0);
    EXPECT_TRUE(values_of<int16_t>(0, four("subj"), _parameter_monster_identifier).empty());
}

// ---- world knots -----------------------------------------------------------------------------

// Knot A (around 4000, 4000) and knot B (around 12000, 4000) are partners.
// Units 1 and 2 stand in A, B is empty: A's wave carries them to B, B's empty
// wave goes to A.  B brings them in only once its radius is clear; they land
// around B's centre, and the wave's activation action is activated.
TEST_F(world_knot_test, two_knots_swap_their_units_and_the_receiver_waits_for_a_clear_radius)
{
    start();
    model_at(40, {4000, 4000});
    model_at(41, {12000, 4000});
    const int32_t one = unit_at(1, {3900, 4000}), two = unit_at(2, {4300, 4100});

    test_action a{20, four("knot")};
    shorts(a, "mode", _parameter_model_identifier, {40});
    a.ids(four("next"), {21}).ids(four("wave"), {30}).ids(four("acow"), {40}).fixeds(four("dura"), {65536});
    point(a, "cent", {4000, 4000}).ints(four("radi"), {1000}, _parameter_world_distance);
    test_action b{21, four("knot")};
    shorts(b, "mode", _parameter_model_identifier, {41});
    b.ids(four("next"), {20}).ids(four("wave"), {31}).fixeds(four("dura"), {65536});
    point(b, "cent", {12000, 4000}).ints(four("radi"), {1000}, _parameter_world_distance);
    test_action wave_a{30, four("wcon")}, wave_b{31, four("wcon")};
    test_action arrived{40, four("wcon")};
    ASSERT_TRUE(import_test_actions({a, b, wave_a, wave_b, arrived}));
    const int32_t A = 0, B = 1;

    // B first: its partner is not set up yet, so it only sets itself up.
    EXPECT_EQ(trigger_map_action(B), _map_action_proc_executed_flag);
    EXPECT_EQ(knot(B).state, _state_idle);
    EXPECT_EQ(knot(B).free_wave_container_count, 1);
    EXPECT_TRUE(knot(B).teleporting_out);

    // A swaps: both knots teleport out, A's units hide.
    game_->game_time = 10;
    trigger_map_action(A);
    EXPECT_EQ(knot(A).state, _state_teleporting_out);
    EXPECT_EQ(knot(B).state, _state_teleporting_out);
    EXPECT_EQ(values_of<int16_t>(2, four("subj"), _parameter_monster_identifier), std::vector<int16_t>({1, 2}));
    EXPECT_TRUE(values_of<int16_t>(3, four("subj"), _parameter_monster_identifier).empty());
    EXPECT_FALSE(visible(one));
    EXPECT_FALSE(visible(two));
    const model_effect_data *effect = get_model_effect(get_model_effect_index(model_identifier_to_model_index(40)));
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->new_permutation, 4);
    EXPECT_EQ(effect->duration, 30);

    // The duration (30 ticks) must be exceeded.
    game_->game_time = 40;
    trigger_map_action(A);
    EXPECT_EQ(knot(A).state, _state_teleporting_out);
    game_->game_time = 41;
    trigger_map_action(A);
    trigger_map_action(B);
    EXPECT_EQ(knot(A).state, _state_idle);
    EXPECT_FALSE(knot(A).teleporting_out);
    EXPECT_EQ(knot(B).wave_container_count, 1);
    EXPECT_EQ(knot(B).waves[0].container_index, 2);
    EXPECT_EQ(knot(A).wave_container_count, 1);
    EXPECT_EQ(knot(A).waves[0].container_index, 3);
    // A's wave left: its activation action is active.
    EXPECT_TRUE(get_map_action(4)->flags & _map_action_is_active_flag);

    // B's radius is not clear: nothing comes in.
    const int32_t blocker = unit_at(3, {12100, 4000});
    game_->game_time = 42;
    trigger_map_action(B);
    EXPECT_EQ(knot(B).state, _state_idle);
    EXPECT_FALSE(visible(one));

    get_object(unit(blocker)->object_index)->flags |= _object_is_invisible_flag;
    trigger_map_action(B);
    EXPECT_EQ(knot(B).state, _state_teleporting_in);
    EXPECT_TRUE(visible(one));
    EXPECT_TRUE(visible(two));
    // The wave's mean centre (4100, 4050) moves onto B's centre.
    EXPECT_EQ(at(one).x, 11800);
    EXPECT_EQ(at(one).y, 3950);
    EXPECT_EQ(at(two).x, 12200);
    EXPECT_EQ(at(two).y, 4050);

    // Once in, the wave is free again and B sends the next time.
    game_->game_time = 73;
    trigger_map_action(B);
    EXPECT_EQ(knot(B).state, _state_idle);
    EXPECT_EQ(knot(B).wave_container_count, 0);
    EXPECT_EQ(knot(B).free_wave_container_count, 1);
    EXPECT_TRUE(knot(B).teleporting_out);
}

// A swap with nobody at either end does nothing; a partner that is no knot is skipped.
TEST_F(world_knot_test, a_swap_needs_units_and_a_partner_that_is_a_set_up_knot)
{
    start();
    model_at(40, {4000, 4000});
    model_at(41, {12000, 4000});
    test_action a{20, four("knot")};
    shorts(a, "mode", _parameter_model_identifier, {40});
    a.ids(four("next"), {21}).ids(four("wave"), {30}).fixeds(four("dura"), {65536});
    test_action b{21, four("knot")};
    shorts(b, "mode", _parameter_model_identifier, {41});
    b.ids(four("next"), {20}).ids(four("wave"), {30}).fixeds(four("dura"), {65536});
    test_action c{22, four("knot")};
    shorts(c, "mode", _parameter_model_identifier, {40});
    c.ids(four("next"), {30}).ids(four("wave"), {30}).fixeds(four("dura"), {65536});
    test_action wave{30, four("wcon")};
    ASSERT_TRUE(import_test_actions({a, b, c, wave}));

    trigger_map_action(1);
    trigger_map_action(0);
    EXPECT_EQ(knot(0).state, _state_idle);
    EXPECT_EQ(knot(1).state, _state_idle);
    EXPECT_EQ(knot(0).free_wave_container_count, 1);

    // The wave container is no knot: C only sets itself up.
    unit_at(1, {4000, 4000});
    trigger_map_action(2);
    EXPECT_EQ(knot(2).state, _state_idle);
    EXPECT_EQ(knot(2).free_wave_container_count, 1);
}

// A receiving knot: 17 waves are capped at 16 (logged), each brought in when
// clear; a wave without units is reported and moves nobody; after the last
// wave the knot succeeds and deactivates.
TEST_F(world_knot_test, a_receiving_knot_caps_its_waves_and_succeeds_after_the_last)
{
    start();
    model_at(40, {4000, 4000});
    model_at(41, {5000, 4000});
    std::vector<int16_t> waves;
    for (int16_t i = 0; i < 17; i++) waves.push_back((int16_t)(30 + (i == 0 ? 0 : 1)));
    test_action k{20, four("knot")};
    shorts(k, "mode", _parameter_model_identifier, {40, 41, 41, 41, 41, 41});
    k.ids(four("wave"), waves).fixeds(four("dura"), {0}).flag(four("knce"));
    test_action first{30, four("wcon")};
    first.units(four("subj"), {5});
    test_action empty{31, four("wcon")};
    ASSERT_TRUE(import_test_actions({k, first, empty}));
    const int32_t five = unit_at(5, {20000, 20000});
    make_monster_invisible(5, _monster_visibility_mode_none);

    trigger_map_action(0);
    world_knot_globals globals = knot(0);
    EXPECT_EQ(globals.model_count, MAXIMUM_MODELS_PER_WORLD_KNOT);
    EXPECT_EQ(globals.free_wave_container_count, 0);
    // The bounding box of the model centres: centre 4500, radius 500.
    EXPECT_EQ(globals.center.x, 4500);
    EXPECT_EQ(globals.radius, 500);
    // The first wave started in at once: the unit is at the centre.
    EXPECT_EQ(globals.state, _state_teleporting_in);
    EXPECT_EQ(globals.wave_container_count, MAXIMUM_WAVES_PER_KNOT);
    EXPECT_TRUE(visible(five));
    EXPECT_EQ(at(five).x, globals.center.x);

    // The unit stands in the radius: the next wave waits.
    game_->game_time = 1;
    trigger_map_action(0);
    EXPECT_EQ(knot(0).state, _state_idle);
    EXPECT_EQ(knot(0).wave_container_count, 15);
    trigger_map_action(0);
    EXPECT_EQ(knot(0).state, _state_idle);
    make_monster_invisible(5, _monster_visibility_mode_none);

    uint32_t result = 0;
    for (int32_t tick = 2; tick < 100 && result != FINISHED; tick++)
    {
        game_->game_time = tick;
        result = trigger_map_action(0);
    }
    EXPECT_EQ(result, FINISHED);
    EXPECT_EQ(knot(0).wave_container_count, 0);
    EXPECT_EQ(knot(0).free_wave_container_count, MAXIMUM_WAVES_PER_KNOT);
}

// Set-up errors end the action and store nothing.
TEST_F(world_knot_test, a_knot_without_models_waves_or_duration_is_refused)
{
    start();
    model_at(40, {4000, 4000});
    test_action no_models{20, four("knot")};
    no_models.ids(four("wave"), {30}).fixeds(four("dura"), {65536});
    test_action no_waves{21, four("knot")};
    shorts(no_waves, "mode", _parameter_model_identifier, {40});
    no_waves.fixeds(four("dura"), {65536});
    test_action no_duration{22, four("knot")};
    shorts(no_duration, "mode", _parameter_model_identifier, {40});
    no_duration.ids(four("wave"), {30});
    test_action wave{30, four("wcon")};
    ASSERT_TRUE(import_test_actions({no_models, no_waves, no_duration, wave}));
    for (int32_t i = 0; i < 3; i++)
    {
        EXPECT_EQ(trigger_map_action(i), DEACTIVATED) << i;
        world_knot_globals globals;
        EXPECT_FALSE(get_map_action_structure(i, _common_internal_field_name_globals, sizeof(globals), &globals));
    }
}

// A sender whose partner's incoming queue is full keeps its wave in its own
// free queue; nothing is lost.
TEST_F(world_knot_test, a_wave_refused_by_a_full_partner_queue_returns_to_the_free_queue)
{
    start();
    model_at(40, {4000, 4000});
    model_at(41, {12000, 4000});
    unit_at(1, {4000, 4000});
    test_action a{20, four("knot")};
    shorts(a, "mode", _parameter_model_identifier, {40});
    a.ids(four("next"), {21}).ids(four("wave"), {30}).fixeds(four("dura"), {0}).ints(four("radi"), {500}, _parameter_world_distance);
    test_action b{21, four("knot")};
    shorts(b, "mode", _parameter_model_identifier, {41});
    b.ids(four("next"), {20}).ids(four("wave"), {31}).fixeds(four("dura"), {0}).ints(four("radi"), {500}, _parameter_world_distance);
    test_action wave_a{30, four("wcon")}, wave_b{31, four("wcon")};
    ASSERT_TRUE(import_test_actions({a, b, wave_a, wave_b}));
    trigger_map_action(1);
    trigger_map_action(0);
    ASSERT_EQ(knot(0).state, _state_teleporting_out);

    world_knot_globals remote = knot(1);
    for (int32_t i = remote.wave_container_count; i < MAXIMUM_WAVES_PER_KNOT; i++) remote.waves[i] = {3, NONE, NONE};
    remote.wave_container_count = MAXIMUM_WAVES_PER_KNOT;
    store(remote);
    game_->game_time = 1;
    trigger_map_action(0);
    EXPECT_EQ(knot(0).state, _state_idle);
    EXPECT_EQ(knot(0).wave_container_count, 0);
    EXPECT_EQ(knot(0).free_wave_container_count, 1);
    EXPECT_EQ(knot(0).free_waves[0].container_index, 2);
    EXPECT_EQ(knot(1).wave_container_count, MAXIMUM_WAVES_PER_KNOT);
}

// A damaged stored record: counts beyond the arrays are held inside them and
// the record kept; a state the knot has no step for makes the record count
// as missing, so the knot sets itself up anew instead of asserting each run.
TEST_F(world_knot_test, a_damaged_record_never_reads_past_its_queues)
{
    start();
    model_at(40, {4000, 4000});
    test_action k{20, four("knot")};
    shorts(k, "mode", _parameter_model_identifier, {40});
    k.ids(four("wave"), {30}).fixeds(four("dura"), {65536});
    test_action wave{30, four("wcon")};
    ASSERT_TRUE(import_test_actions({k, wave}));
    unit_at(1, {4000, 4000});
    trigger_map_action(0);
    const world_knot_globals fresh = knot(0);
    world_knot_globals globals = fresh;
    globals.wave_container_count = 300;
    globals.free_wave_container_count = -4;
    globals.model_count = 99;
    store(globals);
    trigger_map_action(0);
    EXPECT_EQ(knot(0).wave_container_count, MAXIMUM_WAVES_PER_KNOT);
    EXPECT_EQ(knot(0).free_wave_container_count, 0);
    EXPECT_EQ(knot(0).model_count, MAXIMUM_MODELS_PER_WORLD_KNOT);

    for (const int16_t state : {(int16_t)3, (int16_t)7, (int16_t)-1})
    {
        SCOPED_TRACE(state);
        globals = knot(0);
        globals.state = state;
        globals.model_count = 5;
        store(globals);
        trigger_map_action(0);
        const world_knot_globals repaired = knot(0);
        EXPECT_EQ(repaired.state, fresh.state);
        EXPECT_EQ(repaired.model_count, fresh.model_count);
        EXPECT_EQ(repaired.center.x, fresh.center.x);
        EXPECT_EQ(repaired.radius, fresh.radius);
    }
}

} // namespace

} // namespace world_knot_action_procs_test_file
