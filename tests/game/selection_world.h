#pragma once
// A small world for the selection's tests: 16 x 16 cells, two teams, six
// units of the local player and four of the other, and a synthetic last frame
// that puts the drawn units' sprites on screen in front of terrain covering
// the whole mesh (see synthetic_frame.h for the projection: one pixel is
// eight world units).  Actions are scripted records; orders are read back by
// decoding the outgoing command queue, and carried out by stamping them and
// running the executor, as a game frame would.
// Header-only: include it in a test file after the store fixture.

#include <memory>

#include "support/monster_test_world.h"

#include "commands.h"
#include "formations.h"
#include "game_hooks.h"
#include "monster_commands.h"
#include "selection.h"
#include "selection_orders.h"
#include "synthetic_frame.h"
#include "unit_commands.h"

class selection_world : public monster_test_world
{
protected:
    std::unique_ptr<synthetic_frame> frame;
    std::vector<int32_t> mine, theirs;
    int32_t now = 100; // the local time of the next scripted action

    void SetUp() override
    {
        monster_test_world::SetUp();
        start_world(16, 16);
        register_command_hooks();
        register_monster_command_hooks();
        ASSERT_TRUE(initialize_commands());
        ASSERT_TRUE(initialize_commands_for_new_map());
        initialize_formations_for_new_map();
        game_->game_time = 0;
        local_player_index = 0;
        local_player_team_index = 0;
        initialize_selection();
        initialize_selection_for_new_map();
        for (int32_t i = 0; i < 6; ++i) mine.push_back(unit_at(0, {3584 + 128 * i, 3584}));
        for (int32_t i = 0; i < 4; ++i) theirs.push_back(unit_at(1, {4608 + 128 * i, 4608}));
        std::vector<int32_t> all(mine);
        all.insert(all.end(), theirs.begin(), theirs.end());
        draw(all);
    }
    void TearDown() override
    {
        install_test_render_frame(nullptr, nullptr);
        set_selection_input_options_procedure_for_tests(nullptr);
        dispose_selection_from_old_map();
        dispose_commands_from_old_map();
        monster_test_world::TearDown();
    }

    // A new last frame: the units' sprites in the order given (nearest
    // first), then the terrain of the whole mesh behind them.
    void draw(const std::vector<int32_t> &units)
    {
        frame = std::make_unique<synthetic_frame>();
        for (int32_t u : units) frame->object_rectangle(unit(u)->object_index);
        frame->mesh_triangle({0, 0}, {16, 0}, {0, 16});
        frame->mesh_triangle({16, 0}, {16, 16}, {0, 16});
        frame->link_and_install();
    }
    int32_t unit_at(int16_t player, world_point2d at)
    {
        const int32_t u = make_unit(player, at);
        body(u)->radius = 32, body(u)->height0 = 0, body(u)->height1 = 96;
        return u;
    }
    // The middle of the unit's sprite.
    point2d screen_of(int32_t u)
    {
        return synthetic_frame::project(body(u)->location.position.x, body(u)->location.position.y + 48);
    }
    static point2d ground(world_distance x, world_distance y) { return synthetic_frame::project(x, y); }

    // ---- scripted actions ----------------------------------------------------------------

    action_data action(point2d at, std::initializer_list<int32_t> bits)
    {
        action_data a = {};
        a.time = now++;
        a.time_delta = 1;
        a.pointer = at;
        a.key_code = a.ascii_code = -1;
        set_action_flag(&a, _action_pointer_valid_bit);
        for (int32_t bit : bits) set_action_flag(&a, bit);
        return a;
    }
    bool send(action_data a) { return update_selection(&a); }
    void with(action_data *a, std::initializer_list<int32_t> bits)
    {
        for (int32_t bit : bits) set_action_flag(a, bit);
    }
    void press(point2d at, std::initializer_list<int32_t> modifiers = {})
    {
        action_data a = action(at, {_left_mouse_click_bit, _left_mouse_down_bit});
        with(&a, modifiers);
        send(a);
    }
    void drag(point2d at, std::initializer_list<int32_t> modifiers = {})
    {
        action_data a = action(at, {_left_mouse_down_bit});
        with(&a, modifiers);
        send(a);
    }
    void release(point2d at, std::initializer_list<int32_t> modifiers = {})
    {
        action_data a = action(at, {});
        with(&a, modifiers);
        send(a);
    }
    void click(point2d at, std::initializer_list<int32_t> modifiers = {})
    {
        press(at, modifiers);
        release(at, modifiers);
    }
    void key(int32_t bit, std::initializer_list<int32_t> modifiers = {})
    {
        action_data a = action({0, 0}, {bit});
        with(&a, modifiers);
        send(a);
    }
    // Quiet actions until the press is long forgotten (double-click window).
    void wait(int32_t ticks) { now += ticks; }

    // ---- the outgoing queue, decoded -----------------------------------------------------

    struct order
    {
        int verb = NONE;
        std::vector<uint8_t> bytes;
        uint16_t flags = 0; // the record's first field
        std::vector<int16_t> units; // identifiers
        std::vector<int16_t> targets; // identifiers (target orders)
        std::vector<world_point2d> waypoints; // movement orders

        int16_t field16(size_t offset) const { return (int16_t)(bytes[8 + offset] << 8 | bytes[8 + offset + 1]); }
        int32_t field32(size_t offset) const
        {
            return (int32_t)((uint32_t)bytes[8 + offset] << 24 | (uint32_t)bytes[8 + offset + 1] << 16 |
                             (uint32_t)bytes[8 + offset + 2] << 8 | bytes[8 + offset + 3]);
        }
    };
    static int16_t be16(const uint8_t *p) { return (int16_t)(p[0] << 8 | p[1]); }
    static int32_t be32(const uint8_t *p) { return (int32_t)((uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]); }
    static size_t record_size(int verb)
    {
        switch (verb)
        {
        case _command_movement: return sizeof(command_movement_data);
        case _command_target: return sizeof(command_target_data);
        case _command_attack_location: return sizeof(command_attack_location_data);
        case _command_pick_up: return sizeof(command_pick_up_data);
        case _command_rotation: return sizeof(command_rotation_data);
        case _command_detach: return sizeof(command_detach_data);
        case _command_ally: return sizeof(command_ally_data);
        case _command_preset_selection: return sizeof(command_preset_selection_data);
        default: return sizeof(command_general_data);
        }
    }
    // Every command waiting in the outgoing ring, decoded; removed unless
    // `keep` (then they wait to be stamped).
    std::vector<order> outgoing(bool keep = false)
    {
        std::vector<order> result;
        while (command_header *c = dequeue_outgoing_command())
        {
            order o;
            o.verb = c->verb;
            o.bytes.assign((uint8_t *)c, (uint8_t *)c + c->size);
            const uint8_t *p = o.bytes.data() + 8;
            const uint8_t *end = o.bytes.data() + o.bytes.size();
            o.flags = (uint16_t)be16(p);
            p += record_size(o.verb);
            auto identifiers = [&](std::vector<int16_t> *list) {
                if (p + 2 > end) return;
                const int16_t n = be16(p);
                p += 2;
                for (int16_t i = 0; i < n && p + 2 <= end; ++i, p += 2) list->push_back(be16(p));
            };
            if (o.verb != _command_ally && o.verb != _command_chat) identifiers(&o.units);
            if (o.verb == _command_target) identifiers(&o.targets);
            if (o.verb == _command_movement && p + 2 <= end)
            {
                const int16_t n = be16(p);
                p += 2;
                for (int16_t i = 0; i < n && p + 8 <= end; ++i, p += 8) o.waypoints.push_back({be32(p), be32(p + 4)});
            }
            EXPECT_EQ(p, end) << "verb " << o.verb << " decodes to its last byte";
            result.push_back(o);
        }
        for (size_t i = 0; keep && i < result.size(); ++i)
        {
            std::vector<uint8_t> copy = result[i].bytes;
            EXPECT_TRUE(queue_outgoing_command((const command_header *)copy.data()));
        }
        return result;
    }
    // The one command waiting, decoded; fails the test unless exactly one waits.
    order only_order(bool keep = false)
    {
        std::vector<order> orders = outgoing(keep);
        EXPECT_EQ(orders.size(), 1u);
        return orders.empty() ? order() : orders[0];
    }
    std::vector<int16_t> identifiers_of(std::initializer_list<int32_t> units)
    {
        std::vector<int16_t> result;
        for (int32_t u : units) result.push_back(unit(u)->identifier);
        return result;
    }
    std::vector<int32_t> selection(void)
    {
        std::vector<int32_t> result;
        for (int32_t i = 0; i < get_current_selection_count(); ++i) result.push_back(get_current_selection_index(i));
        return result;
    }
    void select(std::initializer_list<int32_t> units)
    {
        select_nothing();
        for (int32_t u : units) add_monster_index_to_current_selection(u);
    }

    // The local commands stamped for the next tick, as a frame stamps them,
    // and the executor run at that tick.
    void stamp_and_run(void)
    {
        const int32_t tick = game_->game_time + 1;
        queue_local_commands(tick, (int16_t)local_player_index);
        game_->game_time = tick;
        execute_monster_commands();
    }
};
