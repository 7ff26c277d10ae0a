// The in-game hints dialog.

#include "game_hints_dialog.h"

#include <cstdio>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/private_lists.h"
#include "bitmap_dialogs/string_list_control.h"
#include "bitmap_dialogs/tabbed_button_control.h"
#include "console/console.h"
#include "console/console_mission_text.h"
#include "cseries/log.h"
#include "front_end_procedures.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "ingame_dialog_support.h"
#include "input/keyboard.h"
#include "mesh.h"
#include "mesh_format.h"
#include "quit_dialog.h"
#include "recording.h"
#include "scoring.h"
#include "screen_preferences_page.h"
#include "status_bar.h"
#include "vesk/game_statistics.h"
#include "vesk/string_lists.h"

enum
{
    GAME_TIPS_FIRST_ROW = 2, // rows 0 and 1 name the tabs
    GAME_TIPS_TAB = 0,
    LEVEL_TIPS_TAB = 1,
    CONSOLE_TAKING_INPUT = 1,
};

static struct game_hints_globals
{
    dialog_data *dialog;
    bool paused_here;
    int32_t game_tips_string_list_index; // NONE without 'ingt'
    int32_t game_tip_count;
    int32_t current_game_tip_index;
    int32_t level_tips_string_list_index; // NONE without the map's hints
    int32_t level_tip_count;
    int32_t current_level_tip_index;
} game_hints_globals = {nullptr, false, NONE, 0, 0, NONE, 0, 0};

int32_t step_game_tip_index(int32_t index, int32_t count, bool backward)
{
    if (count <= 0) return 0;
    return mod(index + (backward ? -1 : 1), count);
}

// The tab's list, first row, count and current index.
struct tip_source
{
    int32_t list;
    int32_t first_row;
    int32_t count;
    int32_t *current;
};

static tip_source tips_of_tab(int16_t tab)
{
    auto &globals = game_hints_globals;
    if (tab == LEVEL_TIPS_TAB)
        return {globals.level_tips_string_list_index, 0, globals.level_tip_count, &globals.current_level_tip_index};
    return {globals.game_tips_string_list_index, GAME_TIPS_FIRST_ROW, globals.game_tip_count,
            &globals.current_game_tip_index};
}

static int16_t selected_tab(dialog_data *dialog)
{
    return dialog_has_item(dialog, _game_hints_tabs_item) ? get_selected_tab(dialog, _game_hints_tabs_item)
                                                          : (int16_t)GAME_TIPS_TAB;
}

static void show_current_tip(dialog_data *dialog)
{
    const tip_source source = tips_of_tab(selected_tab(dialog));
    // Zero tips leave nothing to step through: the step button waits for some.
    enable_dialog_item(dialog, _game_hints_next_tip_item, source.count > 0);
    if (source.count <= 0)
    {
        set_dialog_item_text(dialog, _game_hints_tip_text_item, "");
        set_dialog_item_text(dialog, _game_hints_tip_number_item, "");
        return;
    }
    const char *tip = get_string_from_list(source.list, source.first_row + *source.current);
    set_dialog_item_text(dialog, _game_hints_tip_text_item, tip ? tip : "");
    char number[32];
    snprintf(number, sizeof(number), "%d / %d", (int)(*source.current + 1), (int)source.count);
    set_dialog_item_text(dialog, _game_hints_tip_number_item, number);
}

static void load_tips(void)
{
    auto &globals = game_hints_globals;
    globals.game_tips_string_list_index = string_list_tag_to_string_index(GAME_TIPS_STRING_LIST_TAG);
    const int32_t strings = globals.game_tips_string_list_index == NONE
                                ? 0
                                : count_strings_in_list(globals.game_tips_string_list_index);
    globals.game_tip_count = strings > GAME_TIPS_FIRST_ROW ? strings - GAME_TIPS_FIRST_ROW : 0;
    int32_t current = get_game_preferences()->current_tip_index;
    if (current < 0) current = 0;
    if (current > globals.game_tip_count - 1) current = globals.game_tip_count > 0 ? globals.game_tip_count - 1 : 0;
    globals.current_game_tip_index = current;

    const mesh_header *mesh = get_mesh_header();
    const tag hints = mesh ? mesh->hints_string_list_tag : (tag)NONE;
    globals.level_tips_string_list_index = hints == (tag)NONE ? NONE : string_list_tag_to_string_index(hints);
    globals.level_tip_count = globals.level_tips_string_list_index == NONE
                                  ? 0
                                  : count_strings_in_list(globals.level_tips_string_list_index);
    if (globals.level_tip_count < 0) globals.level_tip_count = 0;
    globals.current_level_tip_index = 0;
}

// A row "\245 text" (the bullet of the interface font).
static void add_bullet_row(dialog_data *dialog, int32_t identifier, const char *text, bool enabled)
{
    char row[STRING_LIST_TEXT_SIZE];
    snprintf(row, sizeof(row), "\245 %s", text ? text : "");
    add_string_to_list(dialog, _game_hints_objectives_list_item, row, identifier, enabled);
}

static void fill_objectives(dialog_data *dialog)
{
    const int16_t list = _game_hints_objectives_list_item;
    if (!dialog_has_item(dialog, list) || get_bitmap_item_tag(dialog, list) != STRING_LIST_CONTROL_TAG) return;
    set_string_list_sorted(dialog, list, false);
    bitmap_set_list_flag(dialog, list, _list_allows_variable_height_rows_flag, true);
    bitmap_set_list_flag(dialog, list, _list_can_be_focused_flag, false);
    bitmap_set_list_flag(dialog, list, _list_cannot_accept_row_clicks_flag, true);
    const bool objectives = game_->type == _game_type_local || game_is_solo_replay() ||
                            (game_->type == _game_type_networked && (game_->option_flags & _game_option_cooperative_flag));
    const mesh_header *mesh = get_mesh_header();
    const int32_t description =
        mesh && mesh->map_description_string_list_tag != (tag)NONE
            ? string_list_tag_to_string_index(mesh->map_description_string_list_tag)
            : NONE;
    if (!objectives || description == NONE)
    {
        add_bullet_row(dialog, 0, get_game_rules_string(), true);
        return;
    }
    const int32_t count = get_mission_count();
    const int32_t current = get_mission_objective_index();
    for (int32_t i = 0; i < count; ++i) add_bullet_row(dialog, i, get_string_from_list(description, i + 1), i >= current);
}

bool open_game_hints_dialog(bool pause)
{
    auto &globals = game_hints_globals;
    if (globals.dialog) return true;
    if (quit_dialog_is_open() || postgame_carnage_report_dialog_is_open()) return false;
    const mesh_header *mesh = get_mesh_header();
    if (mesh && (mesh->flags & _mesh_is_training_map_flag)) return false;
    if (get_console_input_state() == CONSOLE_TAKING_INPUT) return false;
    dialog_data *dialog =
        new_dialog_if_present(GAME_HINTS_DIALOG_TAG, "hints", game_hints_dialog_handler_proc, _dialog_is_centered_flag);
    if (!dialog) return false;
    set_dialog_background_from(dialog, GAME_HINTS_COLLECTION_TAG, 0);
    load_tips();
    if (dialog_has_item(dialog, _game_hints_tabs_item) &&
        get_bitmap_item_tag(dialog, _game_hints_tabs_item) == TABBED_BUTTON_CONTROL_TAG)
    {
        set_number_of_tabs(dialog, _game_hints_tabs_item, 2);
        for (int16_t tab = 0; tab < 2; ++tab)
        {
            const char *name = get_string_from_list(globals.game_tips_string_list_index, tab);
            set_tab_name(dialog, _game_hints_tabs_item, tab, name ? name : "");
        }
        set_selected_tab(dialog, _game_hints_tabs_item, GAME_TIPS_TAB);
        set_tab_enabled(dialog, _game_hints_tabs_item, LEVEL_TIPS_TAB, globals.level_tip_count > 0);
    }
    fill_objectives(dialog);
    if (dialog_has_item(dialog, _game_hints_show_objectives_item))
        set_checkbox_state(dialog, _game_hints_show_objectives_item,
                           !(get_game_preferences()->flags & _game_pref_show_mission_objectives_dialog_flag));
    set_default_dialog_item(dialog, _game_hints_done_item);
    set_dialog_cancel_item(dialog, _game_hints_done_item);
    globals.dialog = dialog;
    show_current_tip(dialog);
    globals.paused_here = pause && !game_is_paused();
    if (globals.paused_here) pause_game(true);
    return true;
}

void close_game_hints_dialog(void)
{
    auto &globals = game_hints_globals;
    dialog_data *dialog = globals.dialog;
    if (!dialog) return;
    globals.dialog = nullptr;
    if (globals.paused_here) pause_game(false);
    globals.paused_here = false;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
}

bool game_hints_dialog_is_open(void) { return game_hints_globals.dialog != nullptr; }
dialog_data *get_game_hints_dialog(void) { return game_hints_globals.dialog; }

void game_hints_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *)
{
    auto &globals = game_hints_globals;
    switch (item_id)
    {
    case _game_hints_next_tip_item:
    {
        const tip_source source = tips_of_tab(selected_tab(dialog));
        *source.current = step_game_tip_index(*source.current, source.count, key_down(SHIFT_KEYBOARD_CODE));
        show_current_tip(dialog);
        break;
    }
    case _game_hints_tabs_item: show_current_tip(dialog); break;
    case _game_hints_done_item:
    {
        game_preferences *preferences = get_game_preferences();
        preferences->current_tip_index = (int16_t)globals.current_game_tip_index;
        if (dialog_has_item(dialog, _game_hints_show_objectives_item))
        {
            if (get_checkbox_state(dialog, _game_hints_show_objectives_item))
                preferences->flags &= ~(uint32_t)_game_pref_show_mission_objectives_dialog_flag;
            else
                preferences->flags |= _game_pref_show_mission_objectives_dialog_flag;
        }
        // The help button is pressed while the dialog is open: releasing it
        // closes the dialog through game_hints_dialog_verb, keeping them in step.
        dialog_data *bar = get_status_bar_dialog();
        if (bar && get_button_control_state(bar, _status_bar_help_button) > 0) push_help_button();
        close_game_hints_dialog();
        break;
    }
    default: break;
    }
}

bool game_hints_dialog_verb(int16_t verb, bool)
{
    switch (verb)
    {
    case _ingame_dialog_open: return open_game_hints_dialog(true);
    case _ingame_dialog_close: close_game_hints_dialog(); return true;
    case _ingame_dialog_is_open: return game_hints_dialog_is_open();
    default: return false;
    }
}
