// Queries about one unit.

#include "monster_queries.h"

#include <cstring>

#include "game_time.h"
#include "monster_definitions.h"
#include "monster_visibility.h"
#include "monsters.h"
#include "sound_procedures.h"
#include "objects.h"
#include "players.h"
#include "tag_files/data.h"
#include "vesk/string_lists.h"
#include "vesk_random.h"

static struct monster_query_globals
{
    // get_monster_name's copy: the 18 stored bytes and a terminator.
    char name[MAXIMUM_MONSTER_NAME_LENGTH + 2];
} monster_query_globals;

int32_t get_relevant_experience(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return 0;
    const int32_t experience = monster->experience;
    return experience < (int32_t)MAXIMUM_RELEVANT_EXPERIENCE ? experience : (int32_t)MAXIMUM_RELEVANT_EXPERIENCE;
}

world_distance linear_distance_to_enemy(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object) return NO_ENEMY_DISTANCE;
    const world_point3d &from = object->location.position;
    uint64_t best = UINT64_MAX;
    const int32_t count = get_monster_array()->count;
    for (int32_t index = 0; index < count; ++index)
    {
        if (index == monster_index) continue;
        const monster_data *other = get_monster_data(index);
        if (!other || (other->flags & _monster_has_left_the_mesh_flag) ||
            (other->extra_flags & _monster_is_ambient_life_extra_flag) ||
            teams_are_allied(monster->owner_team_index, other->owner_team_index))
            continue;
        const object_data *body = get_object(other->object_index);
        if (!body) continue;
        const int64_t dx = (int64_t)body->location.position.x - from.x;
        const int64_t dy = (int64_t)body->location.position.y - from.y;
        const uint64_t square = (uint64_t)(dx * dx) + (uint64_t)(dy * dy);
        if (square < best) best = square;
    }
    if (best == UINT64_MAX) return NO_ENEMY_DISTANCE;
    const int64_t distance = isqrt64(best);
    return distance < (int64_t)NO_ENEMY_DISTANCE ? (world_distance)distance : NO_ENEMY_DISTANCE;
}

bool get_local_monster_visibility(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return false;
    if (local_player_team_index == NONE) return true;
    if (teams_are_allied(local_player_team_index, monster->owner_team_index)) return true;
    const object_data *object = get_object(monster->object_index);
    if (!object || (monster->flags & _monster_has_left_the_mesh_flag) ||
        (object->flags & _object_is_invisible_flag))
        return false;
    const uint32_t cell = get_cell_visibility(visibility_front_buffer(), object->location.position.x >> WORLD_FRACTIONAL_BITS,
                                              object->location.position.y >> WORLD_FRACTIONAL_BITS);
    return get_local_object_visibility_lowlevel(object, cell, nullptr);
}

const char *get_monster_name(int32_t monster_index)
{
    char *const copy = monster_query_globals.name;
    copy[0] = 0;
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return copy;
    if (monster->name[0])
    {
        memcpy(copy, monster->name, sizeof(monster->name));
        copy[sizeof(monster->name)] = 0;
        return copy;
    }
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!definition || definition->names_string_list_index == NONE) return copy;
    // The stored row is a signed byte; lists of more than 128 names use rows
    // up to 255.
    return get_string_from_list(definition->names_string_list_index, (uint8_t)monster->original_name_string_index);
}

const char *get_monster_spelling(int32_t monster_type, int32_t count)
{
    const monster_definition *definition = get_monster_definition(monster_type);
    if (!definition || definition->spelling_string_list_index == NONE) return "";
    const int32_t list = definition->spelling_string_list_index;
    const int32_t row = (count != 1 && count_strings_in_list(list) > 1) ? 1 : 0;
    return get_string_from_list(list, row);
}

int32_t get_monster_artifact_charges(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster || monster->carrying_object_index == NONE || monster->artifact_index == NONE) return 0;
    const object_data *carried = get_object(monster->carrying_object_index);
    if (!carried || carried->state < 0) return 0;
    return carried->state;
}

int32_t get_monster_artifact_charges_max(int32_t monster_index)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster || monster->artifact_index == NONE) return 0;
    const artifact_definition *artifact = get_artifact_definition(monster->artifact_index);
    if (!artifact || artifact->maximum_charges < 0) return 0;
    return artifact->maximum_charges;
}

void play_monster_sound(int32_t monster_index, int16_t sound_type)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster || sound_type == NONE || !get_object(monster->object_index)) return;
    const monster_definition *definition = get_monster_definition(monster->type);
    if (!definition) return;
    int16_t matches[NUMBER_OF_MONSTER_DEFINITION_SOUNDS];
    int32_t match_count = 0;
    for (int32_t i = 0; i < NUMBER_OF_MONSTER_DEFINITION_SOUNDS; ++i)
        if (definition->sound_types[i] == sound_type && definition->sound_indexes[i] != NONE)
            matches[match_count++] = definition->sound_indexes[i];
    if (!match_count) return;
    const int32_t pick = match_count == 1 ? 0 : (int32_t)((local_random() * (uint32_t)match_count) >> 16);
    _play_object_sound(monster->object_index, matches[pick]);
}
