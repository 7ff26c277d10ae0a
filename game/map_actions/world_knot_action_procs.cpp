#include "world_knot_action_procs.h"

#include <cstring>

#include "cseries/registration.h"
#include "game_time.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "markers.h"
#include "model_animations.h"
#include "model_effects.h"
#include "models.h"
#include "monster_hiding.h"
#include "monsters.h"
#include "objects.h"
#include "overhead_text_procedures.h"
#include "script_math.h"
#include "tag_files/data.h"
#include "vesk/string_lists.h"
#include "world_action_procs_internal.h"

// ---- overhead text ------------------------------------------------------------------

void overhead_text_action_proc(int32_t action_index, const int16_t *monster_indexes, int32_t count)
{
    int32_t list_tag;
    if (!first_long(action_index, field('o', 't', 'x', 't'), _parameter_field_name, &list_tag)) return;
    const int32_t list_index = string_list_tag_to_string_index(list_tag);
    if (list_index == NONE)
    {
        map_action_debug(action_index, "invalid string list tag");
        return;
    }

    overhead_text_data text;
    memset(&text, 0, sizeof(text));
    text.string_list_index = list_index;
    int32_t value;
    if (first_long(action_index, field('o', 't', 's', 'i'), _parameter_integer, &value) && value >= 0 &&
        value < count_strings_in_list(list_index))
        text.string_index = value;
    int32_t font_tag = NONE;
    first_long(action_index, field('o', 't', 'f', 't'), _parameter_field_name, &font_tag);
    const auto font = get_overhead_text_procedures()->overhead_text_font;
    text.font_index = font ? font(font_tag) : NONE;
    text.style = NONE;
    text.color = {0xFFFF, 0xFFFF, 0xFFFF, 0};
    get_indexed_color_parameter(action_index, field('o', 't', 'c', 'l'), &text.color, 0);
    text.text_flags = _overhead_text_default_flags;
    if (has_flag(action_index, field('o', 't', 's', 'h'))) text.text_flags |= _overhead_text_shadow_flag;
    text.timer = DEFAULT_OVERHEAD_TEXT_TIMER;
    if (first_long(action_index, field('o', 't', 'i', 'm'), _parameter_integer, &value)) text.timer = value;

    const auto make = get_overhead_text_procedures()->new_overhead_text;
    const auto erase = get_overhead_text_procedures()->delete_overhead_text;
    for (int32_t i = 0; i < count; i++)
    {
        monster_data *monster = get_monster_data(monster_indexes[i]);
        if (!monster) continue;
        if (monster->current_overhead_text_index != NONE)
        {
            if (erase) erase(monster->current_overhead_text_index);
            monster->current_overhead_text_index = NONE;
        }
        // The request carries the unit, so the new text is linked to it from
        // the start.
        text.monster_index = monster_indexes[i];
        const int32_t index = make ? make(&text) : NONE;
        monster->current_overhead_text_index = (int16_t)(index >= 0 && index < MAXIMUM_OVERHEAD_TEXT_PER_MAP ? index : NONE);
    }
}

uint32_t unit_indicators_action_proc(int32_t action_index)
{
    int32_t list_tag;
    if (!first_long(action_index, field('o', 't', 'x', 't'), _parameter_field_name, &list_tag))
    {
        map_action_error(action_index, "no string list ('otxt')!");
        return 0;
    }
    int16_t units[MAXIMUM_WORLD_PROC_SUBJECTS];
    const int32_t count = named_units(action_index, _common_field_name_subject, units, MAXIMUM_WORLD_PROC_SUBJECTS);
    overhead_text_action_proc(action_index, units, count);
    return 0;
}

// ---- queues --------------------------------------------------------------------------

// Drops the head of a queue of `*count` entries; false when it is empty.
static bool drop_queue_head(wave_data *queue, int16_t *count)
{
    if (*count <= 0) return false;
    memmove(queue, queue + 1, sizeof(wave_data) * (size_t)(*count - 1));
    (*count)--;
    memset(&queue[*count], 0xFF, sizeof(wave_data));
    return true;
}

// Appends to a queue of `*count` entries; false when it is full.
static bool append_to_queue(wave_data *queue, int16_t *count, const wave_data &wave)
{
    if (*count >= MAXIMUM_WAVES_PER_KNOT) return false;
    queue[(*count)++] = wave;
    return true;
}

bool copy_wave_into_incoming_queue(world_knot_globals *globals)
{
    if (globals->free_wave_container_count <= 0) return false;
    if (!append_to_queue(globals->waves, &globals->wave_container_count, globals->free_waves[0])) return false;
    move_wave_free_queue_down(globals);
    return true;
}

void move_wave_free_queue_down(world_knot_globals *globals)
{
    drop_queue_head(globals->free_waves, &globals->free_wave_container_count);
}

int32_t add_objects_to_parameter(int32_t action_index, field_tag field_name, int16_t type, const int16_t *identifiers,
                                 int32_t count)
{
    const map_action *action = get_map_action(action_index);
    if (!action || count < 0) return 0;
    // Each pass removes one entry, so the walk ends within the action's count.
    map_action_parameter parameter;
    for (int32_t left = action->parameter_count;
         left > 0 && get_map_action_parameter(&parameter, action_index, _dont_resolve_links_flag | _return_empty_arrays_flag,
                                              field_name, type);
         left--)
        delete_map_action_parameter(&parameter);
    if (!new_map_action_parameter(&parameter, action_index, field_name, type) ||
        (count > 0 && !append_to_map_action_parameter(&parameter, count, identifiers)))
    {
        map_action_error(action_index, "couldn't store %d units", (int)count);
        return 0;
    }
    return count;
}

// ---- units inside a radius -------------------------------------------------------------

int32_t get_monster_identifiers_inside_radius(world_point2d center, world_distance radius, int16_t *identifiers)
{
    datum_globals *array = get_monster_array();
    int32_t count = 0;
    const int64_t limit = mul64(radius, radius);
    for (int32_t index = 0; array && index < array->count && count < MAXIMUM_MONSTERS_PER_WORLD_KNOT; index++)
    {
        const monster_data *monster = get_monster_data(index);
        const object_data *object = monster ? get_object(monster->object_index) : nullptr;
        if (!object || (object->flags & _object_is_invisible_flag)) continue;
        const int64_t dx = (int64_t)object->location.position.x - center.x;
        const int64_t dy = (int64_t)object->location.position.y - center.y;
        if (dx > -radius && dx < radius && dy > -radius && dy < radius && dx * dx + dy * dy < limit)
            identifiers[count++] = monster->identifier;
    }
    return count;
}

// ---- knot records ----------------------------------------------------------------------

static const char *state_name(int16_t state)
{
    switch (state)
    {
    case _state_idle: return "idle";
    case _state_teleporting_in: return "teleporting in";
    case _state_teleporting_out: return "teleporting out";
    default: return "<unknown>";
    }
}

// Keeps a stored record's counts inside its arrays.
static void clamp_counts(world_knot_globals *globals)
{
    auto clamp = [](auto value, int32_t high) { return value < 0 ? 0 : (value > high ? high : value); };
    globals->model_count = clamp(globals->model_count, MAXIMUM_MODELS_PER_WORLD_KNOT);
    globals->wave_container_count = (int16_t)clamp(globals->wave_container_count, MAXIMUM_WAVES_PER_KNOT);
    globals->free_wave_container_count = (int16_t)clamp(globals->free_wave_container_count, MAXIMUM_WAVES_PER_KNOT);
}

// A stored record of `action_index` that the knot can run from: one of
// another action or in a state the knot has no step for counts as missing.
static bool stored_knot_globals(int32_t action_index, world_knot_globals *globals)
{
    if (!get_map_action_structure(action_index, _common_internal_field_name_globals, sizeof(*globals), globals))
        return false;
    return globals->action_index == action_index && globals->state >= _state_idle &&
           globals->state <= _state_teleporting_out;
}

// The record of an initialised knot action; false for anything else.
static bool read_knot_globals(int32_t action_index, world_knot_globals *globals)
{
    if (get_map_action_tag(action_index) != FOUR_CHARACTER_CODE('k', 'n', 'o', 't')) return false;
    if (!stored_knot_globals(action_index, globals)) return false;
    clamp_counts(globals);
    return true;
}

static void write_knot_globals(const world_knot_globals *globals)
{
    set_unique_map_action_parameter(globals->action_index, _common_internal_field_name_globals, _parameter_character,
                                    sizeof(*globals), globals);
}

// ---- set_knot_action_state ------------------------------------------------------------

// The wave's unit markers (at most the 'subj' limit); their count.
static int32_t wave_markers(int32_t container_index, int16_t *identifiers)
{
    return get_combined_map_action_parameter(container_index, _common_field_name_subject, _parameter_monster_identifier,
                                             identifiers, MAXIMUM_WORLD_PROC_SUBJECTS);
}

static monster_data *unit_of_marker(const marker_data *marker)
{
    if (marker->data_index == NONE) return nullptr;
    monster_data *monster = get_monster_data(marker->data_index);
    return monster && monster->identifier == marker->data_identifier ? monster : nullptr;
}

// Brings the head wave in at the knot centre; false when no unit marker moved.
static bool teleport_wave_in(const world_knot_globals *globals, const wave_data &wave)
{
    const int32_t action_index = globals->action_index;
    int16_t identifiers[MAXIMUM_WORLD_PROC_SUBJECTS];
    const int32_t count = wave_markers(wave.container_index, identifiers);
    int64_t sum_x = 0, sum_y = 0;
    world_distance min_x = 0, min_y = 0, max_x = 0, max_y = 0;
    int32_t found = 0;
    for (int32_t i = 0; i < count; i++)
    {
        const marker_data *marker = get_marker_by_identifier(_marker_monster, identifiers[i]);
        if (!marker) continue;
        const monster_data *monster = unit_of_marker(marker);
        const object_data *object = monster ? get_object(monster->object_index) : nullptr;
        const world_point3d &at = object ? object->location.position : marker->location.position;
        if (found == 0 || at.x < min_x) min_x = at.x;
        if (found == 0 || at.y < min_y) min_y = at.y;
        if (found == 0 || at.x > max_x) max_x = at.x;
        if (found == 0 || at.y > max_y) max_y = at.y;
        sum_x += at.x;
        sum_y += at.y;
        found++;
    }
    if (found == 0)
    {
        map_action_error(action_index, "wave has no monsters!");
        return false;
    }
    world_point2d wave_center;
    if (globals->use_bounding_box_for_wave_center)
        wave_center = {(world_distance)(((int64_t)min_x + max_x) / 2), (world_distance)(((int64_t)min_y + max_y) / 2)};
    else
        wave_center = {(world_distance)(sum_x / found), (world_distance)(sum_y / found)};
    const world_distance dx = globals->center.x - wave_center.x, dy = globals->center.y - wave_center.y;
    for (int32_t i = 0; i < count; i++)
    {
        marker_data *marker = get_marker_by_identifier(_marker_monster, identifiers[i]);
        if (!marker) continue;
        const monster_data *monster = unit_of_marker(marker);
        if (monster && get_object(monster->object_index))
        {
            disconnect_object_from_mesh(monster->object_index);
            object_data *object = get_object(monster->object_index);
            object->location.position.x += dx;
            object->location.position.y += dy;
            reconnect_object_to_mesh(monster->object_index);
        }
        else if (marker->data_index == NONE)
        {
            marker->location.position.x += dx;
            marker->location.position.y += dy;
        }
        make_monster_visible(identifiers[i], _monster_visibility_mode_none);
    }
    return true;
}

// Hides the head wave's units; false when it lists none.
static bool teleport_wave_out(const world_knot_globals *globals, const wave_data &wave)
{
    int16_t identifiers[MAXIMUM_WORLD_PROC_SUBJECTS];
    const int32_t count = wave_markers(wave.container_index, identifiers);
    if (count == 0)
    {
        map_action_error(globals->action_index, "wave has no monsters!");
        return false;
    }
    for (int32_t i = 0; i < count; i++) make_monster_invisible(identifiers[i], _monster_visibility_mode_none);
    return true;
}

void set_knot_action_state(world_knot_globals *globals, int16_t state)
{
    const int32_t action_index = globals->action_index;
    bool moved = false;
    if (state == _state_teleporting_in || state == _state_teleporting_out)
    {
        if (globals->wave_container_count < 1)
            map_action_error(action_index, "no wave to move!");
        else if (globals->waves[0].container_index == NONE || !get_map_action(globals->waves[0].container_index))
            map_action_error(action_index, "wave didn't have a subj field!");
        else
            moved = state == _state_teleporting_in ? teleport_wave_in(globals, globals->waves[0])
                                                  : teleport_wave_out(globals, globals->waves[0]);
    }
    if (state == _state_idle || moved)
    {
        const bool idle = state == _state_idle;
        const int32_t ticks = idle ? 1 : (globals->duration > 32767 ? 32767 : globals->duration);
        for (int32_t i = 0; i < globals->model_count && i < MAXIMUM_MODELS_PER_WORLD_KNOT; i++)
        {
            new_model_effect_data effect;
            memset(&effect, 0, sizeof(effect));
            effect.flags = _model_effect_permutation_change_only_flag;
            effect.duration = (int16_t)ticks;
            effect.new_permutation = globals->initial_model_permutation[i] + (idle ? 0 : 4);
            effect.set_permutation = NONE;
            effect.material_fading_index = NONE;
            effect.projectile_type_to_create = NONE;
            new_model_effect(globals->model_indexes[i], NONE, &effect);
        }
    }
    globals->state = state;
    globals->ticks_at_last_transition_state = game_->game_time;
    map_action_debug(action_index, "state set to: %s", state_name(state));
}

// ---- initialization -------------------------------------------------------------------

static void add_model(world_knot_globals *globals, int32_t model_index)
{
    const model_data *model = get_model(model_index);
    if (!model) return;
    if (globals->model_count >= MAXIMUM_MODELS_PER_WORLD_KNOT)
    {
        map_action_error(globals->action_index, "more than %d models; the rest are ignored",
                         (int)MAXIMUM_MODELS_PER_WORLD_KNOT);
        return;
    }
    globals->model_indexes[globals->model_count] = (int16_t)model_index;
    globals->initial_model_permutation[globals->model_count] = model->model_permutation;
    globals->model_count++;
}

static void find_models(int32_t action_index, world_knot_globals *globals)
{
    int16_t identifiers[MAXIMUM_MODELS_PER_WORLD_KNOT + 1];
    int16_t indexes[MAXIMUM_MODELS_PER_WORLD_KNOT + 1];
    // One more than fits, so an overfull list is noticed and logged.
    int32_t count = get_combined_map_action_parameter(action_index, field('m', 'o', 'd', 'e'),
                                                      _parameter_model_identifier, identifiers, NUMBER_OF(identifiers));
    count = model_identifiers_to_model_indexes(identifiers, indexes, count);
    for (int32_t i = 0; i < count; i++) add_model(globals, indexes[i]);
    count = get_combined_map_action_parameter(action_index, field('a', 'n', 'i', 'm'),
                                              _parameter_model_animation_identifier, identifiers, NUMBER_OF(identifiers));
    for (int32_t i = 0; i < count; i++)
        if (const model_animation_data *animation =
                get_model_animation(model_animation_identifier_to_model_animation_index(identifiers[i])))
            add_model(globals, animation->current_model_index);
}

// The knot's centre and radius from its models' centres.
static void place_knot(world_knot_globals *globals)
{
    world_distance min_x = 0, min_y = 0, max_x = 0, max_y = 0;
    int64_t sum_x = 0, sum_y = 0;
    for (int32_t i = 0; i < globals->model_count; i++)
    {
        world_point3d at = {0, 0, 0};
        get_model_centerpoint(globals->model_indexes[i], &at);
        if (i == 0 || at.x < min_x) min_x = at.x;
        if (i == 0 || at.y < min_y) min_y = at.y;
        if (i == 0 || at.x > max_x) max_x = at.x;
        if (i == 0 || at.y > max_y) max_y = at.y;
        sum_x += at.x;
        sum_y += at.y;
    }
    world_point2d &c = globals->center;
    if (globals->use_bounding_box_for_knot_center)
    {
        c = {(world_distance)(((int64_t)min_x + max_x) / 2), (world_distance)(((int64_t)min_y + max_y) / 2)};
        globals->radius = c.x - min_x > c.y - min_y ? c.x - min_x : c.y - min_y;
    }
    else
    {
        c = {(world_distance)(sum_x / globals->model_count), (world_distance)(sum_y / globals->model_count)};
        world_distance radius = c.x - min_x;
        for (world_distance side : {max_x - c.x, c.y - min_y, max_y - c.y})
            if (side > radius) radius = side;
        globals->radius = radius;
    }
}

// NONE for an absent identifier or one naming no action.
static int16_t action_named(int32_t action_index, field_tag name, int32_t index)
{
    int16_t identifier;
    if (!get_indexed_short_integer_parameter(action_index, name, _parameter_action_identifier, &identifier, index))
        return NONE;
    return (int16_t)action_identifier_to_action_index(identifier);
}

static bool initialize_knot_globals(int32_t action_index, world_knot_globals *globals)
{
    memset(globals, 0, sizeof(*globals));
    globals->action_index = (int16_t)action_index;
    globals->state = _state_idle;
    globals->use_bounding_box_for_knot_center = has_flag(action_index, field('k', 'n', 'c', 'e'));
    globals->use_bounding_box_for_wave_center = has_flag(action_index, field('w', 'a', 'c', 'e'));
    find_models(action_index, globals);
    if (globals->model_count == 0)
    {
        map_action_error(action_index, "no models!");
        map_action_debug(action_index, "unable to initialize globals!");
        return false;
    }
    for (int32_t i = 0; i < MAXIMUM_WAVES_PER_KNOT; i++)
        globals->waves[i] = globals->free_waves[i] = {NONE, NONE, NONE};
    place_knot(globals);
    world_distance radius;
    if (first_long(action_index, field('r', 'a', 'd', 'i'), _parameter_world_distance, &radius))
        globals->radius = radius < 0 ? 0 : radius;
    world_point2d center;
    if (get_indexed_world_point2d_parameter(action_index, field('c', 'e', 'n', 't'), &center, 0)) globals->center = center;
    globals->teleporting_out = has_flag(action_index, field('_', 'o', 'u', 't'));
    globals->next_world_knot_index = action_named(action_index, field('n', 'e', 'x', 't'), 0);

    int16_t waves[MAXIMUM_WAVES_PER_KNOT + 1];
    const int32_t wave_count = get_combined_map_action_parameter(action_index, field('w', 'a', 'v', 'e'),
                                                                 _parameter_action_identifier, waves, NUMBER_OF(waves));
    if (wave_count > MAXIMUM_WAVES_PER_KNOT)
        map_action_error(action_index, "more than %d waves; the rest are dropped", (int)MAXIMUM_WAVES_PER_KNOT);
    for (int32_t i = 0; i < wave_count && i < MAXIMUM_WAVES_PER_KNOT; i++)
    {
        const wave_data wave = {(int16_t)action_identifier_to_action_index(waves[i]),
                                action_named(action_index, field('a', 'c', 'o', 'w'), i), NONE};
        if (globals->next_world_knot_index != NONE)
            append_to_queue(globals->free_waves, &globals->free_wave_container_count, wave);
        else
            append_to_queue(globals->waves, &globals->wave_container_count, wave);
    }
    if (wave_count == 0 && !globals->teleporting_out)
    {
        map_action_error(action_index, "nothing to bring in!");
        map_action_debug(action_index, "unable to initialize globals!");
        return false;
    }
    fixed duration;
    if (!get_indexed_long_integer_parameter(action_index, field('d', 'u', 'r', 'a'), _parameter_fixed, &duration, 0))
    {
        map_action_error(action_index, "no duration");
        map_action_debug(action_index, "unable to initialize globals!");
        return false;
    }
    const int64_t ticks = mul64(duration, 30) / 65536;
    globals->duration = (int32_t)(ticks < 0 ? 0 : (ticks > INT32_MAX ? INT32_MAX : ticks));
    globals->teleport_in_action_index = action_named(action_index, field('s', 't', 'r', 't'), 0);
    if (globals->next_world_knot_index != NONE) globals->teleporting_out = true;
    globals->ticks_at_last_transition_state = game_->game_time;
    map_action_debug(action_index, "initialized");
    return true;
}

// ---- the run ------------------------------------------------------------------------------

// Both knots of a pair load each other's next wave with the units inside them.
static void try_swap(world_knot_globals *local)
{
    world_knot_globals remote;
    if (local->next_world_knot_index == local->action_index || !read_knot_globals(local->next_world_knot_index, &remote))
    {
        map_action_debug(local->action_index, "partner is not an initialized knot");
        return;
    }
    if (remote.state != _state_idle || local->free_wave_container_count < 1 || remote.free_wave_container_count < 1)
        return;
    if (local->wave_container_count >= MAXIMUM_WAVES_PER_KNOT || remote.wave_container_count >= MAXIMUM_WAVES_PER_KNOT)
    {
        map_action_error(local->action_index, "incoming queue full; no swap");
        return;
    }
    int16_t local_units[MAXIMUM_MONSTERS_PER_WORLD_KNOT], remote_units[MAXIMUM_MONSTERS_PER_WORLD_KNOT];
    const int32_t local_count = get_monster_identifiers_inside_radius(local->center, local->radius, local_units);
    const int32_t remote_count = get_monster_identifiers_inside_radius(remote.center, remote.radius, remote_units);
    if (local_count == 0 && remote_count == 0) return;

    if (local->free_waves[0].container_index != NONE)
        add_objects_to_parameter(local->free_waves[0].container_index, _common_field_name_subject,
                                 _parameter_monster_identifier, local_units, local_count);
    local->free_waves[0].remote_knot_index = remote.action_index;
    copy_wave_into_incoming_queue(local);
    if (remote.free_waves[0].container_index != NONE)
        add_objects_to_parameter(remote.free_waves[0].container_index, _common_field_name_subject,
                                 _parameter_monster_identifier, remote_units, remote_count);
    remote.free_waves[0].remote_knot_index = remote.next_world_knot_index;
    copy_wave_into_incoming_queue(&remote);
    set_knot_action_state(local, _state_teleporting_out);
    set_knot_action_state(&remote, _state_teleporting_out);
    write_knot_globals(&remote);
}

// The head wave has arrived or left: its activation action is activated.
static void activate_head_wave(const world_knot_globals *globals)
{
    const int16_t activation = globals->waves[0].activation_index;
    if (activation != NONE && get_map_action(activation)) activate_map_action(activation);
}

static void finish_teleporting_in(world_knot_globals *globals)
{
    VASSERT(globals->wave_container_count > 0, "globals->wave_container_count>0");
    if (globals->wave_container_count > 0)
    {
        activate_head_wave(globals);
        if (!append_to_queue(globals->free_waves, &globals->free_wave_container_count, globals->waves[0]))
            map_action_error(globals->action_index, "free queue full; wave dropped");
        drop_queue_head(globals->waves, &globals->wave_container_count);
    }
    set_knot_action_state(globals, _state_idle);
    if (globals->next_world_knot_index != NONE) globals->teleporting_out = true;
}

static void finish_teleporting_out(world_knot_globals *globals)
{
    VASSERT(globals->wave_container_count > 0, "globals->wave_container_count>0");
    if (globals->wave_container_count > 0)
    {
        activate_head_wave(globals);
        const wave_data wave = globals->waves[0];
        world_knot_globals remote;
        bool delivered = false;
        if (wave.remote_knot_index != NONE && wave.remote_knot_index != globals->action_index &&
            read_knot_globals(wave.remote_knot_index, &remote))
        {
            delivered = append_to_queue(remote.waves, &remote.wave_container_count, wave);
            if (delivered)
                write_knot_globals(&remote);
            else
                map_action_error(globals->action_index, "the remote knot's queue is full; wave kept");
        }
        if (!delivered && !append_to_queue(globals->free_waves, &globals->free_wave_container_count, wave))
            map_action_error(globals->action_index, "free queue full; wave dropped");
        drop_queue_head(globals->waves, &globals->wave_container_count);
    }
    globals->teleporting_out = false;
    set_knot_action_state(globals, _state_idle);
}

uint32_t world_knot_action_proc(int32_t action_index)
{
    world_knot_globals globals;
    if (!stored_knot_globals(action_index, &globals))
    {
        if (!initialize_knot_globals(action_index, &globals)) return _map_action_proc_deactivate_flag;
    }
    clamp_counts(&globals);

    uint32_t result = 0;
    int16_t trigger_after_store = NONE;
    const int32_t elapsed = game_->game_time - globals.ticks_at_last_transition_state;
    switch (globals.state)
    {
    case _state_teleporting_in:
        if (elapsed > globals.duration) finish_teleporting_in(&globals);
        break;
    case _state_teleporting_out:
        if (elapsed > globals.duration) finish_teleporting_out(&globals);
        break;
    case _state_idle:
        if (globals.teleporting_out && globals.next_world_knot_index != NONE)
            try_swap(&globals);
        else if (globals.wave_container_count == 0)
        {
            map_action_debug(action_index, "no more waves to bring in (success)");
            if (globals.next_world_knot_index == NONE)
                result = _map_action_proc_succeeded_flag | _map_action_proc_deactivate_flag;
        }
        else
        {
            int16_t inside[MAXIMUM_MONSTERS_PER_WORLD_KNOT];
            if (get_monster_identifiers_inside_radius(globals.center, globals.radius, inside) == 0)
            {
                set_knot_action_state(&globals, _state_teleporting_in);
                trigger_after_store = globals.teleport_in_action_index;
            }
        }
        break;
    default:
        VASSERT(false, "halt");
        break;
    }
    write_knot_globals(&globals);
    // Stored first: the triggered action may read or run this knot.
    if (trigger_after_store != NONE && get_map_action(trigger_after_store)) trigger_map_action(trigger_after_store);
    return result;
}
