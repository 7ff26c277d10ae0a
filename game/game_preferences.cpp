// The "game 2" preferences record.

#include "game_preferences.h"

#include <cmath>
#include <cstring>

#include "cseries/log.h"
#include "gameplay_versions.h"
#include "tag_files/preferences.h"

const byte_swap_code game_preferences_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte, _4byte, _4byte, // flags, zoom, overhead map scale
    _2byte, _2byte,         // tip, visited count
    _4byte, _4byte, _4byte, _4byte, // selectors, map-set checksums
    NO_BLOOD_PASSWORD_SIZE,
    NEW_GAME_PARAMETER_FIELDS,
    NEW_GAME_PARAMETER_FIELDS,
    _begin_bs_array, MAXIMUM_VISITED_SOLO_LEVELS, _4byte, _2byte, _2byte, _end_bs_array,
    _end_bs_array};

static struct game_preferences_globals
{
    game_preferences record;
    bool from_store; // loaded from the preferences store, so written back there
} game_preferences_globals;

static const uint32_t DEFAULT_GAME_PREFERENCE_FLAGS =
    _game_pref_show_subtitles_flag | _game_pref_status_bar_visible_flag | _game_pref_control_bar_visible_flag |
    _game_pref_show_mission_objectives_dialog_flag | _game_pref_use_persistent_ready_flag;

void default_game_preferences(void *data)
{
    game_preferences *record = (game_preferences *)data;
    memset(record, 0, sizeof(*record));
    record->flags = DEFAULT_GAME_PREFERENCE_FLAGS;
    record->zoom_factor = DEFAULT_ZOOM_FACTOR;
    record->overhead_map_scale_relative_to_default = 1.0f;
    record->solo_gameplay_selector_value = -1;
    record->multi_gameplay_selector_value = -1;
    new_game_data defaults;
    get_default_new_game_data(&defaults, _game_type_local, NONE);
    record->solo_new_game_params = defaults.parameters;
    get_default_new_game_data(&defaults, _game_type_networked, NONE);
    record->multi_new_game_params = defaults.parameters;
}

static void repair_selector(int32_t *value, const char *which)
{
    if (gameplay_selector_value_is_valid(*value)) return;
    log_message(__FILE__, __LINE__, "game preferences: %s gameplay selector %d names no known version; using the default rules",
                which, *value);
    *value = -1;
}

bool verify_game_preferences(void *data)
{
    game_preferences *record = (game_preferences *)data;
    repair_selector(&record->solo_gameplay_selector_value, "solo");
    repair_selector(&record->multi_gameplay_selector_value, "multiplayer");
    if (!std::isfinite(record->overhead_map_scale_relative_to_default) ||
        record->overhead_map_scale_relative_to_default <= 0.0f)
    {
        log_message(__FILE__, __LINE__, "game preferences: bad overhead map scale, using 1");
        record->overhead_map_scale_relative_to_default = 1.0f;
    }
    if (record->zoom_factor <= 0)
    {
        log_message(__FILE__, __LINE__, "game preferences: bad zoom %d, using 1", record->zoom_factor);
        record->zoom_factor = DEFAULT_ZOOM_FACTOR;
    }
    if (record->current_tip_index < 0) record->current_tip_index = 0;
    if (record->visited_level_count < 0 || record->visited_level_count > MAXIMUM_VISITED_SOLO_LEVELS)
    {
        log_message(__FILE__, __LINE__, "game preferences: %d visited levels, list cleared",
                    record->visited_level_count);
        record->visited_level_count = 0;
        memset(record->visited_levels, 0, sizeof(record->visited_levels));
    }
    record->no_blood_password[NO_BLOOD_PASSWORD_SIZE - 1] = 0;
    repair_new_game_parameter_data(&record->solo_new_game_params);
    repair_new_game_parameter_data(&record->multi_new_game_params);
    return true;
}

static preferences_globals game_preferences_store = {
    GAME_PREFERENCES_NAME, sizeof(game_preferences), GAME_PREFERENCES_VERSION, default_game_preferences,
    verify_game_preferences, game_preferences_byte_swapping_data, FOUR_CHARACTER_CODE('g', 'a', 'm', '2'), nullptr};

// The store gives the defaults for a missing or refused record, verified.
static bool read_game_preferences_from_store(game_preferences *record)
{
    const void *data = read_preferences_convert(&game_preferences_store, nullptr);
    if (!data) return false;
    memcpy(record, data, sizeof(*record));
    return true;
}

static bool write_game_preferences_to_store(const game_preferences *record)
{
    if (!game_preferences_store.data) return false;
    memcpy(game_preferences_store.data, record, sizeof(*record));
    return write_preferences(&game_preferences_store);
}

bool initialize_game_preferences(bool from_store)
{
    game_preferences *record = &game_preferences_globals.record;
    game_preferences_globals.from_store = from_store;
    default_game_preferences(record);
    if (!from_store)
    {
        log_message(nullptr, -1, "game preferences: no preferences store, using the defaults");
    }
    else if (!read_game_preferences_from_store(record))
    {
        default_game_preferences(record);
        log_message(nullptr, -1, "game preferences: no stored record, using the defaults");
    }
    verify_game_preferences(record);
    return true;
}

game_preferences *get_game_preferences(void)
{
    return &game_preferences_globals.record;
}

bool write_game_preferences(void)
{
    if (!game_preferences_globals.from_store) return false;
    return write_game_preferences_to_store(&game_preferences_globals.record);
}

bool solo_level_visited(tag mesh_tag, int16_t plugin_index)
{
    const game_preferences *record = &game_preferences_globals.record;
    for (int32_t i = 0; i < record->visited_level_count; ++i)
        if (record->visited_levels[i].mesh_tag == mesh_tag && record->visited_levels[i].plugin_index == plugin_index)
            return true;
    return false;
}

void mark_solo_level_as_visited(tag mesh_tag, int16_t plugin_index)
{
    game_preferences *record = &game_preferences_globals.record;
    if (solo_level_visited(mesh_tag, plugin_index)) return;
    if (record->visited_level_count >= MAXIMUM_VISITED_SOLO_LEVELS)
    {
        memmove(&record->visited_levels[0], &record->visited_levels[1],
                sizeof(record->visited_levels[0]) * (MAXIMUM_VISITED_SOLO_LEVELS - 1));
        record->visited_level_count = MAXIMUM_VISITED_SOLO_LEVELS - 1;
    }
    visited_solo_level *level = &record->visited_levels[record->visited_level_count++];
    level->mesh_tag = mesh_tag;
    level->plugin_index = plugin_index;
    level->unused = 0;
}
