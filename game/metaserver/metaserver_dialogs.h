#pragma once
// The lobby session as the game runs it: the login (`login_to_metaserver`),
// the event handler that turns the pump's events into the lobby context's
// state, the room change that tries the next room when one refuses, the
// connection's progress dialog and the error message.  The lobby dialog with
// its lists, chat and games builds on these.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "metaserver/metaserver_client.h"

struct net_game_description;
struct new_player_data;

enum metaserver_login_result : int16_t
{
    _metaserver_game_entered_failure = 0,
    _metaserver_game_entered_successfully = 1,
    _metaserver_bad_login = 2,
    _metaserver_quit_game_immediately = 3,
    _metaserver_retry = 4,
};

#define METASERVER_APPLICATION_NAME "VESK2"
#define METASERVER_BUILD_DATE "Jan 12 2018"
#define METASERVER_BUILD_TIME "17:42:01"

// Logs in with `user_name` and `password` (at most 15 characters are used),
// offering `game_description` and playing as `player` (both kept for the
// session), and enters the desired room (or the next one that takes us).
// The result says what the caller does next; on failure the message of the
// final state has been shown and everything is closed again.  The password
// is saved (scrambled) only when the preferences ask for it, and never logged.
int16_t login_to_metaserver(net_game_description *game_description, new_player_data *player, const char *user_name,
                            const char *password);
// The context state the last login ended in (before a failed login returned
// the context to uninitialized).
int16_t get_metaserver_login_final_state(void);
// The message a login ending in `state` shows; null for none.
const char *get_metaserver_state_message(int16_t state);

// The one lobby context.
metaserver_context_data *get_metaserver_context(void);

// The lobby client's handler of the pump's events.
void metaserver_handler_proc(int32_t event, void *data, int32_t length, void *context);
// Tools watch every event first (null: none).  The tap must not keep `data`.
void set_metaserver_event_tap(metaserver_handler_procedure tap);

// Opens the connection with the progress dialog up while the context is
// pending: the context's final state (6 when cancelled, 7 when the service
// cannot be reached or, for tools, the time limit passed).
int16_t connect_to_metaserver_with_progress_dialog(const char *message, const char *host, uint16_t port,
                                                   const metaserver_login_data *login,
                                                   metaserver_handler_procedure handler, void *context);
// The service offers a newer client (event 33: the packet, host order): its
// size, host and port are kept and the next connection ends as "requires a
// client update".  A packet shorter than its fields is ignored (logged).
void note_metaserver_client_update(const void *packet, int32_t length);
// The whole login, its room walk included, ends after this many ms as "not
// responding" (0: none; METASERVER_LOGIN_TIME_LIMIT unless set).  It also
// ends at once, as cancelled, when the player cancels, the program is
// quitting (the window closed, SIGTERM) or the tool's `cancel` (null: none)
// answers true.
enum : uint32_t
{
    METASERVER_LOGIN_TIME_LIMIT = 30000,
};
void set_metaserver_login_time_limit(uint32_t milliseconds);
void set_metaserver_login_cancel_check(bool (*cancel)(void));
// Logs `text` and shows it with one button named `button` until pressed
// (only the log line in a headless run or without the dialog).
void show_metaserver_error_message(const char *text, const char *button);

// Enters `room` or, when it is missing or refuses, the next room (forward or
// backward), deleting each room that refuses.  The room entered, or -1 (the
// desired room then becomes -1).
int16_t change_metaserver_room(int16_t room, bool forward);
bool current_metaserver_room_is_ranked(void);
void reset_current_metaserver_room_ranked_guess(bool value);

bool metaserver_connected(void); // the context is connected
// Whether the room died (context state 11); `show` shows the message.
bool metaserver_connection_died(bool show);
// Disconnects, empties the room table, returns the context to uninitialized.
void logout_of_metaserver(void);


// Fills the lobby's table of procedures (the main loop's pump, the room
// count, the recording stream and every call of the network game); from
// register_built_subsystems.
void register_metaserver_hooks(void);
