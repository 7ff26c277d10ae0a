// Inventory and artifacts: the pick-up limits (nine held objects, a
// definition asking for twelve, ammunition at its maximum), charges and their
// left-over from version 1806, the count that drops only for a listed entry,
// the last held object kept for one call, drops by held slot, an overriding
// artifact and its undoing, the effect-modifier version table and the
// majority rule of group order sounds.

#include "monster_inventory_world.h"

#include "support/expected_assertions.h"

namespace monster_inventory_test_file {

using namespace inventory_world;

namespace {

class monster_inventory_test : public world
{
};

TEST_F(monster_inventory_test, nine_held_objects_are_the_limit_but_ammunition_and_charges_still_fit)
{
    definition()->flags |= _monster_carries_multiple_artifacts_flag;
    definition()->maximum_artifacts_carried = 12; // more than the record holds
    const int16_t ammunition = add_projectile();
    definition()->ammunition_projectile_type = ammunition;
    definition()->maximum_ammunition_count = 5;
    const int16_t charger = add_projectile();
    const int16_t charged_artifact = add_artifact(_artifact_projectile_pickup_adds_charges_flag, 5);
    get_artifact_definition(charged_artifact)->projectile_types[0] = charger;
    const int16_t staff = add_projectile(0, charged_artifact);
    const int16_t relic = add_projectile(0, add_artifact(0));
    const int32_t u = make_unit(0, {2000, 2000, 0});
    ASSERT_EQ(monster(u)->maximum_artifacts_carried, MAXIMUM_ARTIFACTS_PER_MONSTER);

    for (int32_t i = 0; i < 9; ++i)
    {
        const int32_t object = make_dormant(i == 8 ? staff : relic);
        EXPECT_EQ(give_object_to_monster(u, object),
                  _monster_could_pick_up_object_flag | _monster_could_pick_up_additional_flag);
        EXPECT_TRUE(get_object(object)->flags & _object_is_invisible_flag);
    }
    EXPECT_EQ(monster(u)->held_object_count, 9);
    EXPECT_EQ(monster(u)->artifact_index, charged_artifact);
    EXPECT_EQ(get_object(monster(u)->carrying_object_index)->state, 0) << "unset charges start at the initial count";

    EXPECT_EQ(could_pick_up(u, make_dormant(relic)), 0u) << "a tenth artifact";
    EXPECT_EQ(could_pick_up(u, make_dormant(ammunition)),
              _monster_could_pick_up_object_flag | _monster_could_pick_up_ammunition_flag);
    const int32_t charge = make_dormant(charger);
    EXPECT_EQ(could_pick_up(u, charge), _monster_could_pick_up_object_flag | _monster_could_pick_up_artifact_charge_flag);
    EXPECT_TRUE(give_object_to_monster(u, charge));
    EXPECT_EQ(get_object(monster(u)->carrying_object_index)->state, 1);
    EXPECT_EQ(get_object(charge), nullptr);
    EXPECT_EQ(monster(u)->held_object_count, 9);
}

TEST_F(monster_inventory_test, a_full_ammunition_pouch_still_takes_the_object_as_an_artifact)
{
    const int16_t bolt = add_projectile(0, add_artifact(0));
    definition()->ammunition_projectile_type = bolt;
    definition()->maximum_ammunition_count = 3;
    const int32_t u = make_unit(0, {2000, 2000, 0});
    monster(u)->ammunition_count = 2;
    const int32_t first = make_dormant(bolt);
    EXPECT_EQ(give_object_to_monster(u, first),
              _monster_could_pick_up_object_flag | _monster_could_pick_up_ammunition_flag);
    EXPECT_EQ(monster(u)->ammunition_count, 3);
    EXPECT_EQ(get_object(first), nullptr);
    const int32_t second = make_dormant(bolt);
    EXPECT_EQ(give_object_to_monster(u, second), _monster_could_pick_up_object_flag);
    EXPECT_EQ(monster(u)->carrying_object_index, second);
    // Full hands without an inventory: nothing more.
    EXPECT_EQ(could_pick_up(u, make_dormant(bolt)), 0u);
    // Invisible, flag and stale objects.
    const int32_t hidden = make_dormant(bolt);
    get_object(hidden)->flags |= _object_is_invisible_flag;
    monster(u)->ammunition_count = 0;
    EXPECT_EQ(could_pick_up(u, hidden), 0u);
    const int32_t flag = make_dormant(bolt);
    get_object(flag)->flags |= _object_is_flag_flag;
    EXPECT_EQ(could_pick_up(u, flag), _monster_could_pick_up_object_flag | _monster_could_pick_up_flag_flag);
    EXPECT_EQ(monster_could_pick_up_object(u, flag, (int16_t)(get_object(flag)->identifier + 1)), 0u);
}

TEST_F(monster_inventory_test, charges_beyond_the_maximum_stay_in_the_picked_object_from_1806)
{
    for (const int32_t version : {1805, 1806})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        const int16_t wand_artifact = add_artifact(_artifact_projectile_pickup_adds_charges_flag, 5);
        const int16_t wand = add_projectile(0, wand_artifact);
        get_artifact_definition(wand_artifact)->projectile_types[0] = wand;
        definition()->flags |= _monster_carries_multiple_artifacts_flag;
        definition()->maximum_artifacts_carried = 3;
        const int32_t u = make_unit(0, {2000, 2000, 0});
        const int32_t held = make_dormant(wand);
        get_object(held)->state = 2;
        ASSERT_TRUE(give_object_to_monster(u, held));
        const int32_t picked = make_dormant(wand);
        get_object(picked)->state = 5;
        EXPECT_EQ(give_object_to_monster(u, picked),
                  _monster_could_pick_up_object_flag | _monster_could_pick_up_artifact_charge_flag);
        EXPECT_EQ(get_object(held)->state, 5);
        if (version == 1805)
            EXPECT_EQ(get_object(picked), nullptr);
        else
        {
            ASSERT_NE(get_object(picked), nullptr);
            EXPECT_EQ(get_object(picked)->state, 2);
            EXPECT_EQ(monster(u)->held_object_count, 2) << "it joins the inventory";
        }
    }
}

TEST_F(monster_inventory_test, an_object_wielded_outside_a_full_list_never_lowers_the_count)
{
    const int16_t relic = add_projectile(0, add_artifact(0));
    definition()->flags |= _monster_carries_multiple_artifacts_flag;
    definition()->maximum_artifacts_carried = 2;
    for (const int32_t version : {1510, 1511})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        const int32_t u = make_unit(0, {2000, 2000, 0});
        ASSERT_TRUE(give_object_to_monster(u, make_dormant(relic)));
        ASSERT_TRUE(give_object_to_monster(u, make_dormant(relic)));
        monster(u)->carrying_object_index = NONE; // empty hands, full inventory
        const int32_t extra = make_dormant(relic);
        if (version == 1511)
        {
            EXPECT_EQ(could_pick_up(u, extra), 0u);
            continue;
        }
        ASSERT_EQ(give_object_to_monster(u, extra), _monster_could_pick_up_object_flag);
        EXPECT_EQ(monster(u)->carrying_object_index, extra);
        EXPECT_EQ(monster(u)->held_object_count, 2);
        delete_monster_carried_object_monsters(u);
        EXPECT_EQ(get_object(extra), nullptr);
        EXPECT_EQ(monster(u)->carrying_object_index, NONE);
        EXPECT_EQ(monster(u)->held_object_count, 2) << "the two listed objects are still held";
    }
}

TEST_F(monster_inventory_test, expiry_moves_to_the_next_held_object_and_the_last_one_goes_a_call_later)
{
    const int16_t relic = add_projectile(0, add_artifact(0));
    definition()->flags |= _monster_carries_multiple_artifacts_flag;
    definition()->maximum_artifacts_carried = 3;
    for (const int32_t version : {1599, 1600})
    {
        SCOPED_TRACE(version);
        current_gameplay_version = version;
        const int32_t u = make_unit(0, {2000, 2000, 0});
        const int32_t a = make_dormant(relic), b = make_dormant(relic);
        give_object_to_monster(u, a);
        give_object_to_monster(u, b);
        monster(u)->carrying_object_index = (int16_t)a;
        delete_monster_carried_object_monsters(u);
        EXPECT_EQ(get_object(a), nullptr);
        EXPECT_EQ(monster(u)->carrying_object_index, b) << "the entry that moved into its place";
        EXPECT_EQ(monster(u)->held_object_count, 1);
        delete_monster_carried_object_monsters(u);
        EXPECT_EQ(monster(u)->held_object_count, 0);
        if (version == 1600)
        {
            EXPECT_EQ(monster(u)->carrying_object_index, b) << "kept for this call";
            delete_monster_carried_object_monsters(u);
        }
        EXPECT_EQ(get_object(b), nullptr);
        EXPECT_EQ(monster(u)->carrying_object_index, NONE);
        EXPECT_EQ(monster(u)->artifact_index, NONE);
    }
}

TEST_F(monster_inventory_test, a_drop_names_a_held_slot_of_the_unit_or_does_nothing)
{
    const int16_t relic = add_projectile(0, add_artifact(0));
    const int16_t cursed = add_projectile(0, add_artifact(_artifact_cannot_be_discarded_flag));
    definition()->flags |= _monster_carries_multiple_artifacts_flag;
    definition()->maximum_artifacts_carried = 3;
    const int32_t u = make_unit(0, {2000, 2000, 0});
    const int32_t a = make_dormant(relic), b = make_dormant(cursed);
    give_object_to_monster(u, a);
    give_object_to_monster(u, b);
    for (const int32_t slot : {-1, 2, 9, 400}) EXPECT_FALSE(monster_command_drop_projectile(monster(u), u, slot));
    EXPECT_FALSE(monster_command_drop_projectile(monster(u), u + 1, 0)) << "another unit's record";
    EXPECT_FALSE(monster_command_drop_projectile(monster(u), u, 1)) << "cannot be discarded";
    EXPECT_EQ(monster(u)->held_object_count, 2);
    ASSERT_TRUE(monster_command_drop_projectile(monster(u), u, 0));
    EXPECT_EQ(monster(u)->held_object_count, 1);
    EXPECT_EQ(monster(u)->held_object_indexes[0], b);
    EXPECT_FALSE(get_object(a)->flags & _object_is_invisible_flag);
    EXPECT_EQ(get_object(a)->location.position.x, 2000);
    EXPECT_EQ(monster(u)->carrying_object_index, b);
}

TEST_F(monster_inventory_test, an_overriding_artifact_changes_the_unit_and_dropping_it_undoes_that)
{
    int16_t giant_unit = NONE, slow_unit = NONE;
    const int16_t giant = add_monster_type(&giant_unit);
    const int16_t slow = add_monster_type(&slow_unit);
    get_monster_definition(giant)->base_movement_speed = 90;
    get_monster_definition(giant)->maximum_mana = 100;
    get_monster_definition(slow)->base_movement_speed = 40;
    get_monster_definition(slow)->maximum_mana = 1000;
    definition()->base_movement_speed = 200;
    definition()->maximum_mana = 500;
    definition()->flags |= _monster_carries_multiple_artifacts_flag;
    definition()->maximum_artifacts_carried = 3;
    const int16_t crown_artifact = add_artifact(_artifact_overrides_owner_monster_flag);
    get_artifact_definition(crown_artifact)->monster_override_type = giant_unit;
    const int16_t anchor_artifact =
        add_artifact(_artifact_overrides_owner_monster_flag | _artifact_always_slow_when_held_flag);
    get_artifact_definition(anchor_artifact)->monster_override_type = slow_unit;
    const int16_t crown = add_projectile(0, crown_artifact), anchor = add_projectile(0, anchor_artifact);

    const int32_t u = make_unit(0, {2000, 2000, 0});
    monster(u)->mana = 500;
    const int32_t a = make_dormant(anchor), c = make_dormant(crown);
    give_object_to_monster(u, a);
    monster(u)->carrying_object_index = NONE;
    switch_monster_artifact(u);
    EXPECT_EQ(monster(u)->type, monster_type);
    give_object_to_monster(u, c);
    EXPECT_EQ(monster(u)->type, giant);
    EXPECT_EQ(monster(u)->mana, 100);
    EXPECT_EQ(monster(u)->base_movement_speed, 40) << "the held always-slow artifact sets the pace";
    EXPECT_EQ(monster(u)->artifact_index, crown_artifact);

    ASSERT_TRUE(monster_command_drop_projectile(monster(u), u, 1));
    EXPECT_EQ(monster(u)->type, monster_type);
    EXPECT_EQ(monster(u)->carrying_object_index, NONE);
    EXPECT_EQ(monster(u)->artifact_index, NONE);
}

TEST_F(monster_inventory_test, effect_modifiers_follow_the_version_table)
{
    // The unit's body type says 100, its definition's object type 200, the
    // artifact's bonus 300.
    const int16_t own_body = add_object_definition(20000, 100);
    definition()->object_type = add_object_definition(20000, 200);
    const int16_t artifact = add_artifact(0);
    for (auto &m : get_artifact_definition(artifact)->bonus_effect_modifiers) m = 300;
    const int32_t u = make_unit(0, {2000, 2000, 0});
    body(u)->type = own_body;
    monster(u)->carrying_object_index = (int16_t)make_dormant(add_projectile(0, artifact));

    struct row
    {
        int32_t version;
        uint32_t flags; // the artifact's; ~0u: no artifact
        int32_t expected;
    };
    const uint32_t overrides = _artifact_overrides_owner_monster_flag;
    const uint32_t declines = _artifact_does_not_override_monster_effect_modifiers_flag;
    for (const row r : {row{1600, 0, 300}, row{1600, declines, 300}, row{1601, declines, 200},
                        row{1720, overrides, 200}, row{1721, overrides, 300}, row{1800, declines, 200},
                        row{1801, declines, 100}, row{1800, ~0u, 200}, row{1801, ~0u, 100}})
    {
        SCOPED_TRACE(r.version * 10 + (int32_t)(r.flags == ~0u ? 9 : r.flags ? 1 : 0));
        current_gameplay_version = r.version;
        monster(u)->artifact_index = r.flags == ~0u ? (int16_t)NONE : artifact;
        if (r.flags != ~0u) get_artifact_definition(artifact)->flags = r.flags;
        EXPECT_EQ(get_monster_effect_modifier(u, _effect_modifier_magical), r.expected);
        EXPECT_EQ(get_monster_effect_modifier(u, _effect_modifier_paralysis), r.expected);
    }
}

TEST_F(monster_inventory_test, the_most_common_type_plays_the_group_order)
{
    int16_t knight_unit = NONE;
    const int16_t knight = add_monster_type(&knight_unit);
    set_sounds(knight, 200);
    const int16_t units[4] = {(int16_t)make_unit(0, {1000, 1000, 0}, knight, knight_unit),
                              (int16_t)make_unit(0, {2000, 1000, 0}), (int16_t)make_unit(0, {3000, 1000, 0}),
                              (int16_t)make_unit(0, {4000, 1000, 0})};
    play_monsters_sound(units, 4, 3); // a move order
    EXPECT_EQ(sounds_played, (std::vector<int16_t>{104, 104, 104})) << "three archers, the group move";
    sounds_played.clear();
    play_monsters_sound(units, 2, 3);
    EXPECT_EQ(sounds_played, (std::vector<int16_t>{203})) << "a tie goes to the first type to reach it";
    sounds_played.clear();
    {
        expected_assertions refused(1, "sound_type");
        play_monsters_sound(units, 4, 16);
    }
    EXPECT_TRUE(sounds_played.empty());
}

TEST_F(monster_inventory_test, magical_invisibility_is_set_and_cleared_whole)
{
    const int32_t u = make_unit(0, {2000, 2000, 0});
    set_monster_magical_invisibility(u, true);
    EXPECT_TRUE(monster(u)->extra_flags & _monster_is_invisible_extra_flag);
    EXPECT_TRUE(monster(u)->extra_flags & _monster_cannot_be_autotargeted_extra_flag);
    EXPECT_TRUE(body(u)->flags & _object_rendered_transparently_flag);
    body(u)->flags |= _object_is_not_rendered_flag;
    set_monster_magical_invisibility(u, false);
    EXPECT_FALSE(monster(u)->extra_flags & (_monster_is_invisible_extra_flag | _monster_does_not_autotarget_extra_flag |
                                            _monster_cannot_be_autotargeted_extra_flag));
    EXPECT_FALSE(body(u)->flags & (_object_rendered_transparently_flag | _object_has_no_shadow_flag |
                                   _object_is_not_rendered_flag));
}

} // namespace

} // namespace monster_inventory_test_file
