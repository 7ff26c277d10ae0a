#include "support/game_core_fixture.h"

#include "cseries/errors.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "gameplay_versions.h"
#include "state_hash.h"
#include "vesk.h"
#include "vesk_random.h"

std::vector<std::string> game_core_trace;

static void quiet_message_box(const char *) {}

void reset_game_core(void)
{
    reset_game_hooks();
    dispose_vesk_from_old_map();
    clear_pending_game_state();
    initialize_game_record();
    reset_state_hash_procedures();
    reset_random_draw_counts();
    set_message_box_proc(quiet_message_box);
    clear_pending_error();
    game_core_trace.clear();
}

new_game_data make_test_game_data(int16_t type, int32_t gameplay_version, uint32_t seed, int16_t player_count)
{
    new_game_data data;
    get_default_new_game_data(&data, type, FOUR_CHARACTER_CODE('t', 'e', 's', 't'));
    update_game_parameters_for_gameplay_version(gameplay_version, &data.parameters);
    data.parameters.random_seed = seed;
    data.player_count = player_count;
    data.local_player_index = player_count > 0 ? 0 : NONE;
    for (int16_t i = 0; i < player_count; ++i)
    {
        data.players[i].team_index = i;
        data.players[i].version = CURRENT_VERSION_IDENTIFIER;
        data.players[i].build_number = CURRENT_BUILD_NUMBER;
    }
    return data;
}

bool start_test_game(int16_t type, int32_t gameplay_version, uint32_t seed)
{
    const new_game_data data = make_test_game_data(type, gameplay_version, seed);
    if (type == _game_type_replay) current_gameplay_version = gameplay_version;
    return initialize_vesk_for_new_map(&data, false);
}
