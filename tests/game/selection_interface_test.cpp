// The selection's interface: the common inventory of the selected units, the
// orders the control bar's buttons, the inventory keys and the wheel send
// (read back from the outgoing queue), and the status texts, which must stay
// inside any buffer.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console_procedures.h"
#include "monster_inventory_world.h"

#include "commands.h"
#include "control_bar.h"
#include "input/input_definitions.h"
#include "monster_commands.h"
#include "observer.h"
#include "selection.h"
#include "selection_interface.h"
#include "selection_interface_hooks.h"
#include "selection_orders.h"
#include "synthetic_frame.h"
#include "unit_commands.h"

namespace selection_interface_test_file {

namespace {

struct sent
{
    int verb;
    int16_t first, second; // the record's first two 16-bit fields
    bool operator==(const sent &o) const { return verb == o.verb && first == o.first && second == o.second; }
};

// What the selection told the console and the camera, and the mouse options
// it reads (the "input" preferences' bits as the selection sees them).
uint32_t input_options = 0;
uint32_t read_input_options(void) { return input_options; }
int32_t last_menu = -2, prompt_calls = 0;
void record_prompts(const char *, const char *, int32_t menu) { last_menu = menu, ++prompt_calls; }

class selection_interface_test : public inventory_world::world
{
protected:
    std::vector<int32_t> mine, theirs;
    int16_t plain = NONE, other = NONE, sticky = NONE;
    synthetic_frame frame;
    int32_t now = 100;

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
        // The keys reach the selection only once a frame was drawn.
        frame.link_and_install();
        input_options = 0, last_menu = -2, prompt_calls = 0;
        set_selection_input_options_procedure_for_tests(read_input_options);
        static const console_procedures console = {.prompts = record_prompts};
        ASSERT_TRUE(register_console_procedures(&console));
    }
    void TearDown() override
    {
        install_test_render_frame(nullptr, nullptr);
        set_selection_input_options_procedure_for_tests(nullptr);
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
    // One idle action (no button) with a key, action bits and a wheel movement.
    void act(int16_t key_code, std::initializer_list<int32_t> bits, int16_t wheel_delta = 0)
    {
        action_data a = {};
        a.time = now++;
        a.time_delta = 1;
        a.key_code = key_code;
        a.ascii_code = NONE;
        a.wheel_delta = wheel_delta;
        for (int32_t bit : bits) set_action_flag(&a, bit);
        update_selection(&a);
    }
    int16_t mode(void) const { return get_selection_globals()->mode; }
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
    // Each button both as the entry point and clicked on the bar (its dialog
    // item): the bar's "Retreat" sends what the retreat key sends, beside
    // its own scatter button.
    register_selection_interface_hooks();
    const struct
    {
        void (*button)(void);
        int16_t item;
        int16_t type;
    } buttons[] = {{stop_selected_units, 3, _command_general_stop},
                   {make_selected_units_hold_ground, 4, _command_general_guard},
                   {scatter_selected_units, 5, _command_general_scatter},
                   {retreat_selected_units, 6, _command_general_retreat}};
    for (const auto &b : buttons)
        for (bool clicked : {false, true})
        {
            SCOPED_TRACE(testing::Message() << "item " << b.item << (clicked ? " clicked" : ""));
            select({mine[0], mine[1]});
            outgoing();
            action_data click = {};
            if (clicked) control_bar_dialog_handler_proc(nullptr, b.item, &click);
            else b.button();
            EXPECT_EQ(outgoing(), (std::vector<sent>{{_command_general, 0, b.type}}));
            EXPECT_EQ(get_selection_globals()->ticks_until_reselection_after_command, TICKS_UNTIL_RESELECTION_AFTER_COMMAND);
            select({});
            if (clicked) control_bar_dialog_handler_proc(nullptr, b.item, &click);
            else b.button();
            EXPECT_TRUE(outgoing().empty()) << "nothing selected, nothing sent";
        }
}

enum
{
    KEY_1 = 17, // the digit keys 1..9, 0 are 17..26
    KEY_0 = 26,
};

TEST_F(selection_interface_test, in_the_inventory_mode_a_digit_wields_that_item_and_shift_drops_it)
{
    // Distinct items: 1 plain, 2 other (in the first unit's hand), 3 sticky
    // (cannot be discarded); 0 and the backquote mean empty hands.
    hold(mine[0], {plain, other, sticky}, 1);
    hold(mine[1], {sticky, other, plain});
    const struct
    {
        const char *what;
        int16_t key_code;
        std::initializer_list<int32_t> bits;
        uint32_t options;
        std::vector<sent> sent_orders;
        int16_t mode_after;
        int16_t selected_after;
    } cases[] = {
        {"1 wields the first item", KEY_1, {}, 0, {{_command_inventory, plain, 0}}, _selection_mode_none, 2},
        {"Shift+2 drops the second", KEY_1 + 1, {_shift_down_bit}, 0, {{_command_inventory_drop, other, 1}},
         _selection_mode_none, 2},
        {"Shift+3 may not drop what cannot be discarded", KEY_1 + 2, {_shift_down_bit}, 0, {}, _selection_mode_none, 2},
        {"0 empties the hands", KEY_0, {}, 0, {{_command_inventory, -1, -1}}, _selection_mode_none, 2},
        {"so does the backquote, which then cancels nothing", _key_backquote, {_selection_cancel_bit}, 0,
         {{_command_inventory, -1, -1}}, _selection_mode_none, 2},
        {"unless the bindings keep the backquote for cancelling", _key_backquote, {_selection_cancel_bit},
         1u << _selection_input_tilde_ignores_inventory_bit, {}, _selection_mode_none, 0},
        {"a digit past the items keeps the mode", KEY_1 + 3, {}, 0, {}, _selection_mode_inventory, 2},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        input_options = c.options;
        select({mine[0], mine[1]});
        outgoing();
        act(NONE, {_selection_inventory_bit});
        ASSERT_EQ(mode(), _selection_mode_inventory);
        EXPECT_EQ(last_menu, _selection_console_menu_inventory);
        act(c.key_code, c.bits);
        EXPECT_EQ(outgoing(), c.sent_orders);
        EXPECT_EQ(mode(), c.mode_after);
        EXPECT_EQ(get_current_selection_count(), c.selected_after);
    }

    // Option with the inventory key steps to the next item at once, with the brief menu.
    input_options = 0;
    act(NONE, {_selection_inventory_bit, _option_down_bit});
    EXPECT_EQ(outgoing(), (std::vector<sent>{{_command_inventory_next, -1, -1}}));
    EXPECT_EQ(last_menu, _selection_console_menu_inventory_briefly);
    reset_selection_mode();

    // Shift with the inventory key drops what the hands hold.
    act(NONE, {_selection_inventory_bit, _shift_down_bit});
    EXPECT_EQ(outgoing(), (std::vector<sent>{{_command_inventory_drop, other, 1}}));
    EXPECT_EQ(mode(), _selection_mode_none);

    // Without a common inventory the mode is refused and no menu opens.
    hold(mine[1], {});
    const int32_t prompts = prompt_calls;
    act(NONE, {_selection_inventory_bit});
    EXPECT_EQ(mode(), _selection_mode_none);
    EXPECT_EQ(prompt_calls, prompts);
}

TEST_F(selection_interface_test, the_wheel_cycles_presets_or_the_inventory_as_the_mouse_options_say)
{
    hold(mine[0], {plain, other}, 0);
    hold(mine[1], {other, plain});
    // Presets 1, 4 and 7 hold one unit each; the third unit carries nothing.
    const int32_t presets[][2] = {{1, 0}, {4, 1}, {7, 2}};
    for (const auto &p : presets)
    {
        select({mine[p[1]]});
        set_preset_selection(p[0]);
    }
    const uint32_t cycle_presets = 1u << _selection_input_wheel_cycle_presets_bit;
    const uint32_t cycle_inventory = 1u << _selection_input_wheel_cycle_inventory_bit;
    const int16_t UP = -40, DOWN = 40; // a notch up is a negative delta
    const struct
    {
        const char *what;
        uint32_t options;
        std::vector<int32_t> before; // indexes into mine
        int16_t wheel;
        std::vector<int32_t> after;
        std::vector<sent> sent_orders; // next and previous name no item
        int32_t menu; // -1: no menu (a recalled preset leaves any mode); -2: the console is not asked
    } cases[] = {
        {"down: the next preset", cycle_presets, {1}, DOWN, {2}, {}, -1},
        {"up: the previous preset", cycle_presets, {1}, UP, {0}, {}, -1},
        {"down: the next item", cycle_inventory, {0, 1}, DOWN, {0, 1}, {{_command_inventory_next, -1, -1}},
         _selection_console_menu_inventory_briefly},
        {"up: the previous item", cycle_inventory, {0, 1}, UP, {0, 1}, {{_command_inventory_prev, -1, -1}},
         _selection_console_menu_inventory_briefly},
        {"no common inventory: nothing, and no menu", cycle_inventory, {0, 2}, DOWN, {0, 2}, {},
         _selection_console_menu_none},
        {"otherwise the wheel orders nothing", 0, {1}, DOWN, {1}, {}, -2},
    };
    world_location3d camera_before;
    get_observer_location(&camera_before);
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.what);
        input_options = c.options;
        select_nothing();
        for (int32_t u : c.before) add_monster_index_to_current_selection(mine[u]);
        outgoing();
        last_menu = -2;
        act(NONE, {}, c.wheel);
        EXPECT_EQ(last_menu, c.menu);
        std::vector<int32_t> after;
        for (int32_t i = 0; i < get_current_selection_count(); ++i)
            after.push_back((int32_t)(std::find(mine.begin(), mine.end(), get_current_selection_index(i)) - mine.begin()));
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(outgoing(), c.sent_orders);
        act(NONE, {}); // the copy without the wheel that follows every notch
        EXPECT_TRUE(outgoing().empty());
    }
    world_location3d camera_after;
    get_observer_location(&camera_after);
    EXPECT_EQ(camera_after.position.x, camera_before.position.x) << "cycling presets by wheel leaves the camera where it is";
    EXPECT_EQ(camera_after.position.y, camera_before.position.y) << "cycling presets by wheel leaves the camera where it is";
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
    // An ended map leaves nothing selected for the next map's status bar.
    select({mine[0], mine[1]});
    dispose_selection_from_old_map();
    get_selection_type_string(text, sizeof(text));
    EXPECT_STREQ(text, "");
    initialize_selection_for_new_map();
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

} // namespace selection_interface_test_file
