#pragma once
// The map actions of a map source (`vesk_tags mesh`): each "action"
// statement opens an action, each "parameter" statement after it appends one
// typed, named entry to it; the block is laid out as the mesh stores it
// (docs/formats.md, "Writing map actions").

#include <cstdint>
#include <string>
#include <vector>

struct map_action_source_parameter
{
    int16_t type;
    int16_t count;
    uint32_t field_name;
    std::vector<uint8_t> values; // host order, count * the type's value size
};

struct map_action_source_action
{
    int16_t identifier;
    uint32_t tag; // NONE: no procedure
    uint32_t flags;
    int16_t mode;
    int32_t lower_bound, delta;
    std::vector<map_action_source_parameter> parameters;
};

// "action IDENTIFIER TAG FLAGS MODE LOWER DELTA" (words[0] is "action").
// False with `*reason` set when a word is refused.
bool parse_map_action_statement(const std::vector<std::string> &words, map_action_source_action *action,
                                const char **reason);

// "parameter NAME TYPE [VALUE...]"; `text` is the statement's whole line
// (comment removed), from which a character entry takes its text.
bool parse_map_action_parameter_statement(const std::vector<std::string> &words, const std::string &text,
                                          map_action_source_parameter *parameter, const char **reason);

// The block as stored (records, then every action's run in order,
// big-endian); false with `*reason` when it would not fit the block's limits
// (1024 actions, a run of 32767 bytes, an area below 98304 bytes) or two
// actions share an identifier.
bool build_map_action_block(const std::vector<map_action_source_action> &actions, std::vector<uint8_t> *block,
                            const char **reason);
