// Weather particles.

#include "particles.h"

#include "cseries/log.h"
#include "state_hash.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"

const byte_swap_code weather_definition_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _4byte, _2byte, _2byte, _2byte, _2byte, _4byte, _2byte,
    _2byte, _2byte, _2byte, _end_bs_array};

static bool postprocess_weather_definition(definition_globals *group, int32_t definition_index, int32_t tag_index,
                                           void *data)
{
    const weather_definition *definition = (const weather_definition *)data;
    if (definition->maximum_particles < 0 || definition->snowing_ticks < 0 || definition->clear_ticks < 0 ||
        definition->wind_gust_period < 0 || definition->particle_scale < 0 || definition->fall_speed < 0)
    {
        log_message(__FILE__, __LINE__, "weather definition %d refused: negative count, period, scale or speed",
                    definition_index);
        return false;
    }
    return true;
}

// What the registry fills beside a definition: the look's collection.
struct weather_definition_runtime
{
    int16_t collection_index;
};

// The look's collection loads with the definition, on every machine alike,
// so a film plays over the same loaded tags with or without a display.  A
// missing collection is no error: the weather goes on undrawn.  Tools and
// tests may run without collections: the index stays NONE then.
static void weather_definition_dependencies(definition_globals *group, int32_t definition_index, int32_t tag_index,
                                            void *data, definition_dependency_report report)
{
    const weather_definition *definition = (const weather_definition *)data;
    weather_definition_runtime *runtime =
        (weather_definition_runtime *)get_definition_runtime(group, definition_index);
    if (!runtime) return;
    runtime->collection_index = NONE;
    if (get_definition_group(COLLECTION_GROUP_TAG) && definition->collection_tag != NONE &&
        definition->collection_tag != 0)
        report(COLLECTION_GROUP_TAG, definition->collection_tag, &runtime->collection_index,
               _dependency_optional_flag);
}

// A version 1 record reserved the bytes the look now takes: it has none.
static bool convert_weather_definition(definition_globals *group, int32_t tag_index, void *data, int16_t version)
{
    if (version != 1) return false;
    weather_definition *definition = (weather_definition *)data;
    definition->collection_tag = NONE;
    definition->sequence_index = 0;
    definition->splash_sequence_index = NONE;
    definition->particle_scale = SHORT_FIXED_ONE;
    definition->fall_speed = 0;
    return true;
}

static definition_globals weather_definition_globals = {
    .name = "weather",
    .group = WEATHER_DEFINITION_GROUP,
    .current_version = WEATHER_DEFINITION_VERSION,
    .maximum_count = MAXIMUM_WEATHER_DEFINITIONS,
    .size = sizeof(weather_definition),
    .runtime_size = sizeof(weather_definition_runtime),
    .dependencies = weather_definition_dependencies,
    .postprocess = postprocess_weather_definition,
    .convert = convert_weather_definition,
    .byte_swapping_data = weather_definition_byte_swapping_data,
};

static struct particle_globals
{
    int32_t definition_index; // NONE: no weather
    bool snowing;
    int32_t period_ticks;     // ticks spent in the current period
    int32_t intensity;        // 0..65535
    short_fixed multiplier;
} particle_globals;

static void hash_particles(uint32_t *hash)
{
    state_hash_add_int32(hash, particle_globals.definition_index);
    state_hash_add_int32(hash, particle_globals.snowing);
    state_hash_add_int32(hash, particle_globals.period_ticks);
    state_hash_add_int32(hash, particle_globals.intensity);
    state_hash_add_int32(hash, particle_globals.multiplier);
}

void initialize_particles(void)
{
    if (!weather_definition_globals.registered) initialize_definitions(&weather_definition_globals);
    particle_globals = {};
    particle_globals.definition_index = NONE;
    register_state_hash_procedure_at_start_up(hash_particles);
}

void initialize_particles_for_new_map(tag mesh_tag)
{
    initialize_definitions_for_new_map(&weather_definition_globals);
    particle_globals = {};
    particle_globals.multiplier = SHORT_FIXED_ONE;
    particle_globals.definition_index =
        mesh_tag == NONE ? NONE
                         : try_definition_tag_to_index(&weather_definition_globals, mesh_tag, true,
                                                       _definition_lookup_quiet_flag);
    const weather_definition *definition = get_map_weather_definition();
    if (definition && (definition->flags & _weather_starts_snowing_flag))
    {
        particle_globals.snowing = true;
        particle_globals.intensity = FIXED_FRACTION_ONE;
    }
}

void dispose_particles_from_old_map(void)
{
    particle_globals.definition_index = NONE;
    dispose_definitions_from_old_map(&weather_definition_globals);
}

definition_globals *get_weather_definition_group(void) { return &weather_definition_globals; }

const weather_definition *get_map_weather_definition(void)
{
    if (particle_globals.definition_index == NONE) return nullptr;
    return (const weather_definition *)try_and_get_definition(&weather_definition_globals,
                                                              particle_globals.definition_index);
}

int16_t get_map_weather_collection_index(void)
{
    if (!get_map_weather_definition()) return NONE;
    const weather_definition_runtime *runtime = (const weather_definition_runtime *)get_definition_runtime(
        &weather_definition_globals, particle_globals.definition_index);
    return runtime ? runtime->collection_index : (int16_t)NONE;
}

void update_particles(void)
{
    const weather_definition *definition = get_map_weather_definition();
    if (!definition) return;
    const int32_t period = particle_globals.snowing ? definition->snowing_ticks : definition->clear_ticks;
    if (period > 0 && ++particle_globals.period_ticks >= period) switch_snowing_states();
    const int32_t target = particle_globals.snowing ? FIXED_FRACTION_ONE : 0;
    if (particle_globals.intensity < target)
        particle_globals.intensity = particle_globals.intensity + WEATHER_INTENSITY_STEP > target
                                         ? target
                                         : particle_globals.intensity + WEATHER_INTENSITY_STEP;
    else if (particle_globals.intensity > target)
        particle_globals.intensity = particle_globals.intensity - WEATHER_INTENSITY_STEP < target
                                         ? target
                                         : particle_globals.intensity - WEATHER_INTENSITY_STEP;
}

bool switch_snowing_states(void)
{
    if (!get_map_weather_definition()) return false;
    particle_globals.snowing = !particle_globals.snowing;
    particle_globals.period_ticks = 0;
    return true;
}

void set_target_particle_number_multiplier(short_fixed multiplier)
{
    particle_globals.multiplier = multiplier < 0 ? (short_fixed)0 : multiplier;
}

fixed_fraction particle_system_intensity(const world_point2d *point)
{
    return get_map_weather_definition() ? (fixed_fraction)particle_globals.intensity : (fixed_fraction)0;
}

bool particle_system_is_snowing(void) { return get_map_weather_definition() && particle_globals.snowing; }

int32_t particle_system_particle_count(void)
{
    const weather_definition *definition = get_map_weather_definition();
    if (!definition) return 0;
    const int64_t scaled = ((int64_t)definition->maximum_particles * particle_globals.multiplier) >> 8;
    return (int32_t)((scaled * particle_globals.intensity) / FIXED_FRACTION_ONE);
}

bool particle_system_ambient_sound(const world_point2d *point, int16_t *ambient_sound_index, short_fixed *volume)
{
    const weather_definition *definition = get_map_weather_definition();
    if (!definition || definition->ambient_sound_tag == NONE || definition->maximum_particles <= 0) return false;
    definition_globals *ambients = get_definition_group(AMBIENT_SOUND_DEFINITION_GROUP_TAG);
    if (!ambients || ambients->count == NONE) return false;
    const int32_t index =
        try_definition_tag_to_index(ambients, definition->ambient_sound_tag, true, _definition_lookup_quiet_flag);
    if (index == NONE) return false;
    int32_t value = particle_system_particle_count() * 256 / definition->maximum_particles;
    if (value > 0x7FFF) value = 0x7FFF;
    if (ambient_sound_index) *ambient_sound_index = (int16_t)index;
    if (volume) *volume = (short_fixed)value;
    return true;
}
