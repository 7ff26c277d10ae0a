// vesk_sound: plays one sound of the data set the way the game does, through
// the sound manager and its own attenuation, and lets it run.  The listener
// stands at the origin facing west (+x); a sound --at X,Y plays there (world
// units: y south, so a negative y is on the listener's right), otherwise it
// plays to the listener everywhere.
//
//   vesk_sound [--data DIR] --sound TAG [--at X,Y] [--seconds S]
//
// Exits 0 when the sound was played, and also without an audio output (it
// says so); 1 when the data cannot be opened or the sound is not in it; 2 for
// a bad command line.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "game_time.h"
#include "sound/sound_definitions.h"
#include "sound/sound_manager.h"
#include "sound/sound_openal.h"
#include "subsystems.h"
#include "tool_folders.h"
#include "version.h"
#include "vesk.h"
#include "tool_help.h"

static int usage(FILE *out = stderr)
{
    fprintf(out, "usage: vesk_sound [--data DIR] --sound TAG [--at X,Y] [--seconds S]\n");
    return 2;
}

static void quiet_message_box(const char *) {}

static const world_location3d *listener_at_origin(void)
{
    static const world_location3d listener = {};
    return &listener;
}

int main(int argc, char **argv)
{
    report_failed_writes();
    if (tool_help_asked(argc, argv)) return usage(stdout), 0;
    const char *data = nullptr, *sound_name = nullptr;
    bool positional = false;
    int32_t x = 0, y = 0;
    double seconds = 2.0;
    for (int i = 1; i < argc; ++i)
    {
        const bool has_value = i + 1 < argc;
        if (!strcmp(argv[i], "--data") && has_value)
            data = argv[++i];
        else if (!strcmp(argv[i], "--sound") && has_value)
            sound_name = argv[++i];
        else if (!strcmp(argv[i], "--at") && has_value)
        {
            if (sscanf(argv[++i], "%d,%d", &x, &y) != 2) return usage();
            positional = true;
        }
        else if (!strcmp(argv[i], "--seconds") && has_value)
        {
            seconds = atof(argv[++i]);
            if (!(seconds >= 0.0 && seconds <= 600.0)) return usage();
        }
        else
            return usage();
    }
    if (!sound_name || strlen(sound_name) != 4) return usage();
    const tag sound_tag = FOUR_CHARACTER_CODE(sound_name[0], sound_name[1], sound_name[2], sound_name[3]);

    setenv("SDL_VIDEODRIVER", "dummy", 1);
    register_built_subsystems();
    // The log goes where vesk_sound was called from, not into the game's folder.
    char called_from[4096];
    if (!getcwd(called_from, sizeof(called_from))) strlcpy(called_from, ".", sizeof(called_from));
    if (data ? chdir(data) != 0 : !set_working_directory_to_executable())
    {
        fprintf(stderr, "vesk_sound: cannot enter the data directory \"%s\"\n", data ? data : "(the program's)");
        return 1;
    }
    open_tool_log_file("vesk_sound", called_from[0] == '/' ? called_from : nullptr,
                       VESK_VERSION_STRING " vesk_sound started");
    if (!use_private_player_folders("vesk_sound"))
    {
        close_log_file();
        return 1;
    }
    set_message_box_proc(quiet_message_box);
    set_vesk_without_single_instance_lock(true);
    set_sound_manager_listener_for_tests(listener_at_origin);
    set_openal_listener_procedure(listener_at_origin);
    if (!initialize_vesk())
    {
        fprintf(stderr, "vesk_sound: the game could not start up (see the log)\n");
        close_log_file();
        return 1;
    }
    if (get_sound_mute())
    {
        printf("vesk_sound: no audio output (OpenAL is missing or cannot open a device): nothing is played\n");
        close_log_file();
        return 0;
    }

    initialize_sound_definitions_for_new_map();
    initialize_sound_manager_for_new_map();
    const int32_t sound_index =
        try_definition_tag_to_index(&sound_definitions, sound_tag, true, _definition_lookup_quiet_flag);
    if (sound_index == NONE)
    {
        fprintf(stderr, "vesk_sound: the sound '%s' is not in the data\n", sound_name);
        dispose_sound_manager();
        close_log_file();
        return 1;
    }
    world_location3d place = {};
    place.position = {x, y, 0};
    play_sound_with_flags((int16_t)sound_index, NONE, positional ? &place : nullptr, 256, 0);
    printf("vesk_sound: playing '%s' %s for %.1f s\n", sound_name, positional ? "at a point" : "to the listener",
           seconds);

    // The game's clock: one local tick a thirtieth of a second, one update a tick.
    const int32_t ticks = (int32_t)(seconds * 30.0);
    for (int32_t tick = 0; tick < ticks; ++tick)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
        ++game_->local_time;
        update_sound_manager(1);
    }
    dispose_sound_manager();
    close_log_file();
    return 0;
}
