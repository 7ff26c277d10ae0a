// The program's entry point: prepares the environment, brings the game up,
// runs the main loop until the game state is "quit", and releases everything.
//
// Command line: "--version" prints the version and exits; "--oos_check"
// replays every film of "oos_checker_films" and logs whether each stays in
// step; a single other argument is a film to play; without arguments the game
// starts at the intro or the main menu.

#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "cseries/cseries.h"
#include "action_queue_procedures.h"
#include "cseries/crash.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/system_info.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "iniparser3.0b/inifile.h"
#include "networking_procedures.h"
#include "subsystems.h"
#include "version.h"
#include "vesk.h"

enum command_line_mode
{
    _mode_normal,
    _mode_film,
    _mode_oos_check,
    _mode_version,
    _mode_bad_arguments,
};

static int32_t parse_command_line(int argc, char **argv)
{
    if (argc <= 1) return _mode_normal;
    if (argc > 2) return _mode_bad_arguments;
    if (strcmp(argv[1], "--version") == 0) return _mode_version;
    if (strcmp(argv[1], "--oos_check") == 0) return _mode_oos_check;
    if (strncmp(argv[1], "--", 2) == 0 || argv[1][0] == 0) return _mode_bad_arguments;
    return _mode_film;
}

// The header line of this run in the log: version and command line.
static void build_log_header(char *buffer, size_t size, int argc, char **argv)
{
    slprintf(buffer, size, "%s started:", VESK_VERSION_STRING);
    for (int i = 0; i < argc; ++i) slprintfcat(buffer, size, " %s", argv[i]);
}

static void release_environment(void)
{
    dispose_poweruser_settings();
    release_single_instance_lock();
    dispose_crash_handler();
    close_log_file();
}

// Its one line: on standard output for --help, else on standard error.
static void print_usage(FILE *out, const char *program)
{
    fprintf(out, "usage: %s [--version | --oos_check | film]\n", program);
}

static void message_to_standard_error(const char *text)
{
    fprintf(stderr, "%s\n", text ? text : "");
}

int main(int argc, char **argv)
{
    if (argc >= 2 && !strcmp(argv[1], "--help"))
    {
        print_usage(stdout, argv[0]);
        return 0;
    }
    register_built_subsystems();
    const auto set_keyboard_task = get_action_queue_procedures()->set_keyboard_queue_task_state;
    if (set_keyboard_task) set_keyboard_task(false);

    const int32_t mode = parse_command_line(argc, argv);
    if (mode == _mode_version)
    {
        printf("%s\n", VESK_VERSION_STRING);
        return 0;
    }
    if (mode == _mode_bad_arguments)
    {
        print_usage(stderr, argv[0]);
        return 2;
    }

    // The game runs from its own directory: a film path relative to where it
    // was called from is made whole first.
    char film_path[PATH_MAX] = "";
    if (mode == _mode_film)
    {
        char directory[PATH_MAX];
        if (argv[1][0] != '/' && getcwd(directory, sizeof(directory)))
            slprintf(film_path, sizeof(film_path), "%s/%s", directory, argv[1]);
        else
            strlcpy(film_path, argv[1], sizeof(film_path));
    }

    if (!set_working_directory_to_executable())
    {
        fprintf(stderr, "%s: cannot change into the program's directory\n", VESK_VERSION_STRING);
        return 1;
    }
    char header[512];
    build_log_header(header, sizeof(header), argc, argv);
    open_log_file(header);
    initialize_crash_handler();
    initialize_system_information();
    set_vesk_headless(mode == _mode_oos_check);
    // A headless check is run by scripts with nobody to close a box: what
    // would be shown (another copy running, a patch missing) goes to
    // standard error and the log, and the check ends with its status.
    if (mode == _mode_oos_check) set_message_box_proc(message_to_standard_error);

    if (!initialize_vesk())
    {
        release_environment();
        return 1;
    }
    start_network_module_manager();
    set_main_global_flags(0);

    int32_t status = 0;
    if (mode == _mode_film && !start_film_from_path(film_path)) status = 1;
    if (mode == _mode_normal) pick_first_game_state();

    if (set_keyboard_task) set_keyboard_task(true);
    if (!verify_required_patches())
    {
        // The input timer was just started: stop it before the environment goes.
        if (set_keyboard_task) set_keyboard_task(false);
        release_environment();
        return 11;
    }

    if (mode == _mode_oos_check)
    {
        status = run_out_of_sync_check();
    }
    else if (status == 0)
    {
        while (game_->state != _game_state_quit)
        {
            if (!game_state_change_pending(nullptr) && game_->state == _game_state_starting_up)
                set_game_state(_game_state_quit); // nothing was asked of the first pass
            update_everything();
        }
        if (get_vesk_exit_status() != 0) status = get_vesk_exit_status();
    }

    if (set_keyboard_task) set_keyboard_task(false);
    // The map first: its bars dispose their own dialogs, which must still be open.
    dispose_vesk_from_old_map();
    const close_all_dialogs_procedure close_dialogs = get_close_all_dialogs_procedure();
    if (close_dialogs) close_dialogs();
    log_message(nullptr, -1, "%s exits with status %d", VESK_VERSION_STRING, status);
    release_environment();
    return status;
}
