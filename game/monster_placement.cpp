// Unit trading: a team's unit types from its markers, and the adjustment
// command that trades them.

#include "monster_placement.h"

#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "cseries/cseries.h"
#include "cseries/log.h"
#include "game_limits.h"
#include "game_records.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "markers.h"
#include "monster_definitions.h"
#include "monster_life.h"
#include "monsters.h"
#include "players.h"
#include "unit_commands.h"
#include "unit_definitions.h"

enum
{
    // From this version a type without markers is not offered; above it, a
    // type that cannot be traded is not offered either.
    PLACEMENT_SKIPS_EMPTY_TYPES_VERSION = 1710,
    // Above this version only the markers of the game's difficulty count.
    PLACEMENT_FOLLOWS_DIFFICULTY_VERSION = 1300,
};

const byte_swap_code command_unit_adjustment_data_byte_swapping_data[] = {_begin_bs_array, 1, _2byte,
                                                                          _end_bs_array};
const byte_swap_code unit_adjustment_count_byte_swapping_data[] = {_begin_bs_array, 1, _2byte, _end_bs_array};

// The unit definition's worth in trading points.
static int16_t unit_type_cost(int16_t unit_type)
{
    const unit_definition *unit = get_unit_definition(unit_type);
    const monster_definition *definition = unit ? get_monster_definition(unit->monster_type) : nullptr;
    return definition && definition->experience_point_value > 0 ? definition->experience_point_value : (int16_t)0;
}

// The palette entry of a unit marker when it belongs to `team_index` and is usable.
static const marker_palette_entry *team_entry_of(const marker_data *marker, int16_t team_index)
{
    if (marker->palette_index == NONE) return nullptr;
    const marker_palette_entry *entry = get_marker_palette_entry(_marker_monster, marker->palette_index);
    if (!entry || entry->team_index != team_index || entry->resolved != 1 || entry->tag_index == NONE) return nullptr;
    return entry;
}

// Whether the marker's unit is on the map: the unit it made still stands for it.
static bool marker_unit_present(const marker_data *marker)
{
    if (marker->data_index == NONE) return false;
    const monster_data *monster = get_monster_data(marker->data_index);
    return monster && monster->marker_index == marker->marker_index;
}

// Whether the marker takes part in the game being played.
static bool marker_counts(const marker_data *marker, const marker_palette_entry *entry)
{
    if (!palette_compatible_with_game_scoring(entry)) return false;
    return current_gameplay_version <= PLACEMENT_FOLLOWS_DIFFICULTY_VERSION ||
           marker->minimum_difficulty_level <= game_->difficulty_level;
}

static int32_t find_type(const monster_placement *placements, int32_t count, int16_t unit_type)
{
    for (int32_t i = 0; i < count; ++i)
        if (placements[i].unit_type == unit_type) return i;
    return NONE;
}

static bool placement_offered(const monster_placement *placement)
{
    if (current_gameplay_version >= PLACEMENT_SKIPS_EMPTY_TYPES_VERSION && placement->maximum_count == 0)
        return false;
    if (current_gameplay_version > PLACEMENT_SKIPS_EMPTY_TYPES_VERSION &&
        !(placement->flags & _monster_placement_tradable_flag))
        return false;
    return true;
}

// The order the dialog lists them in: the cheapest first, then entry order
// (a stable insertion sort: at most 16 records).
static bool placement_goes_before(const monster_placement *a, const monster_placement *b)
{
    if (a->cost_per_unit != b->cost_per_unit) return a->cost_per_unit < b->cost_per_unit;
    return a->palette_index < b->palette_index;
}

monster_placement *get_monster_placement_data(int16_t team_index, int16_t *count)
{
    *count = 0;
    if (team_index == NONE || team_index < 0 || team_index >= MAXIMUM_TEAMS_PER_MAP) return nullptr;
    monster_placement types[MAXIMUM_MONSTER_PLACEMENT_TYPES];
    int32_t type_count = 0;
    const int32_t entry_count = get_marker_palette_entry_count(_marker_monster);
    for (int32_t i = 0; i < entry_count; ++i)
    {
        const marker_palette_entry *entry = get_marker_palette_entry(_marker_monster, i);
        if (!entry || entry->team_index != team_index || entry->resolved != 1 || entry->tag_index == NONE) continue;
        int32_t found = find_type(types, type_count, entry->tag_index);
        if (found == NONE)
        {
            if (type_count == MAXIMUM_MONSTER_PLACEMENT_TYPES) continue;
            found = type_count++;
            memset(&types[found], 0, sizeof(types[found]));
            types[found].palette_index = (int16_t)i;
            types[found].unit_type = entry->tag_index;
            types[found].cost_per_unit = unit_type_cost(entry->tag_index);
        }
        if (entry->flags & _marker_palette_allows_trading_flag) types[found].flags |= _monster_placement_tradable_flag;
    }
    const int32_t marker_count = get_marker_count(_marker_monster);
    for (int32_t i = 0; i < marker_count; ++i)
    {
        const marker_data *marker = get_marker_by_index(_marker_monster, i);
        const marker_palette_entry *entry = marker ? team_entry_of(marker, team_index) : nullptr;
        if (!entry || !marker_counts(marker, entry)) continue;
        const int32_t found = find_type(types, type_count, entry->tag_index);
        if (found == NONE) continue;
        monster_placement *placement = &types[found];
        placement->maximum_count += 1;
        if (!marker_unit_present(marker)) continue;
        placement->count += 1;
        if (marker->flags & _marker_is_kept_in_trading_flag) placement->minimum_count += 1;
    }

    monster_placement offered[MAXIMUM_MONSTER_PLACEMENT_TYPES];
    int32_t offered_count = 0;
    for (int32_t i = 0; i < type_count; ++i)
    {
        monster_placement placement = types[i];
        if (placement.minimum_count == placement.maximum_count) placement.flags &= ~(uint32_t)_monster_placement_tradable_flag;
        if (!placement_offered(&placement)) continue;
        int32_t at = offered_count++;
        while (at > 0 && placement_goes_before(&placement, &offered[at - 1]))
        {
            offered[at] = offered[at - 1];
            --at;
        }
        offered[at] = placement;
    }
    if (offered_count > NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES) offered_count = NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES;
    if (offered_count == 0) return nullptr;
    monster_placement *result = (monster_placement *)malloc(sizeof(monster_placement) * (size_t)offered_count);
    if (!result) return nullptr;
    memcpy(result, offered, sizeof(monster_placement) * (size_t)offered_count);
    *count = (int16_t)offered_count;
    return result;
}

bool queue_unit_adjustment_command(uint16_t flags, int16_t count, const int16_t *counts)
{
    if (!VASSERT(!(flags & ~(uint32_t)UNIT_ADJUSTMENT_FLAGS), "unit adjustment flags outside the command's own"))
        return false;
    if (count < 0 || count > NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES || (count > 0 && !counts))
    {
        log_message(__FILE__, __LINE__, "a unit adjustment of %d counts is not sent", count);
        return false;
    }
    uint8_t buffer[MAXIMUM_COMMAND_SIZE];
    const command_unit_adjustment_data data = {flags};
    command_codec_state state;
    command_encode_new(&state, buffer, _command_unit_adjustment);
    command_encode_data(&state, sizeof(data), &data, command_unit_adjustment_data_byte_swapping_data);
    command_encode_array(&state, count, sizeof(int16_t), counts, unit_adjustment_count_byte_swapping_data);
    return !state.failed && queue_outgoing_command(state.header);
}

// ---- executing the command --------------------------------------------------------

static bool refuse_adjustment(int16_t player_index, const char *why)
{
    log_message(__FILE__, __LINE__, "unit adjustment of player %d at tick %d refused: %s", player_index,
                game_->game_time, why);
    return false;
}

// The team whose captain `player_index` is, or NONE.
static int16_t captained_team(int16_t player_index)
{
    const player_data *player = get_player_data(player_index);
    if (!player || player->team_index == NONE) return NONE;
    const team_data *team = get_team_data(player->team_index);
    return team && team->captain_player_index == player_index ? (int16_t)player->team_index : (int16_t)NONE;
}

static bool counts_fit(const monster_placement *placements, int16_t count, const int16_t *counts)
{
    int32_t points = 0, spent = 0;
    for (int16_t i = 0; i < count; ++i)
    {
        const monster_placement *placement = &placements[i];
        if (!(placement->flags & _monster_placement_tradable_flag))
        {
            if (counts[i] != placement->count) return false;
            continue;
        }
        if (counts[i] < placement->minimum_count || counts[i] > placement->maximum_count) return false;
        points += placement->count * placement->cost_per_unit;
        spent += counts[i] * placement->cost_per_unit;
    }
    return spent <= points;
}

// Removes `removals` units of the type, from its highest markers down,
// skipping the kept ones.
static void remove_units_of_type(int16_t team_index, int16_t unit_type, int32_t removals)
{
    for (int32_t i = get_marker_count(_marker_monster) - 1; i >= 0 && removals > 0; --i)
    {
        marker_data *marker = get_marker_by_index(_marker_monster, i);
        const marker_palette_entry *entry = marker ? team_entry_of(marker, team_index) : nullptr;
        if (!entry || entry->tag_index != unit_type || !marker_counts(marker, entry)) continue;
        if (!marker_unit_present(marker) || (marker->flags & _marker_is_kept_in_trading_flag)) continue;
        delete_monster(marker->data_index, false);
        marker->data_index = NONE;
        marker->data_identifier = NONE;
        --removals;
    }
}

// Places `additions` units of the type on its free markers, lowest first.
static void add_units_of_type(int16_t team_index, int16_t unit_type, int32_t additions)
{
    const int32_t marker_count = get_marker_count(_marker_monster);
    for (int32_t i = 0; i < marker_count && additions > 0; ++i)
    {
        marker_data *marker = get_marker_by_index(_marker_monster, i);
        const marker_palette_entry *entry = marker ? team_entry_of(marker, team_index) : nullptr;
        if (!entry || entry->tag_index != unit_type || !marker_counts(marker, entry)) continue;
        if (marker_unit_present(marker)) continue;
        if (new_monster(marker) == NONE) marker->data_index = NONE;
        --additions;
    }
}

bool apply_unit_adjustment(int16_t player_index, uint16_t flags, int16_t count, const int16_t *counts)
{
    if (flags & ~(uint32_t)UNIT_ADJUSTMENT_FLAGS) return refuse_adjustment(player_index, "unknown flags");
    if (!(game_->option_flags & _game_option_allow_unit_trading_flag))
        return refuse_adjustment(player_index, "the game does not allow trading");
    if (game_->pregame_time_limit <= 0) return refuse_adjustment(player_index, "the game has no planning time");
    if (game_->time_state != _game_time_pregame &&
        game_->game_time > game_->pregame_time_limit + UNIT_ADJUSTMENT_LATE_TICKS)
        return refuse_adjustment(player_index, "the planning time is over");
    const int16_t team_index = captained_team(player_index);
    if (team_index == NONE) return refuse_adjustment(player_index, "the player captains no team");
    int16_t placement_count = 0;
    monster_placement *placements = get_monster_placement_data(team_index, &placement_count);
    const bool fits = placement_count == count && (count == 0 || counts_fit(placements, count, counts));
    if (!fits)
    {
        free(placements);
        return refuse_adjustment(player_index, "the counts do not fit the team's units");
    }
    // Removals first: their units' slots may be what the new units need.
    for (int16_t i = 0; i < count; ++i)
        if (counts[i] < placements[i].count)
            remove_units_of_type(team_index, placements[i].unit_type, placements[i].count - counts[i]);
    for (int16_t i = 0; i < count; ++i)
        if (counts[i] > placements[i].count)
            add_units_of_type(team_index, placements[i].unit_type, counts[i] - placements[i].count);
    free(placements);
    log_message(__FILE__, __LINE__, "team %d traded units at tick %d", team_index, game_->game_time);
    return true;
}

static bool execute_unit_adjustment_command(command_header *command)
{
    command_codec_state state;
    command_decode_new(&state, command, _command_unit_adjustment);
    const command_unit_adjustment_data *data = (const command_unit_adjustment_data *)command_decode_data(
        &state, sizeof(command_unit_adjustment_data), command_unit_adjustment_data_byte_swapping_data);
    int16_t count = 0;
    const int16_t *counts =
        (const int16_t *)command_decode_array(&state, &count, sizeof(int16_t), unit_adjustment_count_byte_swapping_data);
    if (!data || state.failed || count < 0 || count > NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES) return false;
    int16_t copied[NUMBER_OF_MONSTER_PLACEMENT_DIALOG_ENTRIES] = {};
    if (count > 0) memcpy(copied, counts, sizeof(int16_t) * (size_t)count);
    // A refused adjustment was read whole: it is logged and changes nothing.
    apply_unit_adjustment(command->player_index, data->flags, count, copied);
    return true;
}

static void read_unit_adjustment_command(command_codec_state *state, command_header *command)
{
    int16_t count = 0;
    command_decode_new(state, command, _command_unit_adjustment);
    command_decode_data(state, sizeof(command_unit_adjustment_data), command_unit_adjustment_data_byte_swapping_data);
    command_decode_array(state, &count, sizeof(int16_t), unit_adjustment_count_byte_swapping_data);
}

void register_monster_placement_hooks(void)
{
    register_command_verb_procedure(_command_unit_adjustment, execute_unit_adjustment_command);
    register_command_verb_reader_procedure(_command_unit_adjustment, read_unit_adjustment_command);
}
