// Unit inventory, artifacts and effects.

#include "monster_inventory.h"

#include <cstring>

#include "commands.h"
#include "cseries/log.h"
#include "gameplay_versions.h"
#include "local_projectile_groups.h"
#include "local_projectiles.h"
#include "mesh.h"
#include "monster_actions.h"
#include "monster_commands.h"
#include "monster_definitions.h"
#include "monster_owners.h"
#include "monster_queries.h"
#include "monsters.h"
#include "object_definitions.h"
#include "objects.h"
#include "projectiles.h"
#include "unit_definitions.h"
#include "unit_helpers.h"
#include "vesk_random.h"

namespace {

const short_fixed neutral_effect_modifiers[NUMBER_OF_EFFECT_MODIFIERS] = {256, 256, 256, 256, 256, 256, 256, 256,
                                                                          256, 256, 256, 256, 256, 256, 256, 256};

// A maximum of NONE (or below 0) means as many as a charge count holds.
int32_t maximum_charges_of(const artifact_definition *artifact)
{
    return artifact->maximum_charges < 0 ? 32767 : artifact->maximum_charges;
}

int16_t initial_charges_of(const artifact_definition *artifact)
{
    return (int16_t)(artifact->initial_charges_lower_bound + random_term(artifact->initial_charges_delta));
}

const artifact_definition *artifact_of_projectile_type(int16_t projectile_type)
{
    const projectile_definition *projectile = get_projectile_definition(projectile_type);
    return projectile ? get_artifact_definition(projectile->artifact_index) : nullptr;
}

// The held object's artifact when it is a dormant projectile with one.
const artifact_definition *artifact_of_object(int32_t object_index)
{
    const object_data *object = get_object(object_index);
    if (!object || object->owner != _object_is_dormant_projectile) return nullptr;
    return artifact_of_projectile_type(object->owner_index);
}

bool can_be_holstered(const artifact_definition *artifact)
{
    return !artifact || !(artifact->flags & _artifact_cannot_be_holstered_flag);
}

int32_t held_count(const monster_data *monster)
{
    const int32_t count = monster->held_object_count;
    return count < 0 ? 0 : count > MAXIMUM_HELD_OBJECTS_PER_MONSTER ? MAXIMUM_HELD_OBJECTS_PER_MONSTER : count;
}

int32_t find_held_slot(const monster_data *monster, int32_t object_index)
{
    if (object_index == NONE) return NONE;
    const int32_t count = held_count(monster);
    for (int32_t i = 0; i < count; ++i)
        if (monster->held_object_indexes[i] == object_index) return i;
    return NONE;
}

// Takes the entry out of the list (later entries move down).  The count
// drops only for an entry that was there.
bool remove_held_object(monster_data *monster, int32_t object_index)
{
    const int32_t slot = find_held_slot(monster, object_index);
    if (slot == NONE) return false;
    const int32_t count = held_count(monster);
    for (int32_t i = slot; i + 1 < count; ++i) monster->held_object_indexes[i] = monster->held_object_indexes[i + 1];
    monster->held_object_indexes[count - 1] = NONE;
    monster->held_object_count = (int8_t)(count - 1);
    return true;
}

void append_held_object(monster_data *monster, int32_t object_index)
{
    const int32_t count = held_count(monster);
    if (count >= MAXIMUM_HELD_OBJECTS_PER_MONSTER || count >= monster->maximum_artifacts_carried) return;
    monster->held_object_indexes[count] = (int16_t)object_index;
    monster->held_object_count = (int8_t)(count + 1);
}

void hide_carried_object(int32_t object_index)
{
    if (object_data *object = get_object(object_index))
        object->flags = (object->flags | _object_is_invisible_flag) & ~(uint32_t)_object_is_selected_flag;
    obstacle_facts_changed(object_index);
}

void fix_items_display(monster_data *monster)
{
    monster->display_dirty_flags |= _monster_items_dirty_flag;
    if (monster->action_permutation == ARTIFACT_ATTACK_INDEX) monster->action_permutation = -1;
}

bool carries_multiple_artifacts(const monster_data *monster)
{
    const monster_definition *definition = get_monster_definition(monster->type);
    return definition && (definition->flags & _monster_carries_multiple_artifacts_flag);
}

// Whether the held object would take a picked-up projectile of type P as charges.
bool takes_charges(int32_t object_index, int16_t projectile_type)
{
    const object_data *object = get_object(object_index);
    const artifact_definition *artifact = artifact_of_object(object_index);
    if (!object || !artifact || !(artifact->flags & _artifact_projectile_pickup_adds_charges_flag)) return false;
    return projectile_type == artifact->projectile_types[0] && object->state != NONE &&
           object->state < maximum_charges_of(artifact);
}

// The held object (the wielded one first) that takes the charges, NONE.
int32_t charge_receiver(const monster_data *monster, int16_t projectile_type)
{
    if (takes_charges(monster->carrying_object_index, projectile_type)) return monster->carrying_object_index;
    if (!can_be_holstered(artifact_of_object(monster->carrying_object_index))) return NONE;
    const int32_t count = held_count(monster);
    for (int32_t i = 0; i < count; ++i)
        if (takes_charges(monster->held_object_indexes[i], projectile_type)) return monster->held_object_indexes[i];
    return NONE;
}

int16_t unit_monster_type(int32_t unit_index)
{
    const unit_definition *unit = get_unit_definition(unit_index);
    return unit ? unit->monster_type : (int16_t)NONE;
}

void remove_from_current_selections(int32_t monster_index) { remove_monster_from_selections(monster_index, 0); }

} // namespace

int16_t object_projectile_type(const object_data *object)
{
    if (!object) return NONE;
    if (object->owner == _object_is_dormant_projectile) return object->owner_index;
    if (object->owner == _object_is_projectile)
    {
        const projectile_data *projectile = get_projectile_data(object->owner_index);
        return projectile ? projectile->type : (int16_t)NONE;
    }
    return NONE;
}

// ---- artifacts ----------------------------------------------------------------------------

bool artifact_admits_monster(const artifact_definition *artifact, const monster_data *monster)
{
    if (!artifact || !monster) return false;
    if (artifact->monster_restriction_tag == (tag)NONE || artifact->monster_restriction_tag == 0) return true;
    const int16_t restricted_type = unit_monster_type(artifact->monster_restriction_type);
    if (restricted_type != NONE && restricted_type == monster->orig_type) return true;
    if (current_gameplay_version >= 1511 && (artifact->flags & _artifact_restricted_by_collection_flag))
    {
        const monster_definition *theirs = get_monster_definition(restricted_type);
        const monster_definition *ours = get_monster_definition(monster->orig_type);
        return theirs && ours && theirs->collection_tag == ours->collection_tag;
    }
    return false;
}

bool artifact_overrides_monster(int32_t artifact_index, int32_t monster_index)
{
    const artifact_definition *artifact = get_artifact_definition(artifact_index);
    const monster_data *monster = get_monster_data(monster_index);
    if (!artifact || !monster || !(artifact->flags & _artifact_overrides_owner_monster_flag)) return false;
    return !(artifact->flags & _artifact_restrict_overrides_flag) || artifact_admits_monster(artifact, monster);
}

const short_fixed *get_monster_effect_modifiers(int32_t monster_index, bool use_artifact,
                                                bool prefer_monster_override_effects,
                                                bool default_to_object_effect_modifiers)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster) return neutral_effect_modifiers;
    const artifact_definition *artifact = use_artifact ? get_artifact_definition(monster->artifact_index) : nullptr;
    if (artifact && !(prefer_monster_override_effects && artifact_overrides_monster(monster->artifact_index, monster_index)) &&
        !(current_gameplay_version >= 1601 &&
          (artifact->flags & _artifact_does_not_override_monster_effect_modifiers_flag)))
        return artifact->bonus_effect_modifiers;
    const object_definition *own = nullptr;
    if (default_to_object_effect_modifiers)
    {
        if (const object_data *object = get_object(monster->object_index)) own = get_object_definition(object->type);
    }
    else if (const monster_definition *definition = get_monster_definition(monster->type))
        own = get_object_definition(definition->object_type);
    return own ? own->effect_modifiers : neutral_effect_modifiers;
}

int32_t get_monster_effect_modifier(int32_t monster_index, int32_t effect_modifier_index)
{
    if (effect_modifier_index < 0 || effect_modifier_index >= NUMBER_OF_EFFECT_MODIFIERS) return SHORT_FIXED_ONE;
    const int32_t version = current_gameplay_version;
    return get_monster_effect_modifiers(monster_index, true, version <= 1720, version >= 1801)[effect_modifier_index];
}

// ---- the pick-up test -------------------------------------------------------------------

uint32_t monster_could_pick_up_object(int32_t monster_index, int32_t object_index, int16_t object_identifier)
{
    const monster_data *monster = get_monster_data(monster_index);
    const object_data *object = get_object_by_identifier(object_index, object_identifier);
    const monster_definition *definition = monster ? get_monster_definition(monster->type) : nullptr;
    if (!definition || !object || (object->flags & _object_is_invisible_flag)) return 0;
    if (object->flags & _object_is_flag_flag)
        return _monster_could_pick_up_object_flag | _monster_could_pick_up_flag_flag;
    int16_t type = object_projectile_type(object);
    const int32_t version = current_gameplay_version;
    const bool multiple = (definition->flags & _monster_carries_multiple_artifacts_flag) != 0;
    const artifact_definition *wielded_artifact = artifact_of_object(monster->carrying_object_index);

    for (int32_t pass = 0; pass < 2 && type != NONE; ++pass)
    {
        const projectile_definition *projectile = get_projectile_definition(type);
        if (!projectile) break;
        uint32_t flags = pass ? (uint32_t)_monster_could_pick_up_by_promoting_flag : 0u;
        // Ammunition.
        if (type == definition->ammunition_projectile_type && object->color_table_permutation != 1 &&
            monster->ammunition_count < definition->maximum_ammunition_count)
            return flags | _monster_could_pick_up_object_flag | _monster_could_pick_up_ammunition_flag;
        // Charges for an artifact the unit carries.
        if (version >= 1721 && charge_receiver(monster, type) != NONE)
            return flags | _monster_could_pick_up_object_flag | _monster_could_pick_up_artifact_charge_flag;
        // Room in the hands or the inventory.
        bool room;
        if (multiple && held_count(monster) < monster->maximum_artifacts_carried)
        {
            room = can_be_holstered(wielded_artifact);
            flags |= _monster_could_pick_up_additional_flag;
        }
        else
        {
            room = monster->carrying_object_index == NONE;
            if (version >= 1511 && multiple) room = false;
        }
        // Kind.
        if (room)
        {
            const bool volume = definition->desired_projectile_volume != NONE &&
                                projectile->volume == definition->desired_projectile_volume;
            const artifact_definition *artifact = get_artifact_definition(projectile->artifact_index);
            bool admitted = false;
            if (artifact)
            {
                if (version >= 1511) admitted = artifact_admits_monster(artifact, monster);
                else
                {
                    // Before the collection rule only the tag itself admits.
                    const bool unrestricted =
                        artifact->monster_restriction_tag == (tag)NONE || artifact->monster_restriction_tag == 0;
                    admitted = unrestricted || unit_monster_type(artifact->monster_restriction_type) == monster->orig_type;
                }
            }
            if (volume || admitted) return flags | _monster_could_pick_up_object_flag;
        }
        type = projectile->promoted_projectile_type;
    }
    return 0;
}

// ---- giving --------------------------------------------------------------------------------

uint32_t give_object_to_monster(int32_t monster_index, int32_t object_index)
{
    monster_data *monster = get_monster_data(monster_index);
    object_data *object = get_object(object_index);
    if (!monster || !object) return 0;
    const int16_t identifier = monster->identifier;
    const uint32_t flags = monster_could_pick_up_object(monster_index, object_index, object->identifier);
    if (!flags || (flags & _monster_could_pick_up_flag_flag)) return 0;
    const int32_t version = current_gameplay_version;

    // 1. A live projectile falls asleep first: from here on it is dormant.
    if (object->owner == _object_is_projectile) sleep_projectile(object->owner_index);
    object = get_object(object_index);
    if (!object) return 0;
    if (flags & _monster_could_pick_up_by_promoting_flag)
    {
        const projectile_definition *projectile = get_projectile_definition(object->owner_index);
        if (projectile) object->owner_index = projectile->promoted_projectile_type;
    }
    const int16_t type = object->owner_index;

    // 2. Ammunition.
    if (flags & _monster_could_pick_up_ammunition_flag)
    {
        monster->ammunition_count = (int8_t)(monster->ammunition_count + 1);
        monster->display_dirty_flags |= _monster_ammunition_dirty_flag;
        delete_object(object_index);
        return flags;
    }

    // 3. Charges.
    if (flags & _monster_could_pick_up_artifact_charge_flag)
    {
        int32_t receiver = charge_receiver(monster, type);
        if (receiver == NONE) receiver = monster->carrying_object_index;
        object_data *receiving = get_object(receiver);
        const artifact_definition *artifact = artifact_of_object(receiver);
        if (!receiving || !artifact) return 0;
        int32_t amount = 1;
        if (receiving->owner_index == type)
        {
            const artifact_definition *picked = artifact_of_projectile_type(type);
            amount = object->state != NONE ? object->state : picked ? initial_charges_of(picked) : 1;
        }
        const int32_t before = receiving->state == NONE ? 0 : receiving->state;
        int32_t after = before + amount;
        if (after > maximum_charges_of(artifact)) after = maximum_charges_of(artifact);
        receiving->state = (int16_t)after;
        const int32_t left_over = amount - (after - before);
        if (receiver != monster->carrying_object_index)
        {
            monster->carrying_object_index = (int16_t)receiver;
            monster->artifact_index = NONE;
            switch_monster_artifact(monster_index);
            if (!same_unit(monster_index, identifier)) return flags;
            monster = get_monster_data(monster_index);
        }
        monster->display_dirty_flags |= _monster_items_dirty_flag;
        object = get_object(object_index);
        if (!object) return flags;
        if (left_over <= 0 || version < 1806)
            delete_object(object_index);
        else
        {
            object->state = (int16_t)left_over;
            if (carries_multiple_artifacts(monster) && held_count(monster) < monster->maximum_artifacts_carried &&
                find_held_slot(monster, object_index) == NONE)
            {
                append_held_object(monster, object_index);
                hide_carried_object(object_index);
            }
        }
        return flags;
    }

    // 4. Wielded (and held, when it is an additional object).
    if (flags & _monster_could_pick_up_additional_flag) append_held_object(monster, object_index);
    monster->carrying_object_index = (int16_t)object_index;
    const projectile_definition *projectile = get_projectile_definition(type);
    const artifact_definition *artifact = projectile ? get_artifact_definition(projectile->artifact_index) : nullptr;
    if (artifact)
    {
        monster->artifact_index = projectile->artifact_index;
        if (object->state == NONE) object->state = initial_charges_of(artifact);
        if (artifact->flags & _artifact_overrides_monster_yaw_flag)
        {
            if (object_data *body = get_object(monster->object_index)) body->location.yaw = object->location.yaw;
            unit_obstacle_facts_changed(monster);
        }
    }
    else
        monster->artifact_index = NONE;
    hide_carried_object(object_index);
    if (version >= 1301)
    {
        switch_monster_artifact(monster_index);
        if (!same_unit(monster_index, identifier)) return flags;
        monster = get_monster_data(monster_index);
    }
    monster->display_dirty_flags |= _monster_items_dirty_flag;
    if (version >= 1701 && monster->action_permutation == ARTIFACT_ATTACK_INDEX) monster->action_permutation = -1;
    return flags;
}

// ---- switching ---------------------------------------------------------------------------

// Makes the new definition's local group at the unit (its glow), as a new
// unit gets it; the colour table is never the owner's here.
static void new_monster_definition_local_group(int32_t monster_index, const monster_definition *definition)
{
    monster_data *monster = get_monster_data(monster_index);
    const object_data *object = monster ? get_object(monster->object_index) : nullptr;
    if (!object || definition->local_projectile_group_type == NONE) return;
    const int32_t group =
        new_local_projectile_group_on_object(definition->local_projectile_group_type, monster->object_index);
    monster->current_local_projectile_group_index = (int16_t)group;
    if (current_gameplay_version >= 1511 && group != NONE)
        set_local_projectile_group_owner(group, monster_index, monster->identifier);
}

void switch_monster_artifact(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    const int16_t identifier = monster->identifier;
    const int32_t version = current_gameplay_version;

    // The unit reverts to its own type unless an artifact overrides it.
    if (version >= 1721) monster->artifact_index = NONE;
    int16_t new_type = monster->orig_type;
    monster->display_dirty_flags |= _monster_items_dirty_flag;

    // The wielded artifact: its charges, expiry and the type it gives.
    object_data *wielded = get_object(monster->carrying_object_index);
    const artifact_definition *artifact = nullptr;
    if (wielded && wielded->owner == _object_is_dormant_projectile)
    {
        const projectile_definition *projectile = get_projectile_definition(wielded->owner_index);
        artifact = projectile ? get_artifact_definition(projectile->artifact_index) : nullptr;
        if (artifact)
        {
            monster->artifact_index = projectile->artifact_index;
            if (wielded->state == NONE) wielded->state = initial_charges_of(artifact);
            if (wielded->expiry < 1) wielded->expiry = artifact->expiry_timer;
            if (artifact_overrides_monster(monster->artifact_index, monster_index))
            {
                const int16_t override_type = unit_monster_type(artifact->monster_override_type);
                if (get_monster_definition(override_type)) new_type = override_type;
                if (artifact->flags & _artifact_has_timed_expiry_flag)
                    monster->artifact_timer = (uint32_t)(wielded->expiry > 0 ? wielded->expiry * 30 : 0);
            }
        }
    }

    // A new type brings its speed, mana, collection, floating and glow.
    const bool type_changed = new_type != monster->type;
    const monster_definition *definition = get_monster_definition(new_type);
    if (type_changed && definition)
    {
        monster->type = new_type;
        monster->base_movement_speed = definition->base_movement_speed;
        unit_obstacle_facts_changed(monster);
        if (monster->mana > definition->maximum_mana) monster->mana = definition->maximum_mana;
        object_data *body = get_object(monster->object_index);
        if (version >= 1721 && body)
        {
            monster->collection_reference_index =
                (int16_t)get_unit_collection_reference_index(monster->unit_type, monster->owner_player_index);
            body->shape_collection_index = definition->collection_index;
            body->color_table_index = monster->orig_color_table_index;
            monster->extra_flags &= ~(uint32_t)_monster_is_affected_by_collection_override_extra_flag;
            monster->display_dirty_flags |= _monster_headshot_dirty_flag;
            if (artifact && (artifact->flags & _artifact_overrides_monster_collection_flag))
            {
                const int32_t copy = find_unit_definition_for_player(monster->owner_player_index, artifact->override_tag);
                if (copy != NONE)
                {
                    monster->collection_reference_index =
                        (int16_t)get_unit_collection_reference_index(copy, monster->owner_player_index);
                    monster->extra_flags |= _monster_is_affected_by_collection_override_extra_flag;
                }
            }
        }
        if (body)
        {
            const uint32_t floating = _object_floats_on_land_flag | _object_floats_on_media_flag;
            body->flags &= ~floating;
            if (definition->flags & _monster_floats_flag) body->flags |= floating;
            if (version >= 1711 && (definition->hack_flags & _monster_hack_walks_on_water_flag))
                body->flags |= _object_floats_on_media_flag;
        }
        turn_local_projectile_group_off(monster->local_projectile_group_index);
        turn_local_projectile_group_off(monster->current_local_projectile_group_index);
        monster->local_projectile_group_index = monster->current_local_projectile_group_index = NONE;
        new_monster_definition_local_group(monster_index, definition);
        if (version >= 1601 && (definition->flags & _monster_is_inanimate_object_flag))
        {
            remove_from_current_selections(monster_index);
            if (!same_unit(monster_index, identifier)) return;
            monster = get_monster_data(monster_index);
        }
    }

    // The slowest always-slow artifact held sets the pace.
    if (can_be_holstered(artifact))
    {
        const int32_t count = held_count(monster);
        for (int32_t i = 0; i < count; ++i)
        {
            const artifact_definition *held = artifact_of_object(monster->held_object_indexes[i]);
            if (!held || !(held->flags & _artifact_overrides_owner_monster_flag) ||
                !(held->flags & _artifact_always_slow_when_held_flag))
                continue;
            const monster_definition *slow = get_monster_definition(unit_monster_type(held->monster_override_type));
            if (slow && slow->base_movement_speed < monster->base_movement_speed)
            {
                monster->base_movement_speed = slow->base_movement_speed;
                unit_obstacle_facts_changed(monster);
            }
        }
    }

    // A changed unit takes its action again, unless held, stoned, healed or paralysed.
    bool refresh = false;
    if (version >= 1710) refresh = type_changed;
    else if (version >= 1511)
        refresh = type_changed || (artifact && (artifact->flags & _artifact_overrides_owner_monster_flag));
    if (refresh && version >= 1511 && monster->action >= _monster_action_being_healed &&
        monster->action <= _monster_action_paralyzed)
        refresh = false;
    if (refresh)
    {
        set_monster_action(monster_index, monster->action, 0);
        if (!same_unit(monster_index, identifier)) return;
        monster = get_monster_data(monster_index);
    }

    // Nothing wielded, no artifact.
    if (monster->carrying_object_index == NONE) monster->artifact_index = NONE;
}

// ---- removing ------------------------------------------------------------------------------

void delete_monster_carried_object_monsters(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    const int32_t version = current_gameplay_version;
    const int32_t wielded = monster->carrying_object_index;
    if (wielded == NONE)
    {
        fix_items_display(monster);
        return;
    }
    const int16_t identifier = monster->identifier;
    bool switch_artifact = version >= 1301;
    const int32_t slot = find_held_slot(monster, wielded);
    if (slot != NONE)
    {
        remove_held_object(monster, wielded);
        const int32_t count = held_count(monster);
        if (count > 0)
        {
            // The entry that moved into its place, or the last one.
            delete_object(wielded);
            monster->carrying_object_index = monster->held_object_indexes[slot < count ? slot : count - 1];
        }
        else if (version >= 1600)
            switch_artifact = true; // it stays wielded for this call; the next one deletes it
        else
        {
            delete_object(wielded);
            monster->carrying_object_index = NONE;
        }
    }
    else
    {
        // The last held object kept for one call, or an object wielded
        // outside the list: it goes now.
        delete_object(wielded);
        monster->carrying_object_index = NONE;
    }
    if (switch_artifact)
    {
        switch_monster_artifact(monster_index);
        if (!same_unit(monster_index, identifier)) return;
        monster = get_monster_data(monster_index);
    }
    fix_items_display(monster);
}

void delete_monster_carried_object_unit_control(int32_t monster_index, int32_t monster_index_for_switch)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    const int16_t identifier = monster->identifier;
    const int32_t wielded = monster->carrying_object_index;
    remove_held_object(monster, wielded);
    if (wielded != NONE) delete_object(wielded);
    monster->carrying_object_index = NONE;
    if (monster->artifact_index != NONE && get_monster_data(monster_index_for_switch))
    {
        switch_monster_artifact(monster_index_for_switch);
        if (!same_unit(monster_index, identifier)) return;
        monster = get_monster_data(monster_index);
    }
    monster->artifact_index = NONE;
    fix_items_display(monster);
}

// ---- initial artifacts ---------------------------------------------------------------------

// Un-wields the wielded object (it stays in the inventory).
static void holster_wielded_object(int32_t monster_index)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster || monster->carrying_object_index == NONE) return;
    monster->carrying_object_index = NONE;
    switch_monster_artifact(monster_index);
}

void give_artifacts_from_projectile_group(int32_t monster_index, int32_t projectile_group_index)
{
    if (!VASSERT(monster_index != NONE && projectile_group_index != NONE,
                 "monster_index != NONE && projectile_group_index != NONE"))
        return;
    monster_data *monster = get_monster_data(monster_index);
    const projectile_group_definition *found = get_projectile_group_definition(projectile_group_index);
    if (!monster || !found) return;
    const int16_t identifier = monster->identifier;
    // Copied: making projectiles may load definitions.
    const projectile_group_definition group = *found;
    const int32_t parts = group.number_of_parts < 0 ? 0
                          : group.number_of_parts > MAXIMUM_PARTS_PER_PROJECTILE_GROUP
                              ? (int32_t)MAXIMUM_PARTS_PER_PROJECTILE_GROUP
                              : (int32_t)group.number_of_parts;
    const int32_t version = current_gameplay_version;
    for (int32_t p = 0; p < parts; ++p)
    {
        const projectile_group_part &part = group.parts[p];
        const int32_t count = part.count_lower_bound + random_term(part.count_delta);
        for (int32_t i = 0; i < count; ++i)
        {
            int16_t type = part.projectile_type;
            if (vesk_random() > part.appearing_fraction && part.fail_projectile_type != NONE)
                type = part.fail_projectile_type;
            monster = get_monster_data(monster_index);
            const object_data *body = monster ? get_object(monster->object_index) : nullptr;
            if (!body || monster->identifier != identifier) return;
            new_projectile_data request;
            memset(&request, 0, sizeof(request));
            request.type = type;
            request.location = body->location;
            request.location.velocity = {0, 0, 0};
            request.damage_scale = SHORT_FIXED_ONE;
            request.owner_monster_index = request.owner_projectile_index = request.owner_object_index = NONE;
            request.target_monster_index = NONE;
            const bool held_before = carries_multiple_artifacts(monster) && held_count(monster) > 0;
            const int32_t projectile_index = new_projectile(&request);
            const projectile_data *projectile = get_projectile_data(projectile_index);
            if (!projectile) continue;
            const int32_t object_index = projectile->object_index;
            if (!give_object_to_monster(monster_index, object_index))
            {
                // Still a live projectile: it falls asleep and its object goes.
                if (get_projectile_data(projectile_index)) sleep_projectile(projectile_index);
                delete_object(object_index);
                continue;
            }
            if (!same_unit(monster_index, identifier)) return;
            monster = get_monster_data(monster_index);
            if (version >= 1721 && held_before && monster->carrying_object_index == object_index &&
                monster->artifact_index != NONE)
            {
                const monster_definition *definition = get_monster_definition(monster->type);
                const artifact_definition *artifact = get_artifact_definition(monster->artifact_index);
                if (can_be_holstered(artifact) ||
                    (definition && (definition->extra_flags & _monster_extra_dont_autoequip_initial_artifacts_flag)))
                {
                    holster_wielded_object(monster_index);
                    if (!same_unit(monster_index, identifier)) return;
                }
            }
        }
        if (version < 1721)
        {
            monster = get_monster_data(monster_index);
            if (!monster || monster->identifier != identifier) return;
            if (monster->artifact_index != NONE && can_be_holstered(get_artifact_definition(monster->artifact_index)))
            {
                holster_wielded_object(monster_index);
                if (!same_unit(monster_index, identifier)) return;
            }
        }
    }
}

// ---- dropping ------------------------------------------------------------------------------

bool drop_carried_object(int32_t monster_index, int32_t object_index, const new_projectile_group_data *data)
{
    monster_data *monster = get_monster_data(monster_index);
    object_data *object = get_object(object_index);
    if (!monster || !object || object_index == NONE) return false;
    const bool held = find_held_slot(monster, object_index) != NONE;
    const bool wielded = monster->carrying_object_index == object_index;
    if (!held && !wielded) return false;
    remove_held_object(monster, object_index);
    if (wielded) monster->carrying_object_index = NONE;
    monster->display_dirty_flags |= _monster_items_dirty_flag;

    const artifact_definition *artifact = artifact_of_object(object_index);
    if (data && artifact && (artifact->flags & _artifact_dont_drop_on_death_flag))
    {
        delete_object(object_index);
        return false;
    }
    // At the unit's feet, visible again.
    const object_data *body = get_object(monster->object_index);
    disconnect_object_from_mesh(object_index);
    if (body)
    {
        object->location.position = body->location.position;
        const world_point2d point = {body->location.position.x, body->location.position.y};
        object->location.position.z = get_mesh_height(&point, 1);
    }
    object->location.velocity = {0, 0, 0};
    object->flags &= ~(uint32_t)(_object_is_invisible_flag | _object_is_selected_flag);
    reconnect_object_to_mesh(object_index);
    if (!data || object->owner != _object_is_dormant_projectile) return true;

    // A death flings it: it flies as a projectile until it comes to rest.
    // Its charges and expiry go with it.
    const int16_t charges = object->state, expiry = object->expiry;
    world_vector3d velocity = {0, 0, 0};
    if (data->flags & _new_projectile_group_uses_vector_flag)
        velocity = data->vector;
    else if (data->velocity > 0)
        line_segment_to_vector(&velocity, &data->epicenter, &object->location.position, data->velocity);
    if (velocity.i == 0 && velocity.j == 0 && velocity.k == 0) return true;
    const int32_t projectile_index = wake_projectile(object_index, monster->unit_type);
    projectile_data *projectile = get_projectile_data(projectile_index);
    object = projectile ? get_object(projectile->object_index) : nullptr;
    if (!object) return true; // no room for a projectile: it stays where it lies
    if (data->flags & _new_projectile_group_cannot_detonate_flag) projectile->flags |= _projectile_cannot_detonate_flag;
    object->state = charges;
    object->expiry = expiry;
    object->location.velocity = velocity;
    return true;
}

bool monster_command_drop_projectile(monster_data *monster, int32_t monster_index, int32_t held_slot)
{
    if (!monster || monster != get_monster_data(monster_index)) return false;
    if (held_slot < 0 || held_slot >= held_count(monster))
    {
        log_message(__FILE__, __LINE__, "unit %d has no held slot %d to drop", (int)monster_index, (int)held_slot);
        return false;
    }
    const int16_t identifier = monster->identifier;
    const int32_t object_index = monster->held_object_indexes[held_slot];
    const artifact_definition *artifact = artifact_of_object(object_index);
    if (artifact && (artifact->flags & _artifact_cannot_be_discarded_flag)) return false;
    if (!drop_carried_object(monster_index, object_index, nullptr)) return false;
    switch_monster_artifact(monster_index);
    monster = get_monster_data(monster_index);
    if (monster && monster->identifier == identifier) fix_items_display(monster);
    return true;
}

// ---- the inventory verbs ---------------------------------------------------------------------

// The held slot an order names: its entry when that holds the type, else the
// first entry of the type; NONE when the unit holds none.
static int32_t ordered_held_slot(const monster_data *monster, const command_inventory_data *data)
{
    const int32_t count = held_count(monster);
    if (data->number >= 0 && data->number < count &&
        object_projectile_type(get_object(monster->held_object_indexes[data->number])) == data->type)
        return data->number;
    for (int32_t i = 0; i < count; ++i)
        if (object_projectile_type(get_object(monster->held_object_indexes[i])) == data->type) return i;
    return NONE;
}

// Wields the held entry `slot` (NONE: empty hands), unless the wielded
// artifact cannot be holstered.
static void wield_held_slot(int32_t monster_index, int32_t slot)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster || !can_be_holstered(artifact_of_object(monster->carrying_object_index))) return;
    const int32_t object_index = slot == NONE ? (int32_t)NONE : monster->held_object_indexes[slot];
    if (object_index == monster->carrying_object_index) return;
    monster->carrying_object_index = (int16_t)object_index;
    monster->artifact_index = NONE;
    switch_monster_artifact(monster_index);
    if ((monster = get_monster_data(monster_index)) != nullptr) fix_items_display(monster);
}

void handle_monster_inventory_command(int16_t verb, int32_t player_index, const command_inventory_data *data,
                                      int32_t unit_count, const int16_t *unit_indexes)
{
    (void)player_index;
    if (!data || !unit_indexes) return;
    for (int32_t u = 0; u < unit_count; ++u)
    {
        const int32_t monster_index = unit_indexes[u];
        monster_data *monster = get_monster_data(monster_index);
        if (!monster || !carries_multiple_artifacts(monster)) continue;
        const int32_t count = held_count(monster);
        const int32_t current = find_held_slot(monster, monster->carrying_object_index);
        switch (verb)
        {
        case _command_inventory:
            wield_held_slot(monster_index, data->type == NONE ? (int32_t)NONE : ordered_held_slot(monster, data));
            break;
        case _command_inventory_drop:
        {
            const int32_t slot = data->type == NONE ? (int32_t)NONE : ordered_held_slot(monster, data);
            if (slot != NONE) monster_command_drop_projectile(monster, monster_index, slot);
            break;
        }
        case _command_inventory_next:
            if (count > 0) wield_held_slot(monster_index, current == NONE ? 0 : (current + 1) % count);
            break;
        case _command_inventory_prev:
            if (count > 0) wield_held_slot(monster_index, current == NONE ? count - 1 : (current + count - 1) % count);
            break;
        default: break;
        }
    }
}

// ---- sounds, fades, invisibility ------------------------------------------------------------

void play_monsters_sound(const int16_t *monster_indexes, int32_t monster_count, int16_t sound_type)
{
    if (!VASSERT(sound_type >= 0 && sound_type < NUMBER_OF_MONSTER_DEFINITION_SOUNDS,
                 "sound_type>=0 && sound_type<NUMBER_OF_MONSTER_DEFINITION_SOUNDS"))
        return;
    if (!monster_indexes || monster_count <= 0) return;
    int32_t counts[MAXIMUM_MONSTER_DEFINITIONS_PER_MAP] = {};
    int32_t best_type = NONE, best_count = 0;
    for (int32_t i = 0; i < monster_count; ++i)
    {
        const monster_data *monster = get_monster_data(monster_indexes[i]);
        if (!monster || monster->type < 0 || monster->type >= MAXIMUM_MONSTER_DEFINITIONS_PER_MAP) continue;
        if (++counts[monster->type] > best_count)
        {
            best_count = counts[monster->type];
            best_type = monster->type;
        }
    }
    if (best_type == NONE) return;
    int16_t type = sound_type;
    if (best_count > 2)
    {
        // The single orders become the group orders.
        if (type == 0) type = 1;
        else if (type == 3) type = 4;
        else if (type == 5) type = 6;
    }
    for (int32_t i = 0; i < monster_count; ++i)
    {
        const monster_data *monster = get_monster_data(monster_indexes[i]);
        if (monster && monster->type == best_type) play_monster_sound(monster_indexes[i], type);
    }
}

bool new_monster_entrance_fade(int32_t monster_index, int16_t fade_ticks, int16_t visible_projectile_group_type)
{
    const monster_data *monster = get_monster_data(monster_index);
    if (!monster || !get_object(monster->object_index)) return false;
    const int32_t copy = duplicate_object(monster->object_index);
    if (copy == NONE) return false;
    const int16_t delay = (int16_t)(((int32_t)vesk_random() * MAXIMUM_ENTRANCE_FADE_DELAY) >> 16);
    projectile_data *fade = get_projectile_data(fade_object(false, copy, delay, fade_ticks));
    if (!fade)
    {
        delete_object(copy);
        return false;
    }
    fade->owner_monster_index = (int16_t)monster_index;
    fade->visible_projectile_group_type = visible_projectile_group_type;
    return true;
}

void set_monster_magical_invisibility(int32_t monster_index, bool invisible)
{
    monster_data *monster = get_monster_data(monster_index);
    if (!monster) return;
    const uint32_t extra = _monster_is_invisible_extra_flag | _monster_does_not_autotarget_extra_flag |
                           _monster_cannot_be_autotargeted_extra_flag;
    object_data *object = get_object(monster->object_index);
    if (invisible)
    {
        monster->extra_flags |= extra;
        unit_obstacle_facts_changed(monster);
        if (object) object->flags |= _object_has_no_shadow_flag | _object_rendered_transparently_flag;
    }
    else
    {
        monster->extra_flags &= ~extra;
        unit_obstacle_facts_changed(monster);
        if (object)
            object->flags &= ~(uint32_t)(_object_has_no_shadow_flag | _object_rendered_transparently_flag |
                                         _object_is_not_rendered_flag);
    }
}
