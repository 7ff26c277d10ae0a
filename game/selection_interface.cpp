// What the in-game interface asks of the selection: inventory, orders from the bars, names and pictures.
#include "selection_interface.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cseries/registration.h"
#include "game_records.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "monster_commands.h"
#include "monster_inventory.h"
#include "monster_lists.h"
#include "monster_queries.h"
#include "monsters.h"
#include "objects.h"
#include "observer.h"
#include "players.h"
#include "collection_references.h"
#include "projectile_definitions.h"
#include "projectiles.h"
#include "selection.h"
#include "selection_orders.h"
#include "selection_shared.h"
#include "vesk/string_lists.h"

enum
{
    TICKS_PER_SECOND_FOR_ITEM_TIMER = 30,
};

static selection_inventory_data selection_inventory;

static procedure_slot<selection_check_mark_procedure> check_mark_slot("selection check mark");
static procedure_slot<selection_point_in_view_procedure> point_in_view_slot("selection point in view");
bool register_selection_check_mark_procedure(selection_check_mark_procedure p) { return check_mark_slot.fill(p); }
bool register_selection_point_in_view_procedure(selection_point_in_view_procedure p) { return point_in_view_slot.fill(p); }

// ---- helpers ------------------------------------------------------------------------------

static const selection_data *current(void) { return &get_selection_globals()->current_selection; }

// The one selected unit, or null for none or several.
static monster_data *single_unit(int32_t *monster_index = nullptr)
{
    const selection_data *s = current();
    if (s->count != 1) return nullptr;
    if (monster_index) *monster_index = s->monster_indexes[0];
    return get_monster_data(s->monster_indexes[0]);
}

// Appends formatted text, never past `size` - 1; false when it had to cut.
static bool append(char *buffer, size_t size, const char *format, ...)
{
    const size_t used = strlen(buffer);
    if (used + 1 >= size) return false;
    va_list arguments;
    va_start(arguments, format);
    const int written = vsnprintf(buffer + used, size - used, format, arguments);
    va_end(arguments);
    return written >= 0 && (size_t)written < size - used;
}

static void start(char *buffer, size_t size)
{
    if (buffer && size) buffer[0] = 0;
}

static const artifact_definition *artifact_of_type(int32_t projectile_type)
{
    const projectile_definition *projectile = projectile_type == NONE ? nullptr : get_projectile_definition(projectile_type);
    return projectile && projectile->artifact_index != NONE ? get_artifact_definition(projectile->artifact_index) : nullptr;
}

// The local player may see the unit's ammunition and item.
static bool details_visible(const monster_data *monster)
{
    return in_replay() || (local_player_team_index != NONE && monster->owner_team_index == local_player_team_index);
}

// ---- the inventory ------------------------------------------------------------------------

static bool empty_inventory(void)
{
    const char *none = selection_inventory.none_string;
    memset(&selection_inventory, 0, sizeof(selection_inventory));
    selection_inventory.none_string = none;
    selection_inventory.selected_index = selection_inventory.selected_unique_index = NONE;
    return false;
}

bool build_selection_inventory(bool for_dropping)
{
    memset(&selection_inventory, 0, sizeof(selection_inventory));
    selection_inventory.selected_index = selection_inventory.selected_unique_index = NONE;
    selection_inventory.none_string = translate_string("None");
    const selection_data *s = current();
    for (int32_t i = 0; i < s->count; ++i)
    {
        const int32_t monster_index = s->monster_indexes[i];
        const monster_data *monster = get_monster_data(monster_index);
        if (!monster || (monster->flags & _monster_has_left_the_mesh_flag)) continue;
        const monster_definition *definition = definition_of(monster);
        const int32_t maximum_held = MAXIMUM_ARTIFACTS_PER_MONSTER;
        const int32_t held = monster->held_object_count < 0 ? 0
                             : monster->held_object_count > maximum_held ? maximum_held
                                                                         : (int32_t)monster->held_object_count;
        if (!definition || monster_is_ambient_for_selection_purposes(monster_index) ||
            !(evaluate_monster_for_selection_purposes(monster_index) & _monster_is_commandable_evaluation_flag) ||
            !(definition->flags & _monster_carries_multiple_artifacts_flag) || held == 0)
            return empty_inventory();

        int16_t types[MAXIMUM_ARTIFACTS_PER_MONSTER];
        int32_t selected = NONE;
        for (int32_t k = 0; k < held; ++k)
        {
            types[k] = object_projectile_type(get_object(monster->held_object_indexes[k]));
            if (monster->held_object_indexes[k] == monster->carrying_object_index) selected = k;
        }
        if (!for_dropping && monster->carrying_object_index != NONE)
        {
            const artifact_definition *wielded =
                artifact_of_type(object_projectile_type(get_object(monster->carrying_object_index)));
            if (wielded && (wielded->flags & _artifact_cannot_be_holstered_flag)) return empty_inventory();
        }

        if (selection_inventory.monsters_included == 0)
        {
            if (definition->spelling_string_list_index != NONE &&
                count_strings_in_list(definition->spelling_string_list_index) > _monster_spelling_inventory_none_index)
                selection_inventory.none_string =
                    get_string_from_list(definition->spelling_string_list_index, _monster_spelling_inventory_none_index);
            memcpy(selection_inventory.projectile_type, types, sizeof(int16_t) * held);
            selection_inventory.count = (int16_t)held;
            selection_inventory.selected_index = (int16_t)selected;
        }
        else
        {
            // Keep an entry while this unit holds a still unmatched object of its type.
            bool used[MAXIMUM_ARTIFACTS_PER_MONSTER] = {};
            int16_t kept = 0;
            int16_t new_selected = NONE;
            for (int32_t e = 0; e < selection_inventory.count; ++e)
            {
                for (int32_t k = 0; k < held; ++k)
                    if (!used[k] && types[k] == selection_inventory.projectile_type[e])
                    {
                        used[k] = true;
                        if (e == selection_inventory.selected_index) new_selected = kept;
                        selection_inventory.projectile_type[kept++] = selection_inventory.projectile_type[e];
                        break;
                    }
            }
            selection_inventory.count = kept;
            selection_inventory.selected_index = new_selected;
        }
        if (selection_inventory.count == 0) return empty_inventory();
        selection_inventory.monsters_included++;
    }
    if (selection_inventory.count == 0) return empty_inventory();

    for (int32_t e = 0; e < selection_inventory.count; ++e)
    {
        const int16_t type = selection_inventory.projectile_type[e];
        int32_t u = 0;
        while (u < selection_inventory.unique_count && selection_inventory.unique_projectile_types[u] != type) ++u;
        if (u == selection_inventory.unique_count)
        {
            selection_inventory.unique_projectile_types[u] = type;
            selection_inventory.unique_count++;
        }
        selection_inventory.unique_type_counts[u]++;
        if (e == selection_inventory.selected_index) selection_inventory.selected_unique_index = (int16_t)u;
    }
    return true;
}

const selection_inventory_data *get_selection_inventory(void) { return &selection_inventory; }

bool get_unique_selection_inventory(bool rebuild, int32_t *count, int32_t *selected)
{
    if (rebuild && !build_selection_inventory(false)) return false;
    if (count) *count = selection_inventory.unique_count;
    if (selected) *selected = selection_inventory.selected_unique_index;
    return true;
}

void set_selection_inventory_unique(int32_t unique_index, bool drop)
{
    if (unique_index < -1 || unique_index >= selection_inventory.unique_count) return;
    command_inventory_data data = {NONE, NONE};
    if (unique_index >= 0)
    {
        data.type = selection_inventory.unique_projectile_types[unique_index];
        for (int32_t e = 0; e < selection_inventory.count && data.number == NONE; ++e)
            if (selection_inventory.projectile_type[e] == data.type) data.number = (int16_t)e;
    }
    const selection_data *s = current();
    if (drop)
    {
        if (data.type == NONE) return;
        const artifact_definition *artifact = artifact_of_type(data.type);
        if (artifact && (artifact->flags & _artifact_cannot_be_discarded_flag)) return;
        handle_inventory_drop_command(NONE, &data, s->count, s->monster_indexes);
    }
    else
        handle_inventory_command(NONE, &data, s->count, s->monster_indexes);
}

void format_inventory_string(char *buffer, size_t size, int32_t unique_index, bool show_number, bool show_check,
                             bool show_count)
{
    start(buffer, size);
    if (!buffer || size == 0 || unique_index < -1 || unique_index >= selection_inventory.unique_count) return;
    char number[16] = "";
    if (show_number) snprintf(number, sizeof(number), "%d. ", (int)(unique_index + 1));
    const selection_check_mark_procedure check_mark = check_mark_slot.get();
    const char *check = show_check ? (check_mark ? check_mark() : "*") : "";
    // Artifacts carry no names of their own: every item is labelled alike.
    const char *name = unique_index == -1 ? selection_inventory.none_string : translate_string("Carried Projectile");
    if (!name) name = "";
    char count[16] = "";
    if (show_count && unique_index >= 0 && selection_inventory.unique_type_counts[unique_index] > 1)
        snprintf(count, sizeof(count), " (x%d)", (int)selection_inventory.unique_type_counts[unique_index]);
    snprintf(buffer, size, "%s%s%s%s", number, check ? check : "", name, count);
}

// ---- control-bar entry points ---------------------------------------------------------

void stop_selected_units(void) { send_selection_general_order(_command_general_stop); }
void scatter_selected_units(void) { send_selection_general_order(_command_general_scatter); }
// The button says retreat, so it sends what the retreat key sends.
void retreat_selected_units(void) { send_selection_general_order(_command_general_retreat); }
void make_selected_units_hold_ground(void) { send_selection_general_order(_command_general_guard); }

void make_selected_units_use_special_ability(void)
{
    if (selection_is_usable()) change_selection_mode(_selection_mode_special_ability);
}

void selection_ally(void)
{
    if (selection_is_usable()) change_selection_mode(_selection_mode_ally);
}

void enable_chatting(bool yell)
{
    // Exactly the chat key's path, so both refuse alike.
    action_data action;
    memset(&action, 0, sizeof(action));
    action.key_code = action.ascii_code = -1;
    set_action_flag(&action, _selection_chat_bit);
    if (yell) set_action_flag(&action, _shift_down_bit);
    handle_selection_action(&action);
}

void rename_current_selection(void) { change_selection_mode(_selection_mode_rename); }

// ---- queries --------------------------------------------------------------------------

bool selection_changed(void)
{
    selection_globals_ *globals = get_mutable_selection_globals();
    bool changed = (globals->current_selection.flags & _selection_is_dirty_flag) != 0;
    globals->current_selection.flags &= ~(uint16_t)_selection_is_dirty_flag;
    for (int32_t i = 0; i < globals->current_selection.count; ++i)
    {
        monster_data *monster = get_monster_data(globals->current_selection.monster_indexes[i]);
        if (monster && monster->display_dirty_flags)
        {
            monster->display_dirty_flags = 0;
            changed = true;
        }
    }
    return changed;
}

void get_selection_name_string(char *buffer, size_t size)
{
    start(buffer, size);
    int32_t monster_index;
    if (!buffer || size == 0 || !single_unit(&monster_index)) return;
    snprintf(buffer, size, "%s", get_monster_name(monster_index));
}

void get_selection_description_string(char *buffer, size_t size)
{
    start(buffer, size);
    if (!buffer || size == 0) return;
    const selection_data *s = current();
    // One unit: unit definitions carry no flavour texts, so there is nothing to say.
    if (s->count < 2) return;
    bool wrote = false;
    for (int32_t i = 0; i < s->count; ++i)
    {
        const char *name = get_monster_name(s->monster_indexes[i]);
        if (!name || !*name) continue;
        if (size - strlen(buffer) < 2) break;
        if (wrote) append(buffer, size, ", ");
        append(buffer, size, "%s", name);
        wrote = true;
    }
    if (wrote) append(buffer, size, ".");
}

// Whether the owner's name follows a single unit's type.
static bool owner_shown(const monster_data *monster, const monster_definition *definition)
{
    if (monster->flags & _monster_ignores_user_commands_flag) return false;
    // Outside films, and in films with a local player, the player's own
    // units and units that hide their owner show no name.
    if (!in_replay() || local_player_index != NONE)
    {
        if (local_player_index != NONE && monster->owner_player_index == local_player_index) return false;
        if (definition && (definition->extra_flags & _monster_extra_hide_owner_name_flag)) return false;
    }
    if ((game_->option_flags & _game_option_cooperative_flag) &&
        (monster->owner_team_index == 1 || monster->owner_team_index == 2))
        return false;
    return true;
}

void get_selection_type_string(char *buffer, size_t size)
{
    start(buffer, size);
    if (!buffer || size == 0) return;
    const selection_data *s = current();
    if (s->count == 1)
    {
        const monster_data *monster = get_monster_data(s->monster_indexes[0]);
        if (!monster) return;
        int32_t type = monster->orig_type;
        const monster_definition *original = get_monster_definition(monster->orig_type);
        const monster_definition *now = get_monster_definition(monster->type);
        if (monster->type != monster->orig_type && original && now && original->collection_tag == now->collection_tag)
            type = monster->type;
        append(buffer, size, "(%s)", get_monster_spelling(type, 1));
        if (!owner_shown(monster, definition_of(monster))) return;
        const player_data *owner = get_player_data(monster->owner_player_index);
        if (owner) append(buffer, size, " %s", owner->appearance.name);
        return;
    }
    // Several: each type once, in type order, with its count.
    int16_t types[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    int16_t counts[MAXIMUM_NUMBER_OF_SELECTED_MONSTERS];
    int32_t distinct = 0;
    for (int32_t i = 0; i < s->count; ++i)
    {
        const monster_data *monster = get_monster_data(s->monster_indexes[i]);
        if (!monster) continue;
        int32_t at = 0;
        while (at < distinct && types[at] < monster->type) ++at;
        if (at < distinct && types[at] == monster->type)
        {
            counts[at]++;
            continue;
        }
        memmove(types + at + 1, types + at, sizeof(int16_t) * (distinct - at));
        memmove(counts + at + 1, counts + at, sizeof(int16_t) * (distinct - at));
        types[at] = monster->type;
        counts[at] = 1;
        distinct++;
    }
    for (int32_t t = 0; t < distinct; ++t)
    {
        char item[128];
        snprintf(item, sizeof(item), "%s%d %s", t ? ", " : "", (int)counts[t], get_monster_spelling(types[t], counts[t]));
        const size_t used = strlen(buffer);
        if (used + strlen(item) + 1 > size)
        {
            if (used + 3 + 1 <= size) append(buffer, size, "...");
            break;
        }
        append(buffer, size, "%s", item);
    }
}

void get_selection_portrait(int16_t *collection_index, int16_t *sequence_index, int16_t *permutation)
{
    *collection_index = *sequence_index = NONE;
    *permutation = 0;
    const selection_data *s = current();
    int32_t best = NONE, best_score = -1;
    for (int32_t i = 0; i < s->count; ++i)
    {
        const monster_data *a = get_monster_data(s->monster_indexes[i]);
        if (!a) continue;
        int32_t score = 0;
        for (int32_t j = 0; j < s->count; ++j)
        {
            const monster_data *b = get_monster_data(s->monster_indexes[j]);
            if (!b) continue;
            score += (b->unit_type == a->unit_type) + (b->type == a->type) +
                     (b->collection_reference_index == a->collection_reference_index);
        }
        if (score > best_score) best = s->monster_indexes[i], best_score = score;
    }
    const monster_data *monster = get_monster_data(best);
    if (!monster) return;
    const monster_definition *definition = definition_of(monster);
    const collection_reference_definition *reference = get_collection_reference(monster->collection_reference_index);
    if (!definition || !reference) return;
    *collection_index = reference->collection_index;
    *sequence_index = definition->sequence_indexes[_monster_sequence_head_shots];
    if (s->count == 1)
    {
        const object_data *object = get_object(monster->object_index);
        const int32_t p = object ? get_collection_reference_permutation(monster->collection_reference_index,
                                                                        object->color_table_index)
                                 : 0;
        *permutation = (int16_t)(p < 0 ? 0 : p);
    }
}

void get_selection_experience(int16_t *experience, int16_t *battles_survived, int16_t *allegiance)
{
    *experience = *battles_survived = 0;
    *allegiance = NONE;
    const monster_data *monster = single_unit();
    if (!monster || !definition_of(monster)) return;
    *experience = monster->experience;
    *battles_survived = monster->battles_survived;
    // Unit definitions hold no allegiance: every unit shows the first row of icons.
    *allegiance = 0;
}

int16_t get_selection_random_seed(void)
{
    const selection_data *s = current();
    const monster_data *monster = s->count > 0 ? get_monster_data(s->monster_indexes[0]) : nullptr;
    return monster ? (int16_t)monster->original_name_string_index : (int16_t)NONE;
}

void get_selection_ammunition(int16_t *count, int16_t *collection_index, int16_t *sequence_index,
                              int16_t *color_table_index)
{
    *count = 0;
    *collection_index = *sequence_index = *color_table_index = NONE;
    const monster_data *monster = single_unit();
    const monster_definition *definition = definition_of(monster);
    if (!monster || !definition || definition->ammunition_projectile_type == NONE || !details_visible(monster)) return;
    const object_data *object = get_object(monster->object_index);
    if (!object) return;
    *count = monster->ammunition_count;
    *collection_index = object->shape_collection_index;
    *color_table_index = object->color_table_index;
    *sequence_index = definition->sequence_indexes[_monster_sequence_ammunition_icon];
}

void get_selection_item(int16_t *collection_index, int16_t *sequence_index, int16_t *color_table_index,
                        int16_t *charges)
{
    *collection_index = *sequence_index = *color_table_index = NONE;
    *charges = 0;
    const monster_data *monster = single_unit();
    const monster_definition *definition = definition_of(monster);
    if (!monster || !definition || monster->carrying_object_index == NONE || !details_visible(monster)) return;
    const artifact_definition *artifact = get_artifact_definition(monster->artifact_index);
    if (monster->artifact_index == NONE || !artifact)
    {
        const object_data *object = get_object(monster->object_index);
        if (!object) return;
        *collection_index = object->shape_collection_index;
        *color_table_index = object->color_table_index;
        *sequence_index = definition->sequence_indexes[_monster_sequence_ammunition_icon];
        return;
    }
    // Artifacts have no inventory picture of their own: the carried object's shape stands for it.
    const object_data *carried = get_object(monster->carrying_object_index);
    if (!carried) return;
    *collection_index = carried->shape_collection_index;
    *sequence_index = carried->shape_sequence_index;
    int32_t value = carried->state < 0 ? 0 : carried->state;
    const int32_t initial = artifact->initial_charges_lower_bound + artifact->initial_charges_delta;
    if ((artifact->flags & _artifact_display_charges_as_percent_flag) && initial > 0)
        value = -((value * 100) / initial);
    if (artifact->flags & _artifact_has_timed_expiry_flag)
        value = (int32_t)(monster->artifact_timer / TICKS_PER_SECOND_FOR_ITEM_TIMER);
    *charges = (int16_t)(value > INT16_MAX ? INT16_MAX : value < INT16_MIN ? INT16_MIN : value);
}

void point_observer_at_current_selection(bool only_when_out_of_view)
{
    const selection_data *s = current();
    int64_t x = 0, y = 0, z = 0;
    int32_t n = 0;
    for (int32_t i = 0; i < s->count; ++i)
    {
        const object_data *object = get_selection_unit_object(s->monster_indexes[i]);
        if (!object) continue;
        x += object->location.position.x, y += object->location.position.y, z += object->location.position.z;
        ++n;
    }
    if (n == 0) return;
    const world_point3d mean = {(world_distance)(x / n), (world_distance)(y / n), (world_distance)(z / n)};
    if (only_when_out_of_view)
    {
        const selection_point_in_view_procedure in_view = point_in_view_slot.get();
        bool visible = false;
        if (!in_view || !in_view(&mean, &visible) || visible) return;
    }
    world_location3d camera;
    get_observer_location(&camera);
    camera.position.x = mean.x;
    camera.position.y = mean.y;
    set_observer_location(&camera);
}

void highlight_target_selection(bool on) { highlight_selection_targets(on); }
