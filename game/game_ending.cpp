// The end of a game: its reasons, countdown and suspension, its last tick.

#include "game_ending.h"

#include "cseries/registration.h"

#include "front_end_procedures.h"
#include "game_records.h"
#include "game_sounds.h"
#include "game_states.h"
#include "game_time.h"
#include "players.h"
#include "scoring.h"
#include "state_hash.h"
#include "statistics.h"

static struct game_ending_globals_data
{
    int32_t endgame_countdown; // NONE: not ending
    bool end_pending;          // end_game while suspended
    bool pending_immediate;
    bool left_before_end;  // the player left before the end: local, never hashed
    bool last_tick_untold; // the countdown began and its last tick is still to be told: local, never hashed
} game_ending_globals;

// How each reason ends a game.
struct game_end_reason_rule
{
    int32_t countdown_ticks;
    bool holds_tick_end;  // ended between two ticks: a film closes with what the last tick left
    bool left;            // the player left: neither won nor lost, unless the game had already ended
    bool follows_at_once; // no countdown runs: what follows the game is asked for now
};

static const game_end_reason_rule game_end_reason_rules[NUMBER_OF_GAME_END_REASONS] = {
    /* _game_end_decided */ {ENDGAME_COUNTDOWN_TICKS, false, false, false},
    /* _game_end_game_over */ {IMMEDIATE_ENDGAME_COUNTDOWN_TICKS, false, false, false},
    /* _game_end_player_left */ {IMMEDIATE_ENDGAME_COUNTDOWN_TICKS, true, true, true},
    /* _game_end_no_tick_follows */ {IMMEDIATE_ENDGAME_COUNTDOWN_TICKS, false, false, true},
};

static procedure_slot<game_last_tick_procedure> game_last_tick_slot("game last tick");

bool register_game_last_tick_procedure(game_last_tick_procedure procedure) { return game_last_tick_slot.fill(procedure); }

void initialize_game_ending_for_new_map(void)
{
    game_ending_globals = {};
    game_ending_globals.endgame_countdown = NONE;
}

void hash_game_ending(uint32_t *hash)
{
    state_hash_add_int32(hash, game_ending_globals.endgame_countdown);
    state_hash_add_int32(hash, game_ending_globals.end_pending);
}

bool game_has_ended(void)
{
    return game_->endgame_state != _endgame_unresolved || game_ending_globals.endgame_countdown != NONE ||
           (game_->flags.load() & _game_is_over_flag);
}

static int16_t settle_winning_team(void)
{
    if (game_->winning_team_index != NONE) return game_->winning_team_index;
    const team_ranking_data *first = get_team_ranking(0);
    const team_ranking_data *second = get_team_ranking(1);
    if (!first || (second && second->place == first->place)) return NONE;
    return first->team_index;
}

// The end itself, with its countdown: once a game, or pending while suspended.
static void resolve_end(bool immediate)
{
    game_ending_globals_data *g = &game_ending_globals;
    if (g->endgame_countdown != NONE || (game_->flags.load() & _game_is_over_flag)) return;
    if (game_->flags.load() & _game_is_suspended_flag)
    {
        g->end_pending = true;
        g->pending_immediate = g->pending_immediate || immediate;
        game_->time_state = _game_time_suspended_ending;
        return;
    }
    g->end_pending = false;
    note_standing_teams_at_end();
    force_player_statistics_update();
    game_->winning_team_index = settle_winning_team();
    game_->endgame_state = _endgame_resolved;
    game_->game_time_at_end = game_->game_time;
    game_->time_state = _game_time_ending;
    g->endgame_countdown = immediate ? IMMEDIATE_ENDGAME_COUNTDOWN_TICKS : ENDGAME_COUNTDOWN_TICKS;
    g->last_tick_untold = true;

    const int16_t outcome = get_local_postgame_outcome();
    build_draxil_net_game_standings(2);
    build_postgame_report(outcome);
    add_game_to_permanent_player_rankings();

    // Heard only here: the local team decides, so no simulated state may follow from it.
    if (local_player_team_index != NONE)
    {
        queue_game_sound(outcome == _postgame_outcome_won    ? _game_sound_victory
                         : outcome == _postgame_outcome_lost ? _game_sound_defeat
                                                             : _game_sound_game_over);
    }
}

// The front end's game-over, or without it the state that follows the game.
static void game_over(void)
{
    const auto procedure = get_front_end_procedures()->game_over;
    if (procedure)
        procedure();
    else
        request_state_after_game();
}

void end_game(int16_t reason)
{
    if (!VASSERT(reason >= 0 && reason < NUMBER_OF_GAME_END_REASONS, "a known reason for the game's end")) return;
    const game_end_reason_rule *rule = &game_end_reason_rules[reason];
    // Ended between two ticks: what follows is no tick's, and a film ends
    // with the state its last tick left.
    if (rule->holds_tick_end) set_tick_end_state(_tick_end_state_held);
    // Left before its end, the game is neither won nor lost, whatever the
    // scores of the moment would name; a game already ending keeps its result.
    if (rule->left && !game_has_ended()) game_ending_globals.left_before_end = true;
    resolve_end(rule->countdown_ticks == IMMEDIATE_ENDGAME_COUNTDOWN_TICKS);
    if (!rule->follows_at_once) return;
    game_->flags.fetch_or(_game_is_over_flag);
    game_ending_globals.endgame_countdown = 0;
    game_over();
}

int16_t get_local_postgame_outcome(void)
{
    if (game_ending_globals.left_before_end) return _postgame_outcome_left;
    const int16_t local = local_player_team_index, winner = game_->winning_team_index;
    if (local == NONE) return _postgame_outcome_none;
    if (winner == NONE) return _postgame_outcome_drawn;
    return winner == local || teams_are_allied(local, winner) ? _postgame_outcome_won : _postgame_outcome_lost;
}

void suspend_end_game(bool suspend)
{
    if (suspend)
    {
        game_->flags.fetch_or(_game_is_suspended_flag);
        return;
    }
    game_->flags.fetch_and(~(uint32_t)_game_is_suspended_flag);
    if (game_ending_globals.end_pending) resolve_end(game_ending_globals.pending_immediate);
}

int32_t get_endgame_countdown(void) { return game_ending_globals.endgame_countdown; }

void request_state_after_game(void)
{
    switch (game_->type)
    {
    case _game_type_local: set_game_state(_game_state_displaying_mesh_epilogue); break;
    case _game_type_networked: set_game_state(_game_state_post_game); break;
    default: set_game_state(_game_state_displaying_main_menu); break;
    }
}

void update_endgame(void)
{
    game_ending_globals_data *g = &game_ending_globals;
    if (g->endgame_countdown == NONE || g->endgame_countdown == 0) return;
    --g->endgame_countdown;
    // Told from the countdown's first step, which every ending reaches at the
    // same point of a tick, whichever step of the tick ended the game.
    if (g->last_tick_untold)
    {
        g->last_tick_untold = false;
        if (const game_last_tick_procedure told = game_last_tick_slot.get())
            told(game_->game_time + g->endgame_countdown);
    }
    if (g->endgame_countdown > 0) return;
    game_->flags.fetch_or(_game_is_over_flag);
    game_over();
}

void handle_time_limit_expired(void) { end_game(_game_end_decided); }
