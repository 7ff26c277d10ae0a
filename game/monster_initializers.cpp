// Veterans: the unit initializers carried from level to level.  See monster_initializers.h.

#include "monster_initializers.h"

#include <cstring>

#include "cseries/log.h"
#include "game_records.h"
#include "players.h"

const byte_swap_code monster_initializer_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, _4byte, _4byte,
    4, _2byte, MONSTER_INITIALIZER_NAME_SIZE,
    _end_bs_array};

static struct monster_initializer_globals_t
{
    int32_t count;
    monster_initializer initializers[MAXIMUM_MONSTER_INITIALIZERS];
} monster_initializer_globals;

void initialize_monster_initializers(void) { reset_monster_initializers(); }

void mark_monster_initializers_as_unused(void)
{
    for (int32_t i = 0; i < monster_initializer_globals.count; ++i)
        monster_initializer_globals.initializers[i].flags &= ~(uint32_t)_monster_initializer_used_flag;
}

void reset_monster_initializers(void) { monster_initializer_globals.count = 0; }

void export_monster_initializers(void *buffer, int32_t *length)
{
    const int32_t count = monster_initializer_globals.count;
    if (length) *length = count * (int32_t)sizeof(monster_initializer);
    if (!buffer || count == 0) return;
    memcpy(buffer, monster_initializer_globals.initializers, (size_t)count * sizeof(monster_initializer));
    byte_swap_data("monster initializer", buffer, (int32_t)sizeof(monster_initializer), count,
                   monster_initializer_byte_swapping_data);
}

bool import_monster_initializers(const void *buffer, int32_t length)
{
    const int32_t record = (int32_t)sizeof(monster_initializer);
    if (length < 0 || length % record != 0 || length / record > MAXIMUM_MONSTER_INITIALIZERS ||
        (length > 0 && !buffer))
    {
        log_message(__FILE__, __LINE__,
                    "unit initializers refused: %d bytes are not a whole number of %d-byte records up to %d",
                    (int)length, (int)record, (int)MAXIMUM_MONSTER_INITIALIZERS);
        return false;
    }
    // Converted in a copy: the set in use changes only once the records are good.
    const int32_t count = length / record;
    static monster_initializer incoming[MAXIMUM_MONSTER_INITIALIZERS];
    if (count > 0)
    {
        memcpy(incoming, buffer, (size_t)length);
        if (!byte_swap_data("monster initializer", incoming, record, count, monster_initializer_byte_swapping_data))
            return false;
    }
    for (int32_t i = 0; i < count; ++i) incoming[i].flags = 0;
    memcpy(monster_initializer_globals.initializers, incoming, (size_t)length);
    monster_initializer_globals.count = count;
    return true;
}

void adjust_monster_initializers_for_coop(int16_t player_count, const new_player_data *players, int32_t maximum)
{
    monster_initializer_globals_t &g = monster_initializer_globals;
    const new_player_data *owner = nullptr;
    for (int16_t i = 0; players && i < player_count && !owner; ++i)
    {
        const new_player_data &p = players[i];
        if (!(p.flags & _player_is_observer_flag) &&
            (p.team_captain_identifier == -1 || p.team_captain_identifier == p.unique_identifier))
            owner = &p;
    }
    if (!owner || owner->unique_identifier == -1)
    {
        g.count = 0;
        return;
    }
    if (maximum < 0) maximum = 0;
    if (g.count > maximum) g.count = maximum;
    for (int32_t i = 0; i < g.count; ++i) g.initializers[i].owner_player_identifier = (uint32_t)owner->unique_identifier;
}

const monster_initializer *get_monster_initializers(int32_t *count)
{
    if (count) *count = monster_initializer_globals.count;
    return monster_initializer_globals.initializers;
}

const monster_initializer *get_monster_initializer(tag parent_unit_tag, tag monster_tag, int16_t player_index)
{
    const player_data *player =
        player_index < 0 || player_index >= get_player_count() ? nullptr : get_player_data(player_index);
    if (!player) return nullptr;
    const uint32_t owner = (uint32_t)player->unique_identifier;
    monster_initializer *found = nullptr;
    // The same unit first; else a veteran of the same body that has since
    // become another unit (its own unit tag then makes the palette entry).
    for (int32_t pass = 0; pass < 2 && !found; ++pass)
        for (int32_t i = 0; i < monster_initializer_globals.count && !found; ++i)
        {
            monster_initializer *candidate = &monster_initializer_globals.initializers[i];
            if ((candidate->flags & _monster_initializer_used_flag) || candidate->owner_player_identifier != owner)
                continue;
            if (pass == 0 ? candidate->unit_tag == parent_unit_tag : candidate->monster_tag == monster_tag)
                found = candidate;
        }
    if (found) found->flags |= _monster_initializer_used_flag;
    return found;
}

void release_monster_initializer(const monster_initializer *initializer)
{
    for (int32_t i = 0; i < monster_initializer_globals.count; ++i)
        if (&monster_initializer_globals.initializers[i] == initializer)
            monster_initializer_globals.initializers[i].flags &= ~(uint32_t)_monster_initializer_used_flag;
}

// ---- what a film records --------------------------------------------------------

int32_t get_monster_initializers_export_length(void)
{
    int32_t length = 0;
    export_monster_initializers(nullptr, &length);
    return length;
}

bool export_monster_initializers_to_buffer(void *buffer, int32_t length)
{
    if (!buffer || length != get_monster_initializers_export_length()) return false;
    export_monster_initializers(buffer, &length);
    return true;
}
