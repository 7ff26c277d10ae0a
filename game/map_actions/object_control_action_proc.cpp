// 'obco': shows or hides the dormant projectiles of one subgroup, such as the
// flags and balls of a network game.  The objects are collected once, by
// slot, and looked up again by index and identifier before each change.

#include "netgame_action_procs.h"

#include "action_proc_helpers.h"
#include "cseries/tags.h"
#include "gameplay_versions.h"
#include "map_action_engine.h"
#include "map_action_parameters.h"
#include "objects.h"
#include "projectiles.h"
#include "tag_files/definitions.h"
#include "vesk_random.h"

namespace {

enum
{
    MAXIMUM_CONTROLLED_OBJECTS = 512,
    // From this version "carried" is the extra flag; before it, bit 0 of flags.
    FIRST_VERSION_WITH_CARRIED_EXTRA_FLAG = 1711,
    // 'hial' exists above this version.
    LAST_VERSION_WITHOUT_HIDE_ALL = 1690,
};

struct controlled_object
{
    int16_t index;
    int16_t identifier;
};

bool object_is_carried(const object_data *object)
{
    if (current_gameplay_version < FIRST_VERSION_WITH_CARRIED_EXTRA_FLAG) return object->flags & 1u;
    return object->extra_flags & _object_is_being_carried_extra_flag;
}

object_data *still_there(const controlled_object &entry) { return get_object_by_identifier(entry.index, entry.identifier); }

void set_invisible(const controlled_object &entry, object_data *object, bool invisible)
{
    if (invisible)
        object->flags |= _object_is_invisible_flag;
    else
        object->flags &= ~(uint32_t)_object_is_invisible_flag;
    obstacle_facts_changed(entry.index);
}

} // namespace

uint32_t object_control_action_proc(int32_t action_index)
{
    int32_t subgroup;
    if (!get_indexed_long_integer_parameter(action_index, field('t', 'y', 'p', 'e'), _parameter_field_name, &subgroup, 0))
    {
        map_action_error(action_index, "no projectile type found!");
        return 0;
    }

    controlled_object objects[MAXIMUM_CONTROLLED_OBJECTS];
    int32_t count = 0;
    const int32_t object_count = get_object_count();
    for (int32_t i = 0; i < object_count && count < MAXIMUM_CONTROLLED_OBJECTS; i++)
    {
        const object_data *object = get_object(i);
        if (!object || object->owner != _object_is_dormant_projectile) continue;
        if ((int32_t)get_definition_subgroup(get_projectile_definition_group(), object->owner_index) != subgroup)
            continue;
        objects[count++] = {(int16_t)i, object->identifier};
    }
    map_action_debug(action_index, "found %d objects of type %s", (int)count, tag_to_string((tag)subgroup));
    if (count == 0) return 0;

    uint32_t result = 0;
    if (has_flag(action_index, field('r', 'e', 'a', 'l')))
    {
        map_action_debug(action_index, "revealing %d objects", (int)count);
        for (int32_t i = 0; i < count; i++)
            if (object_data *object = still_there(objects[i]); object && !object_is_carried(object))
                set_invisible(objects[i], object, false);
        result = _map_action_proc_succeeded_flag;
    }
    if (has_flag(action_index, field('r', 'e', 'r', 'a')))
    {
        // One draw, even for a single object.
        const int32_t revealed = (int32_t)(((uint32_t)(vesk_random() & 0xFFFF) * (uint32_t)count) >> 16);
        map_action_debug(action_index, "revealing object %d", (int)revealed);
        for (int32_t i = 0; i < count; i++)
        {
            object_data *object = still_there(objects[i]);
            if (!object) continue;
            if (i != revealed)
                set_invisible(objects[i], object, true);
            else if (!object_is_carried(object))
                set_invisible(objects[i], object, false);
        }
        result = _map_action_proc_succeeded_flag;
    }
    if (current_gameplay_version > LAST_VERSION_WITHOUT_HIDE_ALL && has_flag(action_index, field('h', 'i', 'a', 'l')))
    {
        map_action_debug(action_index, "hiding %d objects", (int)count);
        for (int32_t i = 0; i < count; i++)
            if (object_data *object = still_there(objects[i]); object && !object_is_carried(object))
                set_invisible(objects[i], object, true);
        result = _map_action_proc_succeeded_flag;
    }
    return result;
}
