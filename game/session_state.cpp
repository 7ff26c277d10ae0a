// The session state the main loop keeps for the later subsystems.

#include "session_state.h"

#include "cseries/registration.h"
#include "networking_procedures.h"
#include "game_records.h"
#include "game_time.h"

bool display_chat = false;
bool joining_mid_game = false;

static struct session_state_globals
{
    bool restoring_from_saved_game;
} session_state_globals;

bool toggle_display_chat(void)
{
    display_chat = !display_chat;
    return display_chat;
}

bool restoring_from_saved_game(void) { return session_state_globals.restoring_from_saved_game; }

void set_restoring_from_saved_game(bool restoring) { session_state_globals.restoring_from_saved_game = restoring; }

bool prevent_cutscenes_from_playing(void)
{
    if (restoring_from_saved_game() || joining_mid_game) return true;
    return game_->type == _game_type_networked && !(game_->option_flags & _game_option_netgame_cutscenes_flag);
}

char *get_time_remaining_string(char *buffer)
{
    if (!buffer) return buffer;
    buffer[0] = '\0';
    if (const auto procedure = get_networking_procedures()->get_time_remaining_string)
    {
        procedure(buffer, TIME_REMAINING_STRING_SIZE);
        buffer[TIME_REMAINING_STRING_SIZE - 1] = '\0'; // whatever the procedure wrote, the text ends
    }
    return buffer;
}
