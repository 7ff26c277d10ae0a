// The gameplay version table and the functions that read it.

#include "gameplay_versions.h"

#include "game_records.h"

int32_t current_gameplay_version = DEFAULT_GAMEPLAY_VERSION;

// Oldest first.  Identifier 21xy names version 1xy0; the two patch releases
// share their base release's identifier and are told apart by the patch bits.
static const gameplay_version_definition gameplay_versions[NUMBER_OF_GAMEPLAY_VERSIONS] = {
    {1300, 2130, 0, "1.3"},
    {1400, 2140, 0, "1.4"},
    {1500, 2150, 0, "1.5"},
    {1510, 2151, _game_option_version_151_flag, "1.5.1"},
    {1600, 2160, 0, "1.6"},
    {1690, 2169, 0, "1.6.9"},
    {1695, 2169, _game_option_patch_version_bit0_flag, "1.6.9.5"},
    {1700, 2170, 0, "1.7"},
    {1710, 2171, 0, "1.7.1"},
    {1720, 2172, 0, "1.7.2"},
    {1800, 2180, 0, "1.8"},
    {1805, 2180, _game_option_patch_version_bit1_flag, "1.8.0.5"},
    {1810, 2181, 0, "1.8.1"},
    {1820, 2182, 0, "1.8.2"},
    // The statistics name who owns each unit, so that the scores, the
    // winner and the state hash count them.
    {1825, 2182, _game_option_patch_version_bit0_flag, "1.8.2.5"},
    // The rankings are current at every tick, and a
    // hunt scores the hunted creatures its hunters kill.
    {1830, 2183, 0, "1.8.3"},
    // The tutorial watcher judges commands as they run, from the stream, so a
    // teaching map replays in step; a player's order, and a unit's retreat,
    // send no unit past the map's playable area; a shot leads only a target
    // that is walking.
    {1840, 2184, 0, "1.8.4"},
    // (Rules gated on 1850 are listed in docs/determinism.md as they land.)
    // A unit a script hands to another team takes that team's colours.
    // Sync commands and a film's end record carry the chain of the state of
    // every tick since the last sync command; the end record binds its file's
    // header, and a closed file must end with it.
    // A network game (and its film) eliminates a team whose every unit is
    // gone and cannot come back, at that tick, so that the last side standing
    // ends the game and wins.
    {1850, 2185, 0, "1.8.5"},
};

const gameplay_version_definition *get_gameplay_version_definition(int32_t index)
{
    if (index < 0 || index >= NUMBER_OF_GAMEPLAY_VERSIONS) return nullptr;
    return &gameplay_versions[index];
}

const gameplay_version_definition *find_gameplay_version(int32_t gameplay_version)
{
    for (const gameplay_version_definition &row : gameplay_versions)
        if (row.gameplay_version == gameplay_version) return &row;
    return nullptr;
}

bool gameplay_version_is_known(int32_t gameplay_version)
{
    return find_gameplay_version(gameplay_version) != nullptr;
}

int32_t gameplay_version_from_version_id(int32_t version_identifier, int32_t build_number)
{
    (void)build_number;
    const gameplay_version_definition *best = &gameplay_versions[0];
    if (version_identifier > gameplay_versions[NUMBER_OF_GAMEPLAY_VERSIONS - 1].version_identifier) return NONE;
    if (version_identifier == CURRENT_VERSION_IDENTIFIER) return DEFAULT_GAMEPLAY_VERSION;
    for (const gameplay_version_definition &row : gameplay_versions)
    {
        // The base row of an identifier (no patch bits) wins over its patches.
        if (row.version_identifier <= version_identifier && row.option_flags == 0) best = &row;
        if (row.version_identifier == version_identifier && row.option_flags == _game_option_version_151_flag)
            best = &row;
    }
    return best->gameplay_version;
}

bool version_identifier_plays_gameplay_version(int32_t version_identifier, int32_t gameplay_version)
{
    const gameplay_version_definition *row = find_gameplay_version(gameplay_version);
    if (!row) return false;
    if (version_identifier >= CURRENT_VERSION_IDENTIFIER || version_identifier > row->version_identifier) return true;
    return version_identifier == row->version_identifier &&
           (row->option_flags & ~(uint32_t)_game_option_version_151_flag) == 0;
}

int32_t compute_gameplay_version(const new_game_parameter_data *parameters, int32_t minimum_build_number)
{
    (void)minimum_build_number;
    const int32_t identifier = parameters->version & 0xFFFF;
    const uint32_t bits = parameters->option_flags & GAMEPLAY_VERSION_OPTION_FLAGS;
    for (const gameplay_version_definition &row : gameplay_versions)
        if (row.version_identifier == identifier && row.option_flags == bits) return row.gameplay_version;
    log_message(__FILE__, __LINE__, "unknown gameplay version: identifier %d with version bits 0x%08x",
                identifier, bits);
    return NONE;
}

bool update_game_parameters_for_gameplay_version(int32_t gameplay_version, new_game_parameter_data *parameters)
{
    const gameplay_version_definition *row = find_gameplay_version(gameplay_version);
    if (!row)
    {
        log_message(__FILE__, __LINE__, "refused unknown gameplay version %d", gameplay_version);
        return false;
    }
    parameters->option_flags = (parameters->option_flags & ~(uint32_t)GAMEPLAY_VERSION_OPTION_FLAGS) |
                               row->option_flags;
    parameters->buildnum = CURRENT_BUILD_NUMBER;
    parameters->version = row->version_identifier;
    return true;
}

int32_t get_minimum_gameplay_version_for_game_settings(const new_game_parameter_data *parameters)
{
    // Each option needs the first release whose rules know it.
    static const struct { uint32_t flag; int32_t version; } needs[] = {
        {_game_option_allow_alliances_flag, 1500},
        {_game_option_order_game_flag, 1600},
        {_game_option_deathmatch_flag, 1700},
        {_game_option_uses_vux_flag, 1720},
        {_game_option_uses_anticlump_flag, 1800},
        {_game_option_server_is_observer_flag, 1810},
        {_game_option_team_captain_chosen_flag, 1820},
    };
    int32_t minimum = gameplay_versions[0].gameplay_version;
    for (const auto &need : needs)
        if ((parameters->option_flags & need.flag) && need.version > minimum) minimum = need.version;
    return minimum;
}

const char *gameplay_version_to_string(int32_t gameplay_version)
{
    const gameplay_version_definition *row = find_gameplay_version(gameplay_version);
    return row ? row->name : "unknown";
}

const char *get_version_string(int32_t version_identifier, bool long_form)
{
    enum { RING = 4, SIZE = 48 };
    static char ring[RING][SIZE];
    static int32_t next;
    char *buffer = ring[next];
    next = (next + 1) % RING;

    const char *name = nullptr;
    if (version_identifier == 0) name = "1.0";
    for (const gameplay_version_definition &row : gameplay_versions)
        if (row.version_identifier == version_identifier && (row.option_flags & ~_game_option_version_151_flag) == 0)
            name = row.name;
    if (name)
        slprintf(buffer, SIZE, "%s%s", long_form ? "Vesk II " : "", name);
    else
        slprintf(buffer, SIZE, "version %d", version_identifier);
    return buffer;
}

void get_gameplay_selector_settings(int32_t selector_value, int32_t *gameplay_version, int32_t *minimum)
{
    int32_t version = DEFAULT_GAMEPLAY_VERSION, least = -1;
    if (selector_value > 0)
        version = selector_value;
    else if (selector_value < -1)
        least = -selector_value;
    if (gameplay_version) *gameplay_version = version;
    if (minimum) *minimum = least;
}

bool gameplay_selector_value_is_valid(int32_t selector_value)
{
    if (selector_value == -1) return true;
    if (selector_value == 0 || selector_value == INT32_MIN) return false;
    return gameplay_version_is_known(selector_value > 0 ? selector_value : -selector_value);
}
