// The program's entry point: prepares the environment (working directory, log,
// crash handler, system information, single-instance lock) and, until the game
// core exists, stops there.

#include <cstdio>
#include <cstring>

#include "cseries/cseries.h"
#include "cseries/crash.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/system_info.h"
#include "version.h"

// The header line of this run in the log: version and command line.
static void build_log_header(char *buffer, size_t size, int argc, char **argv)
{
    slprintf(buffer, size, "%s started:", VESK_VERSION_STRING);
    for (int i = 0; i < argc; ++i) slprintfcat(buffer, size, " %s", argv[i]);
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--version") == 0)
    {
        printf("%s\n", VESK_VERSION_STRING);
        return 0;
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

    if (!acquire_single_instance_lock())
    {
        log_message(nullptr, -1, "Another copy of the game is already running.");
        show_message_box("Another copy of the game is already running.");
        close_log_file();
        return 1;
    }

    // The game core (start-up of the subsystems, the main loop and the game
    // states) is not built yet: say so and stop cleanly.
    log_message(nullptr, -1, "Environment ready; the game core is not built yet.");
    printf("%s: environment ready (log, crash handler, single-instance lock);\n"
           "the game itself is not built yet.\n", VESK_VERSION_STRING);

    release_single_instance_lock();
    dispose_crash_handler();
    close_log_file();
    return 0;
}
