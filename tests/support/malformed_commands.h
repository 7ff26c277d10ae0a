#pragma once
// Commands as they travel (big-endian, header first), written from the wire
// format alone: a sound one of each shape a verb's fields take, and the
// malformed payloads a hostile peer or a damaged film can hold.  Shared by
// the check's unit test, the process tests of hostile players and hosts, and
// the fuzz corpus.

#include <cstdint>
#include <string>
#include <vector>

// A command of `verb` whose fields are `body`; its size field says the whole
// length unless `size` is given.  Player 255, time 0.
inline std::vector<uint8_t> travelling_command(int8_t verb, const std::vector<uint8_t> &body, int32_t size = -1)
{
    const uint16_t length = (uint16_t)(size < 0 ? 8 + (int32_t)body.size() : size);
    std::vector<uint8_t> command = {(uint8_t)(length >> 8), (uint8_t)length, (uint8_t)verb, 0xFF, 0, 0, 0, 0};
    command.insert(command.end(), body.begin(), body.end());
    return command;
}

// `count` big-endian, then `bytes` bytes of records.
inline std::vector<uint8_t> travelling_array(int16_t count, size_t bytes)
{
    std::vector<uint8_t> array = {(uint8_t)((uint16_t)count >> 8), (uint8_t)count};
    array.resize(2 + bytes, 0);
    return array;
}

inline std::vector<uint8_t> joined(std::vector<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t> &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline std::vector<uint8_t> zeros(size_t count) { return std::vector<uint8_t>(count, 0); }

// `length` characters 'x', terminated when `terminated`.
inline std::vector<uint8_t> travelling_text(size_t length, bool terminated = true)
{
    std::vector<uint8_t> text(length, 'x');
    if (terminated) text.push_back(0);
    return text;
}

struct command_shape
{
    const char *name;
    std::vector<uint8_t> bytes;
};

// One sound command of each verb that has fields to read.
inline std::vector<command_shape> sound_commands(void)
{
    const std::vector<uint8_t> one_unit = travelling_array(1, 2);
    return {
        {"null", travelling_command(0, {})},
        {"sync", travelling_command(1, zeros(24))}, // with its chain, from 1850
        {"general", travelling_command(2, joined({zeros(4), one_unit}))},
        {"movement", travelling_command(3, joined({zeros(8), one_unit, travelling_array(2, 16)}))},
        {"target", travelling_command(4, joined({zeros(4), one_unit, one_unit}))},
        {"attack location", travelling_command(5, joined({zeros(16), one_unit}))},
        {"pick up", travelling_command(6, joined({zeros(8), one_unit}))},
        {"rename", travelling_command(7, joined({zeros(4), one_unit, travelling_text(17)}))},
        {"rotation", travelling_command(8, joined({zeros(12), one_unit}))},
        {"drop player", travelling_command(9, {})},
        {"chat", travelling_command(10, joined({zeros(4), travelling_text(192)}))},
        {"detach", travelling_command(11, joined({zeros(4), one_unit}))},
        {"unit adjustment", travelling_command(12, joined({zeros(2), travelling_array(3, 6)}))},
        {"sketch", travelling_command(13, joined({zeros(4), travelling_array(2, 4)}))},
        {"ally", travelling_command(14, zeros(8))},
        {"preset selection", travelling_command(15, joined({zeros(4), one_unit}))},
        {"inventory", travelling_command(17, joined({zeros(4), one_unit}))},
        {"inventory next", travelling_command(20, joined({zeros(4), travelling_array(0, 0)}))},
        {"forced endgame", travelling_command(21, zeros(4))},
        {"add player", travelling_command(22, zeros(96))},
        {"tutorial input", travelling_command(23, zeros(4))},
    };
}

// Payloads that do not decode, one of each way a field can fail.
inline std::vector<command_shape> malformed_commands(void)
{
    const std::vector<uint8_t> one_unit = travelling_array(1, 2);
    return {
        {"a general order's record cut", travelling_command(2, zeros(2))},
        {"a general order without its unit list", travelling_command(2, zeros(4))},
        {"a unit list of -1 units", travelling_command(2, joined({zeros(4), travelling_array(-1, 2)}))},
        {"a unit list longer than the command", travelling_command(2, joined({zeros(4), travelling_array(5, 4)}))},
        {"a movement without waypoints", travelling_command(3, joined({zeros(8), one_unit}))},
        {"waypoints past the end", travelling_command(3, joined({zeros(8), one_unit, travelling_array(30, 16)}))},
        {"a target order without its targets", travelling_command(4, joined({zeros(4), one_unit}))},
        {"an attack location's record cut", travelling_command(5, zeros(10))},
        {"a name without its terminator", travelling_command(7, joined({zeros(4), one_unit, travelling_text(5, false)}))},
        {"a name longer than 17", travelling_command(7, joined({zeros(4), one_unit, travelling_text(40)}))},
        {"a chat text without its terminator", travelling_command(10, joined({zeros(4), travelling_text(50, false)}))},
        {"a chat text longer than 192", travelling_command(10, joined({zeros(4), travelling_text(1000)}))},
        {"bytes after a chat text", travelling_command(10, joined({zeros(4), travelling_text(3), zeros(9)}))},
        {"bytes after a detach", travelling_command(11, joined({zeros(4), one_unit, zeros(1)}))},
        {"an adjustment of -3 counts", travelling_command(12, joined({zeros(2), travelling_array(-3, 0)}))},
        {"sketch points past the end", travelling_command(13, joined({zeros(4), travelling_array(9, 4)}))},
        {"an alliance's record cut", travelling_command(14, zeros(7))},
        {"a preset list past the end", travelling_command(15, joined({zeros(4), travelling_array(2, 2)}))},
        {"an inventory order without its units", travelling_command(18, zeros(4))},
        {"a null command filling its packet", travelling_command(0, zeros(4080))},
        {"a sync command's record cut", travelling_command(1, zeros(6))},
        {"a sync command without its chain", travelling_command(1, zeros(12))},
        {"a sync command with a chain cut", travelling_command(1, zeros(20))},
        {"an add-player record cut", travelling_command(22, zeros(50))},
        {"a forced endgame with bytes after it", travelling_command(21, zeros(8))},
        {"a tutorial verdict cut", travelling_command(23, zeros(2))},
    };
}
