// vesk_lobby_probe: logs in to a lobby service the way the game does
// (login_to_metaserver, under the video library's dummy driver), prints the
// final state, the rooms, the games listed and the chat lines received, says
// one line in the room, and leaves after a number of seconds.  With
// --list-game it hosts a listed game named NAME as the set-up does: lists it,
// prints the identifier the room gives it, changes its player count once and
// withdraws it before leaving.
//
//   vesk_lobby_probe --host H --port P --user U --password W
//                    [--room R] [--say TEXT] [--list-game NAME] [--seconds S] [--log FILE]
//                    [--login-seconds L]
//
// The login, room walk included, ends after L seconds (default 30) as "not
// responding"; SIGINT or SIGTERM ends it at once, as cancelled.
// Exit status: 0 after the seconds in a room, 1 when the login fails (its
// message is printed), 2 for bad arguments.  The probe works in a directory
// of its own, so its lobby preferences never touch a player's.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bitmap_dialogs/network_services.h"
#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "game_records.h"
#include "metaserver/metaserver_client.h"
#include "metaserver/metaserver_dialogs.h"
#include "metaserver/metaserver_games.h"
#include "metaserver/metaserver_preferences.h"
#include "metaserver/metaserver_readers.h"
#include "metaserver/metaserver_strings.h"
#include "metaserver/vesk_metaserver_packets.h"
#include "networking_procedures.h"
#include "subsystems.h"
#include "tag_files/preferences.h"
#include "tag_files/tag_files.h"
#include "uber/uber.h"
#include "vesk.h"
#include "tool_help.h"

namespace
{

volatile sig_atomic_t interrupted = 0;
void on_signal(int) { interrupted = 1; }
bool was_interrupted(void) { return interrupted != 0; }

int usage(FILE *out = stderr)
{
    fprintf(out, "usage: vesk_lobby_probe --host H --port P --user U --password W [--room R] [--say TEXT] "
                    "[--list-game NAME] [--seconds S] [--log FILE] [--login-seconds L]\n");
    return 2;
}

bool parse_number(const char *text, long minimum, long maximum, long *value)
{
    char *end = nullptr;
    const long number = text ? strtol(text, &end, 10) : 0;
    if (!text || !*text || *end || number < minimum || number > maximum) return false;
    *value = number;
    return true;
}

// What the probe prints of the events it sees (the lobby handles them too).
void print_event(int32_t event, void *data, int32_t length, void *)
{
    switch (event)
    {
    case _room_list_message:
    {
        room_info room;
        for (int32_t i = 0; get_indexed_room_data_from_packet(data, length, i, &room); ++i)
        {
            char address[16];
            InetNToA((uint32_t)room.host, address);
            printf("room %d players %d games %d host %s port %u\n", room.room_id, room.player_count, room.game_count,
                   address, (unsigned)(uint16_t)room.port);
        }
        break;
    }
    case _game_list_message:
    {
        metaserver_list_walk walk;
        start_game_list_walk(&walk, data, length);
        metaserver_game_aux_data aux;
        int32_t data_length;
        while (const uint8_t *game = next_metaserver_list_entry(&walk, nullptr, &aux, &data_length))
        {
            // The name follows the 568-byte listed description.
            char name[32] = "";
            if (data_length > 568)
                extract_string(name, (const char *)game + 568, sizeof(name), (const char *)game + data_length);
            printf("game %d verb %d name \"%s\"\n", aux.game_id, aux.verb, name);
        }
        break;
    }
    case _broadcast_message:
    case _directed_message:
    {
        uint8_t payload[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
        const int32_t size = length < (int32_t)sizeof(payload) ? length : (int32_t)sizeof(payload);
        if (size <= 0) break;
        memcpy(payload, data, (size_t)size);
        char name[32], text[256];
        if (!byteswap_metaserver_packet(payload, size, false) ||
            !extract_player_name_from_vesk_metaserver_chat_packet(payload, size, name, sizeof(name)) ||
            !extract_message_from_vesk_metaserver_chat_packet(payload, size, text, sizeof(text)))
        {
            printf("chat refused: malformed payload\n");
            break;
        }
        vesk_metaserver_chat_data header;
        memcpy(&header, payload, sizeof(header));
        printf("chat from %u \"%s\": %s\n", header.player_id, name, text);
        break;
    }
    default: break;
    }
}

// A working directory of the probe's own, removed at exit.
char home[] = "/tmp/vesk_lobby_probe_XXXXXX";

void remove_home(void)
{
    const std::string command = std::string("rm -rf '") + home + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "vesk_lobby_probe: could not remove %s\n", home);
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (tool_help_asked(argc, argv)) return usage(stdout), 0;
    const char *host = nullptr, *user = nullptr, *password = nullptr, *say = nullptr, *log_path = nullptr;
    const char *game_name = nullptr;
    long port = 0, room = -1, seconds = 10, login_seconds = 30;
    for (int i = 1; i < argc; i += 2)
    {
        const char *option = argv[i], *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value) return usage();
        if (!strcmp(option, "--host")) host = value;
        else if (!strcmp(option, "--port") && parse_number(value, 1, 65535, &port)) continue;
        else if (!strcmp(option, "--user")) user = value;
        else if (!strcmp(option, "--password")) password = value;
        else if (!strcmp(option, "--room") && parse_number(value, 0, 127, &room)) continue;
        else if (!strcmp(option, "--say")) say = value;
        else if (!strcmp(option, "--list-game")) game_name = value;
        else if (!strcmp(option, "--seconds") && parse_number(value, 0, 86400, &seconds)) continue;
        else if (!strcmp(option, "--login-seconds") && parse_number(value, 1, 3600, &login_seconds)) continue;
        else if (!strcmp(option, "--log")) log_path = value;
        else return usage();
    }
    if (!host || !port || !user || !password) return usage();
    if (strlen(password) > MAXIMUM_METASERVER_PASSWORD)
    {
        fprintf(stderr, "vesk_lobby_probe: a lobby password has at most %d characters\n", MAXIMUM_METASERVER_PASSWORD);
        return 2;
    }
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    signal(SIGPIPE, SIG_IGN);

    char log_file[4096] = "";
    if (log_path)
    {
        if (log_path[0] == '/') strlcpy(log_file, log_path, sizeof(log_file));
        else if (getcwd(log_file, sizeof(log_file))) slprintfcat(log_file, sizeof(log_file), "/%s", log_path);
    }
    if (!mkdtemp(home) || chdir(home) != 0)
    {
        fprintf(stderr, "vesk_lobby_probe: no working directory of its own\n");
        return 1;
    }
    atexit(remove_home);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    register_built_subsystems();
    set_vesk_headless(true);
    if (log_file[0]) open_log_file_at(log_file, "vesk_lobby_probe");
    initialize_tag_files();
    tag_files_open(0, nullptr, 0, -1, 0);
    clear_pending_error(); // no game data is needed to log in
    start_network_module_manager();
    set_default_metaserver_host_for_tools(host, (uint16_t)port);
    set_metaserver_login_time_limit((uint32_t)login_seconds * 1000);
    set_metaserver_login_cancel_check(was_interrupted);
    set_metaserver_event_tap(print_event);
    if (room >= 0)
    {
        // The room to enter is the stored desired room.
        if (metaserver_parameters *preferences = read_metaserver_preferences())
        {
            preferences->desired_room = (int16_t)room;
            write_metaserver_preferences();
            free_metaserver_preferences();
        }
    }

    new_player_data player = {};
    strlcpy(player.appearance.name, user, sizeof(player.appearance.name));
    strlcpy(player.appearance.team_name, "probe", sizeof(player.appearance.team_name));
    net_game_description description = {};
    const int16_t result = login_to_metaserver(&description, &player, user, password);
    const int16_t state = get_metaserver_login_final_state();
    printf("state %d\n", state);
    int status = 0;
    if (result != _metaserver_game_entered_successfully)
    {
        const char *message = get_metaserver_state_message(state);
        printf("login failed: result %d: %s\n", result, message ? message : "(no message)");
        status = 1;
    }
    else
    {
        printf("in room %d\n", get_metaserver_context()->desired_room);
        if (say)
        {
            uint8_t payload[MAXIMUM_VESK_METASERVER_CHAT_SIZE];
            const int32_t length = build_vesk_metaserver_chat_packet(
                payload, &player.appearance.primary_color, 0, (uint32_t)get_metaserver_user_id(), 0xFFFFFFFF, user, say);
            byteswap_metaserver_packet(payload, length, true);
            room_broadcast_data(payload, length);
        }
        net_game_description game = {};
        if (game_name)
        {
            // The field keeps what fits; the listing cuts the rest.
            memcpy(game.name, game_name, strnlen(game_name, sizeof(game.name)));
            game.player_count = 1;
            synchronize_game_with_metaserver(_synchronize_with_metaserver_create_game_verb, &game, 0);
        }
        const uint32_t start = machine_tick_count();
        while (!interrupted && machine_tick_count() - start < (uint32_t)seconds * 1000)
        {
            update_metaserver();
            if (game_name && game.player_count == 1 && get_listed_metaserver_game_id() >= 0)
            {
                printf("listed game id %d\n", get_listed_metaserver_game_id());
                game.player_count = 2;
                synchronize_game_with_metaserver(_synchronize_with_metaserver_change_game_verb, &game, 0);
            }
            if (get_metaserver_context()->state != _metaserver_connected)
            {
                printf("state %d\n", get_metaserver_context()->state);
                status = 1;
                break;
            }
            usleep(10000); // a frame's pause; the pump polls at a zero time-out
        }
        if (game_name) synchronize_game_with_metaserver(_synchronize_with_metaserver_delete_game_verb, &game, 0);
        logout_of_metaserver();
    }
    EndUber();
    close_log_file();
    return status;
}
