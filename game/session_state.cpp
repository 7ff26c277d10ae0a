// The session state the main loop keeps for the later subsystems.

#include "session_state.h"

#include "game_records.h"
#include "game_time.h"

bool display_chat = false;
bool joining_mid_game = false;

static struct session_state_globals
{
    bool restoring_from_saved_game;
    time_remaining_string_procedure time_remaining_string;
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

bool register_time_remaining_string_procedure(time_remaining_string_procedure procedure)
{
    if (!VASSERT(procedure, "a null time remaining string procedure")) return false;
    if (!VASSERT(!session_state_globals.time_remaining_string,
                 "the time remaining string procedure is registered already"))
        return false;
    session_state_globals.time_remaining_string = procedure;
    return true;
}

void clear_time_remaining_string_procedure(void) { session_state_globals.time_remaining_string = nullptr; }

char *get_time_remaining_string(char *buffer)
{
    if (!buffer) return buffer;
    buffer[0] = '\0';
    if (session_state_globals.time_remaining_string)
    {
        session_state_globals.time_remaining_string(buffer, TIME_REMAINING_STRING_SIZE);
        buffer[TIME_REMAINING_STRING_SIZE - 1] = '\0'; // whatever the procedure wrote, the text ends
    }
    return buffer;
}
