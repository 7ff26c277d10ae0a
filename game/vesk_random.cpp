// The synchronized and the local random generators.

#include "vesk_random.h"

#include "game_records.h"
#include "gameplay_versions.h"

static struct random_globals
{
    uint32_t seed;
    uint32_t local_seed;
    uint32_t draws;
    uint32_t local_draws;
} random_globals = {0, 0x2545F491u, 0, 0};

const uint32_t &random_seed = random_globals.seed;

static inline uint32_t next_seed(uint32_t seed)
{
    return seed * 1664525u + 1013904223u; // unsigned: wraps at 32 bits
}

uint16_t vesk_random(void)
{
    random_globals.seed = next_seed(random_globals.seed);
    ++random_globals.draws;
    return (uint16_t)(random_globals.seed >> 16);
}

uint16_t local_random(void)
{
    random_globals.local_seed = next_seed(random_globals.local_seed);
    ++random_globals.local_draws;
    return (uint16_t)(random_globals.local_seed >> 16);
}

bool vesk_random_frequency_corrected(int32_t fraction, int32_t version_threshold)
{
    const int32_t r = vesk_random();
    if (current_gameplay_version <= version_threshold) return r <= fraction;
    return fraction > r || (fraction > 65534 && current_gameplay_version > 1805);
}

void reset_game_seeds(new_game_parameter_data *parameters, const char *caller)
{
    const uint32_t high = local_random();
    parameters->random_seed = (high << 16) | local_random();
    parameters->initial_team_random_seed = (int16_t)local_random();
    log_message(nullptr, -1, "%s: new game seeds 0x%08x and %d", caller ? caller : "?", parameters->random_seed,
                parameters->initial_team_random_seed);
}

uint32_t get_random_seed(void) { return random_globals.seed; }
void set_random_seed(uint32_t seed) { random_globals.seed = seed; }
uint32_t get_local_random_seed(void) { return random_globals.local_seed; }
void set_local_random_seed(uint32_t seed) { random_globals.local_seed = seed; }
uint32_t get_vesk_random_draw_count(void) { return random_globals.draws; }
uint32_t get_local_random_draw_count(void) { return random_globals.local_draws; }

void reset_random_draw_counts(void)
{
    random_globals.draws = 0;
    random_globals.local_draws = 0;
}
