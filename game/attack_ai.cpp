// The attack AI: groups of units told by the scripts to attack, given targets after each script pass.

#include "attack_ai.h"

#include <cstring>

#include "cseries/log.h"
#include "cseries/registration.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "monsters.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"
#include "players.h"
#include "spatial_groups.h"
#include "state_hash.h"
#include "tag_files/data.h"

static constexpr uint32_t ATTACK_AI_FOCUS_FIELD_NAME = FOUR_CHARACTER_CODE('a', 'i', 'f', 'o');
static constexpr uint32_t ATTACK_AI_RADIUS_FIELD_NAME = FOUR_CHARACTER_CODE('a', 'i', 'r', 'a');

static_assert(ATTACK_AI_GROUP_HEADER_SIZE == 2 + 2 + 4 + 4 + 4);
static_assert(ATTACK_AI_MONSTER_ENTRY_SIZE == 2 + 2);

// One group as it is read back from the buffer.
struct attack_ai_group
{
    attack_ai_configuration configuration;
    int32_t count;
    int16_t indexes[MAXIMUM_MONSTERS_PER_MAP];
    int16_t identifiers[MAXIMUM_MONSTERS_PER_MAP];
};

static struct attack_ai_globals
{
    // Groups back to back, host order: u16 flags, s16 count, s32 focus x,
    // s32 focus y, s32 radius, then count x (s16 index, s16 identifier).
    uint8_t buffer[ATTACK_AI_BUFFER_SIZE];
    int32_t buffer_size; // bytes in use
    attack_ai_group group; // scratch of update_attack_ai
} attack_ai_globals;

// ---- life cycle -------------------------------------------------------------------------

bool initialize_attack_ai(void)
{
    reset_attack_ai();
    register_state_hash_procedure_at_start_up(hash_attack_ai);
    return true;
}

void initialize_attack_ai_for_new_map(void) { reset_attack_ai(); }
void dispose_attack_ai_from_old_map(void) { reset_attack_ai(); }
void reset_attack_ai(void) { attack_ai_globals.buffer_size = 0; }

// ---- configurations ----------------------------------------------------------------------

void new_attack_ai_configuration(attack_ai_configuration *configuration)
{
    if (!configuration) return;
    configuration->flags = _attack_ai_no_focus_flag;
    configuration->focus = {0, 0};
    configuration->radius = 0;
}

bool parse_attack_ai_configuration(attack_ai_configuration *configuration, int32_t action_index)
{
    if (!configuration) return false;
    new_attack_ai_configuration(configuration);
    if (!get_map_action(action_index)) return false;
    world_point2d focus;
    if (get_combined_map_action_parameter(action_index, ATTACK_AI_FOCUS_FIELD_NAME, _parameter_world_point2d, &focus,
                                          1) > 0)
    {
        configuration->focus = focus;
        configuration->flags &= (uint16_t)~_attack_ai_no_focus_flag;
    }
    world_distance radius;
    if (get_combined_map_action_parameter(action_index, ATTACK_AI_RADIUS_FIELD_NAME, _parameter_world_distance, &radius,
                                          1) > 0)
    {
        if (radius < 0)
        {
            log_message(__FILE__, __LINE__, "attack ai: action %d has a negative radius %d; refused", (int)action_index,
                        (int)radius);
            return false;
        }
        configuration->radius = radius;
    }
    return true;
}

// ---- the buffer ----------------------------------------------------------------------------

static void put16(uint8_t *at, int16_t value) { memcpy(at, &value, sizeof(value)); }
static void put32(uint8_t *at, int32_t value) { memcpy(at, &value, sizeof(value)); }
static int16_t get16(const uint8_t *at)
{
    int16_t value;
    memcpy(&value, at, sizeof(value));
    return value;
}
static int32_t get32(const uint8_t *at)
{
    int32_t value;
    memcpy(&value, at, sizeof(value));
    return value;
}

void attack_with_monster_indexes(const attack_ai_configuration *configuration, int32_t count, const int16_t *indexes)
{
    if (!configuration || !indexes || count <= 0) return;
    if (!VWARN(count <= MAXIMUM_MONSTERS_PER_MAP, "more units than the map can hold")) count = MAXIMUM_MONSTERS_PER_MAP;
    int16_t kept_indexes[MAXIMUM_MONSTERS_PER_MAP], kept_identifiers[MAXIMUM_MONSTERS_PER_MAP];
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const monster_data *monster = get_monster_data(indexes[i]);
        if (!monster) continue;
        kept_indexes[kept] = indexes[i];
        kept_identifiers[kept++] = monster->identifier;
    }
    if (kept == 0) return;
    const int32_t size = ATTACK_AI_GROUP_HEADER_SIZE + ATTACK_AI_MONSTER_ENTRY_SIZE * kept;
    if (attack_ai_globals.buffer_size + size > ATTACK_AI_BUFFER_SIZE)
    {
        log_message(__FILE__, __LINE__, "### overwrote attack ai buffer");
        return;
    }
    uint8_t *at = attack_ai_globals.buffer + attack_ai_globals.buffer_size;
    put16(at, (int16_t)configuration->flags);
    put16(at + 2, (int16_t)kept);
    put32(at + 4, configuration->focus.x);
    put32(at + 8, configuration->focus.y);
    put32(at + 12, configuration->radius);
    for (int32_t i = 0; i < kept; ++i)
    {
        put16(at + ATTACK_AI_GROUP_HEADER_SIZE + ATTACK_AI_MONSTER_ENTRY_SIZE * i, kept_indexes[i]);
        put16(at + ATTACK_AI_GROUP_HEADER_SIZE + ATTACK_AI_MONSTER_ENTRY_SIZE * i + 2, kept_identifiers[i]);
    }
    attack_ai_globals.buffer_size += size;
}

void attack_with_all_monster_indexes(int16_t team_index)
{
    int16_t indexes[MAXIMUM_MONSTERS_PER_MAP];
    int32_t count = 0;
    datum_globals *monsters = get_monster_array();
    for (int32_t index = 0; index < monsters->count && index < MAXIMUM_MONSTERS_PER_MAP; ++index)
    {
        const monster_data *monster = get_monster_data(index);
        if (!monster || monster->owner_team_index != team_index) continue;
        if (monster->flags & _monster_has_left_the_mesh_flag) continue;
        indexes[count++] = (int16_t)index;
    }
    attack_ai_configuration configuration;
    new_attack_ai_configuration(&configuration);
    attack_with_monster_indexes(&configuration, count, indexes);
}

// Reads the group at `offset`; returns the offset of the next one.
static int32_t read_attack_ai_group(int32_t offset, attack_ai_group *group)
{
    const uint8_t *at = attack_ai_globals.buffer + offset;
    group->configuration.flags = (uint16_t)get16(at);
    group->count = get16(at + 2);
    group->configuration.focus = {get32(at + 4), get32(at + 8)};
    group->configuration.radius = get32(at + 12);
    for (int32_t i = 0; i < group->count; ++i)
    {
        group->indexes[i] = get16(at + ATTACK_AI_GROUP_HEADER_SIZE + ATTACK_AI_MONSTER_ENTRY_SIZE * i);
        group->identifiers[i] = get16(at + ATTACK_AI_GROUP_HEADER_SIZE + ATTACK_AI_MONSTER_ENTRY_SIZE * i + 2);
    }
    return offset + ATTACK_AI_GROUP_HEADER_SIZE + ATTACK_AI_MONSTER_ENTRY_SIZE * group->count;
}

// ---- the work after a pass ---------------------------------------------------------------------

// The enemy group nearest to `reference` (the first of equals, in list
// order); with a focus and a radius above 0 only groups that reach within
// the radius of the focus count.
static spatial_group *choose_target_group(int16_t team_index, const attack_ai_configuration *configuration,
                                          const world_point2d *reference)
{
    const bool focused = !(configuration->flags & _attack_ai_no_focus_flag);
    spatial_group *best = nullptr;
    int64_t best_distance = 0;
    for (spatial_group *group = first_spatial_group(); group; group = group->next_group)
    {
        if (group->team_index == team_index || teams_are_allied(team_index, group->team_index)) continue;
        if (focused && configuration->radius > 0)
        {
            const int64_t reach = (int64_t)configuration->radius + group->radius;
            if (squared_distance64(&configuration->focus, &group->center) > reach * reach) continue;
        }
        const int64_t distance = squared_distance64(reference, &group->center);
        if (!best || distance < best_distance)
        {
            best = group;
            best_distance = distance;
        }
    }
    return best;
}

static void attack_with_group(attack_ai_group *group)
{
    // The units still alive under the identifiers they were given with.
    int32_t count = 0;
    for (int32_t i = 0; i < group->count; ++i)
    {
        const monster_data *monster = get_monster_data(group->indexes[i]);
        if (!monster || monster->identifier != group->identifiers[i]) continue;
        if (monster->flags & _monster_has_left_the_mesh_flag) continue;
        group->indexes[count++] = group->indexes[i];
    }
    if (count == 0) return;

    const int16_t team_index = get_monster_data(group->indexes[0])->owner_team_index;
    world_point2d reference = group->configuration.focus;
    if (group->configuration.flags & _attack_ai_no_focus_flag)
        get_centerpoint_of_monster_indexes(count, group->indexes, &reference);
    spatial_group *target = choose_target_group(team_index, &group->configuration, &reference);
    if (!target) return;

    // Units that fight already keep their targets; the others are paired with
    // the target group's units in order, one command per command-sized slice.
    const command_target_data data = {_command_target_dont_override_existing_target_flag, 0};
    const int32_t slice = maximum_units_per_command();
    for (int32_t first = 0; first < count; first += slice)
    {
        const int32_t slice_count = count - first < slice ? count - first : slice;
        handle_target_command(INTERNAL_COMMAND_IDENTIFIER_NO_ACTION, &data, slice_count, group->indexes + first,
                              target->monster_count, target->monster_indexes);
    }
    for (int32_t i = 0; i < count; ++i) add_spatial_group_attacker(target, group->indexes[i]);
}

void update_attack_ai(void)
{
    for (int32_t offset = 0; offset < attack_ai_globals.buffer_size;)
    {
        offset = read_attack_ai_group(offset, &attack_ai_globals.group);
        attack_with_group(&attack_ai_globals.group);
    }
}

// ---- the state hash ----------------------------------------------------------------------------

void hash_attack_ai(uint32_t *hash)
{
    state_hash_add_int32(hash, attack_ai_globals.buffer_size);
    attack_ai_group group;
    for (int32_t offset = 0; offset < attack_ai_globals.buffer_size;)
    {
        offset = read_attack_ai_group(offset, &group);
        state_hash_add_int32(hash, group.configuration.flags);
        state_hash_add_int32(hash, group.count);
        state_hash_add_int32(hash, group.configuration.focus.x);
        state_hash_add_int32(hash, group.configuration.focus.y);
        state_hash_add_int32(hash, group.configuration.radius);
        for (int32_t i = 0; i < group.count; ++i)
            state_hash_add_int32(hash, (int32_t)(((uint32_t)(uint16_t)group.indexes[i] << 16) |
                                                 (uint16_t)group.identifiers[i]));
    }
}
