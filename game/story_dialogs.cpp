// The prologue and epilogue story dialogs.

#include "story_dialogs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_dialogs.h"
#include "bitmap_dialogs/bitmap_item_control.h"
#include "bitmap_dialogs/postgame_report_control.h"
#include "bitmap_dialogs/prologue_control.h"
#include "bitmap_dialogs/static_text_control.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "cseries/timers.h"
#include "cutscenes.h"
#include "game_preferences.h"
#include "game_states.h"
#include "game_time.h"
#include "input/action_queue.h"
#include "input/input_definitions.h"
#include "interface_definitions.h"
#include "mesh.h"
#include "mesh_format.h"
#include "players.h"
#include "recording.h"
#include "saved_games.h"
#include "game_ending.h"
#include "scoring.h"
#include "statistics.h"
#include "screen.h"
#include "shapes.h"
#include "sound/sound_definitions.h"
#include "sound/sound_manager.h"
#include "tag_files/definitions.h"
#include "tag_files/tag_files.h"
#include "vesk.h"
#include "vesk/string_lists.h"

// Items of the prologue 'prdi'.
enum
{
    PROLOGUE_FILL_ITEM = 1,
    PROLOGUE_HIDDEN_ITEM = 2,
    PROLOGUE_TEXT_ITEM = 3,
    PROLOGUE_TITLE_ITEM = 4,
    PROLOGUE_PICTURE_ITEM = 5,
    PROLOGUE_SMALL_MAP_ITEM = 6,
};
// Sequences of the pregame collection.
enum
{
    PREGAME_SMALL_MAP_SEQUENCE = 0,
    PREGAME_PICTURES_SEQUENCE = 2, // its name holds the pictures' durations
    PREGAME_COLORS_SEQUENCE = 3,
    PREGAME_BIG_MAP_SEQUENCE = 4,
};
// Items of the epilogue 'epdi'.
enum
{
    EPILOGUE_FILL_ITEM = 1,
    EPILOGUE_NEXT_ITEM = 2,
    EPILOGUE_RESTORE_ITEM = 3,
    EPILOGUE_RETRY_ITEM = 4,
    EPILOGUE_MENU_ITEM = 5,
    EPILOGUE_CANNOT_CONTINUE_ITEM = 6,
    EPILOGUE_REPORT_ITEM = 7,
    EPILOGUE_INERT_ITEM = 8,
    POSTGAME_COLORS_SEQUENCE = 2,
    EPILOGUE_FADE_STEPS = 8,
};
enum
{
    CLOSING_TEXT_ITEM = 1,
    CLOSING_FADE_ITEM = 1000,
    CLOSING_COLORS_SEQUENCE = 1,
    // Drawing flags of the inset picture and its caption.
    INSET_PICTURE_DRAWING_FLAGS = 148,
    INSET_CAPTION_FLAGS = 16,
    PROLOGUE_TITLE_FLAGS = 32,
    TEXT_UPDATE_EVERY_FADE_CALLS = 4,
    MAXIMUM_DURATION_SECONDS = 24 * 60 * 60,
};

static const rgb_color story_black = {0, 0, 0};

static struct
{
    inset_graphic_globals inset;
    int16_t cached_endgame_state;
    // Fade-out calls of the prologue and the closing text, counted across calls.
    int32_t prologue_fade_calls;
    int32_t closing_fade_calls;
    // The level now starting was chosen in an epilogue, which asked for its autosave.
    bool level_from_epilogue;
} story_globals = {{NONE, 0, 0, NONE, {}}, _story_endgame_none, 0, 0, false};

// ---- the pure rules -------------------------------------------------------------------

int32_t anylogue_fraction(int32_t step, int32_t frames)
{
    if (frames == 0) return 255;
    const int64_t fraction = (int64_t)step * 256 / frames;
    return fraction > 255 ? 255 : (int32_t)fraction;
}

int32_t story_reading_ticks(const char *text)
{
    const int32_t characters_per_second = 15, minimum_seconds = 8, maximum_seconds = 60;
    const int32_t second = GAME_TICKS_PER_SECOND;
    const size_t length = text ? strnlen(text, (size_t)(maximum_seconds * characters_per_second)) : 0;
    const int32_t ticks = (int32_t)length * second / characters_per_second;
    return std::clamp(ticks, minimum_seconds * second, maximum_seconds * second);
}

int16_t parse_inset_durations(const char *text, int32_t ticks[MAXIMUM_INSET_GRAPHICS])
{
    int16_t count = 0;
    int32_t total = 0;
    const char *p = text ? text : "";
    while (*p && count < MAXIMUM_INSET_DURATIONS)
    {
        char *end = nullptr;
        errno = 0;
        const long seconds = strtol(p, &end, 10);
        if (end == p || errno || seconds < 0 || seconds > MAXIMUM_DURATION_SECONDS) break;
        if (total > INT32_MAX - (int32_t)seconds * 1000) break;
        total += (int32_t)seconds * 1000;
        ticks[count++] = total;
        while (*end == ' ') ++end;
        if (*end != ',') break;
        p = end + 1;
    }
    return count;
}

int16_t inset_picture_index(const inset_graphic_globals *globals, int32_t elapsed)
{
    if (globals->count < 1) return NONE;
    if (globals->count == 1 || elapsed <= globals->ticks[0]) return 0;
    int16_t k = 1;
    while (k < globals->count - 1 && elapsed > globals->ticks[k]) ++k;
    return k;
}

epilogue_outcome choose_epilogue_outcome(int16_t endgame_state, const tag next_mesh_tags[2], bool last_level,
                                         int16_t tag_file_type, bool fallback_art)
{
    epilogue_outcome outcome = {NONE, 0, _epilogue_result_restore, false, false};
    outcome.can_continue = endgame_state == _story_endgame_successful_victory ||
                           (endgame_state == _story_endgame_failed_victory && next_mesh_tags[1] != NONE);
    switch (endgame_state)
    {
    case _story_endgame_successful_victory:
    case _story_endgame_failed_victory:
    case _story_endgame_loss:
        if (outcome.can_continue)
        {
            outcome.movie = 1;
            outcome.picture = 0;
            outcome.default_result = _epilogue_result_next_level;
        }
        else
        {
            outcome.movie = 2;
            outcome.picture = 1;
            outcome.default_result = _epilogue_result_restore;
        }
        break;
    default:
        log_message(__FILE__, __LINE__, "halt: the epilogue of endgame state %d", endgame_state);
        break;
    }
    if (fallback_art) outcome.picture = 0;
    outcome.closing_text =
        (endgame_state == _story_endgame_successful_victory || endgame_state == _story_endgame_failed_victory) &&
        (last_level || (next_mesh_tags[0] == NONE && tag_file_type == _tag_file_type_local));
    // A map of its own (no next level) is won without a "Next Level" that
    // would only lead back to the main menu: the menu is the default.
    if (outcome.default_result == _epilogue_result_next_level && !outcome.closing_text &&
        epilogue_result_step(outcome.default_result, endgame_state, next_mesh_tags).goes_to != _epilogue_goes_to_level)
        outcome.default_result = _epilogue_result_main_menu;
    return outcome;
}

epilogue_step epilogue_result_step(int16_t result, int16_t endgame_state, const tag next_mesh_tags[2])
{
    switch (result)
    {
    case _epilogue_result_next_level:
    case _epilogue_result_next_level_after_success:
    {
        const tag level = result == _epilogue_result_next_level && endgame_state == _story_endgame_failed_victory
                              ? next_mesh_tags[1]
                              : next_mesh_tags[0];
        if (level == NONE) return {_epilogue_goes_to_main_menu, NONE};
        return {_epilogue_goes_to_level, level};
    }
    case _epilogue_result_restart: return {_epilogue_goes_to_restart, NONE};
    case _epilogue_result_main_menu: return {_epilogue_goes_to_main_menu, NONE};
    default: return {_epilogue_goes_to_restore_or_retry, NONE};
    }
}

int16_t story_endgame_state_from_game(int16_t game_endgame_state, bool local_team_won)
{
    // A script's victory is the light team's: a local team on the other side lost.
    if (!local_team_won) return _story_endgame_loss;
    return game_endgame_state == _endgame_failed_victory ? _story_endgame_failed_victory
                                                         : _story_endgame_successful_victory;
}

int16_t epilogue_report_outcome(int16_t story_state, int16_t game_outcome, const tag next_mesh_tags[2])
{
    if (story_state == _story_endgame_successful_victory) return _postgame_outcome_won;
    if (story_state == _story_endgame_failed_victory)
        return (int16_t)(next_mesh_tags[1] != NONE ? _postgame_outcome_won : _postgame_outcome_lost);
    return game_outcome == _postgame_outcome_won ? (int16_t)_postgame_outcome_lost : game_outcome;
}

void cache_endgame_state(int16_t state) { story_globals.cached_endgame_state = state; }
int16_t get_cached_endgame_state(void) { return story_globals.cached_endgame_state; }

// ---- the loop ----------------------------------------------------------------------------

bool prologue_dialog_loop_update(void *data, action_data *action)
{
    anylogue_state *state = (anylogue_state *)data;
    if (action)
    {
        const bool ends = action->key_code == _key_escape || action->key_code == _key_space ||
                          action->key_code == _key_return ||
                          test_action_flag(action, _double_left_mouse_down_bit);
        if (!state->abortable || !ends) return false;
        state->done = true;
        return true;
    }
    if (state->done) return true;
    // The modal loop's own passes are the wait: input and drawing go on.
    return game_->local_time.load() - state->target_local_time >= 0;
}

void handle_anylogue_dialog(anylogue_state *state, int32_t frames, int32_t period, anylogue_step_procedure step,
                            anylogue_item_hit_procedure item_hit, bool abortable)
{
    state->abortable = abortable;
    state->start_local_time = state->target_local_time = game_->local_time.load();
    for (int32_t index = 0; !state->done && (frames == NONE || index <= frames); ++index)
    {
        if (!dialog_is_open(state->dialog)) break;
        if (step) step(state, frames == NONE ? index : anylogue_fraction(index, frames));
        state->target_local_time += period;
        state->item_hit = custom_modal_dialog(state->dialog, state, prologue_dialog_loop_update);
        if (state->item_hit != NONE && item_hit) item_hit(state, state->item_hit);
        // A window closed meanwhile ends the story.
        int16_t pending = NONE;
        if (game_state_change_pending(&pending) && pending == _game_state_quit) state->done = true;
    }
}

// ---- art and texts -------------------------------------------------------------------------

static bool dialog_tag_exists(tag dialog_tag) { return tag_file_open(DIALOG_GROUP_TAG, dialog_tag) != NONE; }

// Lookups outside a map find nothing when the group is not set up then.
static int32_t definition_index_of(definition_globals *group, tag group_tag, tag subgroup)
{
    if (subgroup == NONE || !definition_group_is_set_up(group_tag)) return NONE;
    return try_definition_tag_to_index(group, subgroup, true, _definition_lookup_quiet_flag);
}

static int16_t sound_index_of(tag sound_tag)
{
    return (int16_t)definition_index_of(&sound_definitions, FOUR_CHARACTER_CODE('s', 'o', 'u', 'n'), sound_tag);
}

static int32_t story_collection_index(tag collection_tag)
{
    if (collection_tag == NONE || !definition_group_is_set_up(COLLECTION_GROUP_TAG)) return NONE;
    return get_collection_index(collection_tag);
}

static rgb_color sequence_color(int16_t collection_index, int32_t sequence, int32_t index)
{
    rgb_color color;
    get_rgb_color_from_sequence(collection_index, sequence, index, &color);
    return color;
}

static fixed_fraction fraction_to_transparency(int32_t fraction)
{
    if (fraction < 0) fraction = 0;
    if (fraction > 255) fraction = 255;
    return (fixed_fraction)(fraction * 256);
}

// A story page stands on black: what the screen showed before (the new-game
// dialog's title and buttons around a smaller page) must not stay beside it.
static void blacken_screen_behind_story(void)
{
    clear_backbuffer();
    display_backbuffer(nullptr);
}

static const char *story_text(tag string_tag)
{
    if (string_tag == NONE) return nullptr;
    const int32_t index = string_tag_to_string_index(string_tag);
    return index == NONE ? nullptr : get_string(index, nullptr);
}

// ---- the prologue ---------------------------------------------------------------------------

static void update_inset_picture(anylogue_state *state)
{
    inset_graphic_globals *inset = &story_globals.inset;
    if (inset->count < 1) return;
    const int32_t elapsed = (int32_t)(machine_tick_count() - (uint32_t)inset->first_tick);
    const int16_t picture = inset_picture_index(inset, elapsed);
    if (picture == inset->frame_index) return;
    inset->frame_index = picture;
    set_dialog_bitmap_art(state->dialog, PROLOGUE_PICTURE_ITEM, state->collection_index, PREGAME_PICTURES_SEQUENCE,
                          picture);
    set_dialog_bitmap_drawing_flags(state->dialog, PROLOGUE_PICTURE_ITEM, INSET_PICTURE_DRAWING_FLAGS);
    set_dialog_dirty(state->dialog);
    if (inset->caption_string_list_index != NONE)
    {
        static rgb_color caption_color;
        caption_color = sequence_color(state->collection_index, PREGAME_COLORS_SEQUENCE, 0);
        set_dialog_bitmap_caption(state->dialog, PROLOGUE_PICTURE_ITEM, (int16_t)get_interface_font_index(5),
                                  &caption_color, get_string_from_list(inset->caption_string_list_index, picture),
                                  INSET_CAPTION_FLAGS);
    }
}

static void restart_inset_clock(void)
{
    story_globals.inset.first_tick = (int32_t)machine_tick_count();
    story_globals.inset.frame_index = NONE;
}

static void big_map_fade_in_step(anylogue_state *state, int32_t fraction)
{
    set_bitmap_item_transparency(state->dialog, PROLOGUE_FILL_ITEM, fraction_to_transparency(fraction));
    set_dialog_item_dirty(state->dialog, PROLOGUE_FILL_ITEM);
}

static void small_map_fade_in_step(anylogue_state *state, int32_t fraction)
{
    const fixed_fraction appearing = fraction_to_transparency(255 - fraction);
    set_prologue_item_transparency(state->dialog, PROLOGUE_TEXT_ITEM, appearing);
    set_static_text_item_transparency(state->dialog, PROLOGUE_TITLE_ITEM, appearing);
    set_bitmap_item_transparency(state->dialog, PROLOGUE_PICTURE_ITEM, appearing);
    set_bitmap_item_transparency(state->dialog, PROLOGUE_SMALL_MAP_ITEM, fraction_to_transparency(fraction));
    set_dialog_dirty(state->dialog);
}

// The text scrolled in and the narration over, the reader still has the
// reading time left before the story goes on.
static void count_down_reading_time(anylogue_state *state, int16_t text_item, int32_t period)
{
    if (!prologue_control_done(state->dialog, text_item) || sound_is_playing(NONE)) return;
    state->reading_ticks_left -= period;
    if (state->reading_ticks_left <= 0) state->done = true;
}

static void prologue_text_step(anylogue_state *state, int32_t fraction)
{
    (void)fraction;
    update_inset_picture(state);
    update_prologue_control(state->dialog, PROLOGUE_TEXT_ITEM);
    count_down_reading_time(state, PROLOGUE_TEXT_ITEM, PROLOGUE_TEXT_PERIOD);
}

// The black veil comes back over the page while the text fades; the text
// still scrolls, once every fourth call (`calls` counts across stories).
static void fade_out_story_text(anylogue_state *state, int32_t fraction, int16_t veil, int16_t text, int32_t *calls)
{
    set_bitmap_item_transparency(state->dialog, veil, fraction_to_transparency(255 - fraction));
    set_prologue_item_transparency(state->dialog, text, fraction_to_transparency(fraction));
    if (++*calls % TEXT_UPDATE_EVERY_FADE_CALLS == 0) update_prologue_control(state->dialog, text);
    set_dialog_dirty(state->dialog);
}

static void prologue_fade_out_step(anylogue_state *state, int32_t fraction)
{
    fade_out_story_text(state, fraction, PROLOGUE_FILL_ITEM, PROLOGUE_TEXT_ITEM, &story_globals.prologue_fade_calls);
}

// Sets up 'prdi'; false when the art, the text or the dialog is missing.
static bool open_prologue(tag mesh_tag, const mesh_header *header, anylogue_state *state)
{
    const char *text = story_text(header->storyline_string_tags[0]);
    if (header->pregame_collection_tag == NONE || !text) return false;
    const int32_t collection = story_collection_index(header->pregame_collection_tag);
    if (collection == NONE || get_collection_sequence_count(collection) <= PREGAME_BIG_MAP_SEQUENCE - 1 ||
        !dialog_tag_exists(PROLOGUE_DIALOG_TAG))
        return false;
    dialog_data *dialog = new_dialog(PROLOGUE_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    if (!dialog) return false;
    blacken_screen_behind_story();
    *state = {dialog, (int16_t)collection, NONE, false, false, 0, 0, story_reading_ticks(text)};

    bitmap_set_item_visible(dialog, PROLOGUE_HIDDEN_ITEM, false);
    set_dialog_bitmap_drawing_flags(dialog, PROLOGUE_SMALL_MAP_ITEM, 0);
    bitmap_set_item_enabled(dialog, PROLOGUE_SMALL_MAP_ITEM, false);
    set_dialog_bitmap_drawing_flags(dialog, PROLOGUE_FILL_ITEM, 0);
    const rgb_color title_color = sequence_color(state->collection_index, PREGAME_COLORS_SEQUENCE, 0);
    const rgb_color text_color = sequence_color(state->collection_index, PREGAME_COLORS_SEQUENCE, 1);
    const int32_t description = string_list_tag_to_string_index(header->map_description_string_list_tag);
    set_bitmap_dialog_static_item_text(dialog, PROLOGUE_TITLE_ITEM, get_string_from_list(description, 0));
    set_dialog_static_item_text_appearance(dialog, PROLOGUE_TITLE_ITEM, (int16_t)get_interface_font_index(3), 0,
                                           &title_color, PROLOGUE_TITLE_FLAGS);
    set_prologue_control_data(dialog, PROLOGUE_TEXT_ITEM, STORY_TEXT_INITIAL_DELAY, &text_color,
                              get_interface_font_index(4), text);

    inset_graphic_globals *inset = &story_globals.inset;
    memset(inset, 0, sizeof(*inset));
    inset->count = parse_inset_durations(get_sequence_name(collection, PREGAME_PICTURES_SEQUENCE), inset->ticks);
    inset->caption_string_list_index = header->picture_caption_string_list_tag == NONE
                                           ? (int16_t)NONE
                                           : (int16_t)string_list_tag_to_string_index(
                                                 header->picture_caption_string_list_tag);
    restart_inset_clock();
    update_inset_picture(state);

    mark_solo_level_as_visited(mesh_tag, BASE_GAME_PLUGIN_INDEX);
    write_game_preferences();
    play_stereo_sound(sound_index_of(header->narration_sound_tag));
    return true;
}

static void run_prologue(anylogue_state *state)
{
    dialog_data *dialog = state->dialog;
    // The big map fades in from black; nothing ends the fade.
    set_bitmap_item_color(dialog, PROLOGUE_FILL_ITEM, &story_black);
    set_dialog_background(dialog, state->collection_index, PREGAME_BIG_MAP_SEQUENCE);
    for (int16_t item : {PROLOGUE_SMALL_MAP_ITEM, PROLOGUE_TEXT_ITEM, PROLOGUE_TITLE_ITEM, PROLOGUE_PICTURE_ITEM})
        bitmap_set_item_visible(dialog, item, false);
    handle_anylogue_dialog(state, STORY_FADE_IN_STEPS, 1, big_map_fade_in_step, nullptr, false);
    set_bitmap_item_color(dialog, PROLOGUE_FILL_ITEM, nullptr);
    bitmap_set_item_visible(dialog, PROLOGUE_FILL_ITEM, false);

    handle_anylogue_dialog(state, PROLOGUE_BIG_MAP_HOLD_TICKS, 1, nullptr, nullptr, true);
    if (state->done) return;

    set_dialog_background(dialog, state->collection_index, PREGAME_SMALL_MAP_SEQUENCE);
    set_dialog_bitmap_art(dialog, PROLOGUE_SMALL_MAP_ITEM, state->collection_index, PREGAME_BIG_MAP_SEQUENCE, 0);
    for (int16_t item : {PROLOGUE_SMALL_MAP_ITEM, PROLOGUE_TEXT_ITEM, PROLOGUE_TITLE_ITEM, PROLOGUE_PICTURE_ITEM})
        bitmap_set_item_visible(dialog, item, true);
    handle_anylogue_dialog(state, STORY_FADE_IN_STEPS, 1, small_map_fade_in_step, nullptr, false);
    set_bitmap_item_color(dialog, PROLOGUE_SMALL_MAP_ITEM, nullptr);
    bitmap_set_item_visible(dialog, PROLOGUE_SMALL_MAP_ITEM, false);
    small_map_fade_in_step(state, 255);
    set_bitmap_item_transparency(dialog, PROLOGUE_SMALL_MAP_ITEM, 0);

    restart_inset_clock();
    handle_anylogue_dialog(state, NONE, PROLOGUE_TEXT_PERIOD, prologue_text_step, nullptr, true);
}

static void close_prologue(anylogue_state *state)
{
    // Always: the story fades out however it ended.
    state->done = false;
    fade_out_sound(STORY_SOUND_FADE_OUT_TICKS);
    bitmap_set_item_visible(state->dialog, PROLOGUE_FILL_ITEM, true);
    set_bitmap_item_color(state->dialog, PROLOGUE_FILL_ITEM, &story_black);
    handle_anylogue_dialog(state, STORY_FADE_OUT_STEPS, 1, prologue_fade_out_step, nullptr, false);
    if (dialog_is_open(state->dialog))
    {
        set_bitmap_item_color(state->dialog, PROLOGUE_FILL_ITEM, nullptr);
        dispose_dialog(state->dialog);
    }
    state->dialog = nullptr;
}

void display_mesh_prologue(tag mesh_tag)
{
    flush_actions();
    mesh_header header;
    anylogue_state state = {};
    if (read_mesh_header(mesh_tag, &header) && open_prologue(mesh_tag, &header, &state))
    {
        run_prologue(&state);
        close_prologue(&state);
    }
    else
    {
        log_message(__FILE__, __LINE__, "level '%s' has no prologue to show", tag_to_string(mesh_tag));
    }
    display_mesh_cutscene(mesh_tag, 0);
}

// ---- the closing text ---------------------------------------------------------------------

static void closing_text_step(anylogue_state *state, int32_t fraction)
{
    (void)fraction;
    update_prologue_control(state->dialog, CLOSING_TEXT_ITEM);
    count_down_reading_time(state, CLOSING_TEXT_ITEM, CLOSING_TEXT_PERIOD);
}

static void closing_fade_out_step(anylogue_state *state, int32_t fraction)
{
    fade_out_story_text(state, fraction, CLOSING_FADE_ITEM, CLOSING_TEXT_ITEM, &story_globals.closing_fade_calls);
}

void display_game_epilogue(void)
{
    const int32_t collection = story_collection_index(CLOSING_TEXT_COLLECTION_TAG);
    const char *text = story_text(CLOSING_TEXT_STRING_TAG);
    if (collection == NONE || get_collection_sequence_count(collection) <= CLOSING_COLORS_SEQUENCE || !text ||
        !dialog_tag_exists(CLOSING_TEXT_DIALOG_TAG))
    {
        log_message(__FILE__, __LINE__, "no closing text to show");
        return;
    }
    dialog_data *dialog = new_dialog(CLOSING_TEXT_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    if (!dialog) return;
    blacken_screen_behind_story();
    anylogue_state state = {dialog, (int16_t)collection, NONE, false, false, 0, 0, story_reading_ticks(text)};
    set_dialog_background(dialog, state.collection_index, 0);
    const rgb_color text_color = sequence_color(state.collection_index, CLOSING_COLORS_SEQUENCE, 1);
    set_prologue_control_data(dialog, CLOSING_TEXT_ITEM, STORY_TEXT_INITIAL_DELAY, &text_color,
                              get_interface_font_index(4), text);
    play_stereo_sound(sound_index_of(CLOSING_TEXT_SOUND_TAG));
    handle_anylogue_dialog(&state, NONE, CLOSING_TEXT_PERIOD, closing_text_step, nullptr, true);

    state.done = false;
    rectangle2d bounds;
    get_dialog_bounds(dialog, &bounds);
    const rectangle2d local = {0, 0, (int16_t)(bounds.right - bounds.left), (int16_t)(bounds.bottom - bounds.top)};
    if (dialog_is_open(dialog) &&
        new_unpressed_control(dialog, FOUR_CHARACTER_CODE('b', 'i', 't', 'm'), CLOSING_FADE_ITEM, &local, nullptr))
    {
        set_bitmap_item_color(dialog, CLOSING_FADE_ITEM, &story_black);
        handle_anylogue_dialog(&state, STORY_FADE_OUT_STEPS, 1, closing_fade_out_step, nullptr, false);
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
}

// ---- the epilogue ---------------------------------------------------------------------------

void mark_next_level_as_visited(tag mesh_tag)
{
    mesh_header header;
    if (!read_mesh_header(mesh_tag, &header) || header.next_mesh_tags[0] == NONE) return;
    mark_solo_level_as_visited(header.next_mesh_tags[0], BASE_GAME_PLUGIN_INDEX);
    write_game_preferences();
}

static void epilogue_fade_step(anylogue_state *state, int32_t fraction, bool in)
{
    set_bitmap_item_transparency(state->dialog, EPILOGUE_FILL_ITEM, fraction_to_transparency(in ? fraction : 255 - fraction));
    set_dialog_item_dirty(state->dialog, EPILOGUE_FILL_ITEM);
}
static void epilogue_fade_in_step(anylogue_state *state, int32_t fraction) { epilogue_fade_step(state, fraction, true); }
static void epilogue_fade_out_step(anylogue_state *state, int32_t fraction)
{
    epilogue_fade_step(state, fraction, false);
}

static void epilogue_item_hit(anylogue_state *state, int16_t item)
{
    switch (item)
    {
    case EPILOGUE_SAVE_FILM_ITEM:
    {
        int32_t film = NONE;
        if (save_last_replay(nullptr, &film) && film != NONE)
            bitmap_set_item_enabled(state->dialog, EPILOGUE_SAVE_FILM_ITEM, false);
        break;
    }
    case EPILOGUE_FILL_ITEM:
    case EPILOGUE_REPORT_ITEM:
    case EPILOGUE_INERT_ITEM: break;
    default:
        state->item_hit = item;
        state->done = true;
        break;
    }
}

static void set_epilogue_ambient_sound(tag level_sound, tag default_sound)
{
    const tag wanted = level_sound == NONE ? default_sound : level_sound;
    const tag group = FOUR_CHARACTER_CODE('a', 'm', 's', 'o');
    int32_t index = definition_index_of(&ambient_sound_definitions, group, wanted);
    if (index == NONE && wanted != default_sound) index = definition_index_of(&ambient_sound_definitions, group, default_sound);
    if (index != NONE) set_global_ambient_sound_index((int16_t)index);
}

// 'epdi' with the report; the item that ended it, or `outcome`'s default.
static int16_t run_epilogue_dialog(const mesh_header *header, int32_t collection, bool fallback_art,
                                   const epilogue_outcome *outcome)
{
    if (collection == NONE || get_collection_sequence_count(collection) <= outcome->picture ||
        !dialog_tag_exists(EPILOGUE_DIALOG_TAG))
        return outcome->default_result;
    dialog_data *dialog = new_dialog(EPILOGUE_DIALOG_TAG, nullptr, nullptr, NONE, _dialog_is_centered_flag);
    if (!dialog) return outcome->default_result;
    anylogue_state state = {dialog, (int16_t)collection, NONE, false, false, 0, 0};

    bitmap_set_item_visible(dialog, EPILOGUE_CANNOT_CONTINUE_ITEM, false);
    bitmap_set_item_visible(dialog, EPILOGUE_NEXT_ITEM, !outcome->closing_text);
    if (outcome->default_result == _epilogue_result_main_menu)
    {
        // Won, with no level after it: play it again or go back to the menu.
        bitmap_set_item_visible(dialog, EPILOGUE_NEXT_ITEM, false);
        bitmap_set_item_visible(dialog, EPILOGUE_RESTORE_ITEM, false);
        set_default_dialog_item(dialog, EPILOGUE_MENU_ITEM);
        set_epilogue_ambient_sound(header->win_ambient_sound_tag, DEFAULT_WIN_AMBIENT_SOUND_TAG);
    }
    else if (outcome->default_result == _epilogue_result_next_level)
    {
        bitmap_set_item_visible(dialog, EPILOGUE_CANNOT_CONTINUE_ITEM, !outcome->can_continue);
        bitmap_set_item_visible(dialog, EPILOGUE_RESTORE_ITEM, false);
        bitmap_set_item_visible(dialog, EPILOGUE_RETRY_ITEM, false);
        set_default_dialog_item(dialog, EPILOGUE_NEXT_ITEM);
        set_epilogue_ambient_sound(header->win_ambient_sound_tag, DEFAULT_WIN_AMBIENT_SOUND_TAG);
    }
    else
    {
        bitmap_set_item_visible(dialog, EPILOGUE_NEXT_ITEM, false);
        const bool restorable = could_revert_to_last_saved_game();
        bitmap_set_item_visible(dialog, EPILOGUE_RESTORE_ITEM, restorable);
        set_default_dialog_item(dialog, restorable ? EPILOGUE_RESTORE_ITEM : EPILOGUE_RETRY_ITEM);
        set_epilogue_ambient_sound(header->loss_ambient_sound_tag, DEFAULT_LOSS_AMBIENT_SOUND_TAG);
    }
    set_dialog_cancel_item(dialog, EPILOGUE_MENU_ITEM);

    set_dialog_background(dialog, state.collection_index, outcome->picture);
    set_dialog_bitmap_drawing_flags(dialog, EPILOGUE_FILL_ITEM, 0);
    bitmap_set_item_enabled(dialog, EPILOGUE_FILL_ITEM, false);
    if (!fallback_art)
    {
        const rgb_color title = sequence_color(state.collection_index, POSTGAME_COLORS_SEQUENCE, 0);
        const rgb_color first = sequence_color(state.collection_index, POSTGAME_COLORS_SEQUENCE, 1);
        const rgb_color other = sequence_color(state.collection_index, POSTGAME_COLORS_SEQUENCE, 2);
        set_postgame_report_control_colors(dialog, EPILOGUE_REPORT_ITEM, &title, &first, &other);
    }
    set_bitmap_item_color(dialog, EPILOGUE_FILL_ITEM, &story_black);
    handle_anylogue_dialog(&state, EPILOGUE_FADE_STEPS, 1, epilogue_fade_in_step, nullptr, false);
    // The faded veil covers the buttons: out of the way until the fade-out.
    bitmap_set_item_visible(dialog, EPILOGUE_FILL_ITEM, false);
    state.done = false;
    state.item_hit = NONE;
    // Held until an item other than the inert ones ends it.
    handle_anylogue_dialog(&state, NONE, 1, nullptr, epilogue_item_hit, false);
    const int16_t result = state.done ? state.item_hit : (int16_t)NONE;
    state.done = false;
    bitmap_set_item_visible(dialog, EPILOGUE_FILL_ITEM, true);
    handle_anylogue_dialog(&state, EPILOGUE_FADE_STEPS, 1, epilogue_fade_out_step, nullptr, false);
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return result == NONE ? outcome->default_result : result;
}

static void follow_epilogue_result(int16_t result, int16_t endgame_state, const tag next_mesh_tags[2])
{
    const epilogue_step step = epilogue_result_step(result, endgame_state, next_mesh_tags);
    switch (step.goes_to)
    {
    case _epilogue_goes_to_level:
        set_autosave_for_new_level_hack(true);
        story_globals.level_from_epilogue = true;
        if (change_single_player_map(step.level, false)) return;
        story_globals.level_from_epilogue = false;
        set_autosave_for_new_level_hack(false);
        set_game_state(_game_state_displaying_main_menu);
        return;
    case _epilogue_goes_to_restart:
        if (!change_single_player_map(NONE, true)) set_game_state(_game_state_displaying_main_menu);
        return;
    case _epilogue_goes_to_restore_or_retry:
        if (could_revert_to_last_saved_game() && revert_game()) return;
        if (!change_single_player_map(NONE, false)) set_game_state(_game_state_displaying_main_menu);
        return;
    default: set_game_state(_game_state_displaying_main_menu); return;
    }
}

void display_mesh_epilogue(tag mesh_tag, bool show_dialog)
{
    flush_actions();
    mesh_header header;
    if (mesh_tag == TUTORIAL_MESH_TAG || !read_mesh_header(mesh_tag, &header))
    {
        if (show_dialog) set_game_state(_game_state_displaying_main_menu);
        return;
    }
    const int16_t endgame_state = story_globals.cached_endgame_state;
    if (endgame_state == _story_endgame_successful_victory) mark_next_level_as_visited(mesh_tag);

    const bool fallback_art =
        header.postgame_collection_tag == NONE ||
        (mesh_tag == FOUR_CHARACTER_CODE('o', 's', '5', '2') &&
         header.postgame_collection_tag == FOUR_CHARACTER_CODE('o', 'p', '5', '2') &&
         endgame_state == _story_endgame_successful_victory);
    const int32_t collection = story_collection_index(fallback_art ? (tag)CLOSING_TEXT_COLLECTION_TAG
                                                           : header.postgame_collection_tag);
    int32_t file_type = NONE;
    const int32_t tag_index = tag_file_open(MESH_GROUP_TAG, mesh_tag);
    tag_file_info info;
    if (tag_index != NONE && tag_file_info_get(tag_index, &info)) file_type = info.type;
    const epilogue_outcome outcome = choose_epilogue_outcome(
        endgame_state, header.next_mesh_tags, (header.extra_flags & _mesh_is_last_level_flag) != 0, (int16_t)file_type,
        fallback_art);

    display_mesh_cutscene(mesh_tag, outcome.movie);
    if (outcome.closing_text)
    {
        const int16_t interrupted = enter_interrupting_game_state(_game_state_displaying_cutscene);
        display_game_epilogue();
        leave_interrupting_game_state(interrupted);
    }
    if (!show_dialog) return;
    const int16_t result = run_epilogue_dialog(&header, collection, fallback_art, &outcome);
    follow_epilogue_result(result, endgame_state, header.next_mesh_tags);
}

// ---- the states ----------------------------------------------------------------------------

// Between maps the collection, font and interface stores are empty: the story
// sets them up for its art as the main menu does.  Without a screen there is
// nothing to show, and the story only plays its rules.
static void prepare_story_look(void)
{
    if (vesk_is_headless() || !active_screen.screen_initialized) return;
    if (!initialize_interface_without_map()) log_message(__FILE__, __LINE__, "the story's look cannot be loaded: no story dialogs");
}

void enter_prologue_state(void)
{
    prepare_story_look();
    display_mesh_prologue(get_next_game_data()->parameters.scenario_tag);
    int16_t pending = NONE;
    if (!game_state_change_pending(&pending)) set_game_state(_game_state_running);
}

void leave_running_state_for_story(void)
{
    // Read while the map's teams still exist: the epilogue comes after its disposal.
    const int16_t winner = game_->winning_team_index;
    const int16_t outcome = get_local_postgame_outcome();
    cache_endgame_state(story_endgame_state_from_game(game_->endgame_state, outcome == _postgame_outcome_won));
    log_message(nullptr, -1, "the level ended (endgame state %d, winning team %d, local team %d): epilogue state %d",
                game_->endgame_state, winner, local_player_team_index, story_globals.cached_endgame_state);
    // The epilogue's report is titled as the epilogue goes on: Victory only
    // where it offers the next level.
    mesh_header header;
    if ((game_->flags.load() & _game_is_over_flag) &&
        read_mesh_header(get_current_game_data()->parameters.scenario_tag, &header))
        build_postgame_report(
            epilogue_report_outcome(story_globals.cached_endgame_state, outcome, header.next_mesh_tags));
}

void enter_epilogue_state(void)
{
    prepare_story_look();
    display_mesh_epilogue(get_current_game_data()->parameters.scenario_tag, true);
    if (!game_state_change_pending(nullptr)) set_game_state(_game_state_displaying_main_menu);
}

void enter_running_state_for_story(void)
{
    // A level chosen in an epilogue keeps its autosave request for its first
    // tick; any other start (a new game, a load, a film) drops a stale one.
    if (!story_globals.level_from_epilogue) autosave_game(false);
    story_globals.level_from_epilogue = false;
}
