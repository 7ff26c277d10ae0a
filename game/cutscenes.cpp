// Cutscene movies through the outside player.

#include "cutscenes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cseries/cstrings.h"
#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "game_states.h"
#include "input/input_controller_sdl.h"
#include "mesh.h"
#include "mesh_format.h"
#include "screen_sdl.h"
#include "session_state.h"
#include "tag_files/tag_files.h"

const byte_swap_code cutscene_archive_header_bs[] = {_begin_bs_array, 1, 40, _4byte, _2byte, 2, _end_bs_array};
const byte_swap_code cutscene_archive_entry_bs[] = {_begin_bs_array, 1, 36, 4, 8, _4byte, _4byte, 8, _end_bs_array};

static const char *const cutscene_extensions[NUMBER_OF_CUTSCENE_EXTENSIONS] = {"mov", "smk", "mpg"};
static const int16_t cutscene_locations[] = {_file_reference_application_relative, _file_reference_data_relative};

static struct
{
    ffplay_globals player;
    bool failure_reported; // the player's failure is told once per run
} cutscene_globals;

enum
{
    MAXIMUM_CUTSCENE_NAME_LENGTH = 63,
};

// The caller's name without its extension, in `buffer`: the caller's own
// string (the intro's is a literal) is never written.
static const char *cut_extension(const char *name, char *buffer, size_t size)
{
    strlcpy(buffer, name ? name : "", size);
    char *dot = strrchr(buffer, '.');
    if (dot) *dot = '\0';
    return buffer;
}

static bool cutscene_reference(file_reference *reference, int16_t location, const char *file_name)
{
    file_reference_create(reference, location);
    return file_reference_add_directory(reference, CUTSCENE_DIRECTORY_NAME) &&
           file_reference_set_name(reference, file_name);
}

// The movie "<name>.<extension>" in location 0, else 1.
static bool find_cutscene_file(const char *name, int32_t extension, file_reference *found)
{
    char file_name[MAXIMUM_FILE_NAME];
    if (!*name) return false;
    slprintf(file_name, sizeof(file_name), "%s.%s", name, cutscene_extensions[extension]);
    for (int16_t location : cutscene_locations)
    {
        if (cutscene_reference(found, location, file_name) && file_exists(found)) return true;
    }
    return false;
}

bool initialize_cutscenes(void)
{
    // The folder is made for the player to put movies in; a tool (whose films
    // and saves go to a folder of its own) leaves the game's folder alone.
    if (tag_files_player_folders_root()[0]) return true;
    file_reference directory;
    file_reference_create(&directory, _file_reference_application_relative);
    if (!file_reference_add_directory(&directory, CUTSCENE_DIRECTORY_NAME) || !file_create(&directory))
    {
        log_message(__FILE__, __LINE__, "the directory \"%s\" could not be made: movies of the archive cannot be copied",
                    CUTSCENE_DIRECTORY_NAME);
        clear_pending_error();
    }
    return true;
}

// ---- the archive -------------------------------------------------------------------

static bool refuse_archive(file_reference *archive, const char *reason, const char *name)
{
    log_message(__FILE__, __LINE__, "the movie '%s' cannot be copied out of \"%s\": %s", name,
                CUTSCENE_ARCHIVE_FILE_NAME, reason);
    file_close(archive);
    return false;
}

bool extract_vux_cutscene(file_reference *out, const char *name)
{
    if (!name || strlen(name) != CUTSCENE_ARCHIVE_NAME_LENGTH) return false;
    file_reference archive;
    if (!cutscene_reference(&archive, _file_reference_application_relative, CUTSCENE_ARCHIVE_FILE_NAME) ||
        !file_open(&archive, _permission_read_flag))
        return false;

    const int64_t size = file_get_size(&archive);
    cutscene_archive_header header;
    if (size < (int64_t)sizeof(header)) return refuse_archive(&archive, "it is shorter than its header", name);
    if (!file_read_from_position(&archive, 0, sizeof(header), &header))
        return refuse_archive(&archive, "its header cannot be read", name);
    byte_swap_data("cutscene archive header", &header, sizeof(header), 1, cutscene_archive_header_bs);
    if (header.entry_count == 0) return refuse_archive(&archive, "it holds no movies", name);
    if (header.directory_offset < 0 ||
        (int64_t)header.directory_offset + (int64_t)header.entry_count * CUTSCENE_ARCHIVE_ENTRY_SIZE > size)
        return refuse_archive(&archive, "its directory runs past its end", name);

    cutscene_archive_entry entry;
    bool found = false;
    for (int32_t index = 0; index < header.entry_count && !found; ++index)
    {
        if (!file_read_from_position(&archive, (int64_t)header.directory_offset + (int64_t)index * sizeof(entry),
                                     sizeof(entry), &entry))
            return refuse_archive(&archive, "its directory cannot be read", name);
        found = memcmp(entry.name, name, CUTSCENE_ARCHIVE_NAME_LENGTH) == 0;
    }
    if (!found)
    {
        file_close(&archive);
        return false;
    }
    byte_swap_data("cutscene archive entry", &entry, sizeof(entry), 1, cutscene_archive_entry_bs);
    if (entry.data_offset < 0 || entry.data_length < 0 || (int64_t)entry.data_offset + entry.data_length > size)
        return refuse_archive(&archive, "its entry runs past the archive's end", name);

    void *data = malloc(entry.data_length > 0 ? (size_t)entry.data_length : 1);
    if (!data) return refuse_archive(&archive, "no memory for it", name);
    const bool read = entry.data_length == 0 ||
                      file_read_from_position(&archive, entry.data_offset, entry.data_length, data);
    file_close(&archive);
    if (!read)
    {
        free(data);
        log_message(__FILE__, __LINE__, "the movie '%s' could not be read out of \"%s\"", name,
                    CUTSCENE_ARCHIVE_FILE_NAME);
        return false;
    }

    char file_name[MAXIMUM_FILE_NAME];
    slprintf(file_name, sizeof(file_name), "%s.smk", name);
    // Written aside and renamed whole: a failed copy leaves no movie behind.
    const bool written = cutscene_reference(out, _file_reference_application_relative, file_name) &&
                         file_write_from_memory(out, entry.data_length, data);
    free(data);
    if (!written)
        log_message(__FILE__, __LINE__, "the movie '%s' could not be written out of \"%s\"", name,
                    CUTSCENE_ARCHIVE_FILE_NAME);
    return written;
}

// ---- the player --------------------------------------------------------------------

void parse_ffplay_help_line(ffplay_globals *globals, const char *line)
{
    if (strstr(line, "-autoexit"))
        globals->has_autoexit = true;
    else if (strstr(line, "-exitonkeydown"))
        globals->has_exitonkeydown = true;
    else if (strstr(line, "-exitonmousedown"))
        globals->has_exitonmousedown = true;
}

const ffplay_globals *get_ffplay_globals(void) { return &cutscene_globals.player; }

void reset_cutscenes_for_tests(void) { memset(&cutscene_globals, 0, sizeof(cutscene_globals)); }

static void probe_player_options(void)
{
    ffplay_globals *player = &cutscene_globals.player;
    if (player->probed) return;
    player->probed = true; // also when the pipe cannot be opened
    fflush(nullptr);
    FILE *help = popen(CUTSCENE_PLAYER_PROGRAM " -h 2>/dev/null", "r");
    if (!help)
    {
        log_message(__FILE__, __LINE__, "\"%s -h\" could not be run: the movie player gets no options",
                    CUTSCENE_PLAYER_PROGRAM);
        return;
    }
    char line[CUTSCENE_PLAYER_HELP_LINE_SIZE];
    while (fgets(line, sizeof(line), help)) parse_ffplay_help_line(player, line);
    pclose(help);
}

// Runs the player on `path` and waits for it: true on exit status 0.
static bool run_cutscene_player(const char *path)
{
    probe_player_options();
    const ffplay_globals *player = &cutscene_globals.player;
    // Built before the fork: the child only executes or leaves.
    std::vector<const char *> arguments = {CUTSCENE_PLAYER_PROGRAM, "-fs"};
    if (player->has_autoexit) arguments.push_back("-autoexit");
    if (player->has_exitonkeydown) arguments.push_back("-exitonkeydown");
    if (player->has_exitonmousedown) arguments.push_back("-exitonmousedown");
    arguments.push_back(path);
    arguments.push_back(nullptr);

    // The player's chatter stays out of the game's terminal.
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
    {
        log_message(__FILE__, __LINE__, "no process for the movie player: %s", strerror(errno));
        if (quiet >= 0) close(quiet);
        return false;
    }
    if (child == 0)
    {
        if (quiet >= 0)
        {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        execvp(arguments[0], (char *const *)arguments.data());
        // Not exit(): the parent's atexit handlers and stdio buffers are not the child's.
        _exit(1);
    }
    if (quiet >= 0) close(quiet);
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
    {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Plays one candidate file; the first failure of the run is reported.
static bool play_cutscene_file(const file_reference *movie)
{
    char path[PATH_MAX];
    file_reference_get_name(movie, _name_full_path, path, sizeof(path));
    set_sdl_windowed_mode(true);
    set_sdl_grab_mode(false);
    const bool played = run_cutscene_player(path);
    // The player's window is gone: the game's grab comes back as the player chose it.
    set_sdl_grab_mode(get_sdl_grab_mode());
    if (played) return true;
    if (!cutscene_globals.failure_reported)
    {
        cutscene_globals.failure_reported = true;
        const char *slash = strrchr(path, '/');
        log_message(__FILE__, __LINE__, "Warning: Failed to play cutscene '%s' using %s - make sure FFmpeg is installed.",
                    slash ? slash + 1 : path, CUTSCENE_PLAYER_PROGRAM);
    }
    return false;
}

bool found_cutscene(const char *name)
{
    char buffer[MAXIMUM_CUTSCENE_NAME_LENGTH + 1];
    const char *cut = cut_extension(name, buffer, sizeof(buffer));
    file_reference movie;
    for (int32_t extension = 0; extension < NUMBER_OF_CUTSCENE_EXTENSIONS; ++extension)
    {
        if (find_cutscene_file(cut, extension, &movie)) return true;
    }
    if (extract_vux_cutscene(&movie, cut)) return true;
    error_message(_error_data_missing, __FILE__, __LINE__, "Warning: Unable to find cutscene '%s'.", cut);
    return false;
}

bool display_cutscene(const char *name, bool flag)
{
    (void)flag;
    char buffer[MAXIMUM_CUTSCENE_NAME_LENGTH + 1];
    const char *cut = cut_extension(name, buffer, sizeof(buffer));
    const int16_t interrupted = enter_interrupting_game_state(_game_state_displaying_cutscene);
    bool played = false;
    file_reference movie;
    for (int32_t extension = 0; extension < NUMBER_OF_CUTSCENE_EXTENSIONS && !played; ++extension)
    {
        if (find_cutscene_file(cut, extension, &movie)) played = play_cutscene_file(&movie);
    }
    if (!played && extract_vux_cutscene(&movie, cut)) played = play_cutscene_file(&movie);
    leave_interrupting_game_state(interrupted);
    return played;
}

bool display_mesh_cutscene(tag mesh_tag, int16_t which)
{
    if (which == NONE || prevent_cutscenes_from_playing()) return false;
    if (which < 0 || which >= NUMBER_OF_CUTSCENES)
    {
        log_message(__FILE__, __LINE__, "assertion: which_cutscene>=0 && which_cutscene<NUMBER_OF_CUTSCENE_MOVIE_TAGS");
        return false;
    }
    mesh_header header;
    if (!read_mesh_header(mesh_tag, &header) || !header.cutscene_names[which][0]) return false;
    const int16_t interrupted = enter_interrupting_game_state(_game_state_displaying_cutscene);
    const bool played = display_cutscene(header.cutscene_names[which], false);
    leave_interrupting_game_state(interrupted);
    return played;
}
