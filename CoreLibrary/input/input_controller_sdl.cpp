#include "input/input_controller_sdl.h"

#include <SDL.h>

#include <array>
#include <atomic>

#include "input/input_definitions.h"
#include "input/keyboard.h"

namespace {

// Internal key code -> window-system key symbol.  The internal codes are the
// same on every keyboard layout; bindings and the key names use them.
constexpr int16_t sdl_keymap[NUMBER_OF_KEYBOARD_DEVICE_CODES] = {
    SDLK_ESCAPE,
    SDLK_F1, SDLK_F2, SDLK_F3, SDLK_F4, SDLK_F5, SDLK_F6, SDLK_F7, SDLK_F8, SDLK_F9, SDLK_F10, SDLK_F11, SDLK_F12,
    SDLK_F13, SDLK_F14, SDLK_F15,
    SDLK_BACKQUOTE,
    SDLK_1, SDLK_2, SDLK_3, SDLK_4, SDLK_5, SDLK_6, SDLK_7, SDLK_8, SDLK_9, SDLK_0,
    SDLK_MINUS, SDLK_PLUS, SDLK_BACKSPACE, SDLK_TAB,
    SDLK_q, SDLK_w, SDLK_e, SDLK_r, SDLK_t, SDLK_y, SDLK_u, SDLK_i, SDLK_o, SDLK_p,
    SDLK_LEFTBRACKET, SDLK_RIGHTBRACKET, SDLK_BACKSLASH, SDLK_CAPSLOCK,
    SDLK_a, SDLK_s, SDLK_d, SDLK_f, SDLK_g, SDLK_h, SDLK_j, SDLK_k, SDLK_l,
    SDLK_SEMICOLON, SDLK_QUOTE, SDLK_RETURN, SDLK_LSHIFT,
    SDLK_z, SDLK_x, SDLK_c, SDLK_v, SDLK_b, SDLK_n, SDLK_m,
    SDLK_COMMA, SDLK_PERIOD, SDLK_QUESTION,
    SDLK_LCTRL, SDLK_LSUPER, SDLK_LALT, SDLK_SPACE,
    SDLK_UP, SDLK_DOWN, SDLK_LEFT, SDLK_RIGHT,
    SDLK_HELP, SDLK_HOME, SDLK_PAGEUP, SDLK_DELETE, SDLK_END, SDLK_PAGEDOWN,
    SDLK_CLEAR, SDLK_EQUALS, SDLK_SLASH, SDLK_ASTERISK,
    SDLK_KP0, SDLK_KP1, SDLK_KP2, SDLK_KP3, SDLK_KP4, SDLK_KP5, SDLK_KP6, SDLK_KP7, SDLK_KP8, SDLK_KP9,
    SDLK_KP_MINUS, SDLK_KP_PLUS, SDLK_KP_ENTER, SDLK_KP_PERIOD,
};

enum
{
    _ascii_equivalent_ignores_repeats_flag = 1,
    ASCII_COLUMNS = 4, // plain, Shift, Option, Shift and Option
};

struct ascii_equivalent_data
{
    int16_t ascii[ASCII_COLUMNS];
    uint16_t flags;
};

struct ascii_row
{
    int16_t code;
    int16_t ascii[ASCII_COLUMNS];
};

// The characters of the keys that have them (8-bit codes); every other key
// has none.
constexpr ascii_row ascii_rows[] = {
    {16, {96, 126, 96, 96}},    {17, {49, 33, 193, 218}},   {18, {50, 64, 170, 219}},   {19, {51, 35, 163, 220}},
    {20, {52, 36, 162, 221}},   {21, {53, 37, 176, 222}},   {22, {54, 94, 164, 223}},   {23, {55, 38, 166, 224}},
    {24, {56, 42, 165, 161}},   {25, {57, 40, 187, 225}},   {26, {48, 41, 188, 226}},   {27, {45, 95, 208, 209}},
    {28, {61, 43, 173, 177}},   {31, {113, 81, 207, 206}},  {32, {119, 87, 183, 227}},  {33, {101, 69, 171, 171}},
    {34, {114, 82, 168, 228}},  {35, {116, 84, 160, -1}},   {36, {121, 89, 180, 231}},  {37, {117, 85, 172, 172}},
    {38, {105, 73, 246, 246}},  {39, {111, 79, 191, 175}},  {40, {112, 80, 185, 184}},  {41, {91, 123, 210, 211}},
    {42, {93, 125, 212, 213}},  {43, {92, 124, 199, 200}},  {45, {97, 65, 140, 129}},   {46, {115, 83, 167, 234}},
    {47, {100, 68, 182, 235}},  {48, {102, 70, 196, 236}},  {49, {103, 71, 169, 253}},  {50, {104, 72, 250, 238}},
    {51, {106, 74, 198, 239}},  {52, {107, 75, 251, 240}},  {53, {108, 76, 194, 241}},  {54, {59, 58, 201, 242}},
    {55, {39, 34, 190, 174}},   {58, {122, 90, 189, 252}},  {59, {120, 88, 197, 254}},  {60, {99, 67, 141, 130}},
    {61, {118, 86, 195, 215}},  {62, {98, 66, 186, 245}},   {63, {110, 78, 247, 247}},  {64, {109, 77, 181, 229}},
    {65, {44, 60, 178, 248}},   {66, {46, 62, 179, 249}},   {67, {47, 63, 214, 192}},   {71, {32, 32, 32, 32}},
    {83, {61, 61, 61, 61}},     {84, {47, 47, 47, 47}},     {85, {42, 42, 42, 42}},     {86, {48, 48, 48, 48}},
    {87, {49, 49, 49, 49}},     {88, {50, 50, 50, 50}},     {89, {51, 51, 51, 51}},     {90, {52, 52, 52, 52}},
    {91, {53, 53, 53, 53}},     {92, {54, 54, 54, 54}},     {93, {55, 55, 55, 55}},     {94, {56, 56, 56, 56}},
    {95, {57, 57, 57, 57}},     {96, {45, 45, 45, 45}},     {97, {43, 43, 43, 43}},     {99, {46, 46, 46, 46}},
};

// Keys whose repeats mean nothing: Escape, Caps Lock, Return and the modifiers.
constexpr int16_t repeat_ignoring_keys[] = {_key_escape, _key_caps_lock, _key_return, _key_shift,
                                            _key_control, _key_option, _key_command};

constexpr std::array<ascii_equivalent_data, NUMBER_OF_KEYBOARD_DEVICE_CODES> build_ascii_equivalents(void)
{
    std::array<ascii_equivalent_data, NUMBER_OF_KEYBOARD_DEVICE_CODES> table{};
    for (ascii_equivalent_data &entry : table)
    {
        for (int16_t &column : entry.ascii) column = -1;
        entry.flags = 0;
    }
    for (const ascii_row &row : ascii_rows)
        for (int32_t column = 0; column < ASCII_COLUMNS; ++column) table[row.code].ascii[column] = row.ascii[column];
    for (const int16_t code : repeat_ignoring_keys) table[code].flags |= _ascii_equivalent_ignores_repeats_flag;
    return table;
}
constexpr std::array<ascii_equivalent_data, NUMBER_OF_KEYBOARD_DEVICE_CODES> ascii_equivalents =
    build_ascii_equivalents();

// Window-system key symbol -> internal code, made from sdl_keymap once, at
// compile time, so no thread ever sees it half built.
constexpr std::array<uint16_t, NUMBER_OF_SDL_KEY_SYMBOLS> build_reverse_keymap(void)
{
    std::array<uint16_t, NUMBER_OF_SDL_KEY_SYMBOLS> table{};
    for (uint16_t &entry : table) entry = NO_INTERNAL_KEY_CODE;
    for (int32_t code = 0; code < NUMBER_OF_KEYBOARD_DEVICE_CODES; ++code)
        table[sdl_keymap[code]] = (uint16_t)code;
    // A PC keyboard has Insert where the Help key sits: it is the Help key
    // (which shows the key list), since PC keyboards have no key of that name.
    table[SDLK_INSERT] = _key_help;
    return table;
}
constexpr std::array<uint16_t, NUMBER_OF_SDL_KEY_SYMBOLS> reverse_keymap = build_reverse_keymap();
static_assert((int32_t)SDLK_LAST == (int32_t)NUMBER_OF_SDL_KEY_SYMBOLS);
static_assert(reverse_keymap[SDLK_EQUALS] == _keypad_equals && reverse_keymap[SDLK_PLUS] == _key_plus);
static_assert(reverse_keymap[SDLK_INSERT] == _key_help && reverse_keymap[SDLK_HELP] == _key_help);

enum
{
    NO_MOUSE_BUTTON = 0,
    MOUSE_BUTTON_RELEASED = -1, // a ring entry for any button going up
};

struct input_controller_globals
{
    std::atomic<bool> keyboard_state[NUMBER_OF_KEYBOARD_DEVICE_CODES];
    // One writer (the event pump moves `end`), one reader (the task moves
    // `start`); equal indexes mean empty, and the writer never fills the last
    // free slot, so it cannot overrun what the reader has not taken.
    std::atomic<int32_t> mouse_button_ring[MOUSE_BUTTON_RING_SIZE];
    std::atomic<int32_t> ring_start;
    std::atomic<int32_t> ring_end;
    bool ring_overflow_reported; // main thread: one log line per overflow
    std::atomic<int32_t> locked_mouse_state; // the button of this tick, 0 for none, -1 up
    std::atomic<uint32_t> mouse_location;    // x in the high half, y in the low half
    std::atomic<int32_t> mouse_wheel_value;  // +40 per notch up
    std::atomic<bool> grab_mode;
};

input_controller_globals input_controller_globals;

uint32_t pack_location(int16_t x, int16_t y)
{
    return ((uint32_t)(uint16_t)x << 16) | (uint16_t)y;
}

void store_location(int32_t x, int32_t y)
{
    input_controller_globals.mouse_location.store(pack_location((int16_t)x, (int16_t)y));
}

// Right modifiers count as the left ones; with Shift held, equals and slash
// are the plus and question-mark keys.
int32_t rewrite_key_symbol(int32_t symbol, uint32_t modifiers)
{
    switch (symbol)
    {
    case SDLK_RCTRL: return SDLK_LCTRL;
    case SDLK_RALT: return SDLK_LALT;
    case SDLK_RSHIFT: return SDLK_LSHIFT;
    case SDLK_RSUPER: return SDLK_LSUPER;
    default: break;
    }
    if (modifiers & KMOD_SHIFT)
    {
        if (symbol == SDLK_EQUALS) return SDLK_PLUS;
        if (symbol == SDLK_SLASH) return SDLK_QUESTION;
    }
    return symbol;
}

void release_key(int32_t code)
{
    input_controller_globals.keyboard_state[code].store(false);
    // A key whose Shift went up first comes up as its plain self: its shifted
    // code must not stay down.
    if (code == _keypad_equals) input_controller_globals.keyboard_state[_key_plus].store(false);
    if (code == _keypad_slash) input_controller_globals.keyboard_state[_key_question_mark].store(false);
}

void handle_key_event(const SDL_KeyboardEvent *key)
{
    const uint32_t modifiers = (uint32_t)key->keysym.mod;
    const int32_t code = internal_key_code_from_sdl_key(rewrite_key_symbol((int32_t)key->keysym.sym, modifiers));
    if (code == NO_INTERNAL_KEY_CODE) return;
    if (key->type == SDL_KEYUP)
    {
        release_key(code);
        return;
    }
    const bool repeat = input_controller_globals.keyboard_state[code].exchange(true);
    // Alt is the command key and Super the option key.
    add_input_to_queue(_input_device_keyboard, (int16_t)code, repeat, (modifiers & KMOD_SHIFT) != 0,
                       input_controller_globals.keyboard_state[_key_option].load(), (modifiers & KMOD_ALT) != 0,
                       (modifiers & KMOD_CTRL) != 0);
}

void push_mouse_button(int32_t entry)
{
    const int32_t end = input_controller_globals.ring_end.load(std::memory_order_relaxed);
    const int32_t next = (end + 1) % MOUSE_BUTTON_RING_SIZE;
    if (next == input_controller_globals.ring_start.load(std::memory_order_acquire))
    {
        // The task takes one event a tick; a burst beyond the ring is dropped
        // rather than written over events still waiting.
        if (!input_controller_globals.ring_overflow_reported)
            log_message(__FILE__, __LINE__, "mouse button events dropped: %d wait already",
                        MOUSE_BUTTON_RING_SIZE - 1);
        input_controller_globals.ring_overflow_reported = true;
        return;
    }
    input_controller_globals.ring_overflow_reported = false;
    input_controller_globals.mouse_button_ring[end].store(entry, std::memory_order_relaxed);
    input_controller_globals.ring_end.store(next, std::memory_order_release);
}

void handle_mouse_button_event(const SDL_MouseButtonEvent *button)
{
    const bool pressed = button->type == SDL_MOUSEBUTTONDOWN;
    if (button->button == SDL_BUTTON_WHEELUP || button->button == SDL_BUTTON_WHEELDOWN)
    {
        // A notch arrives as a press and a release: count it once.
        if (!pressed)
            input_controller_globals.mouse_wheel_value.fetch_add(
                button->button == SDL_BUTTON_WHEELUP ? MOUSE_WHEEL_NOTCH : -MOUSE_WHEEL_NOTCH);
        return;
    }
    push_mouse_button(pressed ? (int32_t)button->button : MOUSE_BUTTON_RELEASED);
    store_location(button->x, button->y);
}

} // namespace

bool initialize_input_device(void)
{
    SDL_EnableKeyRepeat(500, 30);
    for (std::atomic<bool> &key : input_controller_globals.keyboard_state) key.store(false);
    input_controller_globals.ring_start.store(0);
    input_controller_globals.ring_end.store(0);
    input_controller_globals.ring_overflow_reported = false;
    input_controller_globals.locked_mouse_state.store(NO_MOUSE_BUTTON);
    input_controller_globals.mouse_wheel_value.store(0);
    return true;
}

void release_input_devices(void)
{
}

void queue_input_event_if_necessary(const SDL_Event *event)
{
    if (!event) return;
    switch (event->type)
    {
    case SDL_KEYDOWN:
    case SDL_KEYUP: handle_key_event(&event->key); break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: handle_mouse_button_event(&event->button); break;
    case SDL_MOUSEMOTION: store_location(event->motion.x, event->motion.y); break;
    case SDL_QUIT: add_input_to_queue(_input_device_keyboard, _key_escape, false, false, false, false, false); break;
    default: break;
    }
}

void refresh_device_states(void)
{
    const int32_t start = input_controller_globals.ring_start.load(std::memory_order_relaxed);
    if (start == input_controller_globals.ring_end.load(std::memory_order_acquire)) return;
    input_controller_globals.locked_mouse_state.store(
        input_controller_globals.mouse_button_ring[start].load(std::memory_order_relaxed));
    input_controller_globals.ring_start.store((start + 1) % MOUSE_BUTTON_RING_SIZE, std::memory_order_release);
}

bool test_control_definition(const control_definition *control)
{
    if (!control) return false;
    switch (control->device)
    {
    case _input_device_keyboard:
        return control->code >= 0 && control->code < NUMBER_OF_KEYBOARD_DEVICE_CODES &&
               input_controller_globals.keyboard_state[control->code].load();
    case _input_device_mouse:
    {
        const int32_t button = input_controller_globals.locked_mouse_state.load();
        switch (control->code)
        {
        case _mouse_button_left: return button == SDL_BUTTON_LEFT;
        case _mouse_button_right: return button == SDL_BUTTON_RIGHT;
        case _mouse_button_middle: return button == SDL_BUTTON_MIDDLE;
        default: return false;
        }
    }
    default: return false;
    }
}

bool get_mouse_position(int16_t *x, int16_t *y)
{
    const uint32_t location = input_controller_globals.mouse_location.load();
    if (x) *x = (int16_t)(uint16_t)(location >> 16);
    if (y) *y = (int16_t)(uint16_t)(location & 0xFFFF);
    return true;
}

void set_mouse_position(int16_t x, int16_t y)
{
    input_controller_globals.mouse_location.store(pack_location(x, y));
}

void get_mouse_wheel_delta_for_axis(int16_t axis, int32_t *delta)
{
    if (!delta) return;
    *delta = axis == _mouse_wheel_axis_y ? -input_controller_globals.mouse_wheel_value.exchange(0) : 0;
}

void get_smooth_scroll_deltas(void)
{
}

int32_t internal_key_code_from_sdl_key(int32_t symbol)
{
    if (symbol < 0 || symbol >= NUMBER_OF_SDL_KEY_SYMBOLS) return NO_INTERNAL_KEY_CODE;
    return reverse_keymap[symbol];
}

int32_t sdl_key_from_internal_key_code(int32_t code)
{
    if (code < 0 || code >= NUMBER_OF_KEYBOARD_DEVICE_CODES) return NONE;
    return sdl_keymap[code];
}

int16_t ascii_equivalent_of_key(int32_t code, bool shift, bool option)
{
    if (code < 0 || code >= NUMBER_OF_KEYBOARD_DEVICE_CODES) return -1;
    return ascii_equivalents[code].ascii[(shift ? 1 : 0) + (option ? 2 : 0)];
}

bool key_repeats_ignored(int32_t code)
{
    if (code < 0 || code >= NUMBER_OF_KEYBOARD_DEVICE_CODES) return false;
    return (ascii_equivalents[code].flags & _ascii_equivalent_ignores_repeats_flag) != 0;
}

bool get_sdl_grab_mode(void)
{
    return input_controller_globals.grab_mode.load();
}

void set_sdl_grab_mode(bool mode)
{
    // Grabbing needs a window; without the video system there is none.
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_WM_GrabInput(mode ? SDL_GRAB_ON : SDL_GRAB_OFF);
}

void toggle_sdl_grab_mode(void)
{
    const bool mode = !input_controller_globals.grab_mode.load();
    input_controller_globals.grab_mode.store(mode);
    set_sdl_grab_mode(mode);
}
