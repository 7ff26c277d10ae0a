#pragma once
// The tags a unit test world stands on: collection reference "refa" (collection
// 'cola', one permutation), monster definition "mons" drawn with it, and unit
// definition "wa01" naming both.  Fixtures that place units derive from
// unit_tags_test and call write_unit_tags from their SetUp.

#include "tag_files/store_fixture.h"

#include <cstring>
#include <functional>
#include <vector>

#include "collection_references.h"
#include "cseries/byte_swapping.h"
#include "monster_definitions.h"
#include "support/objects_world.h"
#include "tag_files/data.h"
#include "tag_files/definitions.h"
#include "unit_definitions.h"

class unit_tags_test : public store_fixture::store_test
{
protected:
    // `adjust` sets a test's own fields of the monster definition before it is
    // stored; with `numbered_sequences` sequence n is 100 + n, otherwise the
    // defaults stand.  Wrap the call in ASSERT_NO_FATAL_FAILURE.
    void write_unit_tags(const std::function<void(monster_definition &)> &adjust = {}, bool numbered_sequences = true)
    {
        collection_reference_definition reference;
        memset(&reference, 0, sizeof(reference));
        reference.collection_tag = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
        reference.number_of_permutations = 1;
        ASSERT_TRUE(store_definition_tag(COLLECTION_REFERENCE_GROUP_TAG, "refa", &reference, sizeof(reference)));
        monster_definition m;
        default_monster_definition(&m);
        m.collection_tag = FOUR_CHARACTER_CODE('c', 'o', 'l', 'a');
        if (adjust) adjust(m);
        if (numbered_sequences)
            for (int32_t i = 0; i < 19; ++i) m.sequence_indexes[i] = (int16_t)(100 + i);
        std::vector<uint8_t> bytes((uint8_t *)&m, (uint8_t *)&m + sizeof(m));
        ASSERT_TRUE(byte_swap_data("mons", bytes.data(), (int32_t)bytes.size(), 1,
                                   monster_definition_byte_swapping_data));
        write_local_tag(MONSTER_DEFINITION_GROUP_TAG, "mons", MONSTER_DEFINITION_VERSION, bytes.data(),
                        (int32_t)bytes.size());
        uint8_t unit[128];
        memset(unit, 0, sizeof(unit));
        memcpy(unit, "mons", 4);
        memcpy(unit + 4, "refa", 4);
        write_local_tag(UNIT_DEFINITION_GROUP_TAG, "wa01", UNIT_DEFINITION_VERSION, unit, sizeof(unit));
    }
};
