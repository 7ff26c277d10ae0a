// The selection: the units the local player has picked, its presets and modes,
// the presses, drags and double clicks that pick them, and the orders a press
// gives at once.  The orders of releases, keys and the console are in
// selection_orders.cpp.

#include "selection.h"
#include "cseries/procedure_table_slot.h"
#include "overhead_map_procedures.h"
#include "input/input_definitions.h"
#include "selection_interface.h"
#include "selection_orders.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <utility>

#include "console_procedures.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "cseries/timers.h"
#include "formations.h"
#include "game_hooks.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "mesh.h"
#include "mesh_format.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_hiding.h"
#include "monster_inventory.h"
#include "monster_lists.h"
#include "monster_owners.h"
#include "monster_queries.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "selection_shared.h"
#include "session_state.h"
#include "vesk/string_lists.h"

// ---- registration points ---------------------------------------------------------------

static procedure_table_slot<selection_procedures> selection_table_slot("selection procedures");

bool register_selection_procedures(const selection_procedures *procedures)
{
    return selection_table_slot.fill(procedures);
}

const selection_procedures *get_selection_procedures(void) { return selection_table_slot.get(); }
static uint32_t selection_input_options_from_key_bindings(void);
// The key bindings, unless a test replaced them.
static selection_input_options_procedure input_options_procedure = nullptr;

selection_input_options_procedure set_selection_input_options_procedure_for_tests(
    selection_input_options_procedure procedure)
{
    return std::exchange(input_options_procedure, procedure);
}

bool selection_input_option(int32_t bit)
{
    const selection_input_options_procedure p =
        input_options_procedure ? input_options_procedure : selection_input_options_from_key_bindings;
    return p && (p() & (1u << bit));
}
void remove_selection_local_sprites(bool immediately)
{
    if (const auto remove = get_selection_procedures()->remove_local_sprites) remove(immediately);
}
void new_selection_local_sprite(const world_point2d *at, int16_t sequence)
{
    const auto add = get_selection_procedures()->new_local_sprite;
    if (!add) return;
    const world_point3d location = {at->x, at->y, get_mesh_height(at, _mesh_surface_height)};
    add(&location, sequence);
}
static void set_console_prompts(const char *first, const char *second, int32_t menu)
{
    if (const auto prompts = get_console_procedures()->prompts) prompts(first, second, menu);
}
static void console_text_input(bool start, int32_t length)
{
    if (const auto text_input = get_console_procedures()->text_input) text_input(start, length);
}

// ---- the record ------------------------------------------------------------------------

static selection_globals_ selection_globals = {_selection_uninitialized, _selection_mode_none};
static int16_t last_object_highlighted_index = NONE;
static int16_t last_object_highlighted_identifier = NONE;
// One byte per unit slot while band results are merged.
static uint8_t monster_marks[MAXIMUM_MONSTERS_PER_MAP];

const selection_globals_ *get_selection_globals(void) { return &selection_globals; }
selection_globals_ *get_mutable_selection_globals(void) { return &selection_globals; }

// An action's ticks, as the countdowns use them: a record's delta is 0 or 1,
// but a damaged or hand-made one may carry any value, which must neither
// wrap a 16-bit countdown back to a positive count nor run one backwards.
enum
{
    MAXIMUM_ACTION_TICKS = 1024,
};
int32_t selection_action_ticks(const action_data *action)
{
    const int32_t delta = action->time_delta;
    return delta < 0 ? 0 : delta > MAXIMUM_ACTION_TICKS ? MAXIMUM_ACTION_TICKS : delta;
}
// A 16-bit countdown less the action's ticks, stopping at -1.
int16_t selection_count_down(int32_t ticks, const action_data *action)
{
    const int32_t left = ticks - selection_action_ticks(action);
    return (int16_t)(left < -1 ? -1 : left);
}

object_data *get_selection_unit_object(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    return monster ? get_object(monster->object_index) : nullptr;
}

void set_selection_object_mark(int32_t monster_index, uint32_t flag, bool on)
{
    object_data *object = get_selection_unit_object(monster_index);
    if (!object) return;
    if (on) object->flags |= flag;
    else object->flags &= ~flag;
}

bool selection_is_usable(void)
{
    const selection_data *s = &selection_globals.current_selection;
    return s->count > 0 && !(s->flags & _selection_is_not_controllable_flag);
}

bool monster_is_ambient_for_selection_purposes(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = definition_of(monster);
    if (!monster) return false;
    return (monster->extra_flags & _monster_is_ambient_life_extra_flag) ||
           (definition && definition->monster_class == _monster_class_ambient_life);
}

static bool ambient_is_targetable(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const monster_definition *definition = definition_of(monster);
    if (!monster) return false;
    if (definition && (definition->flags & _monster_targetable_if_ambient_flag)) return true;
    if (game_->scoring == _game_scoring_assassination && (monster->extra_flags & _monster_is_netgame_target_extra_flag))
        return true;
    return game_->scoring == _game_scoring_hunting && (monster->extra_flags & _monster_is_hunted_creature_extra_flag);
}

static bool is_inanimate(const monster_data *monster)
{
    const monster_definition *definition = definition_of(monster);
    return definition && (definition->flags & _monster_is_inanimate_object_flag);
}

uint32_t evaluate_monster_for_selection_purposes(int32_t monster_index)
{
    uint32_t evaluation = evaluate_monster(monster_index);
    if (monster_is_ambient_for_selection_purposes(monster_index))
    {
        evaluation &= ~(uint32_t)_monster_is_commandable_evaluation_flag;
        const monster_definition *definition = definition_of(get_monster_data(monster_index));
        if (definition && (definition->flags & _monster_targetable_if_ambient_flag))
            evaluation &= ~(uint32_t)_monster_is_friendly_evaluation_flag;
    }
    return evaluation;
}

static bool monster_is_addable(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return false;
    if (in_replay()) return true;
    if (!monster_is_ambient_for_selection_purposes(monster_index)) return !is_inanimate(monster);
    return ambient_is_targetable(monster_index);
}

// Commandable after the ambient masking, and still on the mesh.
bool monster_is_commandable_on_mesh_for_selection(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    return monster && !(monster->flags & _monster_has_left_the_mesh_flag) &&
           (evaluate_monster_for_selection_purposes(monster_index) & _monster_is_commandable_evaluation_flag);
}

static int32_t find_in(const selection_data *selection, int32_t monster_index)
{
    for (int32_t i = 0; i < selection->count && i < MAXIMUM_NUMBER_OF_SELECTED_MONSTERS; ++i)
        if (selection->monster_indexes[i] == monster_index) return i;
    return -1;
}

static void drop_waypoints(void)
{
    selection_globals.waypoint_count = 0;
    remove_selection_local_sprites(true);
}

void adjust_monster_index_in_selection(selection_data *selection, int32_t monster_index, int16_t kind)
{
    if (!selection) return;
    const bool addable = monster_is_addable(monster_index);
    if (!addable && kind == _adjust_selection_add) return;
    const bool current = selection == &selection_globals.current_selection;
    const int32_t position = find_in(selection, monster_index);
    bool changed = false;
    if (position >= 0 && (kind == _adjust_selection_subtract || kind == _adjust_selection_invert))
    {
        selection->flags |= _selection_is_dirty_flag;
        memmove(&selection->monster_indexes[position], &selection->monster_indexes[position + 1],
                sizeof(int16_t) * (size_t)(selection->count - position - 1));
        --selection->count;
        if (current) set_selection_object_mark(monster_index, _object_is_selected_flag, false);
        changed = true;
    }
    else if (position < 0 && (kind == _adjust_selection_add || kind == _adjust_selection_invert))
    {
        selection->flags |= _selection_is_dirty_flag;
        if (addable && selection->count < MAXIMUM_NUMBER_OF_SELECTED_MONSTERS)
        {
            selection->monster_indexes[selection->count++] = (int16_t)monster_index;
            if (current) set_selection_object_mark(monster_index, _object_is_selected_flag, true);
        }
        changed = true;
    }
    if (current && changed) drop_waypoints();
}

void add_monster_index_to_current_selection(int32_t monster_index)
{
    adjust_monster_index_in_selection(&selection_globals.current_selection, monster_index, _adjust_selection_add);
}

static void clear_marks_on_every_unit(uint32_t marks)
{
    for (int32_t i = 0; i < MAXIMUM_MONSTERS_PER_MAP; ++i)
        if (get_monster_data(i)) set_selection_object_mark(i, marks, false);
}

void select_nothing(void)
{
    selection_data *s = &selection_globals.current_selection;
    const bool had_any = s->count > 0;
    while (s->count > 0)
        adjust_monster_index_in_selection(s, s->monster_indexes[s->count - 1], _adjust_selection_subtract);
    if (had_any) s->flags = _selection_is_dirty_flag;
    clear_marks_on_every_unit(_object_is_selected_flag | _object_attack_highlighted_flag |
                              _object_mouse_over_highlighted_flag);
    last_object_highlighted_index = NONE;
    last_object_highlighted_identifier = NONE;
    change_selection_mode(_selection_mode_none);
    selection_globals.none_selected = 1;
}

void reset_selection_mode(void)
{
    if (selection_globals.state != _selection_uninitialized) change_selection_mode(_selection_mode_none);
}

// ---- modes -----------------------------------------------------------------------------

static const char *modes_string(int32_t row)
{
    return get_string_from_list(selection_globals.selection_modes_string_list_index, row);
}

// The players of the local team other than the local player, in player order.
int32_t get_selection_local_teammates(int16_t *players)
{
    int32_t count = 0;
    if (local_player_team_index == NONE) return 0;
    for (int32_t p = 0; p < get_player_count(); ++p)
    {
        const player_data *player = get_player_data(p);
        if (player && p != local_player_index && player->team_index == local_player_team_index)
            players[count++] = (int16_t)p;
    }
    return count;
}

bool selection_team_is_live(int32_t t)
{
    const team_data *team = get_team_data(t);
    return team && team->number_of_players != 0 && !(team->flags & _team_has_been_eliminated_flag);
}

// The teams other than the local one that have players and are not eliminated.
int32_t get_selection_other_live_teams(int16_t *teams)
{
    int32_t count = 0;
    for (int32_t t = 0; t < get_team_count(); ++t)
        if (t != local_player_team_index && selection_team_is_live(t)) teams[count++] = (int16_t)t;
    return count;
}

bool change_selection_mode(int16_t mode)
{
    drop_waypoints();
    if (mode < _selection_mode_none || mode >= NUMBER_OF_SELECTION_MODES)
    {
        VWARN(false, "selection mode out of range");
        return false;
    }
    bool allowed;
    switch (mode)
    {
    case _selection_mode_none:
    case _selection_mode_recall_preset: allowed = true; break;
    case _selection_mode_whisper:
    case _selection_mode_yell: allowed = game_->type == _game_type_networked; break;
    case _selection_mode_ally:
        allowed = game_->type == _game_type_networked && !(game_->option_flags & _game_option_cooperative_flag);
        break;
    default: allowed = selection_is_usable(); break;
    }
    if (in_replay() && mode != _selection_mode_none) allowed = false;
    if (!allowed) return false;

    const int16_t previous = selection_globals.mode;
    const char *first = mode == _selection_mode_none ? "" : modes_string(2 * mode);
    const char *second = mode == _selection_mode_none ? "" : modes_string(2 * mode + 1);
    int32_t menu = -1;
    const selection_data *s = &selection_globals.current_selection;
    switch (mode)
    {
    case _selection_mode_recall_preset:
        selection_globals.preset_selection_index = NONE;
        selection_globals.preset_selection_ticks = 0;
        if (selection_input_option(_selection_input_alternate_preset_recall_bit)) first = second, second = "";
        break;
    case _selection_mode_formation: second = get_formation_name(selection_globals.formation_index); break;
    case _selection_mode_special_ability:
    {
        int32_t common = NONE;
        int16_t list = NONE;
        for (int32_t i = 0; i < s->count; ++i)
        {
            int16_t unit_list = NONE;
            const int32_t answer = get_monster_special_ability_mode(s->monster_indexes[i], &unit_list);
            if (answer == _special_ability_unavailable) continue;
            if (common == NONE) common = answer, list = unit_list;
            else if (answer != common) return false;
        }
        if (common == NONE) return false;
        if (common == _special_ability_reflexive)
        {
            send_selection_general_order(_command_general_special_ability);
            return false;
        }
        if (list != NONE) first = get_string_from_list(list, 0), second = get_string_from_list(list, 1);
        break;
    }
    case _selection_mode_detach_units:
    {
        for (int32_t i = 0; i < s->count; ++i)
            if (!(evaluate_monster_for_selection_purposes(s->monster_indexes[i]) & _monster_is_owned_evaluation_flag))
            {
                selection_detach_command(local_player_index);
                return false;
            }
        int16_t mates[MAXIMUM_PLAYERS_PER_GAME];
        const int32_t count = get_selection_local_teammates(mates);
        if (count == 0) return false;
        if (count == 1)
        {
            selection_detach_command(NONE);
            return false;
        }
        menu = _selection_console_menu_teammates;
        break;
    }
    case _selection_mode_ally:
    {
        const team_data *team = local_player_team_index == NONE ? nullptr : get_team_data(local_player_team_index);
        int16_t teams[MAXIMUM_TEAMS_PER_GAME];
        if (!(game_->option_flags & _game_option_allow_alliances_flag) || !team ||
            team->captain_player_index != local_player_index || (team->flags & _team_has_been_eliminated_flag) ||
            get_selection_other_live_teams(teams) + 1 < 3)
            return false;
        menu = _selection_console_menu_teams;
        break;
    }
    case _selection_mode_inventory:
        if (!build_selection_inventory(false)) return false;
        menu = _selection_console_menu_inventory;
        break;
    case _selection_mode_inventory_next:
    case _selection_mode_inventory_prev:
        // Each entry steps the wielded item at once; the brief menu shows
        // where it landed.
        if (build_selection_inventory(false))
        {
            const command_inventory_data data = {NONE, NONE};
            if (mode == _selection_mode_inventory_next) handle_inventory_next_command(NONE, &data, s->count, s->monster_indexes);
            else handle_inventory_prev_command(NONE, &data, s->count, s->monster_indexes);
            menu = _selection_console_menu_inventory_briefly;
        }
        break;
    case _selection_mode_set_formation: first = modes_string(2); break;
    case _selection_mode_set_formation_in_place: first = modes_string(2), second = "(change in place)"; break;
    default: break;
    }
    if (mode == _selection_mode_rename) console_text_input(true, MAXIMUM_RENAME_LENGTH);
    else if (mode == _selection_mode_whisper || mode == _selection_mode_yell)
    {
        if (previous != _selection_mode_whisper && previous != _selection_mode_yell)
            console_text_input(true, current_gameplay_version < 1700 ? MAXIMUM_CHAT_LENGTH_BEFORE_1700 : MAXIMUM_CHAT_LENGTH);
    }
    else
        console_text_input(false, 0);
    set_console_prompts(first, second, menu);
    selection_globals.mode = mode;
    return true;
}

// ---- life cycle ------------------------------------------------------------------------

bool initialize_selection(void)
{
    memset(&selection_globals, 0, sizeof(selection_globals));
    selection_globals.state = _selection_uninitialized;
    selection_globals.mode = _selection_mode_none;
    last_object_highlighted_index = last_object_highlighted_identifier = NONE;
    return true;
}

bool initialize_selection_for_new_map(void)
{
    VWARN(selection_globals.state == _selection_uninitialized, "selection_globals.state==_selection_uninitialized");
    // The formations' per-map pair runs with the units' stores.
    memset(&selection_globals, 0, sizeof(selection_globals));
    selection_globals.state = _selection_idle;
    selection_globals.mode = _selection_mode_none;
    selection_globals.sloppy_monster_index = NONE;
    selection_globals.preset_selection_index = NONE;
    selection_globals.old_target_command_target_index = NONE;
    selection_globals.old_pick_up_command_target_object_index = NONE;
    selection_globals.old_pick_up_command_target_object_identifier = NONE;
    selection_globals.old_selected_monster_index = NONE;
    selection_globals.low_velocity_gesture_ticks = NONE;
    selection_globals.preset_selection_match_hint = NUMBER_OF_SELECTION_PRESETS - 1;
    change_selection_mode(_selection_mode_none);
    selection_globals.formation_index = get_default_formation_index();
    selection_globals.selection_modes_string_list_index =
        (int16_t)string_list_tag_to_string_index(SELECTION_MODES_STRING_LIST_TAG);
    selection_globals.selection_popups_string_list_index =
        (int16_t)string_list_tag_to_string_index(SELECTION_POPUPS_STRING_LIST_TAG);
    selection_globals.double_click_mode = NONE;
    selection_globals.last_idle_time = 0;
    last_object_highlighted_index = last_object_highlighted_identifier = NONE;
    return true;
}

void dispose_selection_from_old_map(void)
{
    selection_globals.state = _selection_uninitialized;
    selection_globals.mode = _selection_mode_none;
    // Its units went with the map: until the next map's selection begins
    // (after the next map has made its bars and drawn its loading frames),
    // the status bar asking finds nothing selected, not the new map's units
    // in the old indexes.
    selection_globals.current_selection.count = 0;
}

// ---- removals --------------------------------------------------------------------------

void remove_monster_index_from_current_selections(int32_t monster_index)
{
    if (selection_globals.state == _selection_uninitialized) return;
    selection_data *s = &selection_globals.current_selection;
    if (find_in(s, monster_index) >= 0)
    {
        adjust_monster_index_in_selection(s, monster_index, _adjust_selection_invert);
        if (s->count == 0 && selection_globals.mode != _selection_mode_whisper &&
            selection_globals.mode != _selection_mode_yell)
            change_selection_mode(_selection_mode_none);
    }
    if (selection_globals.state == _selection_band)
        adjust_monster_index_in_selection(&selection_globals.saved_selection, monster_index, _adjust_selection_subtract);
    if (selection_globals.target_highlight_ticks != 0)
        adjust_monster_index_in_selection(&selection_globals.old_target_command_defender_selection, monster_index,
                                          _adjust_selection_subtract);
    if (selection_globals.sloppy_monster_index == monster_index) selection_globals.sloppy_monster_index = NONE;
    if (selection_globals.double_click_mode == _selection_double_click_close_on_target)
    {
        adjust_monster_index_in_selection(&selection_globals.old_target_command_attacker_selection, monster_index,
                                          _adjust_selection_subtract);
        if (selection_globals.old_target_command_target_index == monster_index) selection_globals.double_click_mode = NONE;
    }
    else if (selection_globals.double_click_mode == _selection_double_click_select_like_units &&
             selection_globals.old_selected_monster_index == monster_index)
        selection_globals.double_click_mode = NONE;
}

void remove_monster_index_from_all_selections(int32_t monster_index, uint32_t died_flags)
{
    remove_monster_index_from_current_selections(monster_index);
    if (died_flags & _monster_died_clear_presets_flag)
        for (int32_t i = 0; i < NUMBER_OF_SELECTION_PRESETS; ++i)
            adjust_monster_index_in_selection(&selection_globals.preset_selections[i], monster_index,
                                              _adjust_selection_subtract);
}

// The units' one point: a unit the local player loses leaves the presets too;
// one an artifact turned into an inanimate object leaves the current
// selections only.
static void leave_selections(int32_t monster_index, uint32_t died_flags)
{
    if (died_flags & _monster_died_clear_presets_flag)
        remove_monster_index_from_all_selections(monster_index, died_flags);
    else remove_monster_index_from_current_selections(monster_index);
}

int16_t get_current_selection_count(void) { return selection_globals.current_selection.count; }

int16_t get_current_selection_index(int32_t i)
{
    if (!ASSERT(selection_globals.state != _selection_uninitialized)) return NONE;
    if (!ASSERT(i >= 0 && i < selection_globals.current_selection.count)) return NONE;
    return selection_globals.current_selection.monster_indexes[i];
}

int16_t find_monster_index_in_current_selection(int32_t monster_index)
{
    return (int16_t)find_in(&selection_globals.current_selection, monster_index);
}

// ---- orders: shared pieces -------------------------------------------------------------

void finish_selection_order(void)
{
    change_selection_mode(_selection_mode_none);
    const selection_data *s = &selection_globals.current_selection;
    for (int32_t i = 0; i < s->count; ++i) set_selection_object_mark(s->monster_indexes[i], _object_is_selected_flag, false);
    selection_globals.ticks_until_reselection_after_command = TICKS_UNTIL_RESELECTION_AFTER_COMMAND;
}

void send_selection_general_order(int16_t type)
{
    if (!selection_is_usable()) return;
    const selection_data *s = &selection_globals.current_selection;
    const command_general_data data = {0, type};
    handle_general_command(NONE, &data, s->count, s->monster_indexes);
    finish_selection_order();
}

void highlight_selection_targets(bool on)
{
    object_data *object = get_object_by_identifier(selection_globals.old_pick_up_command_target_object_index,
                                                   selection_globals.old_pick_up_command_target_object_identifier);
    if (selection_globals.old_pick_up_command_target_object_index != NONE && object)
    {
        if (on) object->flags |= _object_attack_highlighted_flag;
        else object->flags &= ~(uint32_t)_object_attack_highlighted_flag;
    }
    if (!on)
    {
        clear_marks_on_every_unit(_object_attack_highlighted_flag);
        return;
    }
    const selection_data *d = &selection_globals.old_target_command_defender_selection;
    for (int32_t i = 0; i < d->count; ++i)
        if (find_in(&selection_globals.current_selection, d->monster_indexes[i]) < 0)
            set_selection_object_mark(d->monster_indexes[i], _object_attack_highlighted_flag, true);
}

static int32_t most_common_class(const selection_data *s)
{
    int32_t counts[8] = {};
    for (int32_t i = 0; i < s->count; ++i)
    {
        const monster_definition *definition = definition_of(get_monster_data(s->monster_indexes[i]));
        if (definition && definition->monster_class >= 0 && definition->monster_class < 8) ++counts[definition->monster_class];
    }
    int32_t best = 0;
    for (int32_t c = 1; c < 8; ++c)
        if (counts[c] > counts[best]) best = c;
    return best;
}

// ---- the unit scan ---------------------------------------------------------------------

static bool criterion(int16_t test, int32_t wanted, int32_t value)
{
    switch (test)
    {
    case _must_match: return value == wanted;
    case _cannot_match: return value != wanted;
    case _cannot_be_allied: return !teams_are_allied(wanted, value);
    default: return true;
    }
}

int32_t scan_and_get_monsters(int16_t *list, int32_t count, int32_t maximum, int32_t cell_radius, int32_t player,
                              int16_t player_test, int32_t team, int16_t team_test, int32_t collection,
                              int16_t collection_test, bool inanimate, int16_t inanimate_test)
{
    if (!list || count < 1 || maximum < 1) return count < 0 ? 0 : count;
    if (count > maximum) count = maximum;
    const monster_data *first = get_monster_data(list[0]);
    if (!first) return count;
    const monster_definition *first_definition = definition_of(first);
    const bool first_ambient = monster_is_ambient_for_selection_purposes(list[0]);
    const bool berserk_only = teams_are_allied(first->owner_team_index, local_player_team_index) &&
                              (first->extra_flags & _monster_is_berserk_extra_flag);
    for (int32_t next = 0; next < count; ++next)
    {
        const object_data *centre = get_selection_unit_object(list[next]);
        if (!centre || centre->cell_x == NONE) continue;
        int32_t x0 = centre->cell_x - cell_radius, y0 = centre->cell_y - cell_radius;
        int32_t x1 = centre->cell_x + cell_radius, y1 = centre->cell_y + cell_radius;
        if (x0 < 0) x0 = 0;
        if (y0 < 0) y0 = 0;
        if (x1 >= mesh_width) x1 = mesh_width - 1;
        if (y1 >= mesh_height) y1 = mesh_height - 1;
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x)
            {
                const mesh_cell *cell = get_mesh_cell(x, y);
                int32_t guard = MAXIMUM_OBJECTS_PER_MAP * 16;
                for (int32_t o = cell ? (int32_t)cell->first_object_index : (int32_t)NONE; o != NONE && guard-- > 0;)
                {
                    const object_data *object = get_object(o);
                    if (!object) break;
                    const int32_t index = object->owner_index;
                    o = object->next_object_index;
                    if (object->owner != _object_is_monster || (object->flags & _object_is_invisible_flag)) continue;
                    const monster_data *candidate = get_monster_data(index);
                    if (!candidate || count >= maximum) continue;
                    bool listed = false;
                    for (int32_t i = 0; i < count && !listed; ++i) listed = list[i] == index;
                    if (listed) continue;
                    const monster_definition *definition = definition_of(candidate);
                    if (!definition) continue;
                    if (!criterion(player_test, player, candidate->owner_player_index)) continue;
                    if (!criterion(team_test, team, candidate->owner_team_index)) continue;
                    if (collection_test != _can_be_anything)
                    {
                        if (!criterion(collection_test, collection, (int32_t)definition->collection_tag)) continue;
                        if (collection_test == _must_match && first_definition &&
                            ((first_definition->hack_flags | definition->hack_flags) &
                             _monster_hack_double_click_monster_type_flag) &&
                            candidate->type != first->type)
                            continue;
                    }
                    if (!criterion(inanimate_test, inanimate, is_inanimate(candidate))) continue;
                    if (monster_is_ambient_for_selection_purposes(index) && !first_ambient) continue;
                    if (berserk_only && !(candidate->extra_flags & _monster_is_berserk_extra_flag)) continue;
                    list[count++] = (int16_t)index;
                }
            }
    }
    return count;
}

static int32_t collection_key(int32_t monster_index)
{
    const monster_definition *definition = definition_of(get_monster_data(monster_index));
    return definition ? (int32_t)definition->collection_tag : NONE;
}

static void selection_queue_target_command(const selection_data *attackers, int32_t target, uint16_t flags,
                                           bool group, bool other_side)
{
    if (attackers->count < 1 || !get_monster_data(target)) return;
    if (flags & _command_target_close_flag) flags |= _command_target_use_command_flag;
    bool group_targeting = attackers->count > 2 && !(flags & _command_target_attack_individual_flag);
    if (!group)
        for (int32_t i = 0; i < attackers->count; ++i)
        {
            const monster_definition *definition = definition_of(get_monster_data(attackers->monster_indexes[i]));
            if (definition && definition->monster_class == _monster_class_missile)
            {
                group_targeting = false;
                if (flags & _command_target_attack_individual_flag) flags |= _command_target_close_flag;
            }
        }
    int16_t targets[MAXIMUM_NUMBER_OF_TARGET_MONSTERS] = {(int16_t)target};
    int32_t target_count = 1;
    if (group_targeting)
    {
        const monster_data *victim = get_monster_data(target);
        const monster_data *leader = get_monster_data(attackers->monster_indexes[0]);
        int32_t player = NONE;
        int16_t player_test = _can_be_anything, team_test;
        int32_t team;
        int16_t collection_test;
        if (!group) team = victim->owner_team_index, team_test = _must_match, collection_test = _must_match;
        else
            team = leader ? (int32_t)leader->owner_team_index : (int32_t)NONE, team_test = _cannot_be_allied,
            collection_test = _can_be_anything;
        if (other_side) player = local_player_index, player_test = _cannot_match, team_test = _can_be_anything;
        target_count = scan_and_get_monsters(targets, 1, MAXIMUM_NUMBER_OF_TARGET_MONSTERS, 2, player, player_test,
                                             team, team_test, collection_key(target), collection_test,
                                             is_inanimate(victim), _must_match);
    }
    const command_target_data data = {flags, 0};
    handle_target_command(NONE, &data, attackers->count, attackers->monster_indexes, target_count, targets);
    selection_globals.target_highlight_ticks = TARGET_HIGHLIGHT_TIME;
    selection_globals.old_pick_up_command_target_object_index = NONE;
    selection_globals.old_pick_up_command_target_object_identifier = NONE;
    selection_data *defenders = &selection_globals.old_target_command_defender_selection;
    defenders->count = 0;
    for (int32_t i = 0; i < target_count; ++i) defenders->monster_indexes[defenders->count++] = targets[i];
    highlight_selection_targets(true);
}

// ---- selecting -------------------------------------------------------------------------

void handle_single_friendly_monster_click(int32_t monster_index)
{
    select_nothing();
    adjust_monster_index_in_selection(&selection_globals.current_selection, monster_index, _adjust_selection_invert);
    const int16_t unit = (int16_t)monster_index;
    play_monsters_sound(&unit, 1, _monster_sound_selection);
}

static bool command_key(const action_data *a) { return test_action_flag(a, _command_down_bit); }
static bool control_key(const action_data *a) { return test_action_flag(a, _control_down_bit); }

// The press landed on a unit: what it means.  Returns the state, or NONE to
// keep picking behind the unit.
static int16_t press_on_unit(const action_data *action, const pick_state *picked, int32_t monster_index,
                             int16_t *double_click_mode)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster || !get_local_monster_visibility(monster_index)) return NONE;
    selection_data *s = &selection_globals.current_selection;
    const uint32_t evaluation = evaluate_monster_for_selection_purposes(monster_index);
    const bool ambient = monster_is_ambient_for_selection_purposes(monster_index);
    bool forced = (option_key(action) && shift(action) && monster->owner_team_index != local_player_team_index) ||
                  (monster->extra_flags & _monster_is_berserk_extra_flag) || (ambient && ambient_is_targetable(monster_index)) ||
                  is_inanimate(monster);
    if (selection_globals.mode == _selection_mode_special_ability && s->count > 0 &&
        (ambient || monster->owner_team_index == local_player_team_index ||
         teams_are_allied(local_player_team_index, monster->owner_team_index)))
    {
        bool any = false;
        for (int32_t i = 0; i < s->count; ++i) any |= special_ability_can_be_used_against_friendlies(s->monster_indexes[i]);
        if (!any && ambient) return NONE;
        for (int32_t i = s->count - 1; i >= 0; --i)
            if (!special_ability_can_be_used_against_friendlies(s->monster_indexes[i]))
                adjust_monster_index_in_selection(s, s->monster_indexes[i], _adjust_selection_subtract);
        forced |= any;
    }
    if (ambient && !forced) return _selection_idle;
    const bool usable = selection_is_usable();
    if (usable && (forced || !(evaluation & _monster_is_friendly_evaluation_flag)))
    {
        // The target order of a press (the group rule by the selection's majority class).
        uint16_t flags = selection_globals.mode == _selection_mode_special_ability ? _command_target_special_ability_flag : 0;
        bool group = false, can_charge = false, mixes = false, shift_groups = false;
        for (int32_t i = 0; i < s->count; ++i)
        {
            const monster_definition *d = definition_of(get_monster_data(s->monster_indexes[i]));
            if (!d) continue;
            can_charge |= (d->hack_flags & _monster_hack_unit_can_charge_flag) != 0;
            mixes |= (d->hack_flags & _monster_hack_mixes_missile_melee_behaviour_flag) != 0;
            shift_groups |= (d->more_hack_flags & _monster_more_hack_shift_click_targets_group_flag) != 0;
        }
        const int32_t majority = most_common_class(s);
        if (can_charge && shift(action) && control_key(action)) group = true, flags = _command_target_use_closest_attack_flag;
        else if (majority == _monster_class_melee)
            group = (monster->extra_flags & _monster_is_berserk_extra_flag) ||
                    (selection_input_option(_selection_input_vux_actions_bit) ? shift(action) : !shift(action));
        else if (majority == _monster_class_missile)
            group = mixes ? !shift(action) : shift_groups ? shift(action) : false;
        const bool other_side = option_key(action) && shift(action) &&
                                !(evaluation & _monster_is_owned_evaluation_flag) &&
                                selection_globals.mode != _selection_mode_special_ability &&
                                (game_->option_flags & _game_option_uses_vux_flag);
        selection_queue_target_command(s, monster_index, flags, group, other_side);
        if (!is_inanimate(monster)) play_monsters_sound(s->monster_indexes, s->count, 0);
        if (selection_globals.mode != _selection_mode_special_ability)
        {
            selection_globals.old_target_command_attacker_selection = *s;
            selection_globals.old_target_command_target_index = (int16_t)monster_index;
            *double_click_mode = _selection_double_click_close_on_target;
        }
        finish_selection_order();
        return _selection_locked;
    }
    if (!(evaluation & _monster_is_commandable_evaluation_flag))
    {
        if (s->count > 0 && usable) return _selection_idle; // a friend we cannot command: nothing
        select_nothing();
        adjust_monster_index_in_selection(s, monster_index, _adjust_selection_invert);
        s->flags |= _selection_is_not_controllable_flag;
        return _selection_locked;
    }
    const bool selected = find_in(s, monster_index) >= 0;
    if (shift(action) || (command_key(action) && selected))
    {
        if (s->flags & _selection_is_not_controllable_flag) select_nothing();
        adjust_monster_index_in_selection(s, monster_index, _adjust_selection_invert);
        if (!selected) play_monsters_sound(&s->monster_indexes[s->count - 1], 1, _monster_sound_selection);
        *double_click_mode = _selection_double_click_select_like_units;
        selection_globals.old_selected_monster_index = (int16_t)monster_index;
        return _selection_locked;
    }
    if (command_key(action)) return _selection_idle;
    if (picked->sloppy_object_pick)
    {
        selection_globals.sloppy_monster_index = (int16_t)monster_index;
        return NONE;
    }
    if (!selected) handle_single_friendly_monster_click(monster_index);
    else selection_globals.sloppy_monster_index = (int16_t)monster_index;
    selection_globals.old_selected_monster_index = (int16_t)monster_index;
    *double_click_mode = _selection_double_click_select_like_units;
    selection_globals.low_velocity_gesture_ticks = NONE;
    return _selection_possible_gesture;
}

static int32_t monster_of_object(int32_t object_index)
{
    const object_data *object = get_object(object_index);
    return object && object->owner == _object_is_monster ? (int32_t)object->owner_index : (int32_t)NONE;
}

static void send_attack_location(const world_point3d *point, uint16_t flags)
{
    const selection_data *s = &selection_globals.current_selection;
    command_attack_location_data data = {flags, 0, *point};
    if (selection_globals.mode == _selection_mode_special_ability) data.flags |= _command_attack_location_special_ability_flag;
    handle_attack_location_command(NONE, &data, s->count, s->monster_indexes);
}

void start_new_selection(const action_data *action)
{
    if (!action) return;
    selection_data *s = &selection_globals.current_selection;
    if (s->flags & _selection_is_not_controllable_flag) select_nothing();
    selection_globals.sloppy_monster_index = NONE;
    highlight_selection_targets(false);
    int16_t double_click_mode = NONE;
    int16_t state = _selection_locked;
    const bool attack_mode = selection_globals.mode == _selection_mode_attack;
    const bool special_mode = selection_globals.mode == _selection_mode_special_ability;
    pick_state *picked = &selection_globals.original_pick;
    world_point2d overhead;
    const auto overhead_click = get_overhead_map_procedures()->click_location;
    selection_globals.first_click_was_overhead_map_click = overhead_click && overhead_click(action, &overhead);
    bool go_second = true, on_ground = false;
    if (selection_globals.first_click_was_overhead_map_click)
    {
        memset(picked, 0, sizeof(*picked));
        picked->return_flags = _pick_mesh_triangles_flag;
        picked->mesh_location = overhead;
        picked->object_index = NONE;
    }
    else if (!attack_mode)
    {
        new_pick_by_point_state(picked, action->pointer,
                                _pick_with_slop_flag | _pick_only_solid_objects_flag | _pick_triangle_flags | _pick_objects_flag);
        uint32_t result = pick(picked);
        if (result == _pick_mesh_triangles_flag &&
            get_mesh_height(&picked->mesh_location, _media_height) != MESH_NO_HEIGHT)
        {
            const pick_state ground = *picked;
            while ((result = pick(picked)) != 0 && result != _pick_objects_flag) {}
            if (result != _pick_objects_flag) *picked = ground;
        }
        if (picked->return_flags == _pick_objects_flag)
        {
            const int32_t unit_index = monster_of_object(picked->object_index);
            if (unit_index != NONE)
            {
                const int16_t result_state = press_on_unit(action, picked, unit_index, &double_click_mode);
                if (result_state != NONE) state = result_state, go_second = false;
            }
        }
        else if (picked->return_flags != _pick_mesh_triangles_flag && picked->return_flags != _pick_model_triangles_flag &&
                 picked->return_flags != 0)
            log_message(__FILE__, __LINE__, "start_new_selection() pick(%p) returned #%d.", (void *)picked,
                        (int)picked->return_flags);
    }
    if (go_second && !selection_globals.first_click_was_overhead_map_click)
    {
        new_pick_by_point_state(picked, action->pointer, attack_mode ? _pick_triangle_flags : _pick_triangle_flags | _pick_objects_flag);
        state = _selection_locked;
        for (uint32_t result = pick(picked);; result = pick(picked))
        {
            if (result == _pick_objects_flag)
            {
                const int32_t unit_index = monster_of_object(picked->object_index);
                if (unit_index != NONE)
                {
                    if (selection_globals.sloppy_monster_index == NONE)
                    {
                        const int16_t result_state = press_on_unit(action, picked, unit_index, &double_click_mode);
                        if (result_state != NONE) { state = result_state; go_second = false; break; }
                    }
                    continue;
                }
                const object_data *object = get_object(picked->object_index);
                if (selection_is_usable())
                {
                    if (selection_globals.mode == _selection_mode_none || selection_globals.mode == _selection_mode_inventory)
                    {
                        bool all = object != nullptr;
                        for (int32_t i = 0; all && i < s->count; ++i)
                            all = monster_could_pick_up_object(s->monster_indexes[i], picked->object_index, object->identifier) != 0;
                        if (all)
                        {
                            const command_pick_up_data data = {0, 0, picked->object_index, object->identifier};
                            handle_pick_up_command(NONE, &data, s->count, s->monster_indexes);
                            selection_globals.old_pick_up_command_target_object_index = picked->object_index;
                            selection_globals.old_pick_up_command_target_object_identifier = object->identifier;
                            selection_globals.target_highlight_ticks = TARGET_HIGHLIGHT_TIME;
                            selection_globals.old_target_command_defender_selection.count = 0;
                            highlight_selection_targets(true);
                            finish_selection_order();
                            state = _selection_locked;
                            break;
                        }
                    }
                    continue;
                }
                if (object && (object->flags & _object_is_solid_flag)) select_nothing();
                continue;
            }
            if (result == _pick_model_triangles_flag)
            {
                if (!shift(action) && !command_key(action) && selection_is_usable() && (attack_mode || special_mode))
                {
                    send_attack_location(&picked->model_location, _command_attack_location_ignore_model_collision_flag);
                    finish_selection_order();
                    change_selection_mode(_selection_mode_attack);
                    state = _selection_locked;
                }
                else
                    state = _selection_possible_band;
                break;
            }
            state = _selection_locked;
            if (result == _pick_mesh_triangles_flag) { on_ground = true; break; }
            if (result != 0)
                log_message(__FILE__, __LINE__, "start_new_selection() pick(%p) returned #%d.", (void *)picked, (int)result);
            break;
        }
    }
    else if (go_second)
        on_ground = true;
    if (on_ground)
    {
        if (!shift(action) && !command_key(action) && selection_is_usable())
        {
            if (attack_mode || special_mode)
            {
                world_point3d point = {picked->mesh_location.x, picked->mesh_location.y,
                                       get_mesh_height(&picked->mesh_location, _mesh_ground_height)};
                const world_distance media = get_mesh_height(&picked->mesh_location, _media_height);
                if (media != MESH_NO_HEIGHT && point.z < media) point.z = media;
                send_attack_location(&point, 0);
                new_selection_local_sprite(&picked->mesh_location, _interface_sequence_attack_marker);
                remove_selection_local_sprites(false);
                finish_selection_order();
                change_selection_mode(_selection_mode_attack);
                state = _selection_locked;
            }
            else
            {
                selection_globals.low_velocity_gesture_ticks = NONE;
                state = _selection_possible_gesture;
            }
        }
        else if (shift(action) || command_key(action))
            state = control_key(action) ? _selection_locked : _selection_possible_band;
        else
            state = _selection_possible_band;
    }
    selection_globals.state = state;
    selection_globals.original_action = *action;
    selection_globals.double_click_mode = double_click_mode;
}

int32_t selection_pointer_distance(point2d a, point2d b)
{
    const int32_t dx = a.x > b.x ? a.x - b.x : b.x - a.x, dy = a.y > b.y ? a.y - b.y : b.y - a.y;
    return dx > dy ? dx : dy;
}

void update_band_selection_or_gesture(const action_data *action)
{
    if (!action) return;
    selection_data *s = &selection_globals.current_selection;
    const point2d start = selection_globals.original_action.pointer;
    const bool on_object = selection_globals.original_pick.return_flags == _pick_objects_flag;
    const int32_t threshold = (on_object || selection_globals.suppress_selection) ? GESTURE_CLICK_RESOLVE_RADIUS
                                                                                  : BAND_SELECTION_START_RADIUS;
    int16_t state = selection_globals.state;
    if ((state == _selection_possible_gesture || state == _selection_gesture) && !selection_globals.suppress_selection &&
        !on_object)
    {
        const int32_t dx = action->pointer.x - start.x, dy = action->pointer.y - start.y;
        const int32_t sx = action->pointer.x - selection_globals.last_action.pointer.x;
        const int32_t sy = action->pointer.y - selection_globals.last_action.pointer.y;
        const int32_t distance = isqrt((uint32_t)(dx * dx + dy * dy));
        const int32_t step = isqrt((uint32_t)(sx * sx + sy * sy));
        if (step < MINIMUM_GESTURE_VELOCITY)
        {
            if (selection_globals.low_velocity_gesture_ticks != NONE)
                {
                const int32_t slow = selection_globals.low_velocity_gesture_ticks + selection_action_ticks(action);
                selection_globals.low_velocity_gesture_ticks = (int16_t)(slow > INT16_MAX ? INT16_MAX : slow);
            }
        }
        else
            selection_globals.low_velocity_gesture_ticks = 0;
        const int64_t elapsed = (int64_t)action->time - selection_globals.original_action.time;
        if (elapsed > MAXIMUM_GESTURE_TIME || selection_globals.low_velocity_gesture_ticks > MAXIMUM_GESTURE_LOW_VELOCITY_TICKS ||
            distance > MAXIMUM_GESTURE_DISTANCE)
            state = _selection_possible_band;
    }
    if ((state == _selection_possible_gesture || state == _selection_possible_band) &&
        selection_pointer_distance(action->pointer, start) >= threshold)
    {
        if (state == _selection_possible_gesture) state = _selection_gesture;
        else
        {
            state = _selection_band;
            if (!shift(&selection_globals.original_action) && !command_key(&selection_globals.original_action))
                select_nothing();
            selection_globals.saved_selection = *s;
        }
    }
    selection_globals.state = state;
    if (state != _selection_band) return;

    rectangle2d band;
    band.left = start.x < action->pointer.x ? start.x : action->pointer.x;
    band.right = start.x < action->pointer.x ? action->pointer.x : start.x;
    band.top = start.y < action->pointer.y ? start.y : action->pointer.y;
    band.bottom = start.y < action->pointer.y ? action->pointer.y : start.y;
    selection_globals.band_selection_bounds = band;
    selection_data wanted = selection_globals.saved_selection;
    const bool subtract = command_key(&selection_globals.original_action);
    pick_state band_pick;
    new_pick_by_rectangle_state(&band_pick, &band, _pick_objects_flag);
    while (pick(&band_pick))
    {
        const int32_t unit_index = monster_of_object(band_pick.object_index);
        if (unit_index == NONE || monster_is_ambient_for_selection_purposes(unit_index) ||
            !(evaluate_monster(unit_index) & _monster_is_commandable_evaluation_flag))
            continue;
        if (subtract) adjust_monster_index_in_selection(&wanted, unit_index, _adjust_selection_subtract);
        else if (wanted.count < MAXIMUM_NUMBER_OF_SELECTED_MONSTERS)
            adjust_monster_index_in_selection(&wanted, unit_index, _adjust_selection_add);
    }
    // The fewest changes, so marks and sounds change only for the differences.
    memset(monster_marks, 0, sizeof(monster_marks));
    for (int32_t i = 0; i < wanted.count; ++i)
        if (wanted.monster_indexes[i] >= 0 && wanted.monster_indexes[i] < MAXIMUM_MONSTERS_PER_MAP)
            monster_marks[wanted.monster_indexes[i]] = 1;
    for (int32_t i = s->count - 1; i >= 0; --i)
    {
        const int16_t index = s->monster_indexes[i];
        if (index < 0 || index >= MAXIMUM_MONSTERS_PER_MAP || !monster_marks[index])
            adjust_monster_index_in_selection(s, index, _adjust_selection_subtract);
    }
    for (int32_t i = 0; i < wanted.count && s->count < MAXIMUM_NUMBER_OF_SELECTED_MONSTERS; ++i)
        adjust_monster_index_in_selection(s, wanted.monster_indexes[i], _adjust_selection_add);
}

void handle_selection_double_click(const action_data *action)
{
    selection_data *s = &selection_globals.current_selection;
    if (selection_globals.double_click_mode == _selection_double_click_close_on_target)
    {
        const selection_data *attackers = &selection_globals.old_target_command_attacker_selection;
        if (attackers->count > 0)
            selection_queue_target_command(attackers, selection_globals.old_target_command_target_index,
                                           _command_target_close_flag |
                                               (shift(action) ? _command_target_attack_individual_flag : 0),
                                           false, false);
        return;
    }
    if (selection_globals.double_click_mode != _selection_double_click_select_like_units) return;
    const int32_t clicked = selection_globals.old_selected_monster_index;
    const monster_data *monster = get_monster_data(clicked);
    if (!monster) return;
    int16_t list[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS] = {(int16_t)clicked};
    int32_t count = scan_and_get_monsters(list, 1, MAXIMUM_NUMBER_OF_SELECTED_MONSTERS, 4, monster->owner_player_index,
                                          _must_match, NONE, _can_be_anything, collection_key(clicked), _must_match,
                                          false, _can_be_anything);
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const monster_data *m = get_monster_data(list[i]);
        if (m && !(m->flags & _monster_ignores_user_commands_flag)) list[kept++] = list[i];
    }
    count = kept;
    bool some_new = false;
    for (int32_t i = 0; i < count; ++i) some_new |= find_in(s, list[i]) < 0;
    const bool modifier = shift(action) || command_key(action);
    if (some_new)
    {
        if (!modifier) select_nothing();
        for (int32_t i = 0; i < count; ++i)
            if (find_in(s, list[i]) < 0) adjust_monster_index_in_selection(s, list[i], _adjust_selection_add);
    }
    else
    {
        if (!modifier) select_nothing();
        adjust_monster_index_in_selection(s, clicked, _adjust_selection_invert);
    }
}

void select_all(void)
{
    if (in_replay()) return;
    selection_data *s = &selection_globals.current_selection;
    int16_t found[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    int32_t count = 0;
    const rectangle2d everything = {-32768, -32768, 32767, 32767};
    pick_state state;
    new_pick_by_rectangle_state(&state, &everything, _pick_objects_flag);
    while (pick(&state) && count < MAXIMUM_NUMBER_OF_SELECTED_MONSTERS)
    {
        const int32_t unit_index = monster_of_object(state.object_index);
        const monster_data *m = get_monster_data(unit_index);
        if (!m || !(evaluate_monster(unit_index) & _monster_is_owned_evaluation_flag) ||
            (m->flags & _monster_ignores_user_commands_flag) || monster_is_ambient_for_selection_purposes(unit_index) ||
            is_inanimate(m))
            continue;
        bool listed = false;
        for (int32_t i = 0; i < count && !listed; ++i) listed = found[i] == unit_index;
        if (!listed) found[count++] = (int16_t)unit_index;
    }
    bool all_selected = s->count > 0 && !(s->flags & _selection_is_not_controllable_flag);
    for (int32_t i = 0; i < count && all_selected; ++i) all_selected = find_in(s, found[i]) >= 0;
    select_nothing();
    if (!all_selected)
        for (int32_t i = 0; i < count; ++i) adjust_monster_index_in_selection(s, found[i], _adjust_selection_add);
    // The second press empties the selection: said, so it never looks like a lost selection.
    else if (const print_to_console_procedure print = get_print_to_console_procedure())
        print("Selection emptied.");
}

// ---- presets ---------------------------------------------------------------------------

int32_t get_selection_preset_usable_count(const selection_data *preset)
{
    int32_t count = 0;
    for (int32_t i = 0; i < preset->count; ++i) count += monster_is_commandable_on_mesh_for_selection(preset->monster_indexes[i]) ? 1 : 0;
    return count;
}

void set_preset_selection(int32_t preset_index)
{
    if (!VWARN(preset_index >= 0 && preset_index < NUMBER_OF_SELECTION_PRESETS, "preset index out of range")) return;
    if (!selection_is_usable()) return;
    const selection_data *s = &selection_globals.current_selection;
    char title[64], text[256];
    snprintf(title, sizeof(title), "%s %d:",
             get_string_from_list(selection_globals.selection_popups_string_list_index, 0), preset_index + 1);
    if (s->count == 1) snprintf(text, sizeof(text), "%s", get_monster_name(s->monster_indexes[0]));
    else
    {
        text[0] = 0;
        bool done[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS] = {};
        size_t length = 0;
        for (int32_t i = 0; i < s->count; ++i)
        {
            if (done[i]) continue;
            const monster_data *m = get_monster_data(s->monster_indexes[i]);
            int32_t n = 0;
            for (int32_t j = i; j < s->count; ++j)
            {
                const monster_data *o = get_monster_data(s->monster_indexes[j]);
                if (m && o && o->type == m->type) done[j] = true, ++n;
            }
            if (!m) continue;
            char item[96];
            snprintf(item, sizeof(item), "%s%d %s", length ? ", " : "", n, get_monster_spelling(m->type, n));
            if (length + strlen(item) > 255 - 3)
            {
                snprintf(text + length, sizeof(text) - length, "...");
                break;
            }
            snprintf(text + length, sizeof(text) - length, "%s", item);
            length = strlen(text);
        }
    }
    if (const auto popup = get_console_procedures()->popup) popup(title, text, DEFAULT_CONSOLE_POPUP_VISIBLE_TIME);
    selection_globals.preset_selections[preset_index] = *s;
    int16_t identifiers[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    monster_indexes_to_monster_identifiers(s->monster_indexes, identifiers, s->count);
    const command_preset_selection_data data = {0, (int16_t)preset_index};
    queue_preset_selection_command(&data, s->count, identifiers);
}

void set_preset_selection_by_identifiers(int32_t preset_index, int32_t count, const int16_t *identifiers)
{
    if (preset_index < 0 || preset_index >= NUMBER_OF_SELECTION_PRESETS || !identifiers) return;
    if (count > MAXIMUM_NUMBER_OF_SELECTED_MONSTERS) count = MAXIMUM_NUMBER_OF_SELECTED_MONSTERS;
    if (count < 0) count = 0;
    selection_data *preset = &selection_globals.preset_selections[preset_index];
    memset(preset, 0, sizeof(*preset));
    preset->count = (int16_t)monster_identifiers_to_monster_indexes(identifiers, preset->monster_indexes, count);
}

void recall_preset_selection(int32_t preset_index, const action_data *action)
{
    if (!ASSERT(preset_index >= 0 && preset_index < NUMBER_OF_SELECTION_PRESETS)) return;
    const selection_data preset = selection_globals.preset_selections[preset_index];
    selection_data *s = &selection_globals.current_selection;
    const bool toggle = selection_input_option(_selection_input_alternate_preset_recall_bit) && action && shift(action);
    if (!toggle) select_nothing();
    for (int32_t i = 0; i < preset.count; ++i)
        if (monster_is_commandable_on_mesh_for_selection(preset.monster_indexes[i]))
            adjust_monster_index_in_selection(s, preset.monster_indexes[i],
                                              toggle ? _adjust_selection_invert : _adjust_selection_add);
}

int32_t match_current_selection_preset2(bool allow_larger)
{
    if (!selection_is_usable()) return -1;
    const selection_data *s = &selection_globals.current_selection;
    for (int32_t k = 1; k <= NUMBER_OF_SELECTION_PRESETS; ++k)
    {
        const int32_t p = (selection_globals.preset_selection_match_hint + k) % NUMBER_OF_SELECTION_PRESETS;
        const selection_data *preset = &selection_globals.preset_selections[p];
        const int32_t n = get_selection_preset_usable_count(preset);
        if (allow_larger ? n < s->count : n != s->count) continue;
        bool all = true;
        for (int32_t i = 0; i < s->count && all; ++i) all = find_in(preset, s->monster_indexes[i]) >= 0;
        if (!all) continue;
        selection_globals.preset_selection_match_hint = (int16_t)p;
        return p;
    }
    return -1;
}

// ---- the mouse-over highlight ----------------------------------------------------------

void update_selection_mouse_over_highlight(const action_data *action)
{
    const uint32_t now = machine_tick_count();
    if (selection_globals.last_idle_time != 0 && now - selection_globals.last_idle_time < TIME_BETWEEN_IDLES) return;
    selection_globals.last_idle_time = now ? now : 1;
    if (!test_action_flag(action, _action_pointer_valid_bit)) return;
    pick_state state;
    new_pick_by_point_state(&state, action->pointer, _pick_objects_flag);
    int16_t chosen = NONE, identifier = NONE;
    if (pick(&state))
    {
        object_data *object = get_object(state.object_index);
        const int32_t unit_index = monster_of_object(state.object_index);
        if (object && unit_index != NONE && !(object->flags & _object_is_selected_flag) &&
            (in_replay() || monster_is_addable(unit_index)))
        {
            object->flags |= _object_mouse_over_highlighted_flag;
            chosen = state.object_index, identifier = object->identifier;
        }
    }
    if (chosen != last_object_highlighted_index)
    {
        object_data *old = get_object_by_identifier(last_object_highlighted_index, last_object_highlighted_identifier);
        if (last_object_highlighted_index != NONE && old) old->flags &= ~(uint32_t)_object_mouse_over_highlighted_flag;
        last_object_highlighted_index = chosen, last_object_highlighted_identifier = identifier;
    }
}

// ---- what the interface's overlays read -------------------------------------------------

bool get_band_selection_bounds(rectangle2d *bounds)
{
    if (selection_globals.state != _selection_band) return false;
    if (bounds) *bounds = selection_globals.band_selection_bounds;
    return true;
}

bool get_gesture_vector(bool *is_object, world_point3d *start, world_point3d *end)
{
    if (selection_globals.state != _selection_gesture || selection_globals.first_click_was_overhead_map_click)
        return false;
    const pick_state *press = &selection_globals.original_pick;
    const bool on_object = press->return_flags == _pick_objects_flag;
    world_point3d from;
    if (on_object)
    {
        const object_data *object = get_object(press->object_index);
        if (!object) return false;
        from = object->location.position;
    }
    else
    {
        const world_distance height = get_mesh_height(&press->mesh_location, _mesh_surface_height);
        from = {press->mesh_location.x, press->mesh_location.y, height == MESH_NO_HEIGHT ? (world_distance)0 : height};
    }
    pick_state state;
    new_pick_by_point_state(&state, selection_globals.last_action.pointer, _pick_triangle_flags);
    const uint32_t result = pick(&state);
    world_point3d to;
    if (result == _pick_mesh_triangles_flag) to = {state.mesh_location.x, state.mesh_location.y, from.z};
    else if (result == _pick_model_triangles_flag) to = {state.model_location.x, state.model_location.y, from.z};
    else return false;
    if (is_object) *is_object = on_object;
    if (start) *start = from;
    if (end) *end = to;
    return true;
}

// ---- registrations ---------------------------------------------------------------------

// A local game reports its selection whenever it changed, so that its film
// (and a saved game, replayed to its save) holds what the unit test's 'sele'
// reads; a network game's selections stay each machine's own.
static void report_selection_when_changed(void)
{
    if (game_->type != _game_type_local || current_gameplay_version < FIRST_GAMEPLAY_VERSION_WITH_REPORTED_SELECTION ||
        selection_globals.state == _selection_uninitialized)
        return;
    const selection_data *s = &selection_globals.current_selection;
    int16_t identifiers[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    const int16_t count = (int16_t)std::clamp<int32_t>(s->count, 0, MAXIMUM_NUMBER_OF_SELECTED_MONSTERS);
    monster_indexes_to_monster_identifiers(s->monster_indexes, identifiers, count);
    if (selection_globals.selection_reported && selection_globals.reported_count == count &&
        !memcmp(selection_globals.reported_identifiers, identifiers, sizeof(int16_t) * (size_t)count))
        return;
    // A full outgoing queue loses the report: the next record tries again.
    if (!queue_selection_report_command(count, identifiers)) return;
    selection_globals.selection_reported = true;
    selection_globals.reported_count = count;
    memcpy(selection_globals.reported_identifiers, identifiers, sizeof(int16_t) * (size_t)count);
}

static bool selection_action_consumer(action_data *action)
{
    const bool consumed = update_selection(action);
    report_selection_when_changed();
    return consumed;
}

// The selection reads the current key bindings' set flags and mouse options
// as its own option bits.  The right click and the wheel each do one thing:
// the first of their flags, in the order the mouse options' selectors take
// them, wins.
static uint32_t selection_input_options_from_key_bindings(void)
{
    const input_definition_snapshot *bindings = get_input_definition_snapshot();
    if (!bindings) return 0;
    const uint32_t set = bindings->definition.flags;
    const uint32_t mouse = bindings->mouse_controls.flags;
    const bool attack = TEST_FLAG(mouse, _mouse_control_right_click_attack);
    const bool deselects = !attack && TEST_FLAG(set, _input_definition_right_button_deselects);
    const bool ignored = !attack && !deselects && TEST_FLAG(mouse, _mouse_control_right_click_ignored);
    int32_t wheel = _mouse_wheel_ignored;
    if (TEST_FLAG(mouse, _mouse_control_wheel_moves)) wheel = _mouse_wheel_move;
    else if (TEST_FLAG(mouse, _mouse_control_wheel_zooms)) wheel = _mouse_wheel_zoom;
    else if (TEST_FLAG(mouse, _mouse_control_wheel_cycle_presets)) wheel = _mouse_wheel_cycle_presets;
    else if (TEST_FLAG(mouse, _mouse_control_wheel_cycle_inventory)) wheel = _mouse_wheel_cycle_inventory;

    uint32_t options = 0;
    SET_FLAG(options, _selection_input_alternate_preset_recall_bit,
             TEST_FLAG(set, _input_definition_alternate_preset_recall));
    SET_FLAG(options, _selection_input_right_button_deselects_bit, deselects);
    SET_FLAG(options, _selection_input_tilde_ignores_inventory_bit,
             TEST_FLAG(set, _input_definition_tilde_ignores_inventory));
    SET_FLAG(options, _selection_input_control_bar_inventory_bit,
             TEST_FLAG(set, _input_definition_control_bar_inventory));
    SET_FLAG(options, _selection_input_right_click_attack_bit, attack);
    SET_FLAG(options, _selection_input_right_click_ignored_bit, ignored);
    SET_FLAG(options, _selection_input_left_click_gestures_disabled_bit,
             TEST_FLAG(mouse, _mouse_control_left_click_gestures_disabled));
    SET_FLAG(options, _selection_input_vux_actions_bit, TEST_FLAG(mouse, _mouse_control_vux_actions));
    SET_FLAG(options, _selection_input_wheel_cycle_presets_bit, wheel == _mouse_wheel_cycle_presets);
    SET_FLAG(options, _selection_input_wheel_cycle_inventory_bit, wheel == _mouse_wheel_cycle_inventory);
    return options;
}

void register_selection_hooks(void)
{
    initialize_selection();
    register_monster_died_procedure(remove_monster_index_from_all_selections);
    register_action_procedure(_action_selection, selection_action_consumer);
    register_preset_selection_procedure(set_preset_selection_by_identifiers);
    register_remove_monster_from_selections_procedure(leave_selections);
}
