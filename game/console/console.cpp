// The in-game console: messages, chat, warnings and the typed line.
#include "console/console.h"

#include <cstdarg>
#include <cstring>

#include "saved_games.h"
#include "bitmap_dialogs/bitmap_edittext.h"
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "console/console_menu.h"
#include "console/console_mission_text.h"
#include "console/console_popup.h"
#include "console_procedures.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "cseries/registration.h"
#include "game_hooks.h"
#include "game_states.h"
#include "game_time.h"
#include "input/input_definitions.h"
#include "ingame_bars.h"
#include "input/keyboard.h"
#include "interface_definitions.h"
#include "map_actions/flow_control_action_procs.h"
#include "mesh.h"
#include "monster_commands.h"
#include "networking_procedures.h"
#include "players.h"
#include "game_ending.h"
#include "scoring.h"
#include "statistics.h"
#include "render/render_effects.h"
#include "render/render_surfaces.h"
#include "screen.h"
#include "selection.h"
#include "session_state.h"
#include "vesk.h"
#include "vesk/string_lists.h"

static_assert(_key_caps_lock == 44 && _key_return == 56 && _keypad_enter == 98);

enum
{
    LONG_MODE_LINE_COUNT = 50,
    LONG_MODE_SOLID_TICKS = 180,
    SHORT_MODE_LINE_COUNT = 6,
    SHORT_MODE_SOLID_TICKS = 90,
    // A line fades over this many ticks after its solid time, then goes.
    LINE_FADE_TICKS = 15,
    CONSOLE_FIRST_ROW_HEIGHT = 20,
    CONSOLE_ROW_HEIGHT = 22,
    BAND_TRANSPARENCY = 0xD000,
    PROMPT_HOLE_RAISE = 30,
    BANNER_WIDTH = 300,
    BANNER_HEIGHT = 22,
    JOINING_OFFSET = 26,
    INPUT_BAND_HEIGHT = 22,
    INPUT_BAND_TOP = 26,
    INPUT_FIELD_RIGHT_MARGIN = 14,
    INPUT_FIELD_PROMPT_GAP = 3,
    CARET_PERIOD = 30,
    CARET_VISIBLE_TICKS = 22,
    CARET_FADE_START = 19,
    CONSOLE_TEXT_COLOR = 56,
    TEXT_INSET = 4,
    CARET_CHARACTER = 0xFF,
};

static console_globals_data console_globals;
// The mode every new map starts in.
static int16_t initial_console_mode = _console_mode_short;

bool console_control_bar_visible(rectangle2d *bounds)
{
    rectangle2d ignored;
    return control_bar_covers(bounds ? bounds : &ignored);
}
int16_t console_status_bar_height(void) { return status_bar_covered_height(); }

const console_globals_data *get_console_globals(void) { return &console_globals; }

static int32_t console_local_time(void) { return game_->local_time.load(); }

// The pool offset of line `index`'s text.
static int32_t line_text_offset(int32_t index)
{
    int32_t offset = 0;
    for (int32_t i = 0; i < index; ++i) offset += console_globals.lines[i].size;
    return offset;
}

const char *get_console_line_text(int32_t index)
{
    if (index < 0 || index >= console_globals.line_count) return nullptr;
    return console_globals.string_pool + line_text_offset(index);
}

// The player's record when `player_index` names a player of the game; null otherwise.
static const player_data *console_player(int32_t player_index)
{
    if (player_index < 0 || player_index >= get_player_count()) return nullptr;
    return get_player_data(player_index);
}

// ---- modes ------------------------------------------------------------------------------

static bool apply_console_mode(int16_t mode)
{
    switch (mode)
    {
    case _console_mode_long:
        console_globals.maximum_line_count = LONG_MODE_LINE_COUNT;
        console_globals.solid_line_time = LONG_MODE_SOLID_TICKS;
        break;
    case _console_mode_short:
        console_globals.maximum_line_count = SHORT_MODE_LINE_COUNT;
        console_globals.solid_line_time = SHORT_MODE_SOLID_TICKS;
        break;
    default:
        HALT("unknown console mode");
        return false;
    }
    console_globals.mode = mode;
    return true;
}

static int32_t console_font(void)
{
    return get_interface_font_index(console_globals.mode == _console_mode_short ? 1 : 2);
}

void set_console_mode(int16_t mode)
{
    if (mode != _console_mode_long && mode != _console_mode_short)
    {
        HALT("unknown console mode");
        return;
    }
    initial_console_mode = mode;
    if (!console_globals.initialized) return;
    apply_console_mode(mode);
    // The lines beyond the new maximum go at once.
    while (console_globals.line_count > console_globals.maximum_line_count)
    {
        --console_globals.line_count;
        console_globals.string_pool_size -= console_globals.lines[console_globals.line_count].size;
    }
    if (console_globals.input_edittext)
        set_edittext_text_format(console_globals.input_edittext, console_font(), -1, nullptr);
}

void toggle_console_state(void)
{
    if (console_globals.initialized) console_globals.state = console_globals.state ? 0 : 1;
}

// ---- life cycle ---------------------------------------------------------------------------

void initialize_console(void)
{
    register_postrasterization_effect_procedure(rasterize_console, CONSOLE_EFFECT_PRIORITY);
    console_globals.initialized = false;
    initialize_console_menu();
    initialize_console_popup();
    initialize_console_mission_text();
}

bool initialize_console_for_new_map(void)
{
    if (!VASSERT(!console_globals.initialized, "!console_globals.initialized")) dispose_console_from_old_map();
    memset(&console_globals, 0, sizeof(console_globals));
    console_globals.initialized = true;
    console_globals.state = 1;
    console_globals.error = NONE;
    if (!apply_console_mode(initial_console_mode)) apply_console_mode(_console_mode_short);
    console_globals.input_edittext = new_edittext(nullptr, _no_cursor_movement_flag | _no_cursor_flag);
    if (console_globals.input_edittext)
        set_edittext_text_format(console_globals.input_edittext, console_font(), -1, nullptr);
    console_globals.errors_string_list_index = string_list_tag_to_string_index(CONSOLE_ERRORS_STRING_LIST_TAG);

    initialize_console_menu_for_new_map();
    initialize_console_popup_for_new_map();
    const mesh_header *header = get_mesh_header();
    initialize_console_mission_text_for_new_map(header ? header->map_description_string_list_tag : NONE);
    return true;
}

void dispose_console_from_old_map(void)
{
    if (console_globals.initialized)
    {
        console_globals.initialized = false;
        if (console_globals.input_edittext) dispose_edittext(console_globals.input_edittext);
        console_globals.input_edittext = nullptr;
        console_globals.input_state = _console_input_idle;
    }
    dispose_console_menu_from_old_map();
    dispose_console_popup_from_old_map();
    dispose_console_mission_text_from_old_map();
}

// ---- messages --------------------------------------------------------------------------------

void cprintf(bool replace, const char *format, ...)
{
    if (!format || !console_globals.initialized) return;
    // Two bytes are kept for the carriage return and the terminator, so the
    // line stays shorter than a console line.
    char buffer[CONSOLE_LINE_BUFFER_SIZE];
    va_list arguments;
    va_start(arguments, format);
    vslprintf(buffer, CONSOLE_LINE_BUFFER_SIZE - 2, format, arguments);
    va_end(arguments);
    strcat(buffer, "\r");
    cputs(replace, NONE, buffer, NONE);
}

static void drop_oldest_console_line(void)
{
    if (!VASSERT(console_globals.line_count > 0, "console_globals.line_count>0")) return;
    --console_globals.line_count;
    console_globals.string_pool_size -= console_globals.lines[console_globals.line_count].size;
    VASSERT(console_globals.string_pool_size >= 0 &&
                console_globals.string_pool_size <= MAXIMUM_CONSOLE_STRING_POOL_SIZE,
            "console_globals.string_pool_size>=0 && "
            "console_globals.string_pool_size<=MAXIMUM_CONSOLE_STRING_POOL_SIZE");
}

static void drop_newest_console_line(void)
{
    if (console_globals.line_count <= 0) return;
    const int32_t size = console_globals.lines[0].size;
    memmove(console_globals.string_pool, console_globals.string_pool + size,
            (size_t)(console_globals.string_pool_size - size));
    console_globals.string_pool_size -= size;
    --console_globals.line_count;
    memmove(&console_globals.lines[0], &console_globals.lines[1],
            sizeof(console_line) * (size_t)console_globals.line_count);
}

static void cache_console_line(int16_t owner, const char *text)
{
    if (console_globals.cached_line_count >= MAXIMUM_CACHED_CONSOLE_LINES)
    {
        memmove(&console_globals.cached_lines[0], &console_globals.cached_lines[1],
                sizeof(cached_line) * (MAXIMUM_CACHED_CONSOLE_LINES - 1));
        console_globals.cached_line_count = MAXIMUM_CACHED_CONSOLE_LINES - 1;
    }
    cached_line *line = &console_globals.cached_lines[console_globals.cached_line_count++];
    line->owner_player_index = owner;
    strncpy(line->string, text, CACHED_CONSOLE_LINE_SIZE - 1);
    line->string[CACHED_CONSOLE_LINE_SIZE - 1] = 0;
}

void cputs(bool replace, int32_t owner_player_index, const char *buffer, int32_t chat_mode)
{
    if (!console_globals.initialized || !buffer) return;
    // The text is copied first: the caller's buffer may be any length (chat
    // from other machines) and may even lie in the pool that moves below.
    char text[CONSOLE_LINE_BUFFER_SIZE];
    const size_t length = strnlen(buffer, CONSOLE_LINE_BUFFER_SIZE);
    VASSERT(length < CONSOLE_LINE_BUFFER_SIZE, "string_length<CONSOLE_LINE_BUFFER_SIZE");
    const size_t kept = length < CONSOLE_LINE_BUFFER_SIZE ? length : CONSOLE_LINE_BUFFER_SIZE - 1;
    memcpy(text, buffer, kept);
    text[kept] = 0;

    const player_data *player = nullptr;
    if (owner_player_index != NONE)
    {
        player = console_player(owner_player_index);
        if (!player)
        {
            log_message(nullptr, -1, "a console line names player %d, who is not in the game",
                        (int)owner_player_index);
            owner_player_index = NONE;
        }
    }

    // Replacing is taking the newest line away and adding the new one, so no
    // older line is pushed out for the one that goes.
    if (replace) drop_newest_console_line();
    const int32_t size = (int32_t)kept + 1;
    while (console_globals.line_count > 0 &&
           (console_globals.string_pool_size + size > MAXIMUM_CONSOLE_STRING_POOL_SIZE ||
            console_globals.line_count >= console_globals.maximum_line_count))
    {
        drop_oldest_console_line();
    }
    memmove(console_globals.string_pool + size, console_globals.string_pool,
            (size_t)console_globals.string_pool_size);
    memcpy(console_globals.string_pool, text, (size_t)size);
    console_globals.string_pool_size += size;
    memmove(&console_globals.lines[1], &console_globals.lines[0],
            sizeof(console_line) * (size_t)console_globals.line_count);
    ++console_globals.line_count;
    console_globals.lines[0].owner_player_index = (int16_t)owner_player_index;
    console_globals.lines[0].local_time_of_creation = console_local_time();
    console_globals.lines[0].size = size;

    if (player)
    {
        // Networking's back log keeps the line too (a player's line only).
        if (const auto back_log = get_networking_procedures()->add_chat_to_back_log) back_log(chat_mode, player->appearance.name, &player->appearance.primary_color, text);
    }
    cache_console_line((int16_t)owner_player_index, text);
}

void append_chat(int32_t owner_player_index, const char *buffer, int32_t mode)
{
    if (!console_globals.initialized || !buffer) return;
    char text[CONSOLE_LINE_BUFFER_SIZE];
    const size_t length = strnlen(buffer, CONSOLE_LINE_BUFFER_SIZE - 1);
    memcpy(text, buffer, length);
    text[length] = 0;

    // A headless game (no screen opened) wraps to nothing.
    rectangle2d screen = {0, 0, 0, 0};
    if (active_screen.screen_initialized) get_screen_bounds(&screen);
    int32_t width = screen.right - screen.left;
    if (owner_player_index != NONE && console_player(owner_player_index)) width -= CONSOLE_NAME_BOX_WIDTH;
    if (width < 1) width = 32767; // no screen yet: nothing to wrap to
    const int32_t font = console_globals.input_edittext ? console_globals.input_edittext->font : console_font();

    int32_t start = 0;
    while (text[start])
    {
        // The wrap search measures at most TEXT_BUFFER_SIZE - 2 bytes at once.
        int32_t end = (int32_t)length;
        if (end - start > TEXT_BUFFER_SIZE - 2) end = start + TEXT_BUFFER_SIZE - 2;
        const int32_t searched_end = end;
        const bool fits = find_string_wrap_point(font, NONE, text, width, start, &end);
        if (end <= start || end > searched_end) end = searched_end;
        // A word wider than the line has no wrap point: it is cut at the last
        // whole character that still fits (found by halving), at least one.
        char piece[CONSOLE_LINE_BUFFER_SIZE];
        memcpy(piece, text + start, (size_t)(end - start));
        piece[end - start] = 0;
        if (string_width(font, NONE, piece) >= width)
        {
            int32_t boundaries[TEXT_BUFFER_SIZE];
            int32_t count = 0;
            for (int32_t index = 0; index < end - start && count < TEXT_BUFFER_SIZE;)
            {
                const int32_t before = index;
                get_next_character(piece, &index);
                if (index <= before) break;
                boundaries[count++] = index;
            }
            int32_t low = 0, high = count - 1; // boundaries[low] is kept even when too wide
            while (low < high)
            {
                const int32_t middle = (low + high + 1) / 2;
                const char saved = piece[boundaries[middle]];
                piece[boundaries[middle]] = 0;
                const bool narrow = string_width(font, NONE, piece) < width;
                piece[boundaries[middle]] = saved;
                if (narrow) low = middle;
                else high = middle - 1;
            }
            if (count > 0 && boundaries[low] < end - start)
            {
                end = start + boundaries[low];
                piece[end - start] = 0;
            }
        }
        cputs(false, owner_player_index, piece, mode);
        if (fits && end == (int32_t)length) break;
        start = end;
        while (text[start] == ' ') ++start;
    }
}

void set_console_warning(const char *message, int32_t display_ticks)
{
    // Copied: the caller's text may not outlive the banner.
    if (!message)
        console_globals.warning[0] = 0;
    else
        strlcpy(console_globals.warning, message, sizeof(console_globals.warning));
    console_globals.warning_end_time = game_->game_time + display_ticks;
}

void set_console_error(int16_t error)
{
    if (console_globals.error == NONE) console_globals.error = error;
}
int16_t get_console_error(void) { return console_globals.error; }

bool console_assert_logged(void) { return vesk_assert_warning_given(); }
void set_console_assert_logged(bool logged) { set_vesk_assert_warning_given(logged); }

// ---- the typed line ----------------------------------------------------------------------------

void set_console_prompts(const char *left, const char *right)
{
    strlcpy(console_globals.left_prompt, left ? left : "", sizeof(console_globals.left_prompt));
    strlcpy(console_globals.right_prompt, right ? right : "", sizeof(console_globals.right_prompt));
}

void start_console_input(const char *default_string, int32_t maximum_length)
{
    if (!console_globals.input_edittext) return;
    if (maximum_length < 0) maximum_length = 0;
    if (maximum_length > MAXIMUM_EDITTEXT_LENGTH) maximum_length = MAXIMUM_EDITTEXT_LENGTH;
    console_globals.input_state = _console_input_typing;
    console_globals.input_ticks = console_local_time();
    // Until a frame places the field, typing is limited by the screen's width.
    rectangle2d screen = {0, 0, 480, 640}, bounds = {0, 0, INPUT_BAND_HEIGHT, 0};
    if (active_screen.screen_initialized) get_screen_bounds(&screen);
    bounds.right = (int16_t)(screen.right - screen.left - INPUT_FIELD_RIGHT_MARGIN);
    set_edittext_bounds(console_globals.input_edittext, &bounds);
    set_edittext_maximum_length(console_globals.input_edittext, maximum_length);
    set_edittext_string(console_globals.input_edittext, default_string);
    // The caret goes after the default text.
    const int32_t end = (int32_t)strlen(console_globals.input_edittext->string);
    select_edit_text_range(console_globals.input_edittext, end, end);
}

void stop_console_input(void) { console_globals.input_state = _console_input_idle; }

int32_t get_console_input(char *buffer, int32_t maximum_length)
{
    if (console_globals.input_state == _console_input_idle) return 0;
    if (console_globals.input_edittext) get_edittext_string(console_globals.input_edittext, buffer, maximum_length);
    else if (buffer && maximum_length > 0) buffer[0] = 0;
    return console_globals.input_state;
}

int32_t get_console_input_state(void) { return console_globals.input_state; }

bool console_handled_action(const action_data *action)
{
    if (!VASSERT(console_globals.initialized, "console_globals.initialized")) return false;
    if (!action || console_globals.input_state != _console_input_typing) return false;
    if (action->key_code == _keypad_enter || action->key_code == _key_return)
    {
        console_globals.input_state = _console_input_accepted;
        return true;
    }
    if (test_action_flag(action, _left_mouse_down_bit) || test_action_flag(action, _right_mouse_down_bit))
    {
        console_globals.input_state = _console_input_cancelled;
        return false;
    }
    if (console_globals.input_edittext && handle_edittext_action(console_globals.input_edittext, action))
        console_globals.input_ticks = console_local_time();
    return true;
}

void save_cached_console_text(cached_line *buffer, int16_t *count)
{
    if (buffer) memcpy(buffer, console_globals.cached_lines, sizeof(console_globals.cached_lines));
    if (count) *count = console_globals.cached_line_count;
}

void restore_cached_console_text(const cached_line *buffer, int16_t count)
{
    if (!buffer) count = 0;
    if (count < 0) count = 0;
    if (count > MAXIMUM_CACHED_CONSOLE_LINES) count = MAXIMUM_CACHED_CONSOLE_LINES;
    memset(console_globals.cached_lines, 0, sizeof(console_globals.cached_lines));
    if (count > 0) memcpy(console_globals.cached_lines, buffer, sizeof(cached_line) * (size_t)count);
    for (int32_t i = 0; i < count; ++i) console_globals.cached_lines[i].string[CACHED_CONSOLE_LINE_SIZE - 1] = 0;
    console_globals.cached_line_count = count;
}

// ---- drawing ---------------------------------------------------------------------------------------

static const rgb_color console_black = {0, 0, 0, 0};
static const rgb_color console_white = {0xFFFF, 0xFFFF, 0xFFFF, 0};
static const rgb_color console_dark_red = {0x8000, 0, 0, 0};
static const rgb_color console_dark_blue = {0, 0x1800, 0x6000, 0};

struct console_drawing
{
    bitmap_data *screen;
    rectangle2d hole;       // the lines' area (raised while a prompt is shown)
    int16_t band_left, band_right;
    int32_t font;
    rgb_color text_color;
};

static void draw_console_line(const console_drawing *d, int32_t row, int16_t owner, const char *text,
                              fixed_fraction fade)
{
    rectangle2d band;
    band.left = d->band_left;
    band.right = d->band_right;
    band.top = (int16_t)(d->hole.bottom - CONSOLE_FIRST_ROW_HEIGHT - CONSOLE_ROW_HEIGHT * row);
    band.bottom = (int16_t)(band.top + (row == 0 ? CONSOLE_FIRST_ROW_HEIGHT : CONSOLE_ROW_HEIGHT));
    // A fading line takes its band with it.
    const fixed_fraction band_transparency =
        (fixed_fraction)(BAND_TRANSPARENCY + (((int32_t)fade * (65535 - BAND_TRANSPARENCY)) >> 16));
    fill_rectangle_clipped(d->screen, &console_black, &band, nullptr, band_transparency, nullptr);

    rectangle2d text_bounds = band;
    text_bounds.left = (int16_t)(text_bounds.left + TEXT_INSET);
    const player_data *player = owner != NONE ? console_player(owner) : nullptr;
    if (player)
    {
        rectangle2d box = band;
        box.right = (int16_t)(box.left + CONSOLE_NAME_BOX_WIDTH);
        const fixed_fraction box_transparency = (fixed_fraction)(fade / 4 + fade / 2 + 16384);
        fill_rectangle_clipped(d->screen, &player->appearance.primary_color, &box, nullptr, box_transparency,
                               nullptr);
        rectangle2d name_bounds = box;
        name_bounds.right = (int16_t)(name_bounds.right - TEXT_INSET);
        draw_string(d->screen, nullptr, &name_bounds, nullptr, d->font, NONE, &d->text_color, player->appearance.name,
                    _draw_string_shadow_flag | _draw_string_right_justified_flag | _draw_string_center_vertical_flag,
                    fade);
        text_bounds.left = (int16_t)(box.right + TEXT_INSET);
    }
    draw_string(d->screen, nullptr, &text_bounds, nullptr, d->font, NONE, &d->text_color, text,
                _draw_string_shadow_flag | _draw_string_center_vertical_flag, fade);
}

// A 300 x 22 box centred on (x, y) with its text centred.
static void draw_console_box(const console_drawing *d, int32_t center_x, int32_t center_y, const rgb_color *fill,
                             fixed_fraction fill_transparency, const char *text, fixed_fraction text_transparency)
{
    rectangle2d box;
    box.left = (int16_t)(center_x - BANNER_WIDTH / 2);
    box.right = (int16_t)(box.left + BANNER_WIDTH);
    box.top = (int16_t)(center_y - BANNER_HEIGHT / 2);
    box.bottom = (int16_t)(box.top + BANNER_HEIGHT);
    if (fill) fill_rectangle_clipped(d->screen, fill, &box, nullptr, fill_transparency, nullptr);
    draw_string(d->screen, nullptr, &box, nullptr, d->font, NONE, &console_white, text,
                _draw_string_center_horizontal_flag | _draw_string_center_vertical_flag, text_transparency);
}

static void draw_console_lines(const console_drawing *d, int32_t now)
{
    const int32_t solid = console_globals.solid_line_time;
    int32_t offset = 0;
    for (int32_t i = 0; i < console_globals.line_count; ++i)
    {
        const console_line *line = &console_globals.lines[i];
        const int32_t age = now - line->local_time_of_creation;
        if (age > solid + LINE_FADE_TICKS - 1)
        {
            // This line and every older one have faded out.
            console_globals.line_count = (int16_t)i;
            console_globals.string_pool_size = offset;
            break;
        }
        const fixed_fraction fade = age <= solid ? 0 : (fixed_fraction)((age - solid) * 65536 / LINE_FADE_TICKS);
        draw_console_line(d, i, line->owner_player_index, console_globals.string_pool + offset, fade);
        offset += line->size;
    }
}

static void draw_console_backlog(const console_drawing *d)
{
    const int32_t count = console_globals.cached_line_count;
    for (int32_t k = 0; k < count; ++k)
    {
        const cached_line *line = &console_globals.cached_lines[k];
        draw_console_line(d, count - 1 - k, line->owner_player_index, line->string, 0);
    }
}

static void draw_console_input(const console_drawing *d, const rectangle2d *hole, int32_t now)
{
    rectangle2d band;
    band.left = (int16_t)(hole->left + 4);
    band.right = (int16_t)(hole->right - 4);
    band.top = (int16_t)(hole->bottom - INPUT_BAND_TOP);
    band.bottom = (int16_t)(band.top + INPUT_BAND_HEIGHT);
    fill_rectangle_clipped(d->screen, &console_black, &band, nullptr, 32768, nullptr);

    rectangle2d text_bounds = band;
    text_bounds.left = (int16_t)(band.left + TEXT_INSET);
    text_bounds.right = (int16_t)(band.right - TEXT_INSET);
    point2d end = {0, 0};
    draw_string(d->screen, &end, &text_bounds, nullptr, d->font, NONE, &d->text_color, console_globals.left_prompt,
                _draw_string_center_vertical_flag, 0);
    const int32_t prompt_width = console_globals.left_prompt[0] ? end.x : 0;

    edittext_data *edit = console_globals.input_edittext;
    if (console_globals.input_state == _console_input_typing && edit)
    {
        rectangle2d field = band;
        field.left = (int16_t)(text_bounds.left + prompt_width + INPUT_FIELD_PROMPT_GAP);
        field.right = (int16_t)(hole->right - INPUT_FIELD_RIGHT_MARGIN);
        set_edittext_bounds(edit, &field);
        char shown[MAXIMUM_CONSOLE_INPUT_DISPLAY_LENGTH + 2];
        strlcpy(shown, edit->string, MAXIMUM_CONSOLE_INPUT_DISPLAY_LENGTH + 1);
        point2d text_end = {0, 0};
        draw_string(d->screen, &text_end, &field, nullptr, d->font, NONE, &d->text_color, shown,
                    _draw_string_center_vertical_flag, 0);
        const int32_t phase = (now - console_globals.input_ticks) % CARET_PERIOD;
        if (phase >= 0 && phase < CARET_VISIBLE_TICKS)
        {
            const fixed_fraction caret_transparency =
                phase < CARET_FADE_START ? 0 : (fixed_fraction)((phase - CARET_FADE_START) * 65536 / 3);
            const char caret[2] = {(char)CARET_CHARACTER, 0};
            point2d caret_origin = {shown[0] ? text_end.x : (int16_t)0, 0};
            draw_string(d->screen, &caret_origin, &field, nullptr, d->font, NONE, &d->text_color, caret,
                        _draw_string_center_vertical_flag, caret_transparency);
        }
    }
    draw_string(d->screen, nullptr, &text_bounds, nullptr, d->font, NONE, &d->text_color,
                console_globals.right_prompt, _draw_string_right_justified_flag | _draw_string_center_vertical_flag,
                0);
}

static const char *console_error_text(int16_t error)
{
    const int32_t list = console_globals.errors_string_list_index;
    if (error == _console_error_assert && count_strings_in_list(list) < 3) return "ASSERT ENCOUNTERED";
    return get_string_from_list(list, error);
}

// While the last seconds of a battle play before its report: what they
// mean for the local team, and the banner's colour.  Null at any other time.
static const char *battle_over_text(const rgb_color **fill)
{
    if (game_->time_state != _game_time_ending || (game_->flags.load() & _game_is_over_flag)) return nullptr;
    *fill = &console_dark_blue;
    switch (get_local_postgame_outcome())
    {
    case _postgame_outcome_won: return "VICTORY - THE BATTLE IS OVER";
    case _postgame_outcome_lost: *fill = &console_dark_red; return "DEFEAT - THE BATTLE IS OVER";
    default: return "THE BATTLE IS OVER";
    }
}

void rasterize_console(view_data *view)
{
    if (!console_globals.initialized || !view || !view->screen) return;
    const int32_t now = console_local_time();

    console_drawing d;
    d.screen = view->screen;
    d.hole = view->hole;
    const bool prompt_shown = console_globals.left_prompt[0] || console_globals.right_prompt[0];
    if (prompt_shown) d.hole.bottom = (int16_t)(d.hole.bottom - PROMPT_HOLE_RAISE);
    d.font = console_font();
    get_interface_color(CONSOLE_TEXT_COLOR, &d.text_color);
    if (console_control_bar_visible(nullptr))
    {
        d.band_left = view->hole.left;
        d.band_right = view->hole.right;
    }
    else
    {
        d.band_left = 0;
        d.band_right = view->screen_width;
    }

    console_globals.state = display_chat ? 0 : 1;
    if (key_down(_key_caps_lock))
    {
        const input_definition *definition = get_input_definition();
        if (definition && definition->caps_lock_action == _caps_lock_chat_backlog) console_globals.state = 0;
    }
    if (console_globals.state == 1) draw_console_lines(&d, now);
    else draw_console_backlog(&d);

    const int32_t center_x = (view->hole.left + view->hole.right) / 2;
    const int32_t center_y = (d.hole.top + d.hole.bottom) / 2;
    // The banner blinks: hidden 8 ticks out of every 32.
    const bool banner_shown = (now & 0x18) != 8;
    if (console_globals.error != NONE)
    {
        if (banner_shown)
            draw_console_box(&d, center_x, center_y, &console_dark_red, 32768, console_error_text(console_globals.error),
                             0);
    }
    else if (console_globals.warning[0] && game_->game_time < console_globals.warning_end_time)
    {
        if (banner_shown)
            draw_console_box(&d, center_x, center_y, &console_dark_red, 32768, console_globals.warning, 0);
    }
    else if (const rgb_color *fill = nullptr; const char *over = battle_over_text(&fill))
    {
        // Steady, not blinking: the end is news, not an alarm.
        draw_console_box(&d, center_x, center_y, fill, 32768, translate_string(over), 0);
    }
    else
    {
        rasterize_console_popup(view);
    }

    if (joining_mid_game)
    {
        char remaining[TIME_REMAINING_STRING_SIZE];
        get_time_remaining_string(remaining);
        char text[CONSOLE_LINE_BUFFER_SIZE];
        slprintf(text, sizeof(text), "%s - %s", translate_string("JOINING GAME"), remaining);
        int32_t p = now % 40 + 1;
        if (p > 19) p = 40 - p;
        draw_console_box(&d, center_x, center_y + JOINING_OFFSET, nullptr, 0, text,
                         (fixed_fraction)(4096 + 16384 * p / 20));
    }

    if (prompt_shown) draw_console_input(&d, &view->hole, now);
    rasterize_console_menu(view);
}

// ---- registration ----------------------------------------------------------------------------------

static bool startup_console(void)
{
    initialize_console();
    return true;
}
static bool console_map_initialize(const new_game_data *) { return initialize_console_for_new_map(); }
static void print_to_console(const char *text) { cprintf(false, "%s", text); }
static void console_prompts(const char *first, const char *second, int32_t menu_mode)
{
    set_console_prompts(first, second);
    if (get_console_menu_globals() && get_console_menu_globals()->initialized) set_console_menu_mode(menu_mode);
}
static void console_text_input(bool start, int32_t maximum_length)
{
    if (start) start_console_input("", maximum_length);
    else stop_console_input();
}
static void console_popup(const char *left, const char *right, int32_t visible_ticks)
{
    if (visible_ticks > INT16_MAX) visible_ticks = INT16_MAX;
    if (visible_ticks < 0) visible_ticks = 0;
    set_console_popup(left, right, (int16_t)visible_ticks);
}
static void console_chat_command(int32_t player_index, uint32_t flags, const char *text)
{
    append_chat(player_index, text, (int32_t)flags);
}
static void console_advance_mission(int32_t steps)
{
    if (steps > 0) advance_mission(true);
    else if (steps < 0) advance_mission(false);
}

// The console shows a game running (not the demo behind the menu, nor a
// game under a dialog's state).
static bool console_shows_the_game(void)
{
    return console_globals.initialized && game_world_is_shown() &&
           get_underlying_game_state() == _game_state_running;
}
bool print_error_on_console_in_game(const char *text)
{
    if (!text || !*text || !console_shows_the_game()) return false;
    cprintf(false, "%s", text);
    return true;
}

// The game record's out-of-sync flag lets this through once per game.
// The tick named is the first known to differ (a sync check's or the end's),
// the one the tools and the out-of-sync check name, not the later tick the
// check ran at.
static void console_out_of_sync(void)
{
    const int32_t tick = get_out_of_sync_tick();
    cprintf(false, "Out of sync at tick %d", (int)(tick != NONE ? tick : game_->game_time));
}

void register_console_hooks(void)
{
    register_startup_procedure(_startup_console, startup_console);
    register_map_procedures(_map_console, console_map_initialize, dispose_console_from_old_map);
    static const console_procedures procedures = {
        .print_to_console = print_to_console,
        .out_of_sync = console_out_of_sync,
        .chat_command = console_chat_command,
        .handled_action = console_handled_action,
        .input = get_console_input,
        .prompts = console_prompts,
        .text_input = console_text_input,
        .popup = console_popup,
        .advance_mission = console_advance_mission,
        .save_cached_console_text = save_cached_console_text, // saved games
        .restore_cached_console_text = restore_cached_console_text,
    };
    register_console_procedures(&procedures);
}
