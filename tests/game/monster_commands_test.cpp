// Unit commands: the records on the wire, every verb from its builder through
// the outgoing ring, the stamping and the executor to the unit record, the
// same orders carried out at once for a map action, the unit-count limits of
// the gameplay versions, and commands a hostile peer or a damaged film could
// send: other players' units, repeats, too many units, values outside their
// tables.

#include "console_procedures.h"
#include "tag_files/store_fixture.h"

#include "support/expected_assertions.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "collection_references.h"
#include "commands.h"
#include "cseries/registration.h"
#include "formations.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "map_action_procedures.h"
#include "monster_actions.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_lists.h"
#include "monster_orders.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "support/unit_world_test.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_commands.h"
#include "unit_definitions.h"
#include "vesk_random.h"

namespace monster_commands_test_file {

namespace {

constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');

struct hooked
{
    std::vector<std::string> calls;
    std::vector<int32_t> succeeded;
};
hooked hooks;

void record_preset(int32_t index, int32_t count, const int16_t *)
{
    hooks.calls.push_back("preset " + std::to_string(index) + " " + std::to_string(count));
}
void record_chat(int32_t player, uint32_t flags, const char *text)
{
    hooks.calls.push_back("chat " + std::to_string(player) + " " + std::to_string(flags) + " " + text);
}
void record_success(int32_t identifier) { hooks.succeeded.push_back(identifier); }

class monster_commands_test : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;

    void SetUp() override
    {
        start_unit_store();
        ASSERT_NO_FATAL_FAILURE(start_units_world_for_teams({0, 1, 0}));
        current_gameplay_version = 1820;
        hooks = hooked();
        register_command_hooks();
        register_monster_command_hooks();
        register_preset_selection_procedure(record_preset);
        static const console_procedures console = {.chat_command = record_chat};
        register_console_procedures(&console);
        static const map_action_procedures scripts = {.map_action_succeeded = record_success};
        register_map_action_procedures(&scripts);
        ASSERT_TRUE(initialize_commands());
        ASSERT_TRUE(initialize_commands_for_new_map());
        initialize_formations_for_new_map();
        game_->game_time = 0;

        ASSERT_NO_FATAL_FAILURE(write_unit_tags());
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        dispose_commands_from_old_map();
        dispose_units_world();
        clear_all_registrations();
        store_test::TearDown();
    }

    int32_t make_unit(int16_t player, world_distance x, world_distance y)
    {
        const int32_t unit_type = try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
        const int32_t type =
            try_definition_tag_to_index(&monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'n', 's'), true, 0);
        const int32_t object_index = new_unit_object({x, y, 0});
        const int32_t monster_index = new_datum(get_monster_array());
        EXPECT_NE(monster_index, NONE);
        get_object(object_index)->owner_index = (int16_t)monster_index;
        const world_point2d location = {x, y};
        const int16_t team = get_player_data(player)->team_index;
        init_monster(monster_index, (int16_t)type, (int16_t)unit_type, object_index, player, team, 0, &location,
                     true);
        return monster_index;
    }
    monster_data *unit(int32_t index) { return get_monster_data(index); }

    // The local commands stamped for `tick` as the player, then the executor
    // at each tick up to it.
    void stamp_and_run(int32_t tick, int16_t player = 0)
    {
        queue_local_commands(tick, player);
        for (int32_t t = game_->game_time; t <= tick; ++t)
        {
            game_->game_time = t;
            execute_monster_commands();
        }
    }
    std::vector<uint8_t> take_outgoing(void)
    {
        command_header *command = dequeue_outgoing_command();
        if (!command) return {};
        return std::vector<uint8_t>((uint8_t *)command, (uint8_t *)command + command->size);
    }
};

// A unit record's order fields, for comparing a queued order with one carried out at once.
struct order_fields
{
    uint32_t flags, extra_flags;
    int32_t waypoint_count, target, pick_up;
    world_point2d waypoints[4], target_location;
    angle final_yaw;
    bool operator==(const order_fields &o) const { return memcmp(this, &o, sizeof(*this)) == 0; }
};
order_fields fields_of(const monster_data *m)
{
    order_fields f;
    memset(&f, 0, sizeof(f));
    f.flags = m->flags & ~(uint32_t)_monster_has_received_user_command_flag;
    f.extra_flags = m->extra_flags;
    f.waypoint_count = m->waypoint_count;
    f.target = m->target_monster_index;
    f.pick_up = m->pick_up_object_index;
    memcpy(f.waypoints, m->waypoints, sizeof(f.waypoints));
    f.target_location = m->target_location;
    f.final_yaw = m->final_desired_yaw;
    return f;
}

} // namespace

TEST_F(monster_commands_test, records_have_their_wire_size_and_a_movement_command_its_golden_bytes)
{
    const struct
    {
        const byte_swap_code *codes;
        int32_t size;
    } records[] = {
        {command_movement_data_byte_swapping_data, sizeof(command_movement_data)},
        {command_general_data_byte_swapping_data, sizeof(command_general_data)},
        {command_target_data_byte_swapping_data, sizeof(command_target_data)},
        {command_attack_location_data_byte_swapping_data, sizeof(command_attack_location_data)},
        {command_pick_up_data_byte_swapping_data, sizeof(command_pick_up_data)},
        {command_rename_data_byte_swapping_data, sizeof(command_rename_data)},
        {command_rotation_data_byte_swapping_data, sizeof(command_rotation_data)},
        {command_detach_data_byte_swapping_data, sizeof(command_detach_data)},
        {command_chat_data_byte_swapping_data, sizeof(command_chat_data)},
        {command_ally_data_byte_swapping_data, sizeof(command_ally_data)},
        {command_preset_selection_data_byte_swapping_data, sizeof(command_preset_selection_data)},
        {command_inventory_data_byte_swapping_data, sizeof(command_inventory_data)},
        {command_unit_identifier_byte_swapping_data, 2},
        {command_waypoint_byte_swapping_data, 8},
    };
    for (const auto &record : records) EXPECT_EQ(byte_swap_description_size(record.codes), record.size);

    const int32_t a = make_unit(0, 1000, 1000);
    const int16_t units[] = {(int16_t)a};
    const world_point2d waypoint = {0x01020304, 0x0A0B0C0D};
    const command_movement_data data = {_command_movement_final_facing_flag, 0, 0x4000, 0};
    ASSERT_TRUE(handle_movement_command(NONE, &data, 1, units, 1, &waypoint));
    const std::vector<uint8_t> bytes = take_outgoing();
    const int16_t identifier = unit(a)->identifier;
    const std::vector<uint8_t> golden = {
        0, 30, _command_movement, 0xFF, 0, 0, 0, 0, // header, host order while queued (little-endian here)
        0x00, 0x10, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, // flags, formation, facing, pad
        0x00, 0x01, (uint8_t)(identifier >> 8), (uint8_t)identifier, // one unit
        0x00, 0x01, 0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0x0D}; // one waypoint
    ASSERT_EQ(bytes.size(), golden.size());
    EXPECT_EQ(((const command_header *)bytes.data())->size, 30);
    EXPECT_TRUE(std::equal(bytes.begin() + 8, bytes.end(), golden.begin() + 8));
}

// Each verb: built with NONE it waits in the outgoing ring and changes the
// unit only at its stamped tick; built for a map action it changes the same
// fields at once, stores the identifier and queues nothing.
TEST_F(monster_commands_test, every_unit_verb_takes_effect_at_its_tick_or_at_once_for_a_map_action)
{
    new_object_data item;
    memset(&item, 0, sizeof(item));
    item.type = NONE;
    item.scale = 256;
    item.collection_index = NONE;
    item.location.position = {3000, 3000, 0};
    int32_t object = NONE; // made afresh for each case
    int16_t object_identifier = 0;

    struct verb_case
    {
        const char *name;
        std::function<bool(int16_t id, int16_t unit, int16_t enemy)> build;
        std::function<void(const monster_data *m, int16_t enemy)> check;
    };
    const std::vector<verb_case> cases = {
        {"movement with loop",
         [](int16_t id, int16_t u, int16_t) {
             const command_movement_data d = {_command_movement_loop_flag | _command_movement_final_facing_flag, 0,
                                              0x2000, 0};
             const world_point2d w[2] = {{1500, 1500}, {2500, 1500}};
             return handle_movement_command(id, &d, 1, &u, 2, w);
         },
         [](const monster_data *m, int16_t) {
             EXPECT_EQ(m->waypoint_count, 2);
             EXPECT_EQ(m->waypoints[1].x, 2500);
             EXPECT_TRUE(m->flags & _monster_has_looped_waypoints_flag);
             EXPECT_TRUE(m->flags & _monster_has_final_desired_yaw_flag);
             EXPECT_EQ(m->final_desired_yaw, 0x2000);
             EXPECT_TRUE(m->flags & _monster_needs_new_path_flag);
         }},
        {"target",
         [](int16_t id, int16_t u, int16_t e) {
             const command_target_data d = {_command_target_close_flag, 0};
             return handle_target_command(id, &d, 1, &u, 1, &e);
         },
         [](const monster_data *m, int16_t e) {
             EXPECT_EQ(m->target_monster_index, e);
             EXPECT_TRUE(m->flags & _monster_has_valid_target_index_flag);
             EXPECT_TRUE(m->flags & _monster_responding_to_target_command_flag);
             EXPECT_TRUE(m->flags & _monster_should_close_on_target_flag);
         }},
        {"attack location",
         [](int16_t id, int16_t u, int16_t) {
             const command_attack_location_data d = {_command_attack_location_special_ability_flag, 0,
                                                     {4000, 100, 7}};
             return handle_attack_location_command(id, &d, 1, &u);
         },
         [](const monster_data *m, int16_t) {
             EXPECT_EQ(m->target_location.x, 4000);
             EXPECT_EQ(m->target_location_height, 7);
             EXPECT_TRUE(m->flags & _monster_has_valid_target_location_flag);
             EXPECT_TRUE(m->flags & _monster_will_use_special_ability_flag);
         }},
        {"pick up",
         [&object, &object_identifier](int16_t id, int16_t u, int16_t) {
             const command_pick_up_data d = {0, 0, (int16_t)object, object_identifier};
             return handle_pick_up_command(id, &d, 1, &u);
         },
         [&object](const monster_data *m, int16_t) {
             EXPECT_EQ(m->pick_up_object_index, object);
             EXPECT_TRUE(m->flags & _monster_wants_to_pick_up_object_flag);
         }},
        {"stop",
         [](int16_t id, int16_t u, int16_t) {
             const command_general_data d = {0, _command_general_stop};
             return handle_general_command(id, &d, 1, &u);
         },
         [](const monster_data *m, int16_t) {
             EXPECT_TRUE(m->flags & _monster_needs_to_stop_flag);
             EXPECT_FALSE(m->flags & _monster_standing_ground_flag);
             EXPECT_EQ(m->waypoint_count, 0);
         }},
        {"stand ground",
         [](int16_t id, int16_t u, int16_t) {
             const command_general_data d = {0, _command_general_guard};
             return handle_general_command(id, &d, 1, &u);
         },
         [](const monster_data *m, int16_t) {
             EXPECT_TRUE(m->flags & _monster_needs_to_stop_flag);
             EXPECT_TRUE(m->flags & _monster_standing_ground_flag);
         }},
        {"retreat",
         [](int16_t id, int16_t u, int16_t) {
             const command_general_data d = {0, _command_general_retreat};
             return handle_general_command(id, &d, 1, &u);
         },
         [](const monster_data *m, int16_t) {
             EXPECT_EQ(m->waypoint_count, 1); // straight back from its facing (yaw 0): toward lower x
             EXPECT_EQ(m->waypoints[0].x, 2000 - MONSTER_RETREAT_DISTANCE);
         }},
        {"rotation",
         [](int16_t id, int16_t u, int16_t) {
             const command_rotation_data d = {0, (angle)(0x10000 - QUARTER_CIRCLE), {1000, 2000}};
             return handle_rotation_command(id, &d, 1, &u);
         },
         [](const monster_data *m, int16_t) {
             ASSERT_EQ(m->waypoint_count, 1); // (2000, 2000) a quarter turn about (1000, 2000)
             EXPECT_EQ(m->waypoints[0].x, 1000);
             EXPECT_EQ(m->waypoints[0].y, 3000);
             EXPECT_EQ(m->final_desired_yaw, QUARTER_CIRCLE);
         }},
        {"rename",
         [](int16_t id, int16_t u, int16_t) {
             const command_rename_data d = {0, 0};
             return handle_rename_command(id, &d, 1, &u, "a name longer than seventeen");
         },
         [](const monster_data *m, int16_t) { EXPECT_STREQ(m->name, "a name longer tha"); }},
    };

    for (const verb_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        initialize_monsters_for_new_map();
        initialize_objects_for_new_map();
        const int16_t queued = (int16_t)make_unit(0, 2000, 2000);
        const int16_t at_once = (int16_t)make_unit(0, 2000, 2000);
        const int16_t enemy = (int16_t)make_unit(1, 6000, 6000);
        object = new_object(&item);
        object_identifier = get_object(object)->identifier;
        game_->game_time = 0;
        const order_fields before = fields_of(unit(queued));
        ASSERT_TRUE(c.build(NONE, queued, enemy));
        EXPECT_TRUE(fields_of(unit(queued)) == before) << "a queued order waits for its tick";
        queue_local_commands(3, 0);
        for (int32_t t = 0; t < 3; ++t)
        {
            game_->game_time = t;
            execute_monster_commands();
        }
        EXPECT_TRUE(fields_of(unit(queued)) == before) << "nothing before tick 3";
        game_->game_time = 3;
        execute_monster_commands();
        c.check(unit(queued), enemy);
        EXPECT_TRUE(unit(queued)->flags & _monster_has_received_user_command_flag);
        const bool order = std::string(c.name) != "rename"; // a name is no order to carry out
        if (order) { EXPECT_EQ(unit(queued)->internal_command_identifier, NONE); }

        ASSERT_TRUE(c.build(7, at_once, enemy));
        EXPECT_EQ(dequeue_outgoing_command(), nullptr) << "an order of a map action is never queued";
        c.check(unit(at_once), enemy);
        if (order)
        {
            EXPECT_EQ(unit(at_once)->internal_command_identifier, 7);
            EXPECT_TRUE(fields_of(unit(at_once)) == fields_of(unit(queued)));
        }
        EXPECT_FALSE(unit(at_once)->flags & _monster_has_received_user_command_flag);
    }
}

TEST_F(monster_commands_test, verbs_reach_their_owners_decoded_and_checked)
{
    const int16_t mine = (int16_t)make_unit(0, 1000, 1000);
    const int16_t teammates = (int16_t)make_unit(2, 1200, 1000);
    const int16_t enemy = (int16_t)make_unit(1, 5000, 5000);
    const int16_t both[] = {mine, teammates, enemy};
    ASSERT_NE(customize_unit_definition_for_player(UNIT_TAG, 2), NONE); // player 2's copy of the unit type
    const command_detach_data detach = {0, 2};
    ASSERT_TRUE(handle_detach_command(NONE, &detach, 3, both));
    const command_inventory_data inventory = {4, 1};
    ASSERT_TRUE(handle_inventory_drop_command(NONE, &inventory, 3, both));
    const command_chat_data chat = {_command_chat_private_flag, 0};
    ASSERT_TRUE(queue_chat_command(&chat, "hello"));
    const int16_t identifiers[] = {unit(mine)->identifier};
    const command_preset_selection_data preset = {0, 3};
    ASSERT_TRUE(queue_preset_selection_command(&preset, 1, identifiers));
    const command_ally_data ally = {0, 0, 0, 1};
    ASSERT_TRUE(handle_ally_command(NONE, &ally));
    stamp_and_run(1, 0);
    // The enemy unit is refused: player 0 may command its own and its
    // teammate's, which go to player 2 (the inventory drop finds nothing held).
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"chat 0 1 hello", "preset 3 1"}));
    EXPECT_EQ(unit(mine)->owner_player_index, 2);
    EXPECT_EQ(unit(teammates)->owner_player_index, 2);
    EXPECT_EQ(unit(enemy)->owner_player_index, 1);
    EXPECT_TRUE(teams_are_allied(0, 1));

    // A report of the current selection fills no preset: every machine
    // keeps it for the unit test's 'sele'.
    hooks.calls.clear();
    EXPECT_FALSE(selection_report_received());
    ASSERT_TRUE(queue_selection_report_command(1, identifiers));
    stamp_and_run(2, 0);
    EXPECT_TRUE(hooks.calls.empty());
    EXPECT_TRUE(selection_report_received());
    EXPECT_TRUE(monster_is_in_reported_selection(unit(mine)));
    EXPECT_FALSE(monster_is_in_reported_selection(unit(enemy)));

    // Another player's preset selection fills no preset here; an alliance
    // for a team the sender is not on is refused.
    hooks.calls.clear();
    ASSERT_TRUE(queue_preset_selection_command(&preset, 1, identifiers));
    const command_ally_data forged = {0, 0, 1, 0};
    ASSERT_TRUE(handle_ally_command(NONE, &forged));
    stamp_and_run(3, 2);
    EXPECT_TRUE(hooks.calls.empty());
    EXPECT_FALSE(teams_are_allied(1, 0));
}

TEST_F(monster_commands_test, a_command_for_units_the_player_may_not_command_changes_nothing)
{
    const int16_t enemy = (int16_t)make_unit(1, 5000, 5000);
    const int16_t stubborn = (int16_t)make_unit(0, 1000, 1000);
    unit(stubborn)->flags |= _monster_ignores_user_commands_flag;
    const order_fields enemy_before = fields_of(unit(enemy)), stubborn_before = fields_of(unit(stubborn));
    const int16_t units[] = {enemy, stubborn, stubborn};
    const command_general_data stop = {0, _command_general_stop};
    ASSERT_TRUE(handle_general_command(NONE, &stop, 3, units));
    stamp_and_run(1, 0);
    EXPECT_TRUE(fields_of(unit(enemy)) == enemy_before);
    EXPECT_TRUE(fields_of(unit(stubborn)) == stubborn_before);
    EXPECT_FALSE(unit(enemy)->flags & _monster_has_received_user_command_flag);

    // The same order from the enemy's owner stops it.
    ASSERT_TRUE(handle_general_command(NONE, &stop, 1, &enemy));
    stamp_and_run(2, 1);
    EXPECT_TRUE(unit(enemy)->flags & _monster_needs_to_stop_flag);
}

// Commands no builder makes: more units than the version allows, more
// waypoints than a unit holds, a formation or general type outside its table.
TEST_F(monster_commands_test, malformed_commands_are_skipped_without_touching_a_unit)
{
    const int16_t u = (int16_t)make_unit(0, 1000, 1000);
    const order_fields before = fields_of(unit(u));
    alignas(8) uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    auto send = [&](int16_t verb, const void *data, int16_t size, const byte_swap_code *codes, int16_t unit_count,
                    int16_t waypoint_count) {
        command_codec_state state;
        command_encode_new(&state, buffer, verb);
        command_encode_data(&state, size, data, codes);
        std::vector<int16_t> identifiers((size_t)unit_count, unit(u)->identifier);
        command_encode_array(&state, unit_count, 2, identifiers.data(), command_unit_identifier_byte_swapping_data);
        if (verb == _command_movement)
        {
            std::vector<world_point2d> points((size_t)waypoint_count, world_point2d{3000, 3000});
            command_encode_array(&state, waypoint_count, 8, points.data(), command_waypoint_byte_swapping_data);
        }
        state.header->time = game_->game_time;
        state.header->player_index = 0;
        ASSERT_TRUE(queue_incoming_command(state.header));
        execute_monster_commands();
    };
    const command_movement_data plain = {0, 0, 0, 0};
    send(_command_movement, &plain, 8, command_movement_data_byte_swapping_data, 127, 1);
    send(_command_movement, &plain, 8, command_movement_data_byte_swapping_data, 1, 5);
    const command_movement_data formation = {_command_movement_formation_flag, 10, 0, 0};
    send(_command_movement, &formation, 8, command_movement_data_byte_swapping_data, 1, 1);
    const command_general_data general = {0, 7};
    send(_command_general, &general, 4, command_general_data_byte_swapping_data, 1, 0);
    current_gameplay_version = 1300;
    send(_command_movement, &plain, 8, command_movement_data_byte_swapping_data, 31, 1);
    EXPECT_TRUE(fields_of(unit(u)) == before);

    // A repeated unit is ordered once: two waypoints, not an error.
    send(_command_movement, &plain, 8, command_movement_data_byte_swapping_data, 3, 2);
    EXPECT_EQ(unit(u)->waypoint_count, 2);
}

TEST_F(monster_commands_test, unit_lists_are_cut_to_30_before_version_1301_and_to_126_from_it)
{
    std::vector<int16_t> units;
    for (int32_t i = 0; i < 130; ++i) units.push_back((int16_t)make_unit(0, 500 + 40 * (i % 100), 500 + 40 * (i / 100)));
    const command_general_data stop = {0, _command_general_stop};
    for (const auto &row : {std::pair<int32_t, int32_t>{1300, 30}, {1301, 126}})
    {
        current_gameplay_version = row.first;
        ASSERT_TRUE(handle_general_command(NONE, &stop, 130, units.data()));
        std::vector<uint8_t> bytes = take_outgoing();
        ASSERT_GE(bytes.size(), 14u);
        EXPECT_EQ((bytes[12] << 8) | bytes[13], row.second) << row.first;
    }
    // Carried out at once, the cut list alone is ordered.
    current_gameplay_version = 1300;
    ASSERT_TRUE(handle_general_command(-2, &stop, 130, units.data()));
    EXPECT_TRUE(unit(units[29])->flags & _monster_needs_to_stop_flag);
    EXPECT_FALSE(unit(units[30])->flags & _monster_needs_to_stop_flag);
    EXPECT_EQ(unit(units[0])->internal_command_identifier, -2);
}

TEST_F(monster_commands_test, target_orders_pair_attackers_with_targets_or_all_take_the_closest)
{
    const int16_t a[] = {(int16_t)make_unit(0, 1000, 1000), (int16_t)make_unit(0, 1200, 1000),
                         (int16_t)make_unit(0, 1400, 1000)};
    const int16_t t[] = {(int16_t)make_unit(1, 7000, 7000), (int16_t)make_unit(1, 1300, 2000)};
    const command_target_data paired = {0, 0};
    ASSERT_TRUE(handle_target_command(5, &paired, 3, a, 2, t));
    EXPECT_EQ(unit(a[0])->target_monster_index, t[0]);
    EXPECT_EQ(unit(a[1])->target_monster_index, t[1]);
    EXPECT_EQ(unit(a[2])->target_monster_index, t[0]);
    const command_target_data closest = {_command_target_attack_closest_flag, 0};
    ASSERT_TRUE(handle_target_command(5, &closest, 3, a, 2, t));
    for (int16_t attacker : a) EXPECT_EQ(unit(attacker)->target_monster_index, t[1]);
    // Keeping an existing target.
    const command_target_data keep = {_command_target_dont_override_existing_target_flag, 0};
    ASSERT_TRUE(handle_target_command(5, &keep, 1, a, 1, t));
    EXPECT_EQ(unit(a[0])->target_monster_index, t[1]);
}

TEST_F(monster_commands_test, movement_in_formation_gives_each_unit_its_own_slot_at_every_waypoint)
{
    std::vector<int16_t> units;
    for (int32_t i = 0; i < 6; ++i) units.push_back((int16_t)make_unit(0, 1000 + 100 * i, 1000));
    const world_point2d w[2] = {{4000, 1000}, {4000, 5000}};
    const command_movement_data data = {_command_movement_formation_flag, _formation_long_line, 0, 0};
    std::vector<world_point2d> expected(12);
    build_movement_command_destinations(&data, 0, units.data(), 6, w, 2, expected.data());
    ASSERT_TRUE(handle_movement_command(NONE, &data, 6, units.data(), 2, w));
    stamp_and_run(1, 0);
    const int16_t formation = unit(units[0])->formation_identifier;
    for (int32_t i = 0; i < 6; ++i)
    {
        const monster_data *m = unit(units[i]);
        ASSERT_EQ(m->waypoint_count, 2);
        EXPECT_EQ(m->waypoints[0].x, expected[(size_t)i * 2].x);
        EXPECT_EQ(m->waypoints[1].y, expected[(size_t)i * 2 + 1].y);
        EXPECT_EQ(m->formation_identifier, formation);
        for (int32_t j = 0; j < i; ++j)
            EXPECT_FALSE(m->waypoints[0].x == unit(units[j])->waypoints[0].x &&
                         m->waypoints[0].y == unit(units[j])->waypoints[0].y);
    }
    // Walking east, a long line stands across the way: one x, six y.
    EXPECT_EQ(unit(units[0])->waypoints[0].x, 4000);
    EXPECT_EQ(unit(units[5])->waypoints[0].x, 4000);
}

// A player's points, formation slots too, and a retreat along the border keep
// inside the playable area from 1840; a script's go where it says, as all did
// before.
TEST_F(monster_commands_test, a_players_destinations_and_slots_keep_inside_the_playable_area_from_1840)
{
    std::vector<int16_t> units;
    for (int32_t i = 0; i < 6; ++i) units.push_back((int16_t)make_unit(0, 2000 + 100 * i, 2000));
    const world_distance width = mesh_width * WORLD_ONE, height = mesh_height * WORLD_ONE;
    const auto inside = [&](const world_point2d &p) {
        return std::min(p.x, p.y) >= PLAYABLE_AREA_INSET && p.x < width - PLAYABLE_AREA_INSET &&
               p.y < height - PLAYABLE_AREA_INSET;
    };
    const struct
    {
        int16_t player;
        int32_t version;
        bool kept;
    } rows[] = {{0, 1840, true}, {1, 1840, true}, {NONE, 1840, false}, {0, 1830, false}};
    const world_point2d corners[] = {{0, 0}, {width - 1, height - 1}, {-4000, height / 2}, {width / 2, height + 4000}};
    for (const auto &row : rows)
        for (const uint16_t formation : {(uint16_t)_command_movement_formation_flag, (uint16_t)0})
            for (const world_point2d &corner : corners)
            {
                SCOPED_TRACE(std::to_string(row.player) + " " + std::to_string(row.version) + " " +
                             std::to_string(formation) + " " + std::to_string(corner.x));
                current_gameplay_version = row.version;
                const command_movement_data data = {formation, _formation_long_line, 0, 0};
                const world_point2d waypoints[2] = {{width / 2, height / 2}, corner};
                world_point2d to[12];
                build_movement_command_destinations(&data, row.player, units.data(), 6, waypoints, 2, to);
                EXPECT_EQ(std::all_of(to, to + 12, inside), row.kept);
            }
    const int16_t edge = (int16_t)make_unit(0, PLAYABLE_AREA_INSET + 10, height / 2);
    const world_point2d threat = {PLAYABLE_AREA_INSET + 400, height / 2};
    for (const int32_t version : {1830, 1840})
    {
        current_gameplay_version = version;
        world_point2d retreat;
        ASSERT_TRUE(generate_point_of_retreat(edge, &threat, &retreat, nullptr));
        EXPECT_EQ(inside(retreat), version >= 1840) << version;
    }
}

TEST_F(monster_commands_test, scatter_draws_twice_per_unit_and_taunt_through_the_action_machine)
{
    std::vector<int16_t> units;
    for (int32_t i = 0; i < 4; ++i) units.push_back((int16_t)make_unit(0, 3000 + 200 * i, 3000));
    const command_general_data scatter = {0, _command_general_scatter};
    reset_random_draw_counts();
    ASSERT_TRUE(handle_general_command(-2, &scatter, 4, units.data()));
    EXPECT_EQ(get_vesk_random_draw_count(), 8u);
    for (int16_t u : units)
    {
        ASSERT_EQ(unit(u)->waypoint_count, 1);
        const world_point2d from = {get_object(unit(u)->object_index)->location.position.x, 3000};
        const world_distance d = distance2d(&from, &unit(u)->waypoints[0]);
        EXPECT_GE(d, 1020);
        EXPECT_LE(d, 2050);
    }
    const command_general_data taunt = {0, _command_general_taunt};
    ASSERT_TRUE(handle_general_command(-2, &taunt, 1, units.data()));
    EXPECT_EQ(unit(units[0])->action, _monster_action_taunting);
}

TEST_F(monster_commands_test, a_completed_order_reports_only_a_map_action_identifier)
{
    const int32_t u = make_unit(0, 1000, 1000);
    for (int16_t identifier : {(int16_t)NONE, (int16_t)-2, (int16_t)0, (int16_t)12})
    {
        unit(u)->flags |= _monster_responding_to_command_flag;
        unit(u)->internal_command_identifier = identifier;
        report_monster_order_completed(u);
    }
    unit(u)->flags &= ~(uint32_t)_monster_responding_to_command_flag;
    report_monster_order_completed(u);
    EXPECT_EQ(hooks.succeeded, (std::vector<int32_t>{0, 12}));
}

TEST_F(monster_commands_test, a_dropped_player_loses_its_unit_definitions_once)
{
    ASSERT_NE(customize_unit_definition_for_player(UNIT_TAG, 1), NONE);
    ASSERT_NE(find_unit_definition_for_player(1, UNIT_TAG), NONE);
    alignas(8) uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    command_codec_state state;
    command_encode_new(&state, buffer, _command_drop_player);
    state.header->player_index = 1;
    ASSERT_TRUE(queue_incoming_command(state.header));
    ASSERT_TRUE(queue_incoming_command(state.header));
    execute_monster_commands();
    EXPECT_TRUE(get_player_data(1)->flags & FLAG(_player_has_been_dropped_bit));
    EXPECT_EQ(find_unit_definition_for_player(1, UNIT_TAG), NONE);
}

TEST_F(monster_commands_test, a_long_unit_list_takes_each_unit_once_in_the_order_first_named)
{
    // Nine names (a list long enough to be resolved in one pass): repeats, a
    // unit that left the mesh and a dead unit's name are dropped; the rest
    // share the two targets in turn, in the order first named.
    int16_t own[6];
    for (int32_t i = 0; i < 6; ++i) own[i] = (int16_t)make_unit(0, 1000 + 100 * i, 1000);
    const int16_t gone = (int16_t)make_unit(0, 1700, 1000), dead = (int16_t)make_unit(0, 1800, 1000);
    const int16_t targets[] = {(int16_t)make_unit(1, 5000, 5000), (int16_t)make_unit(1, 5200, 5000)};
    const int16_t units[] = {own[2], own[0], gone, own[2], own[1], dead, own[0], own[3], own[4], own[5], own[1]};
    const command_target_data data = {0, 0};
    ASSERT_TRUE(handle_target_command(NONE, &data, NUMBER_OF(units), units, 2, targets));
    unit(gone)->flags |= _monster_has_left_the_mesh_flag;
    delete_datum(get_monster_array(), dead);
    stamp_and_run(1, 0);
    const int16_t expected[][2] = {{own[2], targets[0]}, {own[0], targets[1]}, {own[1], targets[0]},
                                   {own[3], targets[1]}, {own[4], targets[0]}, {own[5], targets[1]}};
    for (const auto &pair : expected)
        EXPECT_EQ(unit(pair[0])->target_monster_index, pair[1]) << "unit " << pair[0];
    EXPECT_EQ(unit(gone)->target_monster_index, NONE);
}

} // namespace monster_commands_test_file
