// The checks of the unit and projectile definitions on arbitrary bytes: the
// first byte picks the group ('unit', 'mons', 'arti', 'proj', 'prgr',
// 'lpgr'), the rest is the stored record, taken as the loader takes it (a
// short record gets the defaults past its end, bytes past the record are
// ignored).  A record the check accepts must hold every count, index and
// flag inside its table.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "local_projectile_groups.h"
#include "monster_definitions.h"
#include "projectile_definitions.h"
#include "unit_definitions.h"

namespace {

// As the registry reads a tag: stored bytes, swapped, the defaults past a short one.
void take(const uint8_t *data, size_t size, void *record, size_t record_size, const byte_swap_code *codes,
          void (*defaults)(void *))
{
    const size_t stored = size < record_size ? size : record_size;
    memset(record, 0, record_size);
    memcpy(record, data, stored);
    if (!byte_swap_data("fuzz", record, (int32_t)record_size, 1, codes)) abort();
    if (stored < record_size)
    {
        uint8_t *tail = (uint8_t *)malloc(record_size);
        if (!tail) abort();
        defaults(tail);
        memcpy((uint8_t *)record + stored, tail + stored, record_size - stored);
        free(tail);
    }
}

void check_attack(const monster_attack_definition &attack)
{
    if (attack.extra_flags & ~MONSTER_ATTACK_EXTRA_FLAGS_MASK) abort();
    for (const monster_attack_sequence &sequence : attack.sequences)
        if (sequence.sequence_index < NONE || (sequence.flags & ~MONSTER_ATTACK_SEQUENCE_FLAGS_MASK)) abort();
    if (attack.projectile_type != NONE) abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4096) return 0;
    const uint8_t choice = data[0] % 6;
    data += 1;
    size -= 1;
    switch (choice)
    {
    case 0:
    {
        unit_definition u;
        take(data, size, &u, sizeof(u), unit_definition_byte_swapping_data, default_unit_definition);
        if (validate_unit_definition(&u, "fuzz") &&
            (u.monster_tag == NONE || u.collection_reference_tag == NONE || u.player_index != NONE))
            abort();
        break;
    }
    case 1:
    {
        monster_definition m;
        take(data, size, &m, sizeof(m), monster_definition_byte_swapping_data, default_monster_definition);
        if (!validate_monster_definition(&m, "fuzz")) break;
        if (m.number_of_attacks < 0 || m.number_of_attacks > MAXIMUM_ATTACKS_PER_MONSTER) abort();
        if (m.maximum_artifacts_carried < 0 || m.maximum_artifacts_carried > MAXIMUM_ARTIFACTS_PER_MONSTER) abort();
        if (m.monster_class < 0 || m.monster_class >= NUMBER_OF_MONSTER_CLASSES) abort();
        if (m.combined_power < 0 || m.combined_power > MAXIMUM_MONSTER_COMBINED_POWER) abort();
        if ((m.flags & ~MONSTER_DEFINITION_FLAGS_MASK) || (m.hack_flags & ~MONSTER_HACK_FLAGS_MASK) ||
            (m.more_hack_flags & ~MONSTER_MORE_HACK_FLAGS_MASK) || (m.extra_flags & ~MONSTER_DEFINITION_EXTRA_FLAGS_MASK))
            abort();
        for (int16_t sequence : m.sequence_indexes)
            if (sequence < NONE) abort();
        for (int16_t type : m.sound_types)
            if (type < NONE || type >= NUMBER_OF_MONSTER_DEFINITION_SOUNDS) abort();
        for (const monster_attack_definition &attack : m.attacks) check_attack(attack);
        break;
    }
    case 2:
    {
        artifact_definition a;
        take(data, size, &a, sizeof(a), artifact_definition_byte_swapping_data, default_artifact_definition);
        if (!validate_artifact_definition(&a, "fuzz")) break;
        if ((a.flags & ~ARTIFACT_FLAGS_MASK) || a.maximum_charges < 0 || a.initial_charges_delta < 0) abort();
        if ((a.flags & _artifact_overrides_owner_monster_flag) && (a.override_tag == NONE || a.override_tag == 0))
            abort();
        check_attack(a.override_attack);
        break;
    }
    case 3:
    {
        projectile_definition p;
        take(data, size, &p, sizeof(p), projectile_definition_byte_swapping_data, default_projectile_definition);
        if (!validate_projectile_definition(&p, "fuzz")) break;
        if (p.damage.type < NONE || p.damage.type >= NUMBER_OF_DAMAGE_TYPES) abort();
        if (p.projectile_class < NONE || p.projectile_class >= NUMBER_OF_PROJECTILE_CLASSES) abort();
        for (int16_t sequence : p.sequence_indexes)
            if (sequence < NONE) abort();
        if (p.lifespan_delta < 0 || p.delay_delta < 0 || p.object_type != NONE) abort();
        break;
    }
    case 4:
    {
        projectile_group_definition g;
        take(data, size, &g, sizeof(g), projectile_group_definition_byte_swapping_data,
             default_projectile_group_definition);
        if (!validate_projectile_group_definition(&g, "fuzz")) break;
        if (g.number_of_parts < 0 || g.number_of_parts > MAXIMUM_PARTS_PER_PROJECTILE_GROUP) abort();
        for (const projectile_group_part &part : g.parts)
            if ((part.flags & ~PROJECTILE_GROUP_PART_FLAGS_MASK) || part.count_lower_bound < 0 || part.count_delta < 0)
                abort();
        break;
    }
    default:
    {
        local_projectile_group_definition l;
        take(data, size, &l, sizeof(l), local_projectile_group_definition_byte_swapping_data,
             default_local_projectile_group_definition);
        if (!validate_local_projectile_group_definition(&l, "fuzz")) break;
        if ((l.flags & ~LOCAL_PROJECTILE_GROUP_FLAGS_MASK) || l.maximum_projectiles < 0 ||
            l.maximum_projectiles > MAXIMUM_LOCAL_PROJECTILES_PER_GROUP || l.sequence_index < NONE)
            abort();
        break;
    }
    }
    return 0;
}
