// The front-end dialogs joined to the layers below them.

#include "front_end_hooks.h"

#include "bitmap_dialogs/carnage_graph_control.h"
#include "bitmap_dialogs/carnage_header_control.h"
#include "bitmap_dialogs/carnage_stats_list_control.h"
#include "bitmap_dialogs/postgame_report_control.h"
#include "cseries/log.h"
#include "film_dialogs.h"
#include "front_end_procedures.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "main_menu.h"
#include "message_dialog.h"
#include "new_game_dialog.h"
#include "plugin_components.h"
#include "progress_dialog.h"
#include "recording.h"
#include "register_vesk_controls.h"
#include "saved_games.h"
#include "game_ending.h"
#include "scoring.h"
#include "screen.h"
#include "vesk.h"
#include "vesk/game_statistics.h"
#include "game_records.h"

void main_menu_films(void)
{
    new_game_data data;
    if (!replay_manager(&data)) return;
    set_next_game_data(&data);
    set_game_state(_game_state_running);
}

void main_menu_load_game(void)
{
    // A saved game needing missing plug-ins is refused by the continue itself.
    if (!handle_continue_game()) log_message(__FILE__, __LINE__, "no saved game continued: the main menu stays");
}

void map_loading_progress(int32_t step, int32_t step_count)
{
    if (step <= 1)
    {
        // A load that stopped part way left its dialog open: this is a new one.
        if (progress_dialog_is_open()) close_map_loading_progress_dialog();
        const new_game_data *data = get_current_game_data();
        open_map_loading_progress_dialog(data ? data->parameters.scenario_tag : (tag)NONE, false);
        expect_map_loading_progress_steps(step_count);
    }
    if (!progress_dialog_is_open()) return;
    update_map_loading_progress_dialog();
    if (step >= step_count) close_map_loading_progress_dialog();
}

static void restore_progress(int16_t event, int32_t steps)
{
    switch (event)
    {
    case _restore_progress_open:
        if (progress_dialog_is_open()) progress_function(_progress_close, nullptr, 0);
        open_save_game_restoring_progress_dialog(steps);
        break;
    case _restore_progress_step: update_save_game_progress_dialog(); break;
    default: close_save_game_progress_dialog(); break;
    }
}

void front_end_game_over(void)
{
    // A film whose game ended keeps its statistics, counted while its units still stand.
    if (game_->type == _game_type_replay) save_game_statistics_to_last_viewed_recording_csv();
    if (game_->type == _game_type_local && !vesk_is_headless() && active_screen.screen_initialized &&
        open_postgame_carnage_report_dialog(request_state_after_game))
        return;
    request_state_after_game();
}

// ---- registration ---------------------------------------------------------------------

// The front end's one table: the dialogs of a later library give their
// members, this library adds its own, and the whole is registered once.
static front_end_procedures whole_front_end_table(const front_end_procedures *later_dialogs)
{
    front_end_procedures table = later_dialogs ? *later_dialogs : front_end_procedures{};
    table.map_loading_progress = map_loading_progress;
    table.game_over = front_end_game_over;
    table.report_pending_error = report_pending_error_in_front_end;
    table.main_menu_films = main_menu_films;
    table.main_menu_load_game = main_menu_load_game;
    table.restore_progress = restore_progress;
    return table;
}

// The plug-in components and the new-game state.
static void register_new_game_hooks(void)
{
    register_startup_procedure(_startup_plugin_component_preferences, initialize_plugin_component_preferences);
    register_game_state_procedures(_game_state_new_game, enter_new_game_state, nullptr);
}

void register_front_end_hooks(const front_end_procedures *later_dialogs)
{
    static const front_end_procedures front_end_table = whole_front_end_table(later_dialogs);
    register_new_game_hooks();
    // Progress, messages, the menu's dialogs and the post-game report.
    if (front_end_procedures_registered())
        log_message(__FILE__, __LINE__, "the front end's table is registered already: it stays");
    else
        register_front_end_procedures(&front_end_table);
    register_vesk_control_procedure(POSTGAME_REPORT_CONTROL_TAG, postgame_report_control_def_proc);
    register_vesk_control_procedure(CARNAGE_GRAPH_CONTROL_TAG, carnage_graph_control_handler);
    register_vesk_control_procedure(CARNAGE_HEADER_CONTROL_TAG, carnage_header_control_handler);
    register_vesk_control_procedure(CARNAGE_STATS_LIST_CONTROL_TAG, carnage_stats_list_control_handler);
}
