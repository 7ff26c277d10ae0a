// Unit lists: identifiers and indexes, the list filters, centre points, markers, evaluate_monster.

#include "monster_lists.h"

#include <cstring>

#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "mesh_format.h"
#include "monsters.h"
#include "objects.h"
#include "players.h"
#include "tag_files/data.h"

// The used record at `index`, null otherwise (never logs).
static monster_data *used_monster(int32_t index)
{
    return get_monster_data(index);
}

namespace {

// Identifier to the lowest used index holding it, for one call that resolves
// a long list: one walk of the array instead of one per identifier.  Open
// addressing over twice the array's used records at most.
struct identifier_table
{
    enum
    {
        SLOTS = 1024, // a power of two, more than twice MAXIMUM_MONSTERS_PER_MAP
    };
    int16_t identifiers[SLOTS]; // 0: empty (no used record has identifier 0)
    int16_t indexes[SLOTS];

    static uint32_t slot_of(int16_t identifier) { return ((uint32_t)(uint16_t)identifier * 40503u) & (SLOTS - 1); }

    // Keeps the first index given for an identifier.
    void add(int16_t identifier, int16_t index)
    {
        uint32_t slot = slot_of(identifier);
        while (identifiers[slot] != 0)
        {
            if (identifiers[slot] == identifier) return;
            slot = (slot + 1) & (SLOTS - 1);
        }
        identifiers[slot] = identifier;
        indexes[slot] = index;
    }

    int16_t find(int16_t identifier) const
    {
        for (uint32_t slot = slot_of(identifier); identifiers[slot] != 0; slot = (slot + 1) & (SLOTS - 1))
            if (identifiers[slot] == identifier) return indexes[slot];
        return NONE;
    }
};

// Lists shorter than this are resolved by walking the array for each.
constexpr int32_t SHORT_IDENTIFIER_LIST = 8;

} // namespace

int32_t monster_identifiers_to_monster_indexes(const int16_t *identifiers, int16_t *indexes, int32_t count)
{
    if (!identifiers || !indexes || count <= 0) return 0;
    const int32_t array_count = get_monster_array()->count;
    int32_t found = 0;
    if (count >= SHORT_IDENTIFIER_LIST && array_count <= identifier_table::SLOTS / 2)
    {
        identifier_table table;
        memset(table.identifiers, 0, sizeof(table.identifiers));
        for (int32_t index = 0; index < array_count; ++index)
            if (const monster_data *monster = used_monster(index))
                if (monster->identifier > 0) table.add(monster->identifier, (int16_t)index);
        for (int32_t i = 0; i < count; ++i)
        {
            if (identifiers[i] <= 0) continue;
            const int16_t index = table.find(identifiers[i]);
            if (index != NONE) indexes[found++] = index;
        }
        return found;
    }
    for (int32_t i = 0; i < count; ++i)
    {
        const int16_t identifier = identifiers[i];
        if (identifier <= 0) continue;
        for (int32_t index = 0; index < array_count; ++index)
        {
            const monster_data *monster = used_monster(index);
            if (monster && monster->identifier == identifier)
            {
                indexes[found++] = (int16_t)index;
                break;
            }
        }
    }
    return found;
}

void monster_indexes_to_monster_identifiers(const int16_t *indexes, int16_t *identifiers, int32_t count)
{
    if (!indexes || !identifiers) return;
    for (int32_t i = 0; i < count; ++i)
    {
        const monster_data *monster = used_monster(indexes[i]);
        identifiers[i] = monster ? monster->identifier : (int16_t)0;
    }
}

// Keeps the used records for which `keep` is true, in order.
template <typename keep_procedure> static int32_t filter_monster_indexes(int16_t *indexes, int32_t count, keep_procedure keep)
{
    if (!indexes || count <= 0) return 0;
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        const monster_data *monster = used_monster(indexes[i]);
        if (monster && keep(monster)) indexes[kept++] = indexes[i];
    }
    return kept;
}

int32_t remove_monster_indexes_under_user_control(int16_t *indexes, int32_t count)
{
    return filter_monster_indexes(indexes, count, [](const monster_data *monster) {
        return !(monster->flags & _monster_has_received_user_command_flag);
    });
}

int32_t remove_monsters_that_have_left_the_mesh(int16_t *indexes, int32_t count)
{
    return filter_monster_indexes(
        indexes, count, [](const monster_data *monster) { return !(monster->flags & _monster_has_left_the_mesh_flag); });
}

int32_t remove_incapacitated_monster_indexes(int16_t *indexes, int32_t count)
{
    return filter_monster_indexes(indexes, count,
                                  [](const monster_data *monster) { return monster->action != _monster_action_stoned; });
}

world_distance get_centerpoint_of_monster_indexes(int32_t count, const int16_t *indexes, world_point2d *centre)
{
    world_point2d result = {-1, -1};
    world_distance radius = 0;
    int64_t sum_x = 0, sum_y = 0;
    int32_t used = 0;
    for (int32_t i = 0; indexes && i < count; ++i)
    {
        const monster_data *monster = used_monster(indexes[i]);
        const object_data *object = monster ? get_object(monster->object_index) : nullptr;
        if (!object) continue;
        sum_x += object->location.position.x;
        sum_y += object->location.position.y;
        ++used;
    }
    if (used > 0)
    {
        result.x = (world_distance)(sum_x / used);
        result.y = (world_distance)(sum_y / used);
        for (int32_t i = 0; i < count; ++i)
        {
            const monster_data *monster = used_monster(indexes[i]);
            const object_data *object = monster ? get_object(monster->object_index) : nullptr;
            if (!object) continue;
            const world_point2d point = {object->location.position.x, object->location.position.y};
            const world_distance distance = distance2d(&result, &point);
            if (distance > radius) radius = distance;
        }
    }
    if (centre) *centre = result;
    return radius;
}

marker_data *get_monster_marker(const monster_data *monster)
{
    if (!monster) return nullptr;
    if (current_gameplay_version < 1711) return get_marker_by_identifier(_marker_monster, monster->identifier);
    if (monster->marker_index == NONE) return nullptr;
    return get_marker_by_index(_marker_monster, monster->marker_index);
}

uint32_t evaluate_monster_for_player(int32_t monster_index, int32_t player_index)
{
    const monster_data *monster = used_monster(monster_index);
    if (!monster || player_index < 0 || player_index >= get_player_count()) return 0;
    const player_data *player = get_player_data(player_index);
    if (!player || player->team_index < 0) return 0;
    uint32_t result = 0;
    if (monster->owner_team_index == player->team_index && !(monster->flags & _monster_ignores_user_commands_flag) &&
        !(monster->extra_flags & _monster_is_uncontrollable_extra_flag))
        result |= _monster_is_commandable_evaluation_flag;
    if (monster->owner_team_index >= 0 && teams_are_allied(player->team_index, monster->owner_team_index))
        result |= _monster_is_friendly_evaluation_flag;
    if (monster->owner_player_index == player_index) result |= _monster_is_owned_evaluation_flag;
    return result;
}

uint32_t evaluate_monster(int32_t monster_index)
{
    if (game_->type == _game_type_replay) return 0;
    return evaluate_monster_for_player(monster_index, local_player_index);
}
