// The map actions of a map source.  See map_action_source.h.

#include "map_action_source.h"
#include "tool_support.h"

#include <cstring>

#include "cseries/byte_swapping.h"
#include "map_actions/map_actions.h"

namespace {

// The names a source gives the 21 types, in type order.
const char *const parameter_type_names[NUMBER_OF_MAP_ACTION_PARAMETER_TYPES] = {
    "flag",       "character",   "unit",   "action", "angle",        "integer", "distance",
    "field",      "fixed",       "projectile_group", "string_list",  "sound",   "projectile",
    "point2d",    "rectangle",   "object", "model",  "sound_source", "point3d", "local_projectile_group",
    "animation",
};

int16_t parse_parameter_type(const std::string &word)
{
    for (int16_t type = 0; type < NUMBER_OF_MAP_ACTION_PARAMETER_TYPES; type++)
        if (word == parameter_type_names[type]) return type;
    int64_t number;
    if (tool_parse_number(word.c_str(), 0, NUMBER_OF_MAP_ACTION_PARAMETER_TYPES - 1, &number)) return (int16_t)number;
    return NONE;
}

// A decimal real ("-2.25", "3", "0.5") as 16.16, rounded to the nearest
// value (halves away from zero), computed exactly from the digits.
bool parse_fixed(const std::string &word, int32_t *value)
{
    size_t i = 0;
    const bool negative = i < word.size() && word[i] == '-';
    if (negative) i++;
    int64_t whole = 0;
    size_t digits = 0;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; i++, digits++)
    {
        whole = whole * 10 + (word[i] - '0');
        if (whole > 32768) return false;
    }
    // The fraction's digits as numerator / 10^n, at most 9 digits kept exact.
    int64_t numerator = 0, denominator = 1;
    if (i < word.size() && word[i] == '.')
    {
        for (i++; i < word.size() && word[i] >= '0' && word[i] <= '9'; i++, digits++)
        {
            if (denominator >= 1000000000) continue; // further digits cannot change the rounding much
            numerator = numerator * 10 + (word[i] - '0');
            denominator *= 10;
        }
    }
    if (digits == 0 || i != word.size()) return false;
    const int64_t magnitude = whole * 65536 + (numerator * 65536 * 2 + denominator) / (denominator * 2);
    const int64_t result = negative ? -magnitude : magnitude;
    if (result < INT32_MIN || result > INT32_MAX) return false;
    *value = (int32_t)result;
    return true;
}

void append_bytes(std::vector<uint8_t> *values, const void *data, size_t size)
{
    values->insert(values->end(), (const uint8_t *)data, (const uint8_t *)data + size);
}

// One word of a value of `type` (points and rectangles take one word per
// coordinate) appended in host order.
bool parse_parameter_value(int16_t type, const std::string &word, std::vector<uint8_t> *values)
{
    int64_t number;
    switch (type)
    {
    case _parameter_flag:
    {
        if (!tool_parse_number(word.c_str(), 0, 255, &number)) return false;
        const uint8_t byte = (uint8_t)number;
        append_bytes(values, &byte, 1);
        return true;
    }
    case _parameter_angle:
    {
        if (!tool_parse_number(word.c_str(), INT16_MIN, UINT16_MAX, &number)) return false;
        const uint16_t angle = (uint16_t)number;
        append_bytes(values, &angle, 2);
        return true;
    }
    case _parameter_monster_identifier:
    case _parameter_action_identifier:
    case _parameter_object_identifier:
    case _parameter_model_identifier:
    case _parameter_sound_source_identifier:
    case _parameter_local_projectile_group_identifier:
    case _parameter_model_animation_identifier:
    {
        if (!tool_parse_number(word.c_str(), INT16_MIN, INT16_MAX, &number)) return false;
        const int16_t identifier = (int16_t)number;
        append_bytes(values, &identifier, 2);
        return true;
    }
    case _parameter_field_name:
    case _parameter_projectile_group_tag:
    case _parameter_string_list_tag:
    case _parameter_sound_tag:
    case _parameter_projectile_tag:
    {
        tag code;
        if (!tool_parse_code(word.c_str(), true, &code)) return false;
        append_bytes(values, &code, 4);
        return true;
    }
    case _parameter_fixed:
    {
        int32_t value;
        if (!parse_fixed(word, &value)) return false;
        append_bytes(values, &value, 4);
        return true;
    }
    default: // integers, distances and the coordinates of points and rectangles
    {
        if (!tool_parse_number(word.c_str(), INT32_MIN, INT32_MAX, &number)) return false;
        const int32_t value = (int32_t)number;
        append_bytes(values, &value, 4);
        return true;
    }
    }
}

} // namespace

bool parse_map_action_statement(const std::vector<std::string> &words, map_action_source_action *action,
                                const char **reason)
{
    int64_t identifier, flags, mode, lower, delta;
    tag code;
    if (words.size() != 7 || !tool_parse_number(words[1].c_str(), 1, INT16_MAX, &identifier) ||
        !tool_parse_code(words[2].c_str(), true, &code) ||
        !tool_parse_number(words[3].c_str(), 0, _map_action_is_active_flag - 1, &flags) ||
        !tool_parse_number(words[4].c_str(), 0, NUMBER_OF_MAP_ACTION_DEACTIVATION_MODES - 1, &mode) ||
        !tool_parse_number(words[5].c_str(), INT32_MIN, INT32_MAX, &lower) ||
        !tool_parse_number(words[6].c_str(), INT32_MIN, INT32_MAX, &delta))
    {
        *reason = "action needs IDENTIFIER (1..32767) TAG FLAGS (0..31) MODE (0..4) LOWER DELTA";
        return false;
    }
    action->identifier = (int16_t)identifier;
    action->tag = code;
    action->flags = (uint32_t)flags;
    action->mode = (int16_t)mode;
    action->lower_bound = (int32_t)lower;
    action->delta = (int32_t)delta;
    action->parameters.clear();
    return true;
}

bool parse_map_action_parameter_statement(const std::vector<std::string> &words, const std::string &text,
                                          map_action_source_parameter *parameter, const char **reason)
{
    tag name;
    if (words.size() < 3 || !tool_parse_code(words[1].c_str(), false, &name))
    {
        *reason = "parameter needs NAME (four characters) TYPE [VALUE...]";
        return false;
    }
    const int16_t type = parse_parameter_type(words[2]);
    if (type == NONE)
    {
        *reason = "unknown parameter type";
        return false;
    }
    parameter->type = type;
    parameter->field_name = name;
    parameter->values.clear();
    const parameter_definition *definition = get_parameter_definition(type);
    if (type == _parameter_character)
    {
        // The rest of the line after the type word, kept with its terminator.
        size_t at = 0;
        for (int word = 0; word < 3; word++)
        {
            while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) at++;
            while (at < text.size() && text[at] != ' ' && text[at] != '\t') at++;
        }
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) at++;
        std::string rest = text.substr(at);
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r')) rest.pop_back();
        if (!rest.empty()) parameter->values.assign(rest.begin(), rest.end()), parameter->values.push_back(0);
    }
    else
    {
        for (size_t i = 3; i < words.size(); i++)
        {
            if (!parse_parameter_value(type, words[i], &parameter->values))
            {
                *reason = "a value does not suit the parameter's type";
                return false;
            }
        }
    }
    if (parameter->values.size() % (size_t)definition->size)
    {
        *reason = "points take 2 coordinates, 3d points 3 and rectangles 4 per value";
        return false;
    }
    const size_t count = parameter->values.size() / (size_t)definition->size;
    if (map_action_parameter_entry_size(type, (int32_t)count) > MAXIMUM_MAP_ACTION_RUN_SIZE)
    {
        *reason = "too many values";
        return false;
    }
    parameter->count = (int16_t)count;
    return true;
}

bool build_map_action_block(const std::vector<map_action_source_action> &actions, std::vector<uint8_t> *block,
                            const char **reason)
{
    block->clear();
    if (actions.empty()) return true;
    if (actions.size() > MAXIMUM_MAP_ACTIONS_PER_MAP)
    {
        *reason = "more than 1024 actions";
        return false;
    }
    for (size_t i = 0; i < actions.size(); i++)
        for (size_t j = 0; j < i; j++)
            if (actions[i].identifier == actions[j].identifier)
            {
                *reason = "two actions share an identifier";
                return false;
            }
    std::vector<uint8_t> area;
    std::vector<uint8_t> records(actions.size() * MAP_ACTION_SIZE, 0);
    for (size_t i = 0; i < actions.size(); i++)
    {
        const map_action_source_action &action = actions[i];
        const size_t offset = area.size();
        for (const map_action_source_parameter &parameter : action.parameters)
        {
            uint8_t header[MAP_ACTION_PARAMETER_HEADER_SIZE];
            write_be16(header, (uint16_t)parameter.type);
            write_be16(header + 2, (uint16_t)parameter.count);
            write_be32(header + 4, parameter.field_name);
            area.insert(area.end(), header, header + sizeof(header));
            const parameter_definition *definition = get_parameter_definition(parameter.type);
            std::vector<uint8_t> values = parameter.values;
            if (definition->swap_code != _byte && !values.empty())
                byte_swap_memory("map action parameter", values.data(),
                                 (int32_t)values.size() / (definition->swap_code == _2byte ? 2 : 4),
                                 definition->swap_code);
            area.insert(area.end(), values.begin(), values.end());
            while (area.size() % PARAMETER_ALIGNMENT) area.push_back(0);
        }
        const size_t run = area.size() - offset;
        if (run > MAXIMUM_MAP_ACTION_RUN_SIZE || action.parameters.size() > (size_t)INT16_MAX)
        {
            *reason = "an action's parameters pass 32767 bytes";
            return false;
        }
        if (area.size() >= PARAMETER_BUFFER_SIZE)
        {
            *reason = "the parameters of all actions reach 98304 bytes";
            return false;
        }
        uint8_t *record = records.data() + i * MAP_ACTION_SIZE;
        write_be16(record, (uint16_t)action.identifier);
        write_be16(record + 2, (uint16_t)action.mode);
        write_be32(record + 4, action.tag);
        write_be32(record + 8, action.flags);
        write_be32(record + 12, (uint32_t)action.lower_bound);
        write_be32(record + 16, (uint32_t)action.delta);
        write_be16(record + 20, (uint16_t)action.parameters.size());
        write_be16(record + 22, (uint16_t)run);
        write_be32(record + 24, (uint32_t)offset);
    }
    block->assign(records.begin(), records.end());
    block->insert(block->end(), area.begin(), area.end());
    return true;
}
