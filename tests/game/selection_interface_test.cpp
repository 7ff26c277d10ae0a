// The selection's interface: the common inventory of the selected units, the
// orders the control bar's buttons and inventory send (read back from the
// outgoing queue), and the status texts, which must stay inside any buffer.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "monster_inventory_world.h"

#include "commands.h"
#include "monster_commands.h"
#include "selection.h"
#include "selection_interface.h"
#include "unit_commands.h"

namespace {

struct sent
{
    int verb;
    int16_t first, second; // the record's first two 16-bit fields
};

class selection_interface_test : public inventory_world::world
{
protected:
    std::vector<int32_t> mine, theirs;
    int16_t plain = NONE, other = NONE, sticky = NONE;

    void SetUp() override
    {
        inventory_world::world::SetUp();
        register_command_hooks();
        register_monster_command_hooks();
        ASSERT_TRUE(initialize_commands());
        ASSERT_TRUE(initialize_commands_for_new_map());
        game_->game_time = 0;
        local_player_index = 0;
        local_player_team_index = 0;
        initialize_selection();
        initialize_selection_for_new_map();
        definition()->flags |= _monster_carries_multiple_artifacts_flag;
        plain = add_projectile();
        other = add_projectile();
        sticky = add_projectile(0, add_artifact(_artifact_cannot_be_discarded_flag));
        for (int32_t i = 0; i < 3; ++i) mine.push_back(make_unit(0, {1000 + 200 * i, 1000, 0}));
        theirs.push_back(make_unit(1, {3000, 3000, 0}));
        strcpy(get_player_data(1)->appearance.name, "Rival");
    }
    void TearDown() override
    {
        dispose_selection_from_old_map();
        dispose_commands_from_old_map();
        inventory_world::world::TearDown();
    }

    void hold(int32_t u, std::initializer_list<int16_t> types, int32_t wielded = NONE)
    {
        monster_data *m = monster(u);
        m->held_object_count = 0;
        m->carrying_object_index = NONE;
        for (int16_t t : types)
        {
            const int32_t object = make_dormant(t);
            if (m->held_object_count == wielded) m->carrying_object_index = (int16_t)object;
            m->held_object_indexes[m->held_object_count++] = (int16_t)object;
        }
    }
    void select(std::initializer_list<int32_t> units)
    {
        select_nothing();
        for (int32_t u : units) add_monster_index_to_current_selection(u);
    }
    std::vector<sent> outgoing(void)
    {
        std::vector<sent> result;
        while (command_header *c = dequeue_outgoing_command())
        {
            const uint8_t *p = (const uint8_t *)c + sizeof(command_header);
            result.push_back({c->verb, (int16_t)(p[0] << 8 | p[1]), (int16_t)(p[2] << 8 | p[3])});
        }
        return result;
    }
    std::vector<int16_t> unique_types(void)
    {
        const selection_inventory_data *inventory = get_selection_inventory();
        return std::vector<int16_t>(inventory->unique_projectile_types,
                                    inventory->unique_projectile_types + inventory->unique_count);
    }
};

TEST_F(selection_interface_test, the_inventory_is_what_every_selected_unit_carries)
{
    hold(mine[0], {plain, other, plain}, 1);
    hold(mine[1], {other, plain});
    select({mine[0], mine[1]});
    ASSERT_TRUE(build_selection_inventory(false));
    const selection_inventory_data *inventory = get_selection_inventory();
    EXPECT_EQ(inventory->count, 2) << "one plain item is not matched by the second unit";
    EXPECT_EQ(unique_types(), (std::vector<int16_t>{plain, other})) << "in the first unit's order";
    EXPECT_EQ(inventory->selected_unique_index, 1) << "the first unit has the other item in hand";
    int32_t count = 0, selected = NONE;
    EXPECT_TRUE(get_unique_selection_inventory(true, &count, &selected));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(selected, 1);

    hold(mine[1], {plain, plain});
    select({mine[0], mine[1]});
    ASSERT_TRUE(build_selection_inventory(false));
    EXPECT_EQ(unique_types(), (std::vector<int16_t>{plain}));
    EXPECT_EQ(inventory->unique_type_counts[0], 2);
    EXPECT_EQ(inventory->selected_unique_index, NONE) << "the wielded item left the intersection";
    char text[32];
    format_inventory_string(text, sizeof(text), 0, true, false, true);
    EXPECT_STREQ(text, "1. Carried Projectile (x2)");
    format_inventory_string(text, sizeof(text), -1, false, true, true);
    EXPECT_STREQ(text, "*None");

    hold(mine[2], {});
    select({mine[0], mine[2]});
    EXPECT_FALSE(build_selection_inventory(false)) << "a unit carrying nothing empties it";
    EXPECT_EQ(inventory->unique_count, 0);
    EXPECT_FALSE(get_unique_selection_inventory(true, &count, &selected));
    hold(mine[1], {other});
    select({mine[0], mine[1]});
    hold(mine[0], {plain});
    EXPECT_FALSE(build_selection_inventory(false)) << "nothing in common";
}

TEST_F(selection_interface_test, choosing_and_dropping_items_sends_the_inventory_orders)
{
    hold(mine[0], {plain, sticky}, 0);
    hold(mine[1], {sticky, plain});
    select({mine[0], mine[1]});
    outgoing();
    ASSERT_TRUE(build_selection_inventory(false));

    set_selection_inventory_unique(-1, false);
    std::vector<sent> orders = outgoing();
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].verb, _command_inventory);
    EXPECT_EQ(orders[0].first, -1) << "empty hands";
    EXPECT_EQ(orders[0].second, -1);

    set_selection_inventory_unique(1, false);
    orders = outgoing();
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].first, sticky);
    EXPECT_EQ(orders[0].second, 1);

    set_selection_inventory_unique(1, true);
    EXPECT_TRUE(outgoing().empty()) << "an item that cannot be discarded is not dropped";
    set_selection_inventory_unique(-1, true);
    EXPECT_TRUE(outgoing().empty()) << "nothing to drop";
    set_selection_inventory_unique(2, false);
    EXPECT_TRUE(outgoing().empty()) << "past the inventory";
    set_selection_inventory_unique(0, true);
    orders = outgoing();
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].verb, _command_inventory_drop);
    EXPECT_EQ(orders[0].first, plain);
    EXPECT_EQ(orders[0].second, 0);
}

TEST_F(selection_interface_test, the_bar_buttons_send_their_general_orders_and_retreat_is_a_retreat)
{
    const struct
    {
        void (*button)(void);
        int16_t type;
    } buttons[] = {{stop_selected_units, _command_general_stop},
                   {scatter_selected_units, _command_general_scatter},
                   {retreat_selected_units, _command_general_retreat},
                   {make_selected_units_hold_ground, _command_general_guard}};
    for (const auto &b : buttons)
    {
        select({mine[0], mine[1]});
        outgoing();
        b.button();
        const std::vector<sent> orders = outgoing();
        ASSERT_EQ(orders.size(), 1u);
        EXPECT_EQ(orders[0].verb, _command_general);
        EXPECT_EQ(orders[0].second, b.type);
        EXPECT_EQ(get_selection_globals()->ticks_until_reselection_after_command, TICKS_UNTIL_RESELECTION_AFTER_COMMAND);
        select({});
        b.button();
        EXPECT_TRUE(outgoing().empty()) << "nothing selected, nothing sent";
    }
}

TEST_F(selection_interface_test, the_type_string_counts_types_and_names_only_other_players)
{
    int16_t second_unit = NONE;
    const int16_t second_type = add_monster_type(&second_unit);
    const int32_t stranger = make_unit(0, {1800, 1000, 0}, second_type, second_unit);
    char text[256];

    select({mine[0]});
    get_selection_type_string(text, sizeof(text));
    const std::string own = text;
    EXPECT_EQ(own.front(), '(');
    EXPECT_EQ(own.back(), ')') << "the local player's own unit shows no owner";

    select({theirs[0]});
    get_selection_type_string(text, sizeof(text));
    EXPECT_EQ(std::string(text), own + " Rival");

    select({mine[0], stranger, mine[1], mine[2]});
    get_selection_type_string(text, sizeof(text));
    const std::string several = text;
    EXPECT_EQ(several.rfind("3 ", 0), 0u) << several;
    EXPECT_NE(several.find(", 1 "), std::string::npos) << several;
    select({});
    get_selection_type_string(text, sizeof(text));
    EXPECT_STREQ(text, "");
}

TEST_F(selection_interface_test, every_string_query_stays_within_buffers_of_1_to_64_bytes)
{
    for (int32_t i = 0; i < 6; ++i)
    {
        const int32_t u = make_unit(0, {1000 + 100 * i, 2000, 0});
        strcpy(monster(u)->name, "Longname");
        mine.push_back(u);
    }
    hold(mine[0], {plain, plain});
    hold(mine[1], {plain, plain});
    typedef void (*query)(char *, size_t);
    const query queries[] = {
        get_selection_name_string, get_selection_description_string, get_selection_type_string,
        [](char *b, size_t s) { format_inventory_string(b, s, 0, true, true, true); },
        [](char *b, size_t s) { format_inventory_string(b, s, -1, true, true, true); },
    };
    for (int pass = 0; pass < 3; ++pass)
    {
        if (pass == 0) select({mine[3]});
        else if (pass == 1) select({mine[0], mine[1]});
        else
        {
            select_nothing();
            for (int32_t u : mine) add_monster_index_to_current_selection(u);
            add_monster_index_to_current_selection(theirs[0]);
        }
        build_selection_inventory(false);
        for (const query q : queries)
            for (size_t size = 1; size <= 64; ++size)
            {
                // Exactly `size` bytes on the heap, so a byte past them trips the address checker.
                std::unique_ptr<char[]> buffer(new char[size]);
                memset(buffer.get(), 'x', size);
                q(buffer.get(), size);
                EXPECT_LT(strnlen(buffer.get(), size), size) << "pass " << pass << " size " << size;
            }
    }
    char text[64];
    select({mine[3], mine[4]});
    get_selection_description_string(text, sizeof(text));
    EXPECT_STREQ(text, "Longname, Longname.");
}

TEST_F(selection_interface_test, the_status_queries_report_changes_once_and_hide_other_teams_supplies)
{
    select({mine[0], mine[1]});
    EXPECT_TRUE(selection_changed());
    EXPECT_FALSE(selection_changed()) << "the dirty bit is cleared";
    monster(mine[1])->display_dirty_flags = 1;
    EXPECT_TRUE(selection_changed());
    EXPECT_EQ(monster(mine[1])->display_dirty_flags, 0);
    EXPECT_FALSE(selection_changed());

    definition()->ammunition_projectile_type = plain;
    monster(mine[0])->ammunition_count = 5;
    monster(theirs[0])->ammunition_count = 5;
    monster(mine[0])->experience = 7;
    int16_t count, collection, sequence, color, charges;
    select({mine[0]});
    get_selection_ammunition(&count, &collection, &sequence, &color);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(sequence, definition()->sequence_indexes[_monster_sequence_ammunition_icon]);
    int16_t experience, battles, allegiance;
    get_selection_experience(&experience, &battles, &allegiance);
    EXPECT_EQ(experience, 7);
    EXPECT_NE(allegiance, NONE);
    EXPECT_EQ(get_selection_random_seed(), monster(mine[0])->original_name_string_index);

    select({theirs[0]});
    ASSERT_EQ(get_current_selection_count(), 1);
    get_selection_ammunition(&count, &collection, &sequence, &color);
    EXPECT_EQ(count, 0) << "another team's ammunition is not shown";
    EXPECT_EQ(collection, NONE);
    hold(theirs[0], {plain}, 0);
    get_selection_item(&collection, &sequence, &color, &charges);
    EXPECT_EQ(collection, NONE) << "nor what it carries";

    select({mine[0], mine[1]});
    get_selection_experience(&experience, &battles, &allegiance);
    EXPECT_EQ(allegiance, NONE) << "several units show no experience";
    select({});
    EXPECT_EQ(get_selection_random_seed(), NONE);
    int16_t permutation;
    get_selection_portrait(&collection, &sequence, &permutation);
    EXPECT_EQ(collection, NONE);
}

} // namespace
