// The status bar: the selection's name, status line and the pause, help and map buttons.

#include "status_bar.h"

#include <utility>
#include <cstdio>
#include <cstring>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "bitmap_text.h"
#include "console/console.h"
#include "console/console_mission_text.h"
#include "front_end_procedures.h"
#include "cseries/log.h"
#include "game_preferences.h"
#include "game_records.h"
#include "game_time.h"
#include "global_keys.h"
#include "mesh.h"
#include "mesh_format.h"
#include "overhead_map.h"
#include "recording.h"
#include "scoring.h"
#include "screen.h"
#include "selection.h"
#include "selection_interface.h"
#include "shapes.h"
#include "vesk/string_lists.h"

static status_bar_data status_bar;

// Buttons keep their size and move right; the texts and the unit status line widen.
cached_control_position_data status_bar_control_positions[NUMBER_OF_STATUS_BAR_CONTROL_POSITIONS] = {
    {_status_bar_quit_button, 3, false, {}, {}},
    {_status_bar_unit_status, 4, false, {}, {}},
    {_status_bar_description_text, 4, false, {}, {}},
    {_status_bar_map_button, 3, false, {}, {}},
    {_status_bar_erase_sketch_button, 3, false, {}, {}},
    {_status_bar_sketch_mode_button, 3, false, {}, {}},
    {_status_bar_scoring_text, 4, false, {}, {}},
    {_status_bar_rules_text, 4, false, {}, {}},
    {_status_bar_help_button, 3, false, {}, {}},
};

// ---- the selection -----------------------------------------------------------------------

// Null in the program: set_status_bar_selection_procedures.
static const status_bar_selection_procedures *replaced_status_selection = nullptr;

const status_bar_selection_procedures *set_status_bar_selection_procedures(
    const status_bar_selection_procedures *procedures)
{
    return std::exchange(replaced_status_selection, procedures);
}

static bool selection_has_changed(void)
{
    if (replaced_status_selection && replaced_status_selection->changed) return replaced_status_selection->changed();
    return selection_changed();
}

// Fills `selection`, which comes in showing nothing.
static void get_selection_status(status_bar_selection_data *selection)
{
    if (replaced_status_selection && replaced_status_selection->status)
    {
        replaced_status_selection->status(selection);
        return;
    }
    int16_t permutation = 0;
    get_selection_portrait(&selection->portrait_collection_index, &selection->portrait_sequence_index, &permutation);
    selection->portrait_replacement_colors = nullptr;
    get_selection_description_string(selection->description, sizeof(selection->description));
    status_control_data *status = &selection->status;
    get_selection_name_string(status->name, sizeof(status->name));
    get_selection_type_string(status->type, sizeof(status->type));
    get_selection_experience(&status->experience, &status->battles_survived, &status->experience_allegiance);
    get_selection_ammunition(&status->ammunition_count, &status->ammunition_collection_index,
                             &status->ammunition_sequence_index, &status->ammunition_shading_table_index);
    get_selection_item(&status->item_collection_index, &status->item_sequence_index,
                       &status->item_shading_table_index, &status->item_count);
    status->random_seed = get_selection_random_seed();
}

static void selection_click(int16_t click)
{
    if (replaced_status_selection && replaced_status_selection->click) replaced_status_selection->click(click);
    else if (click == _status_bar_rename_selection) rename_current_selection();
    else if (click == _status_bar_point_observer_at_selection) point_observer_at_current_selection(false);
}

// The front end's quit or game hints dialog.
typedef bool (*ingame_dialog_procedure)(int16_t verb, bool local_game);
static ingame_dialog_procedure quit_dialog(void) { return get_front_end_procedures()->quit_dialog; }
static ingame_dialog_procedure game_hints_dialog(void) { return get_front_end_procedures()->game_hints_dialog; }

// Asks a front-end dialog's procedure; false (nothing opens, nothing is open) without one.
static bool ingame_dialog(ingame_dialog_procedure procedure, int16_t verb)
{
    return procedure ? procedure(verb, game_->type == _game_type_local) : false;
}

// ---- life --------------------------------------------------------------------------------

void initialize_status_bar_for_new_map(void)
{
    if (!VASSERT(!status_bar.status_bar, "!status_bar.status_bar")) return;
    rectangle2d tag_bounds;
    if (!get_dialog_bounds_from_file(STATUS_BAR_DIALOG_TAG, &tag_bounds))
    {
        log_message(__FILE__, __LINE__, "the status bar's dialog '!sba' is missing or damaged: no status bar");
        return;
    }
    const uint32_t preferences = get_game_preferences()->flags;
    status_bar.collection_index = get_collection_index(STATUS_BAR_COLLECTION_TAG);
    status_bar.exp_collection_index = get_collection_index(STATUS_BAR_EXPERIENCE_COLLECTION_TAG);
    status_bar.status_bar = new_dialog(STATUS_BAR_DIALOG_TAG, status_bar_dialog_handler_proc,
                                       status_bar_dialog_inhibitor_proc, NONE, STATUS_BAR_DIALOG_FLAGS);
    if (!status_bar.status_bar)
    {
        log_message(__FILE__, __LINE__, "the status bar's dialog '!sba' was refused: no status bar");
        return;
    }
    status_bar.height = (int16_t)(tag_bounds.bottom - tag_bounds.top);
    // The bar starts shown or hidden as the player left it.
    status_bar.visible = (preferences & _game_pref_status_bar_visible_flag) != 0;
    initialize_status_bar_dialog();
}

// Whether the dialog holds the item (a damaged tag may lack some: they are skipped, logged once per map).
static bool has_item(int16_t item_id)
{
    for (const control_data *item = get_first_dialog_control(status_bar.status_bar); item; item = item->next)
        if (item->item_id == item_id) return true;
    return false;
}

static bool has_item_of_type(int16_t item_id, file_tag type)
{
    return has_item(item_id) && get_bitmap_item_tag(status_bar.status_bar, item_id) == type;
}

static bool is_button(int16_t item_id)
{
    return has_item_of_type(item_id, BUTTON_CONTROL_TAG);
}

static void set_button_shape(int16_t item_id, int32_t collection_index, int32_t sequence_index)
{
    if (is_button(item_id))
        set_button_control_shape(status_bar.status_bar, item_id, (int16_t)collection_index, (int16_t)sequence_index);
}

static void set_text(int16_t item_id, const char *text, int32_t color_frame, uint32_t flags)
{
    dialog_data *dialog = status_bar.status_bar;
    if (!has_item_of_type(item_id, STATIC_TEXT_CONTROL_TAG)) return;
    if (text) set_bitmap_dialog_static_item_text(dialog, item_id, text);
    rgb_color color;
    get_rgb_color_from_sequence(status_bar.collection_index, _status_bar_colors_sequence, color_frame, &color);
    set_dialog_static_item_text_appearance(dialog, item_id, -1, NONE, &color, flags);
}

static void set_item_visible(int16_t item_id, bool visible)
{
    if (has_item(item_id)) bitmap_set_item_visible(status_bar.status_bar, item_id, visible);
}

// Logs the items a damaged '!sba' lacks or has of the wrong type, so each missing piece is named once per map.
static void check_status_bar_items(void)
{
    static const struct
    {
        int16_t item_id;
        file_tag type;
    } expected[] = {
        {_status_bar_quit_button, BUTTON_CONTROL_TAG},       {_status_bar_unit_status, MONSTER_STATUS_CONTROL_TAG},
        {_status_bar_description_text, STATIC_TEXT_CONTROL_TAG}, {_status_bar_portrait_button, BUTTON_CONTROL_TAG},
        {_status_bar_map_button, BUTTON_CONTROL_TAG},        {_status_bar_erase_sketch_button, BUTTON_CONTROL_TAG},
        {_status_bar_sketch_mode_button, BUTTON_CONTROL_TAG}, {_status_bar_scoring_text, STATIC_TEXT_CONTROL_TAG},
        {_status_bar_rules_text, STATIC_TEXT_CONTROL_TAG},   {_status_bar_help_button, BUTTON_CONTROL_TAG},
    };
    for (const auto &entry : expected)
        if (!has_item_of_type(entry.item_id, entry.type))
            log_message(__FILE__, __LINE__, "the status bar's dialog '!sba' lacks item %d of its type: skipped",
                        entry.item_id);
}

// The difficulty's name from 'indl' ("" when the list or the row is missing).
static const char *difficulty_name(void)
{
    const int32_t list = string_list_tag_to_string_index(DIFFICULTY_LEVEL_STRING_LIST_TAG);
    return get_string_from_list(list, game_->difficulty_level);
}

// Moves and widens the items of the resolution table for the dialog's width.
static void stretch_status_bar_items(void)
{
    dialog_data *dialog = status_bar.status_bar;
    rectangle2d bounds;
    get_dialog_bounds(dialog, &bounds);
    const int32_t extra = (bounds.right - bounds.left) - STATUS_BAR_DESIGN_WIDTH;
    for (cached_control_position_data &row : status_bar_control_positions)
    {
        if (!has_item(row.item_index)) continue;
        const bool button = (row.flags & _control_position_is_button_flag) && is_button(row.item_index);
        if (!row.initialized)
        {
            get_dialog_item_bounds(dialog, row.item_index, &row.starting_bounds);
            if (button) get_button_control_original_bounds(dialog, row.item_index, &row.starting_original_bounds);
            row.initialized = true;
        }
        const int16_t left_shift = (row.flags & _control_position_moves_with_right_flag) ? (int16_t)extra : 0;
        rectangle2d moved = row.starting_bounds;
        moved.left = (int16_t)(moved.left + left_shift);
        moved.right = (int16_t)(moved.right + extra);
        set_dialog_item_bounds(dialog, row.item_index, &moved);
        if (button)
        {
            rectangle2d original = row.starting_original_bounds;
            original.left = (int16_t)(original.left + left_shift);
            original.right = (int16_t)(original.right + extra);
            set_button_control_original_bounds(dialog, row.item_index, &original);
        }
    }
}

// The scoring the game plays, which the map may have changed after the bar
// was made (a map that does not offer the set-up's scoring plays another)
// and a script may change during the game.
// A game played at another speed than normal says so, after `text`, for as
// long as it is.
static void name_the_game_speed(char *text, size_t size)
{
    if (game_->game_speed != NORMAL_GAME_SPEED_INDEX)
        slprintfcat(text, size, "%sSpeed %s", text[0] ? "  " : "", game_speed_name(game_->game_speed));
}

// A game its script decides gives, under its words, the objective the
// player is at (the map's first one until a script moves on); else the
// rules of the game's scoring.
static const char *rules_text(void)
{
    const char *rules = get_game_rules_string();
    if (!game_is_decided_by_its_script() || get_mission_count() <= 0) return rules;
    const mesh_header *mesh = get_mesh_header();
    const char *objective =
        mesh ? get_string_from_list(string_list_tag_to_string_index(mesh->map_description_string_list_tag),
                                    get_mission_objective_index() + 1)
             : "";
    return objective[0] ? objective : rules;
}

static void set_scoring_texts(void)
{
    char scoring[512];
    snprintf(scoring, sizeof(scoring), "%s  (%s)", get_game_scoring_string(), difficulty_name());
    name_the_game_speed(scoring, sizeof(scoring));
    status_bar.shown_speed = game_->game_speed;
    set_text(_status_bar_scoring_text, scoring, 2, _draw_string_shadow_flag);
    set_text(_status_bar_rules_text, rules_text(), 3,
             _draw_string_wrap_flag | _draw_string_shadow_flag | _draw_string_prevent_partial_vertical_clipping_flag);
    status_bar.shown_scoring = game_->scoring;
    status_bar.shown_objective = get_mission_objective_index();
}

void initialize_status_bar_dialog(void)
{
    dialog_data *dialog = status_bar.status_bar;
    if (!dialog) return;
    check_status_bar_items();

    rectangle2d screen;
    get_screen_bounds(&screen);
    const rectangle2d bounds = {0, 0, status_bar.height, (int16_t)(screen.right - screen.left)};
    move_dialog(dialog, &bounds);
    set_dialog_background(dialog, (int16_t)status_bar.collection_index, _status_bar_background_sequence);

    if (is_button(_status_bar_portrait_button))
    {
        rectangle2d original;
        get_button_control_original_bounds(dialog, _status_bar_portrait_button, &original);
        set_dialog_item_bounds(dialog, _status_bar_portrait_button, &original);
        find_control(dialog, _status_bar_portrait_button)->flags |= PORTRAIT_BUTTON_CONTROL_FLAGS;
    }
    set_button_shape(_status_bar_quit_button, status_bar.collection_index, _status_bar_quit_button_sequence);
    set_button_shape(_status_bar_help_button, status_bar.collection_index, _status_bar_help_button_sequence);
    set_button_shape(_status_bar_portrait_button, NONE, NONE);
    set_button_shape(_status_bar_erase_sketch_button, status_bar.collection_index,
                     _status_bar_erase_sketch_button_sequence);
    set_button_shape(_status_bar_sketch_mode_button, status_bar.collection_index,
                     _status_bar_sketch_mode_button_sequence);
    if (is_button(_status_bar_map_button))
        set_button_transparency(dialog, _status_bar_map_button,
                                (game_->option_flags & _game_option_allow_overhead_map_flag)
                                    ? 0
                                    : DISALLOWED_MAP_BUTTON_TRANSPARENCY);
    if (has_item(_status_bar_quit_button)) set_dialog_cancel_item(dialog, _status_bar_quit_button);
    if (game_->type != _game_type_networked)
    {
        set_item_visible(_status_bar_erase_sketch_button, false);
        set_item_visible(_status_bar_sketch_mode_button, false);
    }

    set_scoring_texts();
    set_text(_status_bar_description_text, nullptr, 1,
             _draw_string_wrap_flag | _draw_string_shadow_flag | _draw_string_prevent_partial_vertical_clipping_flag);

    set_button_shape(_status_bar_map_button, status_bar.collection_index, _status_bar_map_button_sequence);
    if (is_button(_status_bar_map_button))
        set_button_control_state(dialog, _status_bar_map_button, status_bar.map_visible ? 1 : 0);
    if (is_button(_status_bar_portrait_button))
        set_button_control_frame_shape(dialog, _status_bar_portrait_button, (int16_t)status_bar.collection_index,
                                       _status_bar_portrait_frame_sequence);

    stretch_status_bar_items();

    set_dialog_visible(dialog, status_bar.visible != 0);
    status_bar.force_update = true;
    update_status_bar();
}

void update_status_bar_for_new_resolution(void)
{
    if (status_bar.status_bar) initialize_status_bar_dialog();
}

void dispose_status_bar_from_old_map(void)
{
    if (status_bar.status_bar) dispose_dialog(status_bar.status_bar);
    status_bar = status_bar_data();
}

// ---- visibility and queries ------------------------------------------------------------------

void set_status_bar_visibility(bool visible)
{
    if (status_bar.status_bar) set_dialog_visible(status_bar.status_bar, visible);
    status_bar.visible = visible;
    status_bar.force_update = visible;
    game_preferences *preferences = get_game_preferences();
    if (visible) preferences->flags |= _game_pref_status_bar_visible_flag;
    else preferences->flags &= ~(uint32_t)_game_pref_status_bar_visible_flag;
}

int16_t status_bar_visible(rectangle2d *bounds)
{
    if (bounds && status_bar.status_bar && status_bar.visible)
    {
        get_dialog_bounds(status_bar.status_bar, bounds);
        bounds->bottom = (int16_t)(bounds->top + status_bar.height);
    }
    return status_bar.visible;
}

int16_t get_status_bar_height(void)
{
    return status_bar.height;
}

int32_t get_status_bar_collection_index(void)
{
    return status_bar.status_bar ? status_bar.collection_index : NONE;
}

int32_t get_status_bar_exp_collection_index(void)
{
    return status_bar.status_bar ? status_bar.exp_collection_index : NONE;
}

dialog_data *get_status_bar_dialog(void)
{
    return status_bar.status_bar;
}

bool is_status_bar(const dialog_data *dialog)
{
    return dialog && dialog == status_bar.status_bar;
}

bool any_ingame_dialogs_open(void)
{
    return ingame_dialog(quit_dialog(), _ingame_dialog_is_open) ||
           ingame_dialog(game_hints_dialog(), _ingame_dialog_is_open);
}

// ---- buttons ---------------------------------------------------------------------------------

bool push_pause_button(void)
{
    if (!VASSERT(status_bar.status_bar, "status_bar.status_bar")) return false;
    return press_item(status_bar.status_bar, nullptr, _status_bar_quit_button);
}

bool push_help_button(void)
{
    if (!VASSERT(status_bar.status_bar, "status_bar.status_bar")) return false;
    return press_item(status_bar.status_bar, nullptr, _status_bar_help_button);
}

// A button's state, 0 for a button the bar lacks.
static int16_t button_state(int16_t item_id)
{
    return is_button(item_id) ? get_button_control_state(status_bar.status_bar, item_id) : 0;
}

// Whether the map button is down.
static bool map_button_down(void)
{
    return button_state(_status_bar_map_button) > 0;
}

void push_overhead_map_button(int32_t push_mode)
{
    if (!VASSERT(status_bar.status_bar, "status_bar.status_bar")) return;
    if (!is_button(_status_bar_map_button)) return;
    const bool down = map_button_down();
    if (push_mode == _push_overhead_map_button_always || (push_mode == _push_overhead_map_button_to_open && !down) ||
        (push_mode == _push_overhead_map_button_to_close && down))
        press_item(status_bar.status_bar, nullptr, _status_bar_map_button);
}

bool status_bar_dialog_inhibitor_proc(dialog_data *, int16_t item_id)
{
    switch (item_id)
    {
    case _status_bar_quit_button: return !ingame_dialog(game_hints_dialog(), _ingame_dialog_is_open);
    case _status_bar_help_button:
        return !ingame_dialog(quit_dialog(), _ingame_dialog_is_open) && get_console_input_state() != 1;
    default: return true;
    }
}

void status_bar_dialog_handler_proc(dialog_data *dialog, int16_t item_id, action_data *)
{
    if (!dialog || dialog != status_bar.status_bar) return;
    switch (item_id)
    {
    case _status_bar_quit_button:
        // Without the quit dialog (which pauses while it is open) the button
        // pauses the game itself: down is paused.
        if (quit_dialog())
            ingame_dialog(quit_dialog(), button_state(item_id) > 0 ? _ingame_dialog_open : _ingame_dialog_close);
        else
            pause_game(button_state(item_id) > 0);
        break;
    case _status_bar_unit_status: selection_click(_status_bar_rename_selection); break;
    case _status_bar_portrait_button: selection_click(_status_bar_point_observer_at_selection); break;
    case _status_bar_map_button:
        status_bar.map_visible = !status_bar.map_visible;
        set_button_shape(_status_bar_map_button, status_bar.collection_index, _status_bar_map_button_sequence);
        set_button_control_state(dialog, _status_bar_map_button, status_bar.map_visible ? 1 : 0);
        if (!status_bar.map_visible && is_button(_status_bar_sketch_mode_button))
            set_button_control_state(dialog, _status_bar_sketch_mode_button, 0);
        set_overhead_map_visibility(status_bar.map_visible != 0);
        break;
    case _status_bar_erase_sketch_button: erase_sketch_points(true); break;
    case _status_bar_sketch_mode_button:
        change_sketch_mode(button_state(item_id) > 0);
        if (is_button(_status_bar_map_button) && !map_button_down()) press_item(dialog, nullptr, _status_bar_map_button);
        break;
    case _status_bar_help_button:
        ingame_dialog(game_hints_dialog(),
                      button_state(item_id) > 0 ? _ingame_dialog_open : _ingame_dialog_close);
        break;
    default: break;
    }
}

// ---- the per-frame update ----------------------------------------------------------------------

static bool rules_are_shown(void)
{
    // What decides a scripted level is said under its words, in every game.
    if (game_is_decided_by_its_script()) return true;
    if (game_->option_flags & _game_option_cooperative_flag) return false;
    return game_->type == _game_type_networked ||
           (game_->type == _game_type_replay && get_replay_game_type() == _game_type_networked);
}

void update_status_bar(void)
{
    dialog_data *dialog = status_bar.status_bar;
    if (!dialog) return;
    if (!status_bar.map_initially_opened)
    {
        const mesh_header *header = get_mesh_header();
        if (!header || !(header->flags & _mesh_leaves_overhead_map_closed_flag))
            push_overhead_map_button(_push_overhead_map_button_to_open);
        status_bar.map_initially_opened = true;
    }

    const bool speed_changed = status_bar.shown_speed != game_->game_speed;
    if (status_bar.shown_scoring != game_->scoring || speed_changed ||
        status_bar.shown_objective != get_mission_objective_index())
        set_scoring_texts();
    // Asked even when an update is forced: asking clears the selection's dirty marks.
    const bool changed = selection_has_changed() || speed_changed;
    if (!status_bar.force_update && !changed) return;

    static status_bar_selection_data selection;
    memset(&selection, 0, sizeof(selection));
    selection.portrait_collection_index = NONE;
    selection.portrait_sequence_index = NONE;
    selection.status.experience_allegiance = NONE;
    selection.status.ammunition_collection_index = NONE;
    selection.status.item_collection_index = NONE;
    get_selection_status(&selection);
    selection.description[sizeof(selection.description) - 1] = 0;
    const bool unit_shown = selection.portrait_collection_index != NONE;
    // The selection's text takes the scoring's place: the speed goes with it.
    name_the_game_speed(selection.description, sizeof(selection.description));

    if (is_button(_status_bar_portrait_button))
    {
        set_button_control_shape(dialog, _status_bar_portrait_button, selection.portrait_collection_index,
                                 unit_shown ? selection.portrait_sequence_index : (int16_t)NONE);
        set_button_control_replacement_colors(dialog, _status_bar_portrait_button,
                                              unit_shown ? selection.portrait_replacement_colors : nullptr);
    }
    if (has_item_of_type(_status_bar_description_text, STATIC_TEXT_CONTROL_TAG))
        set_bitmap_dialog_static_item_text(dialog, _status_bar_description_text, selection.description);
    if (has_item_of_type(_status_bar_unit_status, MONSTER_STATUS_CONTROL_TAG))
    {
        status_control_data current;
        if (get_status_control_data(dialog, _status_bar_unit_status, &current))
        {
            // Full veterans are the player's choice, kept by the line itself.
            selection.status.show_full_vets = current.show_full_vets;
            selection.status.collection_index = (int16_t)status_bar.exp_collection_index;
            get_rgb_color_from_sequence(status_bar.collection_index, _status_bar_colors_sequence, 0,
                                        &selection.status.color);
            set_status_control_data(dialog, _status_bar_unit_status, &selection.status);
        }
    }

    set_item_visible(_status_bar_unit_status, unit_shown);
    set_item_visible(_status_bar_description_text, unit_shown);
    set_item_visible(_status_bar_portrait_button, unit_shown);
    set_item_visible(_status_bar_scoring_text, !unit_shown);
    set_item_visible(_status_bar_rules_text, !unit_shown && rules_are_shown());
    status_bar.force_update = false;
}

// ---- hooks -------------------------------------------------------------------------------------

void register_status_bar_hooks(void)
{
    // (any_ingame_dialogs_open joins the selection's table in register_built_subsystems.)
}
