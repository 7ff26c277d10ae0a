#include "input_events.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cseries/cseries.h"
#include "input/action_queue.h"
#include "input/input_controller_sdl.h"
#include "input/input_definitions.h"
#include "input/keyboard.h"
#include "unit_orders.h"

namespace {

struct key_name
{
    const char *name;
    SDLKey symbol;
};

// Letters and digits stand for themselves; these are the other keys a file
// may name.
const key_name key_names[] = {
    {"escape", SDLK_ESCAPE},   {"return", SDLK_RETURN},   {"space", SDLK_SPACE},     {"tab", SDLK_TAB},
    {"backspace", SDLK_BACKSPACE}, {"delete", SDLK_DELETE}, {"shift", SDLK_LSHIFT},  {"control", SDLK_LCTRL},
    {"alt", SDLK_LALT},        {"super", SDLK_LSUPER},    {"up", SDLK_UP},           {"down", SDLK_DOWN},
    {"left", SDLK_LEFT},       {"right", SDLK_RIGHT},     {"home", SDLK_HOME},       {"end", SDLK_END},
    {"pageup", SDLK_PAGEUP},   {"pagedown", SDLK_PAGEDOWN}, {"equals", SDLK_EQUALS}, {"minus", SDLK_MINUS},
    {"slash", SDLK_SLASH},     {"backquote", SDLK_BACKQUOTE}, {"backslash", SDLK_BACKSLASH},
    {"f1", SDLK_F1},           {"f2", SDLK_F2},           {"f3", SDLK_F3},           {"f4", SDLK_F4},
    {"f5", SDLK_F5},           {"f6", SDLK_F6},           {"f7", SDLK_F7},           {"f8", SDLK_F8},
    {"f9", SDLK_F9},           {"f10", SDLK_F10},         {"f11", SDLK_F11},         {"f12", SDLK_F12},
    {"kp0", SDLK_KP0},         {"kp1", SDLK_KP1},         {"kp2", SDLK_KP2},         {"kp3", SDLK_KP3},
    {"kp4", SDLK_KP4},         {"kp5", SDLK_KP5},         {"kp6", SDLK_KP6},         {"kp7", SDLK_KP7},
    {"kp8", SDLK_KP8},         {"kp9", SDLK_KP9},         {"kpplus", SDLK_KP_PLUS},  {"kpminus", SDLK_KP_MINUS},
};

bool parse_key_name(const std::string &name, SDLKey *symbol)
{
    if (name.size() == 1 && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')))
    {
        *symbol = (SDLKey)name[0];
        return true;
    }
    for (const key_name &entry : key_names)
        if (name == entry.name)
        {
            *symbol = entry.symbol;
            return true;
        }
    return false;
}

// Decimal digits only, within [minimum, maximum].
bool parse_number(const std::string &word, int64_t minimum, int64_t maximum, int64_t *value)
{
    if (word.empty() || word.size() > 10) return false;
    int64_t result = 0;
    for (char c : word)
    {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
    }
    if (result < minimum || result > maximum) return false;
    *value = result;
    return true;
}

std::vector<std::string> split_words(const char *line)
{
    std::vector<std::string> words;
    std::string word;
    for (const char *p = line; *p && *p != '#' && *p != '\n' && *p != '\r'; ++p)
    {
        if (*p == ' ' || *p == '\t')
        {
            if (!word.empty()) words.push_back(word);
            word.clear();
        }
        else
            word += *p;
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

bool parse_button(const std::string &word, uint8_t *button)
{
    if (word == "left") *button = SDL_BUTTON_LEFT;
    else if (word == "middle") *button = SDL_BUTTON_MIDDLE;
    else if (word == "right") *button = SDL_BUTTON_RIGHT;
    else return false;
    return true;
}

// One line's event; the pointer `location` is the one the file last moved to
// (buttons are pressed where the pointer is).  False with why in `why`.
bool parse_event(const std::vector<std::string> &words, int32_t *pointer_x, int32_t *pointer_y, SDL_Event *event,
                 const char **why)
{
    memset(event, 0, sizeof(*event));
    const std::string &kind = words[1];
    const size_t arguments = words.size() - 2;
    if (kind == "key" && arguments == 2 && (words[2] == "down" || words[2] == "up"))
    {
        SDLKey symbol;
        if (!parse_key_name(words[3], &symbol)) return *why = "unknown key name", false;
        event->type = words[2] == "down" ? SDL_KEYDOWN : SDL_KEYUP;
        event->key.type = event->type;
        event->key.state = words[2] == "down" ? SDL_PRESSED : SDL_RELEASED;
        event->key.keysym.sym = symbol;
        return true;
    }
    if (kind == "button" && arguments == 2 && (words[2] == "down" || words[2] == "up"))
    {
        uint8_t button;
        if (!parse_button(words[3], &button)) return *why = "a button is left, middle or right", false;
        event->type = words[2] == "down" ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event->button.type = event->type;
        event->button.button = button;
        event->button.x = (uint16_t)*pointer_x;
        event->button.y = (uint16_t)*pointer_y;
        return true;
    }
    if (kind == "pointer" && arguments == 2)
    {
        int64_t x, y;
        if (!parse_number(words[2], 0, 32767, &x) || !parse_number(words[3], 0, 32767, &y))
            return *why = "a pointer position is two numbers from 0 to 32767", false;
        *pointer_x = (int32_t)x;
        *pointer_y = (int32_t)y;
        event->type = SDL_MOUSEMOTION;
        event->motion.type = SDL_MOUSEMOTION;
        event->motion.x = (uint16_t)x;
        event->motion.y = (uint16_t)y;
        return true;
    }
    if (kind == "wheel" && arguments == 1 && (words[2] == "up" || words[2] == "down"))
    {
        // A notch counts when its button comes up.
        event->type = SDL_MOUSEBUTTONUP;
        event->button.type = SDL_MOUSEBUTTONUP;
        event->button.button = words[2] == "up" ? SDL_BUTTON_WHEELUP : SDL_BUTTON_WHEELDOWN;
        event->button.x = (uint16_t)*pointer_x;
        event->button.y = (uint16_t)*pointer_y;
        return true;
    }
    if (kind == "wheel" && arguments == 1 && (words[2] == "zooms" || words[2] == "moves" || words[2] == "ignored"))
    {
        // Not a device event: the player's choice of what the wheel does,
        // as the mouse options of the current binding set would hold it.
        event->type = SDL_USEREVENT;
        event->user.type = SDL_USEREVENT;
        event->user.code = words[2] == "zooms" ? _mouse_control_wheel_zooms_flag
                           : words[2] == "moves" ? _mouse_control_wheel_moves_flag
                                                 : 0;
        return true;
    }
    if (kind == "quit" && arguments == 0)
    {
        event->type = SDL_QUIT;
        return true;
    }
    return *why = "expected \"key down|up NAME\", \"button down|up BUTTON\", \"pointer X Y\", \"wheel up|down\" or "
                  "\"quit\"",
           false;
}

// The modifier keys held, as the window system reports them with each key.
int32_t modifiers_after(const SDL_Event &event, int32_t modifiers)
{
    if (event.type != SDL_KEYDOWN && event.type != SDL_KEYUP) return modifiers;
    int32_t flag = 0;
    switch (event.key.keysym.sym)
    {
    case SDLK_LSHIFT: flag = KMOD_LSHIFT; break;
    case SDLK_LCTRL: flag = KMOD_LCTRL; break;
    case SDLK_LALT: flag = KMOD_LALT; break;
    default: return modifiers;
    }
    return event.type == SDL_KEYDOWN ? modifiers | flag : modifiers & ~flag;
}

} // namespace

bool read_input_events(const char *path, std::vector<input_event> *events, char *reason, size_t reason_size)
{
    events->clear();
    FILE *file = fopen(path, "r");
    if (!file)
    {
        slprintf(reason, reason_size, "cannot be read");
        return false;
    }
    std::vector<input_event> read;
    char text[1024];
    int32_t line = 0, pointer_x = 0, pointer_y = 0, modifiers = 0;
    bool ok = true;
    while (ok && fgets(text, sizeof(text), file))
    {
        ++line;
        if (!strchr(text, '\n') && !feof(file))
        {
            slprintf(reason, reason_size, "line %d: longer than %d characters", line, (int)sizeof(text) - 2);
            ok = false;
            break;
        }
        const std::vector<std::string> words = split_words(text);
        if (words.empty()) continue;
        int64_t tick;
        input_event entry = {};
        const char *why = nullptr;
        if (words.size() < 2 || !parse_number(words[0], 0, 100000000, &tick))
            why = "a line starts with its tick, a number from 0 to 100000000, and an event";
        else if (!read.empty() && read.back().tick > tick)
            why = "lines must be in tick order";
        else if (parse_event(words, &pointer_x, &pointer_y, &entry.event, &why))
        {
            modifiers = modifiers_after(entry.event, modifiers);
            if (entry.event.type == SDL_KEYDOWN || entry.event.type == SDL_KEYUP)
                entry.event.key.keysym.mod = (SDLMod)modifiers;
        }
        if (why)
        {
            slprintf(reason, reason_size, "line %d: %s", line, why);
            ok = false;
            break;
        }
        entry.line = line;
        entry.tick = (int32_t)tick;
        read.push_back(entry);
    }
    if (ok && ferror(file))
    {
        slprintf(reason, reason_size, "cannot be read");
        ok = false;
    }
    fclose(file);
    if (ok) *events = read;
    return ok;
}

void take_over_keyboard_task(void)
{
    remove_keyboard_queue_task();
    set_keyboard_queue_task_state(true);
}

void feed_input_events_of_tick(int32_t tick, void *context)
{
    input_feed *feed = (input_feed *)context;
    if (feed->orders) give_unit_orders_of_tick(tick, feed->orders);
    while (feed->next < feed->events.size() && feed->events[feed->next].tick <= tick)
    {
        const input_event &entry = feed->events[feed->next++];
        if (entry.tick != tick) continue;
        if (entry.event.type == SDL_USEREVENT)
        {
            const input_definition definition = *get_input_definition();
            mouse_control_data mouse_controls = *get_mouse_controls();
            mouse_controls.flags = (mouse_controls.flags & ~(uint32_t)_mouse_control_wheel_flags_mask) |
                                   (uint32_t)entry.event.user.code;
            slam_current_settings(&definition, &mouse_controls, definition.set_index);
        }
        else
            queue_input_event_if_necessary(&entry.event);
    }
    keyboard_queue_task_proc(nullptr);
    update_actions();
}
