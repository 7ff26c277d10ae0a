// vesk_sim: runs a map headless from a seed and prints the state hash after
// every tick, to compare runs and machines.
//
//     vesk_sim [--data DIR] --map TAG --seed N --ticks T [--command TICK VERB A B X Y]...
//
// DIR is the directory holding "tags" and "plugins" (default: the working
// directory), as the game finds them beside its executable.
//
// Prints "<tick> <hash as 8 hex digits>" per tick and exits 0; a map that
// cannot be started prints one line with the reason and exits 1; bad
// arguments exit 2.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cseries/tags.h"
#include "determinism_harness.h"

static void usage(void)
{
    fprintf(stderr, "usage: vesk_sim [--data DIR] --map TAG --seed N --ticks T [--command TICK VERB A B X Y]...\n");
}

static bool parse_integer(const char *text, int64_t minimum, int64_t maximum, int64_t *value)
{
    if (!text || !*text) return false;
    errno = 0;
    char *end = nullptr;
    const long long parsed = strtoll(text, &end, 0);
    if (errno || *end || parsed < minimum || parsed > maximum) return false;
    *value = parsed;
    return true;
}

int main(int argc, char **argv)
{
    const char *data = nullptr, *map = nullptr;
    int64_t seed = -1, ticks = -1;
    std::vector<simulation_command> commands;
    for (int i = 1; i < argc; ++i)
    {
        const char *option = argv[i];
        const bool has_value = i + 1 < argc;
        if (!strcmp(option, "--data") && has_value)
            data = argv[++i];
        else if (!strcmp(option, "--map") && has_value)
            map = argv[++i];
        else if (!strcmp(option, "--seed") && has_value)
        {
            if (!parse_integer(argv[++i], 0, 0xFFFFFFFFll, &seed)) return usage(), 2;
        }
        else if (!strcmp(option, "--ticks") && has_value)
        {
            if (!parse_integer(argv[++i], 0, 100000000, &ticks)) return usage(), 2;
        }
        else if (!strcmp(option, "--command") && i + 6 < argc)
        {
            int64_t values[5];
            simulation_command command = {};
            command.verb = simulation_verb_from_name(argv[i + 2]);
            if (!parse_integer(argv[i + 1], 0, INT32_MAX, &values[0]) || command.verb == NONE) return usage(), 2;
            // A and B are 16-bit (teams, types): a larger value is refused, not cut.
            for (int k = 1; k < 5; ++k)
                if (!parse_integer(argv[i + 2 + k], k <= 2 ? INT16_MIN : INT32_MIN, k <= 2 ? INT16_MAX : INT32_MAX,
                                   &values[k]))
                    return usage(), 2;
            command.tick = (int32_t)values[0];
            command.a = (int16_t)values[1];
            command.b = (int16_t)values[2];
            command.x = (int32_t)values[3];
            command.y = (int32_t)values[4];
            if (!commands.empty() && commands.back().tick > command.tick) return usage(), 2;
            commands.push_back(command);
            i += 6;
        }
        else
            return usage(), 2;
    }
    if (!map || strlen(map) != 4 || seed < 0 || ticks < 0) return usage(), 2;

    char reason[512];
    const tag map_tag = string_to_tag(map);
    if (!start_simulation(data, map_tag, (uint32_t)seed, reason, sizeof(reason)))
    {
        printf("%s\n", reason);
        return 1;
    }
    std::vector<uint32_t> hashes((size_t)ticks);
    const bool ran = run_simulation((int32_t)ticks, commands.data(), (int32_t)commands.size(), nullptr, hashes.data());
    stop_simulation();
    if (!ran)
    {
        printf("the game stopped before tick %lld\n", (long long)ticks);
        return 1;
    }
    for (int64_t t = 0; t < ticks; ++t) printf("%lld %08x\n", (long long)(t + 1), hashes[(size_t)t]);
    return 0;
}
