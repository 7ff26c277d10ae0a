// The INI parser (syntax in iniparser.h).

#include "iniparser3.0b/iniparser.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "cseries/cseries.h"

enum
{
    // A file of garbage must not flood the log: past this many refused lines
    // only their number is reported.
    MAXIMUM_LOGGED_REFUSED_LINES = 32,
};

struct ini_parse_state
{
    ini_file *file;
    const char *source_name;
    int32_t section_index; // NONE before the first heading or under a refused one
    bool under_refused_heading;
};

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

static bool is_comment_start(char c)
{
    return c == ';' || c == '#';
}

static void refuse_line(ini_parse_state *state, int32_t line_number, const char *reason)
{
    ini_file *file = state->file;
    if (file->refused_line_count < MAXIMUM_LOGGED_REFUSED_LINES)
    {
        log_message(nullptr, -1, "%s, line %d: %s; line ignored",
                    state->source_name, line_number, reason);
    }
    file->refused_line_count++;
}

// Trims blanks from both ends of [*start, *end).
static void trim_blanks(char **start, char **end)
{
    while (*start < *end && is_blank(**start)) (*start)++;
    while (*end > *start && is_blank((*end)[-1])) (*end)--;
}

// True when [start, end) is empty after blanks, or blanks and then a comment.
static bool only_blanks_or_comment(const char *start, const char *end)
{
    while (start < end && is_blank(*start)) start++;
    return start == end || is_comment_start(*start);
}

static bool grow_array(void **array, int32_t *capacity, int32_t count, size_t element_size)
{
    if (count < *capacity) return true;
    int32_t new_capacity = *capacity ? *capacity * 2 : 16;
    void *grown = realloc(*array, (size_t)new_capacity * element_size);
    if (!grown) return false;
    *array = grown;
    *capacity = new_capacity;
    return true;
}

// Returns false only when memory runs out.
static bool parse_heading(ini_parse_state *state, char *start, char *end, int32_t line_number)
{
    ini_file *file = state->file;
    char *close = (char *)memchr(start, ']', (size_t)(end - start));
    char *name = start + 1;
    char *name_end = close;
    if (close) trim_blanks(&name, &name_end);
    if (!close || name == name_end || !only_blanks_or_comment(close + 1, end))
    {
        refuse_line(state, line_number,
                    !close ? "section heading without ']'"
                    : name == name_end ? "empty section name"
                    : "text after a section heading");
        state->section_index = NONE;
        state->under_refused_heading = true;
        return true;
    }
    *name_end = 0;
    state->under_refused_heading = false;
    state->section_index = ini_find_section(file, name);
    if (state->section_index != NONE) return true;
    if (!grow_array((void **)&file->section_names, &file->section_capacity,
                    file->section_count, sizeof(char *)))
    {
        return false;
    }
    file->section_names[file->section_count] = name;
    state->section_index = file->section_count++;
    return true;
}

// Returns false only when memory runs out.
static bool parse_setting(ini_parse_state *state, char *start, char *end, int32_t line_number)
{
    ini_file *file = state->file;
    char *equals = (char *)memchr(start, '=', (size_t)(end - start));
    if (!equals)
    {
        refuse_line(state, line_number, "neither a setting nor a section heading");
        return true;
    }
    char *key = start;
    char *key_end = equals;
    trim_blanks(&key, &key_end);
    if (key == key_end)
    {
        refuse_line(state, line_number, "setting without a key");
        return true;
    }

    char *value = equals + 1;
    char *value_end = end;
    while (value < value_end && is_blank(*value)) value++;
    if (value < value_end && *value == '"')
    {
        char *close = (char *)memchr(value + 1, '"', (size_t)(value_end - value - 1));
        if (!close)
        {
            refuse_line(state, line_number, "value without its closing quote");
            return true;
        }
        if (!only_blanks_or_comment(close + 1, value_end))
        {
            refuse_line(state, line_number, "text after a quoted value");
            return true;
        }
        value++;
        value_end = close;
    }
    else
    {
        // p[-1] is at worst the '=': "key=#1" is a value, "key = #1" a comment.
        for (char *p = value; p < value_end; p++)
        {
            if (is_comment_start(*p) && is_blank(p[-1]))
            {
                value_end = p;
                break;
            }
        }
        trim_blanks(&value, &value_end);
    }

    if (state->section_index == NONE)
    {
        // Settings under a refused heading were reported with the heading.
        if (!state->under_refused_heading)
        {
            refuse_line(state, line_number, "setting before any section heading");
        }
        return true;
    }
    if (!grow_array((void **)&file->pairs, &file->pair_capacity, file->pair_count, sizeof(ini_pair)))
    {
        return false;
    }
    // Both ends lie at or before the line's end, which is the '\n' or the
    // terminator after the copy, and the key ends before the value begins.
    *key_end = 0;
    *value_end = 0;
    ini_pair *pair = &file->pairs[file->pair_count++];
    pair->key = key;
    pair->value = value;
    pair->section_index = state->section_index;
    pair->line_number = line_number;
    return true;
}

bool ini_parse(ini_file *file, const char *data, size_t size, const char *source_name)
{
    memset(file, 0, sizeof(*file));
    if (!source_name) source_name = "INI text";
    if (size > MAXIMUM_INI_BUFFER_SIZE)
    {
        log_message(nullptr, -1, "%s: %zu bytes is more than an INI file may hold (%d); file ignored",
                    source_name, size, (int)MAXIMUM_INI_BUFFER_SIZE);
        return false;
    }
    file->text = (char *)malloc(size + 1);
    if (!file->text)
    {
        log_message(nullptr, -1, "%s: out of memory; file ignored", source_name);
        return false;
    }
    if (size) memcpy(file->text, data, size);
    file->text[size] = 0;

    ini_parse_state state = {file, source_name, NONE, false};
    char *text = file->text;
    char *text_end = text + size;
    if (size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) text += 3;

    int32_t line_number = 0;
    for (char *line = text; line < text_end;)
    {
        char *line_end = (char *)memchr(line, '\n', (size_t)(text_end - line));
        if (!line_end) line_end = text_end;
        line_number++;

        char *start = line;
        char *end = line_end;
        trim_blanks(&start, &end);
        bool ok = true;
        if (memchr(line, 0, (size_t)(line_end - line)))
        {
            refuse_line(&state, line_number, "NUL byte in the line");
        }
        else if (start == end || is_comment_start(*start))
        {
        }
        else if (*start == '[')
        {
            ok = parse_heading(&state, start, end, line_number);
        }
        else
        {
            ok = parse_setting(&state, start, end, line_number);
        }
        if (!ok)
        {
            log_message(nullptr, -1, "%s: out of memory at line %d; file ignored", source_name, line_number);
            ini_dispose(file);
            return false;
        }
        line = line_end + 1;
    }
    if (file->refused_line_count > MAXIMUM_LOGGED_REFUSED_LINES)
    {
        log_message(nullptr, -1, "%s: %d more lines ignored", source_name,
                    file->refused_line_count - MAXIMUM_LOGGED_REFUSED_LINES);
    }
    return true;
}

void ini_dispose(ini_file *file)
{
    free(file->text);
    free(file->section_names);
    free(file->pairs);
    memset(file, 0, sizeof(*file));
}

int32_t ini_find_section(const ini_file *file, const char *name)
{
    if (!name) return NONE;
    for (int32_t i = 0; i < file->section_count; i++)
    {
        if (strcasecmp(file->section_names[i], name) == 0) return i;
    }
    return NONE;
}

static bool pair_matches(const ini_pair *pair, int32_t section_index, const char *key)
{
    return pair->section_index == section_index && strcasecmp(pair->key, key) == 0;
}

const char *ini_get_value(const ini_file *file, int32_t section_index, const char *key)
{
    if (section_index == NONE || !key) return nullptr;
    for (int32_t i = file->pair_count - 1; i >= 0; i--)
    {
        if (pair_matches(&file->pairs[i], section_index, key)) return file->pairs[i].value;
    }
    return nullptr;
}

int32_t ini_get_values(const ini_file *file, int32_t section_index, const char *key,
                       const char **values, int32_t maximum)
{
    if (section_index == NONE || !key) return 0;
    int32_t count = 0;
    for (int32_t i = 0; i < file->pair_count; i++)
    {
        if (!pair_matches(&file->pairs[i], section_index, key)) continue;
        if (count < maximum) values[count] = file->pairs[i].value;
        count++;
    }
    return count;
}

bool ini_key_present(const ini_file *file, int32_t section_index, const char *key)
{
    return ini_get_value(file, section_index, key) != nullptr;
}
