#pragma once
// What the unit test worlds share: the store started on an empty foundation,
// the units world for players on given teams, and the tags a world stands on:
// collection reference "refa" (collection 'cola', one permutation), monster
// definition "mons" drawn with it, and unit definition "wa01" naming both.
// Fixtures that place units derive from unit_world_test and call these from
// their SetUp, each wrapped in ASSERT_NO_FATAL_FAILURE where it may fail.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "explosions.h"
#include "monster_definitions.h"
#include "monsters.h"
#include "objects.h"
#include "projectiles.h"
#include "support/game_core_fixture.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"
#include "vesk/string_lists.h"

class unit_world_test : public store_fixture::store_test
{
protected:
    // The store on an empty foundation file, and the game core reset.
    void start_unit_store(void)
    {
        store_test::SetUp();
        write_foundation_file({});
        start_store();
        reset_game_core();
    }

    // A local game at version 1820 whose player n is on team teams[n], on the
    // default map.
    void start_units_world_for_teams(std::initializer_list<int16_t> teams)
    {
        new_game_data data = make_test_game_data(_game_type_local, 1820, 1, (int16_t)teams.size());
        int16_t player = 0;
        for (const int16_t team : teams) data.players[player++].team_index = team;
        ASSERT_TRUE(start_units_world(&data));
    }

    void start_explosions_and_projectiles(void)
    {
        ASSERT_TRUE(initialize_explosions());
        initialize_explosions_for_new_map();
        ASSERT_TRUE(initialize_projectiles());
        initialize_projectiles_for_new_map();
    }

    // `adjust` sets a test's own fields of the monster definition before it is
    // stored; with `numbered_sequences` sequence n is 100 + n, otherwise the
    // defaults stand.
    void write_unit_tags(const std::function<void(monster_definition &)> &adjust = {}, bool numbered_sequences = true)
    {
        ASSERT_NO_FATAL_FAILURE(write_collection_reference("refa", FOUR_CHARACTER_CODE('c', 'o', 'l', 'a')));
        write_unit_type("wa01", "mons", adjust, numbered_sequences);
    }

    // Collection reference `name` of one permutation of `collection_tag`
    // (NONE: of no collection).
    void write_collection_reference(const char *name, tag collection_tag)
    {
        collection_reference_definition reference;
        memset(&reference, 0, sizeof(reference));
        reference.collection_tag = collection_tag;
        reference.number_of_permutations = 1;
        ASSERT_TRUE(store_definition_tag(COLLECTION_REFERENCE_GROUP_TAG, name, &reference, sizeof(reference)));
    }

    // Another unit definition `unit_name` drawn with "refa", whose monster
    // definition `monster_name` is stored as write_unit_tags stores "mons".
    void write_unit_type(const char *unit_name, const char *monster_name,
                         const std::function<void(monster_definition &)> &adjust = {}, bool numbered_sequences = true)
    {
        monster_definition m;
        default_monster_definition(&m);
        m.collection_tag = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
        if (adjust) adjust(m);
        if (numbered_sequences)
            for (int32_t i = 0; i < 19; ++i) m.sequence_indexes[i] = (int16_t)(100 + i);
        std::vector<uint8_t> bytes((uint8_t *)&m, (uint8_t *)&m + sizeof(m));
        ASSERT_TRUE(byte_swap_data("mons", bytes.data(), (int32_t)bytes.size(), 1,
                                   monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, monster_name, MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
        uint8_t unit[128];
        memset(unit, 0, sizeof(unit));
        memcpy(unit, monster_name, 4);
        memcpy(unit + 4, "refa", 4);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, unit_name, UNIT_DEFINITION_VERSION, unit, sizeof(unit));
    }

    // The string list ('stli') `name` of `rows` in the store; its index as
    // the game looks it up.
    int32_t store_string_list(const char *name, const std::vector<const char *> &rows)
    {
        const int32_t size = encode_string_list_data(rows.data(), (int32_t)rows.size(), nullptr, 0);
        std::vector<uint8_t> data((size_t)size);
        EXPECT_EQ(encode_string_list_data(rows.data(), (int32_t)rows.size(), data.data(), size), size);
        write_local_tag(STRING_LIST_GROUP_TAG, name, STRING_LIST_VERSION, data.data(), size);
        return string_list_tag_to_string_index(FOUR_CHARACTER_CODE(name[0], name[1], name[2], name[3]));
    }
};

// A bare object of `type` at `at` that a unit will own, for init_monster
// to take.
inline int32_t new_unit_object(world_point3d at, int16_t type = NONE)
{
    new_object_data request;
    memset(&request, 0, sizeof(request));
    request.type = type;
    request.scale = 256;
    request.owner = _object_is_monster;
    request.location.position = at;
    request.collection_index = NONE;
    return new_object(&request);
}
