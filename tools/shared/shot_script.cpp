#include "shot_script.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include <strings.h>

#include "cseries/cseries.h"
#include "cseries/cstrings.h"
#include "input/input_definitions.h"

// The scripts' key names, by internal key code: one word each, so a script
// line splits on blanks; the digits are "Digit1" and so on, since a bare
// number is a key code.  Insert is the key the game reads as Help.
static const char *const shot_key_names[] = {
    "Escape",
    "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12", "F13", "F14", "F15",
    "Backquote",
    "Digit1", "Digit2", "Digit3", "Digit4", "Digit5", "Digit6", "Digit7", "Digit8", "Digit9", "Digit0",
    "Minus", "Equals", "Backspace", "Tab",
    "Q", "W", "E", "R", "T", "Y", "U", "I", "O", "P",
    "LeftBracket", "RightBracket", "Backslash", "CapsLock",
    "A", "S", "D", "F", "G", "H", "J", "K", "L",
    "Semicolon", "Quote", "Return", "Shift",
    "Z", "X", "C", "V", "B", "N", "M",
    "Comma", "Period", "Slash",
    "Ctrl", "Super", "Alt", "Space",
    "Up", "Down", "Left", "Right",
    "Insert", "Home", "PageUp", "Delete", "End", "PageDown",
    "Clear", "KeypadEquals", "KeypadSlash", "KeypadAsterisk",
    "Keypad0", "Keypad1", "Keypad2", "Keypad3", "Keypad4", "Keypad5", "Keypad6", "Keypad7", "Keypad8", "Keypad9",
    "KeypadMinus", "KeypadPlus", "Enter", "KeypadPeriod",
};
static_assert(NUMBER_OF(shot_key_names) == NUMBER_OF_KEYBOARD_DEVICE_CODES, "a name for every key code");
static_assert(_key_return == 56 && _key_space == 71 && _key_help == 76 && _keypad_enter == 98, "the names' order");

// A whole decimal number within [minimum, maximum].
static bool read_number(const std::string &word, long minimum, long maximum, long *value)
{
    if (word.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long parsed = strtol(word.c_str(), &end, 10);
    if (errno != 0 || *end != 0 || parsed < minimum || parsed > maximum) return false;
    *value = parsed;
    return true;
}

const char *shot_key_name(int32_t code)
{
    return code >= 0 && code < (int32_t)NUMBER_OF(shot_key_names) ? shot_key_names[code] : nullptr;
}

int32_t shot_key_code(const char *word)
{
    long code = 0;
    if (read_number(word, 0, NUMBER_OF_KEYBOARD_DEVICE_CODES - 1, &code)) return (int32_t)code;
    for (int32_t i = 0; i < (int32_t)NUMBER_OF(shot_key_names); ++i)
        if (strcasecmp(word, shot_key_names[i]) == 0) return i;
    return NONE;
}

bool parse_shot_script(const char *text, const char *name, std::vector<shot_event> *events, char *reason,
                       size_t reason_size)
{
    events->clear();
    std::istringstream lines(text);
    std::string line;
    int32_t number = 0;
    int32_t last_frame = 0;
    while (std::getline(lines, line))
    {
        ++number;
        const size_t comment = line.find('#');
        if (comment != std::string::npos) line.erase(comment);
        std::istringstream words(line);
        std::vector<std::string> word;
        for (std::string w; words >> w;) word.push_back(w);
        if (word.empty()) continue;
        shot_event event = {};
        long frame = 0, a = 0, b = 0;
        bool good = word.size() >= 2 && read_number(word[0], 0, 1000000, &frame);
        static const struct
        {
            const char *verb;
            int16_t kind;
        } pointer_verbs[] = {{"press", _shot_press},
                             {"release", _shot_release},
                             {"move", _shot_move},
                             {"right-press", _shot_right_press},
                             {"right-release", _shot_right_release}},
          key_verbs[] = {{"key", _shot_key}, {"down", _shot_key_down}, {"up", _shot_key_up}};
        int16_t pointer_kind = NONE, key_kind = NONE;
        for (const auto &verb : pointer_verbs)
            if (good && word[1] == verb.verb) pointer_kind = verb.kind;
        for (const auto &verb : key_verbs)
            if (good && word[1] == verb.verb) key_kind = verb.kind;
        if (pointer_kind != NONE)
        {
            good = word.size() == 4 && read_number(word[2], 0, 32767, &a) && read_number(word[3], 0, 32767, &b);
            event.kind = pointer_kind;
            event.x = (int16_t)a;
            event.y = (int16_t)b;
        }
        else if (key_kind != NONE)
        {
            const int32_t code = word.size() == 3 ? shot_key_code(word[2].c_str()) : NONE;
            if (word.size() == 3 && code == NONE)
            {
                slprintf(reason, reason_size, "%s:%d: \"%s\" names no key (a name such as Return, or a code 0-99)",
                         name, number, word[2].c_str());
                events->clear();
                return false;
            }
            good = code != NONE;
            event.kind = key_kind;
            event.key_code = (int16_t)code;
        }
        else
            good = false;
        if (good && frame < last_frame)
        {
            slprintf(reason, reason_size, "%s:%d: frame %ld comes after frame %d", name, number, frame, last_frame);
            events->clear();
            return false;
        }
        if (!good)
        {
            slprintf(reason, reason_size, "%s:%d: not \"FRAME press|release|right-press|right-release|move X Y\" or "
                     "\"FRAME key|down|up KEY\"",
                     name, number);
            events->clear();
            return false;
        }
        event.frame = (int32_t)frame;
        last_frame = event.frame;
        events->push_back(event);
    }
    return true;
}

bool read_shot_script(const char *path, std::vector<shot_event> *events, char *reason, size_t reason_size)
{
    events->clear();
    FILE *file = fopen(path, "rb");
    if (!file)
    {
        slprintf(reason, reason_size, "%s: cannot be read", path);
        return false;
    }
    std::string text;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, count);
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed || text.size() > 1000000 || text.find('\0') != std::string::npos)
    {
        slprintf(reason, reason_size, "%s: cannot be read as a script", path);
        return false;
    }
    return parse_shot_script(text.c_str(), path, events, reason, reason_size);
}
