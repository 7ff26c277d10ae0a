// The timed unit orders of vesk_sim and vesk_shot.

#include "unit_orders.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cseries/cseries.h"
#include "commands.h"
#include "determinism_harness.h"
#include "game_time.h"
#include "mesh.h"
#include "monster_commands.h"
#include "monster_lists.h"
#include "players.h"

enum unit_order_type
{
    _order_move,
    _order_attack,
    _order_attack_ground,
    _order_general, // the general orders follow, in command_general_type order
};

static const struct
{
    const char *name;
    int16_t order;
} order_names[] = {
    {"move", _order_move},
    {"attack", _order_attack},
    {"attack-ground", _order_attack_ground},
    {"stop", (int16_t)(_order_general + (int32_t)_command_general_stop)},
    {"scatter", (int16_t)(_order_general + (int32_t)_command_general_scatter)},
    {"retreat", (int16_t)(_order_general + (int32_t)_command_general_retreat)},
    {"special", (int16_t)(_order_general + (int32_t)_command_general_special_ability)},
    {"guard", (int16_t)(_order_general + (int32_t)_command_general_guard)},
    {"taunt", (int16_t)(_order_general + (int32_t)_command_general_taunt)},
    {"celebrate", (int16_t)(_order_general + (int32_t)_command_general_celebrate)},
};

// A decimal number in [minimum, maximum], the whole of `text`.
static bool parse_number(const std::string &text, int64_t minimum, int64_t maximum, int64_t *value)
{
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && text[at] == '-' && minimum < 0)
    {
        negative = true;
        ++at;
    }
    if (at >= text.size()) return false;
    int64_t magnitude = 0;
    for (; at < text.size(); ++at)
    {
        if (text[at] < '0' || text[at] > '9') return false;
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > (negative ? -minimum : maximum)) return false;
    }
    *value = negative ? -magnitude : magnitude;
    return *value >= minimum;
}

static std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

// "10,11,12": at most a command's units, each 1..32767.
static bool parse_identifiers(const std::string &text, std::vector<int16_t> *identifiers)
{
    const std::vector<std::string> parts = split(text, ',');
    if (parts.size() > MAXIMUM_UNITS_PER_COMMAND) return false;
    for (const std::string &part : parts)
    {
        int64_t value;
        if (!parse_number(part, 1, INT16_MAX, &value)) return false;
        identifiers->push_back((int16_t)value);
    }
    return true;
}

// "X,Y" in world units, 0 .. 1024 cells.
static bool parse_point(const std::string &text, world_point2d *point)
{
    const std::vector<std::string> parts = split(text, ',');
    int64_t x, y;
    const int64_t limit = 1024 * WORLD_ONE;
    if (parts.size() != 2 || !parse_number(parts[0], 0, limit, &x) || !parse_number(parts[1], 0, limit, &y))
        return false;
    *point = {(world_distance)x, (world_distance)y};
    return true;
}

// One line's order; null when it parses, else why not.
static const char *parse_order(const std::vector<std::string> &words, int32_t previous_tick, unit_order *order)
{
    if (words.size() < 4) return "wants TICK PLAYER ORDER UNITS";
    int64_t value;
    if (!parse_number(words[0], 0, 100000000, &value)) return "the tick is not a decimal number from 0 to 100000000";
    order->tick = (int32_t)value;
    if (order->tick < previous_tick) return "orders must be given in tick order";
    if (!parse_number(words[1], 0, MAXIMUM_ORDER_PLAYERS - 1, &value)) return "the player is not 0 to 3";
    order->player = (int16_t)value;
    order->order = NONE;
    for (const auto &name : order_names)
        if (words[2] == name.name) order->order = name.order;
    if (order->order == NONE) return "unknown order";
    if (!parse_identifiers(words[3], &order->units)) return "the units are not 1 to 126 identifiers like 10,11,12";
    const size_t extra = words.size() - 4;
    switch (order->order)
    {
    case _order_move:
        if (extra < 1 || extra > MAXIMUM_WAYPOINTS_PER_COMMAND) return "move wants 1 to 4 points X,Y";
        for (size_t i = 4; i < words.size(); ++i)
        {
            world_point2d point;
            if (!parse_point(words[i], &point)) return "a point is not X,Y in world units";
            order->points.push_back(point);
        }
        return nullptr;
    case _order_attack:
        if (extra != 1 || !parse_identifiers(words[4], &order->targets)) return "attack wants the targets like 20,21";
        return nullptr;
    case _order_attack_ground:
    {
        world_point2d point;
        if (extra != 1 || !parse_point(words[4], &point)) return "attack-ground wants one point X,Y";
        order->points.push_back(point);
        return nullptr;
    }
    default: return extra == 0 ? nullptr : "a general order takes nothing after its units";
    }
}

bool read_unit_orders(const char *path, std::vector<unit_order> *orders, char *reason, size_t reason_size)
{
    orders->clear();
    FILE *file = fopen(path, "r");
    if (!file)
    {
        slprintf(reason, reason_size, "cannot read \"%s\": %s", path, strerror(errno));
        return false;
    }
    std::vector<unit_order> read;
    std::string line;
    int32_t number = 0;
    bool ok = true;
    for (int c = 0; ok && c != EOF;)
    {
        line.clear();
        while ((c = fgetc(file)) != EOF && c != '\n') line.push_back((char)c);
        if (c == EOF && line.empty()) break;
        ++number;
        const size_t comment = line.find('#');
        if (comment != std::string::npos) line.erase(comment);
        std::vector<std::string> words;
        for (const std::string &word : split(line, ' '))
        {
            std::string trimmed = word;
            while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == '\t')) trimmed.pop_back();
            if (!trimmed.empty()) words.push_back(trimmed);
        }
        if (words.empty()) continue;
        unit_order order;
        order.line = number;
        const char *why = parse_order(words, read.empty() ? 0 : read.back().tick, &order);
        if (why)
        {
            slprintf(reason, reason_size, "line %d: %s", number, why);
            ok = false;
        }
        else
            read.push_back(order);
    }
    if (ok && ferror(file))
    {
        slprintf(reason, reason_size, "cannot read \"%s\"", path);
        ok = false;
    }
    fclose(file);
    if (ok) *orders = read;
    return ok;
}

// The units the identifiers name now (none while the map has placed none).
static int32_t units_of(const std::vector<int16_t> &identifiers, int16_t *indexes)
{
    return monster_identifiers_to_monster_indexes(identifiers.data(), indexes, (int32_t)identifiers.size());
}

void build_unit_order_commands(const unit_order *order)
{
    int16_t units[MAXIMUM_UNITS_PER_COMMAND], targets[MAXIMUM_UNITS_PER_COMMAND];
    const int32_t count = units_of(order->units, units);
    switch (order->order)
    {
    case _order_move:
    {
        const command_movement_data data = {0, 0, 0, 0};
        handle_movement_command(NONE, &data, count, units, (int32_t)order->points.size(), order->points.data());
        break;
    }
    case _order_attack:
    {
        const command_target_data data = {0, 0};
        handle_target_command(NONE, &data, count, units, units_of(order->targets, targets), targets);
        break;
    }
    case _order_attack_ground:
    {
        const world_point2d point = order->points[0];
        command_attack_location_data data = {0, 0, {point.x, point.y, 0}};
        data.point.z = get_mesh_height(&point, _mesh_surface_height);
        handle_attack_location_command(NONE, &data, count, units);
        break;
    }
    default:
    {
        const command_general_data data = {0, (int16_t)(order->order - _order_general)};
        handle_general_command(NONE, &data, count, units);
        break;
    }
    }
}

static void give_order(const unit_order *order)
{
    // A file for four sides read by a game of fewer players.
    if (order->player >= get_player_count()) return;
    build_unit_order_commands(order);
    queue_outgoing_commands_as_player(order->tick, order->player);
}

void give_unit_orders_of_tick(int32_t tick, void *context)
{
    const std::vector<unit_order> *orders = (const std::vector<unit_order> *)context;
    bool first = true;
    for (const unit_order &order : *orders)
    {
        if (order.tick != tick) continue;
        // The game's own outgoing commands (a sync command) are stamped first,
        // exactly as the next frame would stamp them, so that only the orders
        // are stamped as their players'.
        if (first) queue_local_commands(game_->target_time, local_player_index);
        first = false;
        give_order(&order);
    }
}
