#pragma once
// A writer of map-action blocks for tests (big-endian, as the mesh stores
// them) and the scaffolding that starts an empty script: the map-action
// module initialised for a map, game time and version set by the test.

#include <cstdint>
#include <cstring>
#include <vector>

#include "cseries/byte_swapping.h"
#include "map_actions/map_action_engine.h"
#include "map_actions/map_action_parameters.h"
#include "map_actions/map_actions.h"

struct test_parameter
{
    int16_t type;
    int16_t count;
    field_tag name;
    std::vector<uint8_t> values; // host order, count * value size
};

struct test_action
{
    int16_t identifier;
    action_tag tag;
    uint32_t flags = 0;
    int16_t mode = _map_action_deactivates_never;
    int32_t lower = 0, delta = 0;
    std::vector<test_parameter> parameters;

    test_action &raw(int16_t type, field_tag name, int16_t count, const void *values, int32_t size)
    {
        test_parameter p{type, count, name, {}};
        if (size > 0) p.values.assign((const uint8_t *)values, (const uint8_t *)values + size);
        parameters.push_back(p);
        return *this;
    }
    test_action &flag(field_tag name) { return raw(_parameter_flag, name, 0, nullptr, 0); }
    test_action &ids(field_tag name, std::vector<int16_t> v)
    {
        return raw(_parameter_action_identifier, name, (int16_t)v.size(), v.data(), (int32_t)(v.size() * 2));
    }
    test_action &units(field_tag name, std::vector<int16_t> v)
    {
        return raw(_parameter_monster_identifier, name, (int16_t)v.size(), v.data(), (int32_t)(v.size() * 2));
    }
    test_action &ints(field_tag name, std::vector<int32_t> v, int16_t type = _parameter_integer)
    {
        return raw(type, name, (int16_t)v.size(), v.data(), (int32_t)(v.size() * 4));
    }
    test_action &fixeds(field_tag name, std::vector<int32_t> v) { return ints(name, v, _parameter_fixed); }
    test_action &text(field_tag name, const char *s)
    {
        return raw(_parameter_character, name, (int16_t)(strlen(s) + 1), s, (int32_t)strlen(s) + 1);
    }
};

// Lays the actions out as stored: records, then every action's run in order.
inline std::vector<uint8_t> write_map_action_block(const std::vector<test_action> &actions)
{
    std::vector<uint8_t> area;
    std::vector<uint8_t> records(actions.size() * MAP_ACTION_SIZE);
    for (size_t i = 0; i < actions.size(); i++)
    {
        const test_action &a = actions[i];
        const int32_t offset = (int32_t)area.size();
        for (const test_parameter &p : a.parameters)
        {
            uint8_t header[8];
            write_be16(header, (uint16_t)p.type);
            write_be16(header + 2, (uint16_t)p.count);
            write_be32(header + 4, (uint32_t)p.name);
            area.insert(area.end(), header, header + 8);
            const parameter_definition *d = get_parameter_definition(p.type);
            std::vector<uint8_t> values = p.values;
            if (d && d->swap_code != _byte && !values.empty())
                byte_swap_memory("test", values.data(), (int32_t)values.size() / (d->swap_code == _2byte ? 2 : 4),
                                 d->swap_code);
            area.insert(area.end(), values.begin(), values.end());
            while (area.size() % 4) area.push_back(0);
        }
        uint8_t *r = records.data() + i * MAP_ACTION_SIZE;
        write_be16(r, (uint16_t)a.identifier);
        write_be16(r + 2, (uint16_t)a.mode);
        write_be32(r + 4, (uint32_t)a.tag);
        write_be32(r + 8, a.flags);
        write_be32(r + 12, (uint32_t)a.lower);
        write_be32(r + 16, (uint32_t)a.delta);
        write_be16(r + 20, (uint16_t)a.parameters.size());
        write_be16(r + 22, (uint16_t)(area.size() - offset));
        write_be32(r + 24, (uint32_t)offset);
    }
    records.insert(records.end(), area.begin(), area.end());
    return records;
}

// Imports the actions as a map's block (a copy; the import converts it).
inline bool import_test_actions(const std::vector<test_action> &actions)
{
    std::vector<uint8_t> block = write_map_action_block(actions);
    return import_map_actions((int32_t)actions.size(), (int32_t)block.size(), block.data(), true);
}

inline field_tag four(const char *s) { return FOUR_CHARACTER_CODE(s[0], s[1], s[2], s[3]); }
