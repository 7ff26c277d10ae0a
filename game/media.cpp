// Media definitions ('medi').  See media.h.

#include "media.h"

#include <cstring>

#include "cseries/errors.h"
#include "cseries/tags.h"
#include "tag_files/tag_files.h"

const byte_swap_code media_definition_byte_swapping_data[] = {
    _begin_bs_array, 1,
    _4byte,
    _begin_bs_array, NUMBER_OF_MEDIA_SPLASH_TYPES, _4byte, _end_bs_array,
    _begin_bs_array, 6, _2byte, _end_bs_array, // wobble magnitude and phase multiplier
    _2byte, _2byte, // reflection transparency, tint fraction
    _begin_bs_array, 4, _2byte, _end_bs_array, // tint colour
    _2byte, // surface tint fraction
    6,
    _end_bs_array};

// What a loaded media definition keeps: its splash groups as definition indexes.
struct media_runtime
{
    int16_t projectile_group_types[NUMBER_OF_MEDIA_SPLASH_TYPES];
};

const char *media_definition_refusal(const media_definition *definition)
{
    if (definition->flags & ~(uint32_t)_media_defined_flags) return "flags";
    if (definition->reflection_tint_fraction > MEDIA_REFLECTION_TINT_FRACTION_ONE) return "reflection_tint_fraction";
    if (definition->reflection_tint_color.flags != 0) return "reflection_tint_color flags";
    if (definition->surface_tint_fraction > MEDIA_REFLECTION_TINT_FRACTION_ONE) return "surface_tint_fraction";
    for (uint8_t byte : definition->unused)
        if (byte != 0) return "unused";
    return nullptr;
}

// The splash groups load with the definition when the projectile module has
// registered its group; a refused record loads nothing.
static void media_dependencies(definition_globals *group, int32_t index, int32_t, void *record,
                               definition_dependency_report report)
{
    const media_definition *definition = (const media_definition *)record;
    media_runtime *runtime = (media_runtime *)get_definition_runtime(group, index);
    for (int16_t &type : runtime->projectile_group_types) type = NONE;
    if (media_definition_refusal(definition) || !get_definition_group(PROJECTILE_GROUP_DEFINITION_GROUP_TAG)) return;
    for (int32_t i = 0; i < NUMBER_OF_MEDIA_SPLASH_TYPES; ++i)
        report(PROJECTILE_GROUP_DEFINITION_GROUP_TAG, definition->projectile_group_tags[i],
               &runtime->projectile_group_types[i], _dependency_optional_flag);
}

// The registry takes a short record with defaults and a long one cut short;
// a media tag must be exactly one record.
static bool postprocess_media_definition(definition_globals *, int32_t, int32_t tag_index, void *record)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return false;
    const char *refusal = info.size != MEDIA_DEFINITION_SIZE ? "size"
                                                             : media_definition_refusal((const media_definition *)record);
    if (refusal)
    {
        ERROR_MESSAGE(_error_data_corrupted, "media definition '%s' refused: %s", info.name, refusal);
        return false;
    }
    return true;
}

definition_globals media_definitions = {
    .name = "media",
    .group = MEDIA_DEFINITION_GROUP_TAG,
    .current_version = MEDIA_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_MEDIA_DEFINITIONS_PER_MAP,
    .size = sizeof(media_definition),
    .runtime_size = sizeof(media_runtime),
    .dependencies = media_dependencies,
    .postprocess = postprocess_media_definition,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = media_definition_byte_swapping_data,
};

bool initialize_media(void)
{
    return media_definitions.registered || initialize_definitions(&media_definitions);
}

void initialize_media_for_new_map(void)
{
    if (media_definitions.registered) initialize_definitions_for_new_map(&media_definitions);
}

void dispose_media_from_old_map(void)
{
    if (media_definitions.registered) dispose_definitions_from_old_map(&media_definitions);
}

const media_definition *get_media_definition(int32_t media_index)
{
    if (media_index == NONE || !media_definitions.registered) return nullptr;
    return (const media_definition *)try_and_get_definition(&media_definitions, media_index);
}

int32_t get_media_projectile_group_type(int32_t media_index, int32_t splash_type)
{
    if (splash_type < 0 || splash_type >= NUMBER_OF_MEDIA_SPLASH_TYPES) return NONE;
    if (get_media_definition(media_index) == nullptr) return NONE;
    const media_runtime *runtime = (const media_runtime *)get_definition_runtime(&media_definitions, media_index);
    return runtime ? (int32_t)runtime->projectile_group_types[splash_type] : (int32_t)NONE;
}
