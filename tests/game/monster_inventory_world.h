#pragma once
// The world the inventory and damage-reaction tests share: two players on
// two teams, a 16 x 16 flat map, one unit type whose body has an object
// definition, and helpers that add object, projectile and artifact
// definitions, units and dormant objects.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "cseries/registration.h"
#include "explosions.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "monster_actions.h"
#include "monster_attacks.h"
#include "monster_definitions.h"
#include "monster_inventory.h"
#include "monster_reactions.h"
#include "monsters.h"
#include "object_definitions.h"
#include "sound_procedures.h"
#include "objects.h"
#include "players.h"
#include "projectiles.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "support/unit_world_test.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk_random.h"
#include "sound_procedures.h"

namespace inventory_world {

constexpr tag UNIT_TAG = FOUR_CHARACTER_CODE('w', 'a', '0', '1');
constexpr tag MONSTER_TAG = FOUR_CHARACTER_CODE('m', 'o', 'n', 's');

// Sound index played = the definition's base + the sound type.
inline std::vector<int16_t> sounds_played;
inline void record_sound(int32_t, int16_t sound_index) { sounds_played.push_back(sound_index); }

class world : public unit_world_test
{
protected:
    int32_t saved_version = current_gameplay_version;

    void SetUp() override
    {
        start_unit_store();
        ASSERT_NO_FATAL_FAILURE(start_units_world_for_teams({0, 1}));
        ASSERT_NO_FATAL_FAILURE(start_explosions_and_projectiles());
        register_monster_hooks();
        static const sound_procedures sound_table = {.play_object_sound = record_sound};
        register_sound_procedures(&sound_table);
        current_gameplay_version = 1820;
        sounds_played.clear();

        ASSERT_NO_FATAL_FAILURE(write_unit_tags());
        unit_type = (int16_t)try_definition_tag_to_index(&unit_definitions, UNIT_TAG, true, 0);
        monster_type = (int16_t)subgroup_tag_to_definition_index(&monster_definitions, MONSTER_TAG);
        body_object = add_object_definition(20000);
        definition()->object_type = body_object;
        set_sounds(monster_type, 100);
    }
    void TearDown() override
    {
        current_gameplay_version = saved_version;
        dispose_projectiles_from_old_map();
        dispose_explosions_from_old_map();
        dispose_units_world();
        clear_all_registrations();
        store_test::TearDown();
    }

    int16_t add_object_definition(int16_t maximum_vitality, short_fixed modifier = 256)
    {
        object_definition o;
        memset(&o, 0, sizeof(o));
        for (auto &m : o.effect_modifiers) m = modifier;
        o.maximum_vitality = maximum_vitality;
        o.scale_lower_bound = 256;
        o.radius = 100;
        o.height = 400;
        const tag name = FOUR_CHARACTER_CODE('o', 'b', 'a' + next_tag / 10, '0' + next_tag % 10);
        ++next_tag;
        return (int16_t)new_definition(&object_definitions, name, &o);
    }
    int16_t add_projectile(int16_t volume = 0, int16_t artifact = NONE)
    {
        projectile_definition d;
        default_projectile_definition(&d);
        d.object_type = add_object_definition(10);
        d.sequence_indexes[0] = 0;
        d.lifespan_lower_bound = 400;
        d.inertia_lower_bound = 256;
        d.volume = volume;
        d.damage.type = NONE;
        d.artifact_index = artifact;
        const int32_t index = new_definition(get_projectile_definition_group(),
                                             FOUR_CHARACTER_CODE('p', 'r', 'a' + next_tag / 10, '0' + next_tag % 10), &d);
        ++next_tag;
        return (int16_t)index;
    }
    projectile_definition *projectile(int16_t type)
    {
        return (projectile_definition *)try_and_get_definition(get_projectile_definition_group(), type);
    }
    int16_t add_artifact(uint32_t flags, int16_t maximum_charges = NONE)
    {
        artifact_definition a;
        default_artifact_definition(&a);
        a.flags = flags;
        a.maximum_charges = maximum_charges;
        const int32_t index =
            new_definition(&artifact_definitions, FOUR_CHARACTER_CODE('a', 'r', 'a' + next_tag / 10, '0' + next_tag % 10), &a);
        ++next_tag;
        return (int16_t)index;
    }
    // A copy of the unit's monster definition under a new tag, and a unit
    // type for it (the shared one, no player).
    int16_t add_monster_type(int16_t *unit_index)
    {
        monster_definition copy = *definition();
        const int16_t type = (int16_t)new_definition(
            &monster_definitions, FOUR_CHARACTER_CODE('m', 'o', 'a' + next_tag / 10, '0' + next_tag % 10), &copy);
        ++next_tag;
        uint8_t record[128];
        memset(record, 0, sizeof(record));
        unit_definition *unit = (unit_definition *)record;
        unit->player_index = NONE;
        unit->monster_type = type;
        *unit_index = (int16_t)new_definition(&unit_definitions,
                                              FOUR_CHARACTER_CODE('u', 'n', 'a' + next_tag / 10, '0' + next_tag % 10), unit);
        ++next_tag;
        return type;
    }
    void set_sounds(int16_t type, int16_t base)
    {
        monster_definition *d = get_monster_definition(type);
        for (int16_t i = 0; i < NUMBER_OF_MONSTER_DEFINITION_SOUNDS; ++i)
        {
            d->sound_types[i] = i;
            d->sound_indexes[i] = (int16_t)(base + i);
        }
    }

    monster_definition *definition(void) { return get_monster_definition(monster_type); }

    int32_t make_unit(int16_t player, world_point3d at, int16_t type = NONE, int16_t unit = NONE)
    {
        const int32_t object_index = new_unit_object(at, body_object);
        const int32_t monster_index = new_datum(get_monster_array());
        EXPECT_NE(monster_index, NONE);
        get_object(object_index)->owner_index = (int16_t)monster_index;
        const world_point2d location = {at.x, at.y};
        init_monster(monster_index, type == NONE ? monster_type : type, unit == NONE ? unit_type : unit,
                     object_index, player, player, 0, &location, true);
        get_object(object_index)->location.position = at;
        monster(monster_index)->attack_timer = 0;
        return monster_index;
    }
    // A visible dormant object of the projectile type lying at the point.
    int32_t make_dormant(int16_t projectile_type, world_point3d at = {2000, 2000, 0})
    {
        new_object_data request;
        memset(&request, 0, sizeof(request));
        request.type = projectile(projectile_type)->object_type;
        request.scale = 256;
        request.owner = _object_is_dormant_projectile;
        request.owner_index = projectile_type;
        request.location.position = at;
        request.collection_index = NONE;
        const int32_t object_index = new_object(&request);
        get_object(object_index)->state = NONE;
        return object_index;
    }
    uint32_t could_pick_up(int32_t monster_index, int32_t object_index)
    {
        return monster_could_pick_up_object(monster_index, object_index, get_object(object_index)->identifier);
    }

    monster_data *monster(int32_t index) { return get_monster_data(index); }
    object_data *body(int32_t index) { return get_object(get_monster_data(index)->object_index); }

    int16_t unit_type = NONE, monster_type = NONE, body_object = NONE;
    int32_t next_tag = 0;
};

} // namespace inventory_world
