// Saved games: saving, autosaving, continuing and reverting single-player games.
#include "saved_games.h"
#include "console_procedures.h"

#include <cstdlib>
#include <cstring>

#include "cseries/byte_swapping.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "front_end_procedures.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "observer.h"
#include "recording.h"
#include "tag_files/tag_file_formats.h"
#include "tag_files/tag_files.h"
#include "vesk.h"

#define MT00_SCENARIO_TAG FOUR_CHARACTER_CODE('m', 't', '0', '0')
#define AUTOSAVE_CREATED_TEXT "Autosave created."

enum
{
    // The screen encodings a snapshot may have (the stored value is one less).
    FIRST_SNAPSHOT_SCREEN_ENCODING = 1, // 16-bit 555
    SNAPSHOT_32BIT_SCREEN_ENCODING = 3,
    MAXIMUM_STORED_SNAPSHOT_ENCODING = 2,
};

static struct saved_games_globals_data
{
    bool autosave_for_new_level_hack;
    // A continued or reverted game puts its camera and console back once its
    // first tick has run.
    bool restoration_pending;
    saved_game_restoration restoration;
    // The replay to the save point, as the front end's progress shows it.
    bool restore_progress_running; // from the continue until the save point
    bool restore_progress_shown;   // opened (on the first tick)
    int32_t restore_steps_reported;
} saved_games_globals;

static procedure_slot<render_saved_game_snapshot_procedure> snapshot_slot("saved game snapshot");

static void tell_restore_progress(int16_t event, int32_t steps)
{
    if (const auto procedure = get_front_end_procedures()->restore_progress) procedure(event, steps);
}

static void end_restore_progress(void)
{
    if (saved_games_globals.restore_progress_shown) tell_restore_progress(_restore_progress_close, 0);
    saved_games_globals.restore_progress_running = false;
    saved_games_globals.restore_progress_shown = false;
    saved_games_globals.restore_steps_reported = 0;
}

// At the end of each tick of a restored game's replay: the steps of its
// ticks reached so far, and the close at the save point.
static void report_restore_progress(void)
{
    if (!saved_games_globals.restore_progress_running) return;
    if (!saved_games_globals.restore_progress_shown)
    {
        // The continued game's map never started: this is another game.
        if (game_->type != _game_type_replay)
        {
            end_restore_progress();
            return;
        }
        saved_games_globals.restore_progress_shown = true;
        tell_restore_progress(_restore_progress_open, RESTORE_PROGRESS_STEPS);
    }
    const int32_t target = saved_games_globals.restoration.save_game_ticks;
    const int32_t time = game_->game_time < target ? game_->game_time : target;
    const int32_t reached = target > 0 ? (int32_t)((int64_t)time * RESTORE_PROGRESS_STEPS / target)
                                       : RESTORE_PROGRESS_STEPS;
    while (saved_games_globals.restore_steps_reported < reached)
    {
        saved_games_globals.restore_steps_reported += 1;
        tell_restore_progress(_restore_progress_step, RESTORE_PROGRESS_STEPS);
    }
    if (game_->game_time >= target) end_restore_progress();
}

bool register_render_saved_game_snapshot_procedure(render_saved_game_snapshot_procedure procedure)
{
    return snapshot_slot.fill(procedure);
}

static int32_t snapshot_bytes_per_pixel(int16_t screen_encoding)
{
    return screen_encoding == SNAPSHOT_32BIT_SCREEN_ENCODING ? 4 : 2;
}

// ---- reading ------------------------------------------------------------------------

const char *save_game_header_problem(const recording_file_header *file_header, const save_game_header *header)
{
    if (file_header->type != _saved_game_recording_type) return "not a saved game";
    if (header->encoding < 0 || header->encoding > MAXIMUM_STORED_SNAPSHOT_ENCODING) return "unknown snapshot encoding";
    if (header->snapshot_width <= 0 || header->snapshot_height <= 0) return "snapshot size not positive";
    const int64_t bytes_per_pixel = header->encoding == MAXIMUM_STORED_SNAPSHOT_ENCODING ? 4 : 2;
    const int64_t needed =
        SAVE_GAME_HEADER_SIZE + (int64_t)header->snapshot_width * header->snapshot_height * bytes_per_pixel;
    if (needed > file_header->snapshot_length) return "snapshot larger than its region";
    if (header->cached_console_line_count < 0 || header->cached_console_line_count > NUMBER_OF_CACHED_CONSOLE_LINES)
        return "console line count out of range";
    return nullptr;
}

bool read_saved_game_headers(int32_t tag_index, recording_file_header *file_header, save_game_header *header)
{
    if (tag_index == NONE) return false;
    if (!read_recording_header(tag_index, file_header)) return false;
    const char *name = tag_file_name_get(tag_index);
    if (file_header->type != _saved_game_recording_type || file_header->snapshot_length < SAVE_GAME_HEADER_SIZE)
    {
        ERROR_MESSAGE(_error_data_corrupted, "'%s' is not a saved game", name);
        return false;
    }
    if (!tag_file_read(tag_index, file_header->snapshot_offset, SAVE_GAME_HEADER_SIZE, header))
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read save game header");
        return false;
    }
    byte_swap_save_game_header(header);
    const char *problem = save_game_header_problem(file_header, header);
    if (problem)
    {
        ERROR_MESSAGE(_error_data_corrupted, "saved game '%s' is damaged: %s", name, problem);
        return false;
    }
    return true;
}

// Converts pixels between host order and big-endian (the same swap both ways).
static void byte_swap_snapshot_pixels(void *pixels, int32_t pixel_count, int32_t bytes_per_pixel)
{
    uint8_t *p = (uint8_t *)pixels;
    if (bytes_per_pixel == 4)
        for (int32_t i = 0; i < pixel_count; ++i, p += 4)
        {
            uint32_t value;
            memcpy(&value, p, 4);
            write_be32(p, value);
        }
    else
        for (int32_t i = 0; i < pixel_count; ++i, p += 2)
        {
            uint16_t value;
            memcpy(&value, p, 2);
            write_be16(p, value);
        }
}

void *read_save_game_snapshot(int32_t tag_index, int16_t *width, int16_t *height, int16_t *encoding)
{
    recording_file_header file_header;
    save_game_header header;
    if (!read_saved_game_headers(tag_index, &file_header, &header)) return nullptr;
    const int16_t screen_encoding = (int16_t)(header.encoding + 1);
    const int32_t bytes_per_pixel = snapshot_bytes_per_pixel(screen_encoding);
    const int32_t pixel_count = (int32_t)header.snapshot_width * header.snapshot_height;
    // The headers passed: the size is within the tag.
    void *pixels = malloc((size_t)pixel_count * (size_t)bytes_per_pixel);
    if (!pixels)
    {
        ERROR_MESSAGE(_error_file_read, "Unable to allocate buffer for snapshot");
        return nullptr;
    }
    if (!tag_file_read(tag_index, file_header.snapshot_offset + SAVE_GAME_HEADER_SIZE, pixel_count * bytes_per_pixel,
                       pixels))
    {
        ERROR_MESSAGE(_error_file_read, "unable to read the snapshot from the save game file");
        free(pixels);
        return nullptr;
    }
    byte_swap_snapshot_pixels(pixels, pixel_count, bytes_per_pixel);
    *width = header.snapshot_width;
    *height = header.snapshot_height;
    *encoding = screen_encoding;
    return pixels;
}

bool read_save_game_snapshot_picture(int32_t tag_index, uint8_t **pixels, int16_t *width, int16_t *height,
                                                int16_t *encoding)
{
    *pixels = (uint8_t *)read_save_game_snapshot(tag_index, width, height, encoding);
    return *pixels != nullptr;
}

// ---- saving ---------------------------------------------------------------------------

bool can_save_game(void)
{
    const new_game_data *data = get_current_game_data();
    return game_->type == _game_type_local && data && data->parameters.scenario_tag != MT00_SCENARIO_TAG;
}

bool save_game(void)
{
    if (!can_save_game()) return false;
    return create_saved_game(nullptr);
}

void set_autosave_for_new_level_hack(bool requested) { saved_games_globals.autosave_for_new_level_hack = requested; }
bool get_autosave_for_new_level_hack(void) { return saved_games_globals.autosave_for_new_level_hack; }

bool autosave_game(bool keeper)
{
    const bool requested = saved_games_globals.autosave_for_new_level_hack;
    saved_games_globals.autosave_for_new_level_hack = false;
    if (!keeper || !requested) return false;
    char name[RECORDING_NAME_SIZE + 1];
    slprintf(name, sizeof(name), "%s%s", AUTOSAVE_PREFIX, get_recording_time_string());
    if (!create_saved_game(name)) return false;
    print_to_console_procedure print = get_print_to_console_procedure();
    if (print) print(AUTOSAVE_CREATED_TEXT);
    return true;
}

// The 160 x 120 picture of the view, host order; black (16-bit) when the
// renderer gives none.  Null only when no memory is left.
static void *take_snapshot(int16_t *encoding)
{
    render_saved_game_snapshot_procedure render = snapshot_slot.get();
    if (render)
    {
        int16_t rendered_encoding = NONE;
        void *pixels = render(SAVE_GAME_SNAPSHOT_WIDTH, SAVE_GAME_SNAPSHOT_HEIGHT, &rendered_encoding);
        if (pixels && rendered_encoding >= FIRST_SNAPSHOT_SCREEN_ENCODING &&
            rendered_encoding <= SNAPSHOT_32BIT_SCREEN_ENCODING)
        {
            *encoding = rendered_encoding;
            return pixels;
        }
        if (pixels) log_message(__FILE__, __LINE__, "the snapshot's encoding %d is unknown: a black one is saved",
                                rendered_encoding);
        free(pixels);
    }
    *encoding = FIRST_SNAPSHOT_SCREEN_ENCODING;
    return calloc(SAVE_GAME_SNAPSHOT_WIDTH * SAVE_GAME_SNAPSHOT_HEIGHT, 2);
}

// The recording being taken, as create_saved_game copies it.
struct recording_source
{
    tag subgroup_tag;
    int32_t written_end;
    const uint8_t *unwritten;
    int16_t unwritten_size, unwritten_count;
};

// Writes one block of `size` bytes of commands (headers big-endian) at
// `*offset`, which moves past it.
static bool write_saved_game_block(int32_t *save, int32_t *offset, bool last, const uint8_t *commands, int32_t size,
                                   int32_t count)
{
    recording_block_header block = {last ? (uint32_t)_last_recording_block_flag : 0u, (uint16_t)size, (int16_t)count};
    byte_swap_recording_block_header(&block);
    if (!tag_file_write(save, *offset, sizeof(block), &block))
    {
        ERROR_MESSAGE(_error_file_write, "couldn't write block header to recording");
        return false;
    }
    if (size > 0 && !tag_file_write(save, *offset + (int32_t)sizeof(block), size, commands))
    {
        ERROR_MESSAGE(_error_file_write, "couldn't write command data to recording");
        return false;
    }
    *offset += (int32_t)sizeof(block) + size;
    return true;
}

// The saved-game header of the game now: the camera, the console's lines and
// the snapshot's size and encoding (host order).
static void build_save_game_header(save_game_header *header, int16_t screen_encoding)
{
    memset(header, 0, sizeof(*header));
    header->snapshot_width = SAVE_GAME_SNAPSHOT_WIDTH;
    header->snapshot_height = SAVE_GAME_SNAPSHOT_HEIGHT;
    world_location3d location;
    get_observer_location(&location);
    header->observer.x = location.position.x;
    header->observer.y = location.position.y;
    header->observer.yaw = location.yaw;
    header->zoom_factor = get_observer_zoom_factor();
    header->encoding = (int16_t)(screen_encoding - 1);
    const auto save_console = get_console_procedures()->save_cached_console_text;
    if (save_console) save_console(header->cached_console_text, &header->cached_console_line_count);
    if (header->cached_console_line_count < 0 || header->cached_console_line_count > NUMBER_OF_CACHED_CONSOLE_LINES)
        header->cached_console_line_count = 0;
    for (cached_line &line : header->cached_console_text) line.string[CACHED_LINE_STRING_SIZE - 1] = 0;
}

// Writes the film header of the save (its ending time now) and reads it back
// to `new_header`; the regions after it are not written yet, so only its own
// layout is checked.
static bool write_saved_game_film_header(int32_t *save, const recording_file_header *film_header,
                                         int32_t bytes_per_pixel, recording_file_header *new_header)
{
    if (!write_recording_header(save, _saved_game_recording_type, &film_header->game, game_->game_time,
                                film_header->monster_initializers_length, film_header->monster_placement_length,
                                save_game_snapshot_length(bytes_per_pixel)))
    {
        ERROR_MESSAGE(_error_file_write, "Unable to write the new recording header");
        return false;
    }
    if (!tag_file_read(*save, 0, RECORDING_FILE_HEADER_SIZE, new_header) ||
        (byte_swap_recording_header(new_header), recording_header_problem(new_header, -1) != nullptr))
    {
        ERROR_MESSAGE(_error_file_write, "Unable to read the new recording header");
        return false;
    }
    return true;
}

// Writes the saved-game header and the picture (both converted here) at the
// save's snapshot offset.
static bool write_saved_game_snapshot(int32_t *save, const recording_file_header *new_header, save_game_header *header,
                                      void *pixels, int32_t bytes_per_pixel)
{
    const int32_t pixel_count = SAVE_GAME_SNAPSHOT_WIDTH * SAVE_GAME_SNAPSHOT_HEIGHT;
    byte_swap_save_game_header(header);
    if (!tag_file_write(save, new_header->snapshot_offset, SAVE_GAME_HEADER_SIZE, header))
    {
        ERROR_MESSAGE(_error_file_write, "Unable to write the save game header header");
        return false;
    }
    byte_swap_snapshot_pixels(pixels, pixel_count, bytes_per_pixel);
    if (!tag_file_write(save, new_header->snapshot_offset + SAVE_GAME_HEADER_SIZE, pixel_count * bytes_per_pixel,
                        pixels))
    {
        ERROR_MESSAGE(_error_file_write, "Unable to game snapshot");
        return false;
    }
    return true;
}

// Copies the film's initializers, placement and every block written so far
// into the save; their length goes to `written`.
static bool copy_written_film(int32_t *save, int32_t film, const recording_file_header *film_header,
                              const recording_source *source, const recording_file_header *new_header, int32_t *written)
{
    *written = source->written_end - film_header->monster_initializers_offset;
    tag_file_info film_info;
    if (*written < 0 || !tag_file_info_get(film, &film_info) || source->written_end > film_info.size)
    {
        ERROR_MESSAGE(_error_file_read, "Unable to read the current recording for the save");
        return false;
    }
    if (*written == 0) return true;
    void *copy = malloc((size_t)*written);
    if (!copy)
    {
        ERROR_MESSAGE(_error_file_write, "Unable to allocate buffer for save game");
        return false;
    }
    if (!tag_file_read(film, film_header->monster_initializers_offset, *written, copy))
    {
        ERROR_MESSAGE(_error_file_read, "Unable to read the current recording for the save");
        free(copy);
        return false;
    }
    const bool copied = tag_file_write(save, new_header->monster_initializers_offset, *written, copy);
    free(copy);
    if (!copied) ERROR_MESSAGE(_error_file_write, "Unable to write the recording up to this point");
    return copied;
}

// The commands not written yet that ran by the save (the restore stops at
// its tick), then the end record with the state of that tick, which a
// restore compares, and the checksum of the save's header regions; the film
// goes on as it was.  `block_offset` is where the save's blocks end.
static bool write_saved_game_last_block(int32_t *save, const recording_source *source,
                                        const recording_file_header *new_header, int32_t block_offset)
{
    recording_file_header stored;
    uint32_t checksum;
    if (!tag_file_read(*save, 0, sizeof(stored), &stored) ||
        !recording_file_checksum(*save, &stored, new_header->data_offset, &checksum))
    {
        ERROR_MESSAGE(_error_file_write, "Unable to read the new saved game back");
        return false;
    }
    uint8_t commands[RECORDING_BUFFER_SIZE];
    int32_t count = 0;
    int32_t size = keep_commands_up_to(source->unwritten, source->unwritten_size, game_->game_time, commands, &count,
                                       nullptr);
    alignas(command_header) uint8_t end_record[MAXIMUM_RECORDING_END_RECORD_SIZE];
    const int32_t end_size = build_end_record_of_current_tick(checksum, end_record);
    // The end record goes into the last block, or after it when it is full.
    const bool end_fits = size + end_size <= RECORDING_BUFFER_SIZE;
    if (end_fits)
    {
        memcpy(commands + size, end_record, (size_t)end_size);
        size += end_size;
        ++count;
    }
    return write_saved_game_block(save, &block_offset, end_fits, commands, size, count) &&
           (end_fits || write_saved_game_block(save, &block_offset, true, end_record, end_size, 1));
}

// Steps 4 to 9: everything of the saved game `*save` after its creation.
static bool write_saved_game(int32_t *save, const recording_source *source, void *pixels, int16_t screen_encoding)
{
    const int32_t film = tag_file_open(RECORDING_GROUP_TAG, source->subgroup_tag);
    recording_file_header film_header;
    if (film == NONE || !read_recording_header(film, &film_header))
    {
        ERROR_MESSAGE(_error_file_read, "Unable to read the old recording header");
        return false;
    }
    save_game_header header;
    build_save_game_header(&header, screen_encoding);
    const int32_t bytes_per_pixel = snapshot_bytes_per_pixel(screen_encoding);
    recording_file_header new_header;
    int32_t written = 0;
    return write_saved_game_film_header(save, &film_header, bytes_per_pixel, &new_header) &&
           write_saved_game_snapshot(save, &new_header, &header, pixels, bytes_per_pixel) &&
           copy_written_film(save, film, &film_header, source, &new_header, &written) &&
           write_saved_game_last_block(save, source, &new_header, new_header.monster_initializers_offset + written);
}

bool create_saved_game(const char *name)
{
    recording_source source;
    if (!get_recording_in_progress(&source.subgroup_tag, &source.written_end, &source.unwritten, &source.unwritten_size,
                                   &source.unwritten_count) ||
        tag_file_open(RECORDING_GROUP_TAG, source.subgroup_tag) == NONE)
    {
        ERROR_MESSAGE(_error_file_read, "Unable to read the current recording tag");
        return false;
    }
    int16_t screen_encoding;
    void *pixels = take_snapshot(&screen_encoding);
    if (!pixels)
    {
        ERROR_MESSAGE(_error_file_write, "Unable to allocate the snapshot");
        return false;
    }

    // A tag name holds fewer characters than a name may be typed with: the
    // copy is bounded, never the name.
    char chosen[TAG_NAME_SIZE];
    if (name)
        strlcpy(chosen, name, sizeof(chosen));
    else
    {
        const auto dialog = get_film_dialog_procedures()->saved_game_name_dialog;
        if (!dialog)
        {
            ERROR_MESSAGE(_error_file_write, "the save dialog cannot open: the game was not saved");
            free(pixels);
            return false;
        }
        const char *last = get_recording_last_save_game_name();
        // (No name is no autosave: tested first, which also keeps the compiler,
        // seeing the recording's "" when no game records, from warning of a
        // comparison with an empty string.)
        const bool autosaved = last[0] && (strncmp(last, AUTOSAVE_PREFIX, strlen(AUTOSAVE_PREFIX)) == 0 ||
                                           strncmp(last, EARLIER_AUTOSAVE_PREFIX, strlen(EARLIER_AUTOSAVE_PREFIX)) == 0);
        const char *default_name = last[0] && !autosaved
                                       ? last
                                       : get_replay_filename_string(_string_index_new_saved_game_filename);
        chosen[0] = 0;
        const saved_game_name_result answer = dialog(default_name, pixels, SAVE_GAME_SNAPSHOT_WIDTH,
                                                     SAVE_GAME_SNAPSHOT_HEIGHT, screen_encoding, chosen, sizeof(chosen));
        if (answer != _saved_game_name_chosen)
        {
            free(pixels); // nothing written
            if (answer == _saved_game_name_cancelled) return true;
            ERROR_MESSAGE(_error_file_write, "the save dialog cannot open: the game was not saved");
            return false;
        }
        chosen[sizeof(chosen) - 1] = 0;
    }

    int32_t save = tag_file_new_pending(SAVED_GAME_GROUP_TAG, chosen, SAVE_GAME_VERSION_NUMBER);
    if (save == NONE)
    {
        ERROR_MESSAGE(_error_file_write, "Unable to create a new save game file");
        free(pixels);
        return false;
    }
    const bool written = write_saved_game(&save, &source, pixels, screen_encoding);
    free(pixels);
    tag_file_info info;
    // The new save stays aside, unseen, until it is whole and on disk; only
    // the commit gives it its name (over an earlier save of that name).
    if (!written || !tag_file_info_get(save, &info) || !tag_file_commit(save))
    {
        // Half a saved game would be offered for loading: it goes, and an
        // earlier save of that name is kept.
        tag_file_delete(save);
        ERROR_MESSAGE(_error_file_write, "The game could not be saved as \"%s\": any earlier save of that name is kept",
                      chosen);
        return false;
    }
    set_last_save_game(info.subgroup_tag, tag_file_name_get(save));
    log_message(nullptr, -1, "Saved game \"%s\" at tick %d", tag_file_name_get(save), game_->game_time);
    return true;
}

// ---- continuing and reverting ---------------------------------------------------------

bool continue_saved_game_from_header(int32_t tag_index, new_game_data *data, saved_game_restoration *restoration)
{
    recording_file_header file_header;
    save_game_header header;
    tag_file_info info;
    if (!read_saved_game_headers(tag_index, &file_header, &header) || !tag_file_info_get(tag_index, &info))
        return false;
    char name[RECORDING_NAME_SIZE + 1];
    strlcpy(name, tag_file_name_get(tag_index), sizeof(name));
    // Checked whole before the game being played loses its film: a damaged
    // save leaves it running and recorded.
    if (const char *problem = recording_file_problem(tag_index, &file_header, info.size))
    {
        ERROR_MESSAGE(_error_data_corrupted, "saved game '%s' is damaged: %s", name, problem);
        return false;
    }
    char data_text[256];
    if (const char *problem = recording_data_problem(&file_header, data_text, sizeof(data_text)))
    {
        ERROR_MESSAGE(_error_data_mismatch, "saved game '%s': %s", name, problem);
        return false;
    }
    // The game being recorded ends here; the saved game's replay takes over.
    stop_recording();
    if (!private_start_replay(info.subgroup_tag, data, false)) return false;
    restoration->save_game_ticks = file_header.recording_ending_time;
    restoration->observer = header.observer;
    restoration->zoom_factor = header.zoom_factor;
    memcpy(restoration->cached_console_text, header.cached_console_text, sizeof(restoration->cached_console_text));
    for (cached_line &line : restoration->cached_console_text) line.string[CACHED_LINE_STRING_SIZE - 1] = 0;
    restoration->cached_console_line_count = header.cached_console_line_count;
    set_last_save_game(info.subgroup_tag, name);
    return true;
}

bool continue_saved_game(new_game_data *data, saved_game_restoration *restoration)
{
    const auto dialog = get_film_dialog_procedures()->select_game_to_load;
    if (!dialog) return false;
    const int32_t tag_index = dialog();
    if (tag_index == NONE) return false;
    return continue_saved_game_from_header(tag_index, data, restoration);
}

bool revert_to_last_saved_game(new_game_data *data, saved_game_restoration *restoration)
{
    const tag last = get_last_save_game_tag();
    const int32_t tag_index = last == (tag)NONE ? NONE : tag_file_open(SAVED_GAME_GROUP_TAG, last);
    if (tag_index != NONE && continue_saved_game_from_header(tag_index, data, restoration)) return true;
    log_message(nullptr, -1, "no saved game to revert to: the level starts again");
    change_single_player_map(NONE, false);
    return false;
}

bool could_revert_to_last_saved_game(void) { return get_last_save_game_tag() != (tag)NONE; }

void reset_last_saved_game(void) { set_last_save_game(NONE, ""); }

const char *get_last_save_game_name(void) { return get_recording_last_save_game_name(); }

static bool any_tag_of_group(tag group)
{
    tag_file_info filter;
    tag_file_info_new(&filter);
    filter.group_tag = group;
    return tag_file_enumerate(&filter, nullptr, -1) > 0;
}

bool save_game_exists(void) { return any_tag_of_group(SAVED_GAME_GROUP_TAG); }
bool replay_saved_game_available(void) { return any_tag_of_group(RECORDING_GROUP_TAG); }

// Starts the map of a game continue or revert set up.
static bool start_restored_game(const new_game_data *data, const saved_game_restoration *restoration)
{
    end_restore_progress();
    saved_games_globals.restoration = *restoration;
    saved_games_globals.restoration_pending = true;
    saved_games_globals.restore_progress_running = true;
    set_next_game_data(data);
    set_game_state(_game_state_running);
    return true;
}

bool handle_continue_game(void)
{
    new_game_data data;
    saved_game_restoration restoration;
    if (!continue_saved_game(&data, &restoration)) return false;
    return start_restored_game(&data, &restoration);
}

bool revert_game(void)
{
    new_game_data data;
    saved_game_restoration restoration;
    if (!revert_to_last_saved_game(&data, &restoration)) return false;
    return start_restored_game(&data, &restoration);
}

// The camera and console of a restored game, once it runs.
static void apply_pending_restoration(void)
{
    // Only the restored game's first tick: Restore from the quit dialog asks
    // while the game it replaces still runs a tick or so, whose camera would
    // take the saved one and lose it to the new map's start.
    if (!saved_games_globals.restoration_pending || game_->game_time != 1) return;
    saved_games_globals.restoration_pending = false;
    const saved_game_restoration *r = &saved_games_globals.restoration;
    world_location3d location;
    memset(&location, 0, sizeof(location));
    location.position.x = r->observer.x;
    location.position.y = r->observer.y;
    location.yaw = r->observer.yaw;
    set_actual_observer_location_and_zoom(&location, r->zoom_factor, false);
    const auto restore = get_console_procedures()->restore_cached_console_text;
    if (restore) restore(r->cached_console_text, r->cached_console_line_count);
}

static void tick_autosave(void)
{
    apply_pending_restoration();
    if (game_->type == _game_type_local) autosave_game(true);
    report_restore_progress();
}

void register_saved_games_hooks(void)
{
    register_tick_procedure(_tick_autosave, tick_autosave);
}

void dispose_saved_games(void)
{
    memset(&saved_games_globals, 0, sizeof(saved_games_globals));
    reset_last_saved_game();
}

#undef MT00_SCENARIO_TAG
#undef AUTOSAVE_CREATED_TEXT
