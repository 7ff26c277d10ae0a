// The network road through the program's own states, as a player takes it:
// the main menu's Network Game, the network selection, a game created on the
// local network, its set-up, the game itself, the endgame's Play Again into
// a second game of the session, and Leave back to the main menu.  The
// dialogs are worked by the networking dialogs' scripts; the test is the
// main loop.

#include <cstdlib>
#include <string>
#include <vector>

#include "bitmap_dialogs/button_control.h"
#include "game_time.h"
#include "bitmap_dialogs/edittext_control.h"
#include "networking_procedures.h"
#include "game_ending.h"
#include "scoring.h"
#include "support/front_end_road_fixture.h"
#include "support/dialog_harness.h"
#include "support/net_game_processes.h"
#include "support/scratch.h"
#include "vesk_networking/netgame_setup.h"
#include "vesk_networking/netgame_setup_dialog.h"
#include "vesk_networking/network_game_entry.h"
#include "vesk_networking/vesk_network_interface.h"
#include "vesk_networking/vesk_networking.h"

namespace network_road_test_file {

namespace {

struct road_script
{
    std::string port;
    std::vector<std::string> dialogs; // the tags of the dialogs worked, in order, once each
    int16_t endgame_choice = _endgame_play_again_item;
    int create_step = 0;
    bool selection_done = false;
    size_t started_in = 0; // the count of dialogs worked when the host last pressed start
};

void note(road_script *script, const dialog_data *dialog)
{
    const std::string tag = tag_to_string(dialog->tag);
    if (script->dialogs.empty() || script->dialogs.back() != tag) script->dialogs.push_back(tag);
}

int16_t work_network_dialog(dialog_data *dialog, void *context)
{
    road_script *script = (road_script *)context;
    note(script, dialog);
    if (dialog->tag == NETWORK_ENDGAME_FALLBACK_DIALOG_TAG) return script->endgame_choice;
    if (dialog->tag == CREATE_OR_JOIN_DIALOG_TAG)
    {
        switch (script->create_step++)
        {
        case 0: return _create_or_join_create_radio_item;
        case 1:
            set_bitmap_dialog_edit_item_text(dialog, _create_or_join_name_item, "road");
            set_bitmap_dialog_edit_item_text(dialog, _create_or_join_port_item, script->port.c_str());
            return _create_or_join_port_item;
        case 2: return _create_or_join_accept_item;
        default: ADD_FAILURE() << "the game was not created"; throw script_ran_dry();
        }
    }
    // The network selection: the protocol list, then accept.
    if (!script->selection_done)
    {
        script->selection_done = true;
        set_button_control_state(dialog, _network_selection_protocols_radio_item, 1);
        return _network_selection_protocols_radio_item;
    }
    return _network_selection_accept_item;
}

// The host starts, once in each set-up, as soon as it may.
int16_t work_setup_dialog(dialog_data *dialog, void *context)
{
    road_script *script = (road_script *)context;
    note(script, dialog);
    if (script->started_in == script->dialogs.size() || !bitmap_get_item_enabled(dialog, _netgame_setup_start_item))
        return NONE;
    script->started_in = script->dialogs.size();
    return _netgame_setup_start_item;
}

class network_road : public campaign_road_fixture
{
protected:
    dialog_test_screen screen;
    void take_the_road(road_script *script);
};

TEST_F(network_road, from_the_menu_into_a_game_again_after_it_and_back_to_the_menu)
{
    road_script script;
    script.port = std::to_string(free_loopback_port());
    set_network_dialog_script(work_network_dialog, &script);
    set_netgame_setup_script(work_setup_dialog, &script);

    setenv("SDL_VIDEODRIVER", "dummy", 1);
    start_at_the_main_menu(screen.bitmap, false);
    if (HasFatalFailure()) return;
    start_network_module_manager(); // as the program does after its start-up

    // ---- Network Game: the selection, the create-or-join dialog, the set-up,
    // the start barrier; then the game runs from the host's stream.
    try
    {
        take_the_road(&script);
    }
    catch (const script_ran_dry &)
    {
        std::string seen;
        for (const std::string &tag : script.dialogs) seen += tag + " ";
        ADD_FAILURE() << "dialogs worked: " << seen << "\n" << read_whole_file("road.log");
    }
    set_network_dialog_script(nullptr, nullptr);
    set_netgame_setup_script(nullptr, nullptr);
}

void network_road::take_the_road(road_script *script)
{
    press_now(get_main_menu_dialog(), _main_menu_network_game_item, [] { settle(3000); });
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");
    EXPECT_EQ(game_->type, _game_type_networked);
    EXPECT_TRUE(local_player_is_network_originator());
    play_until([] { return game_->game_time >= 30; }, 60);
    EXPECT_GE(game_->game_time, 30) << "the host's stream lets the game run";

    // ---- The time runs out; the endgame dialog's Play Again leads into the
    // set-up of the same session and the next game.
    game_->time_remaining = 0; // the time limit ran out
    end_game(_game_end_game_over);
    settle(1500); // the end's countdown, the barrier, the endgame dialog, the next set-up and game
    run_queued_passes();
    ASSERT_EQ(game_->state, _game_state_running) << read_whole_file("road.log");
    EXPECT_TRUE(is_vesk_networking()) << "the session goes on";

    // ---- The second game ends; Leave ends the session at the main menu.
    script->endgame_choice = _endgame_leave_item;
    game_->time_remaining = 0;
    end_game(_game_end_game_over);
    settle(1500);
    run_queued_passes();
    EXPECT_EQ(game_->state, _game_state_displaying_main_menu) << read_whole_file("road.log");
    EXPECT_FALSE(is_vesk_networking());

    const std::vector<std::string> expected = {"nesp", "Inet", "ne#1", "endi", "ne#1", "endi"};
    EXPECT_EQ(script->dialogs, expected) << read_whole_file("road.log");
    // Each game's final state was taken before its map went, for the end barrier.
    const std::string log = read_whole_file("road.log");
    EXPECT_EQ(count_of(log, "this game ended at tick "), 2u) << log;
    EXPECT_EQ(log.find("out of sync"), std::string::npos) << log;
}

} // namespace

} // namespace network_road_test_file
