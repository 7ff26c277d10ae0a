#include "shot_script.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "cseries/cstrings.h"

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
        if (good && (word[1] == "press" || word[1] == "release" || word[1] == "move"))
        {
            good = word.size() == 4 && read_number(word[2], 0, 32767, &a) && read_number(word[3], 0, 32767, &b);
            event.kind = word[1] == "press" ? _shot_press : word[1] == "release" ? _shot_release : _shot_move;
            event.x = (int16_t)a;
            event.y = (int16_t)b;
        }
        else if (good && (word[1] == "key" || word[1] == "down" || word[1] == "up"))
        {
            good = word.size() == 3 && read_number(word[2], 0, 99, &a);
            event.kind = word[1] == "key" ? _shot_key : word[1] == "down" ? _shot_key_down : _shot_key_up;
            event.key_code = (int16_t)a;
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
            slprintf(reason, reason_size, "%s:%d: not \"FRAME press|release|move X Y\" or \"FRAME key|down|up CODE\"",
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
