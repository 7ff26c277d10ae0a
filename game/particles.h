#pragma once
// Weather: a map's weather definition (group 'weat', the subgroup being the
// map's mesh tag; none on a map without weather) drives a synchronized state
// machine advanced by the particle clock: it snows for a period and clears
// for a period, and the intensity eases toward its target each tick.
// Projectiles read the intensity (it promotes burning ones), scripts switch
// the snow and scale the particle count.  The particles themselves are
// visual: only their number follows from the state; the definition's look
// (a collection, the falling particle's and the splash's sequences, a scale
// and a fall speed) is read by the renderer alone.
//
// Without weather: intensity 0, no ambient sound, nothing drawn, no wind.

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "world.h"

struct definition_globals;

#define WEATHER_DEFINITION_GROUP FOUR_CHARACTER_CODE('w', 'e', 'a', 't')
// The sound layer's ambient sound definitions, through which the weather's
// ambient tag becomes a sound index.  That layer comes later and registers
// the group; its code stands here, where the core needs it.
#define AMBIENT_SOUND_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('a', 'm', 's', 'o')

enum
{
    // 1: no look (its last 12 bytes reserved); read as a look of none.
    WEATHER_DEFINITION_VERSION = 2,
    MAXIMUM_WEATHER_DEFINITIONS = 4,
    // The intensity moves toward its target by at most this much per tick.
    WEATHER_INTENSITY_STEP = 256,
};

enum weather_definition_flag_bits
{
    _weather_starts_snowing_flag = 1,
    _weather_has_wind_flag = 2,
};

// 32 bytes stored.
struct weather_definition
{
    uint16_t flags;
    int16_t maximum_particles;   // at the full intensity and a multiplier of 1.0
    int16_t snowing_ticks;       // length of a snowy period; 0: it does not change by itself
    int16_t clear_ticks;         // length of a clear period
    tag ambient_sound_tag;       // NONE: silent
    angle wind_direction;        // where the wind blows to
    int16_t wind_speed;          // world units per tick, 8.8
    int16_t wind_gust;           // the speed wanders this much above and below, 8.8
    int16_t wind_gust_period;    // ticks of one gust cycle; 0: steady
    // ---- the look (display only; nothing of the game reads it)
    tag collection_tag;          // NONE or 0: the particles are not drawn
    int16_t sequence_index;      // a falling particle: one frame of view 0, kept for its fall
    int16_t splash_sequence_index; // played where a particle lands; NONE: no splashes
    short_fixed particle_scale;  // 8.8, 256: the bitmap's own size
    int16_t fall_speed;          // world units per tick, 8.8
};
static_assert(sizeof(weather_definition) == 32);
static_assert(offsetof(weather_definition, collection_tag) == 20);
static_assert(offsetof(weather_definition, fall_speed) == 30);
extern const byte_swap_code weather_definition_byte_swapping_data[];

void initialize_particles(void);
// Finds the map's weather (`mesh_tag` is the map's tag; NONE: none) and starts
// its state.  Never fails: a map without a usable weather tag has none.
void initialize_particles_for_new_map(tag mesh_tag);
void dispose_particles_from_old_map(void);
// The particle clock, once per tick.
void update_particles(void);

definition_globals *get_weather_definition_group(void);
// The map's weather definition, or null.
const weather_definition *get_map_weather_definition(void);
// The collection of the map's weather look, loaded with the definition;
// NONE without weather, without a look, or when its tag is missing.
int16_t get_map_weather_collection_index(void);

// Toggles the snow now; true when it switched (false without weather).
bool switch_snowing_states(void);
// Scales the target particle count (8.8, 1.0 = 256); negative counts as 0.
void set_target_particle_number_multiplier(short_fixed multiplier);

// The weather's intensity at a point; 0 without weather.
fixed_fraction particle_system_intensity(const world_point2d *point);
// True while it snows.
bool particle_system_is_snowing(void);
// The particles shown now (visual).
int32_t particle_system_particle_count(void);

// The ambient sound of the weather: its index among the ambient sound
// definitions (the weather's ambient tag, loaded through that group when
// needed) and volume = particles x 256 / maximum particles.  False without
// weather, without an ambient sound, or while its tag cannot be had (the
// group is not registered or not set up for the map, or the tag is missing).
bool particle_system_ambient_sound(const world_point2d *point, int16_t *ambient_sound_index, short_fixed *volume);
