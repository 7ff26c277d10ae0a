// Smoothing in game time measured by local time.

#include "game_speed_lerp.h"

#include "game_records.h"
#include "game_time.h"

// The game speed now, 8.8: what update_vesk would run per local tick.
static short_fixed current_game_speed(void)
{
    if (game_->type == _game_type_networked) return SHORT_FIXED_ONE; // speed does not apply there
    if (game_is_paused()) return 0;
    int32_t eighths = game_speed_eighths(game_->game_speed);
    if (eighths == 0) eighths = 8;
    return (short_fixed)(eighths * SHORT_FIXED_ONE / 8);
}

float game_speed_aware_lerp_logic(lerp_logic_state *state, int32_t start_time, int32_t span)
{
    const int32_t now = game_->local_time.load();
    const short_fixed speed = current_game_speed();
    if (state->state_identifier != LERP_STATE_IDENTIFIER || state->lerp_start != start_time)
    {
        state->state_identifier = LERP_STATE_IDENTIFIER;
        state->lerp_start = start_time;
        state->lerp_fraction = 0.0f;
        state->lerp_begin_time = now;
        state->lerp_end_time = now;
        state->speed = speed;
    }
    if (span < 1)
    {
        state->lerp_fraction = 1.0f;
    }
    else
    {
        // Local time only moves forward; a restarted clock counts as no time.
        const int32_t elapsed = now > state->lerp_end_time ? now - state->lerp_end_time : 0;
        const float step = (float)elapsed * (float)speed / (float)SHORT_FIXED_ONE / (float)span;
        state->lerp_fraction = state->lerp_fraction + step > 1.0f ? 1.0f : state->lerp_fraction + step;
    }
    state->lerp_end_time = now;
    state->speed = speed;
    return state->lerp_fraction;
}
