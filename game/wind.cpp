// Wind.

#include "wind.h"

#include "particles.h"
#include "state_hash.h"

static struct wind_globals
{
    bool blowing;
    int32_t tick;
    fixed_vector3d velocity;
} wind_globals;

static void hash_wind(uint32_t *hash)
{
    state_hash_add_int32(hash, wind_globals.blowing);
    state_hash_add_int32(hash, wind_globals.tick);
    state_hash_add_int32(hash, wind_globals.velocity.i);
    state_hash_add_int32(hash, wind_globals.velocity.j);
}

void initialize_wind(void)
{
    wind_globals = {};
    register_state_hash_procedure_at_start_up(hash_wind);
}

static void compute_wind(void)
{
    const weather_definition *definition = get_map_weather_definition();
    if (!wind_globals.blowing || !definition) return;
    // Speed in 8.8; the gust follows the sine table over its period.
    int32_t speed = definition->wind_speed;
    if (definition->wind_gust_period > 0)
    {
        const angle phase = (angle)(((int64_t)(wind_globals.tick % definition->wind_gust_period) * NUMBER_OF_ANGLES) /
                                    definition->wind_gust_period);
        speed += (definition->wind_gust * sine_rounded(phase)) >> TRIG_SHIFT;
    }
    // 8.8 x 2.14 = 10.22; to 16.16 shift right by 6.
    wind_globals.velocity.i = (fixed)(((int64_t)speed * cosine_rounded(definition->wind_direction)) >> 6);
    wind_globals.velocity.j = (fixed)(((int64_t)speed * sine_rounded(definition->wind_direction)) >> 6);
    wind_globals.velocity.k = 0;
}

void initialize_wind_for_new_map(void)
{
    wind_globals = {};
    const weather_definition *definition = get_map_weather_definition();
    wind_globals.blowing = definition && (definition->flags & _weather_has_wind_flag);
    compute_wind();
}

void dispose_wind_from_old_map(void) { wind_globals = {}; }

void update_wind(void)
{
    if (!wind_globals.blowing) return;
    ++wind_globals.tick;
    compute_wind();
}

const fixed_vector3d *get_wind_velocity(void) { return wind_globals.blowing ? &wind_globals.velocity : nullptr; }
