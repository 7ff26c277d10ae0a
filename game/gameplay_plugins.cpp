// Gameplay plug-ins in a game's encoded plug-in list.

#include "gameplay_plugins.h"

#include <cstring>

#include "game_records.h"
#include "gameplay_versions.h"
#include "tag_files/plugins.h"
#include "tag_files/tag_file_formats.h"

// The listed plug-ins that are not gameplay plug-ins (decoding leaves those out).
static bool decode_parameters_plugins(const new_game_parameter_data *parameters, int16_t *indexes, int32_t *count)
{
    *count = 0;
    if (tag_file_plugins_decode(indexes, count, parameters->plugin_data, nullptr, nullptr, 0)) return true;
    log_message(__FILE__, __LINE__,
                "the game's plug-in list does not decode here; its gameplay plug-ins are left as they are");
    return false;
}

static bool encode_parameters_plugins(new_game_parameter_data *parameters, const int16_t *indexes, int32_t count)
{
    uint8_t encoded[ENCODED_PLUGIN_LIST_SIZE];
    if (tag_file_plugins_encode(indexes, count, encoded) < 0) return false; // logged by the encoder
    static_assert(sizeof(parameters->plugin_data) == ENCODED_PLUGIN_LIST_SIZE);
    memcpy(parameters->plugin_data, encoded, sizeof(encoded));
    parameters->plugin_count = (int16_t)count;
    return true;
}

bool add_encoded_gameplay_plugins(new_game_parameter_data *parameters, int32_t gameplay_selector_value)
{
    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0;
    if (!parameters || !decode_parameters_plugins(parameters, indexes, &count)) return false;
    int32_t gameplay_version = 0, minimum = 0;
    get_gameplay_selector_settings(gameplay_selector_value, &gameplay_version, &minimum);

    int16_t all[MAXIMUM_PLUGINS_PER_GAME + 1];
    memcpy(all, indexes, sizeof(indexes[0]) * (size_t)count);
    int32_t total = count;
    const int32_t installed = tag_file_get_plugin_count();
    for (int32_t i = 0; i < installed; ++i)
    {
        const plugin_datum *plugin = get_plugin_data(i);
        if (!plugin || plugin->type != _tag_file_type_gameplay_plugin || plugin->version != gameplay_version) continue;
        if (total == MAXIMUM_PLUGINS_PER_GAME)
        {
            log_message(__FILE__, __LINE__, "no room for the gameplay plug-in '%s' among %d plug-ins", plugin->name,
                        (int)MAXIMUM_PLUGINS_PER_GAME);
            return false;
        }
        all[total++] = (int16_t)i;
    }
    if (total == count) return true;
    return encode_parameters_plugins(parameters, all, total);
}

bool remove_encoded_gameplay_plugins(new_game_parameter_data *parameters)
{
    int16_t indexes[MAXIMUM_PLUGINS_PER_GAME];
    int32_t count = 0;
    if (!parameters || !decode_parameters_plugins(parameters, indexes, &count)) return false;
    return encode_parameters_plugins(parameters, indexes, count);
}
