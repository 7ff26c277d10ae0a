// What the game costs while nobody plays, and whether a film keeps its pace
// when frames are dear.  Both run the release game (a copy of this build's `vesk` beside
// links to its data, in a directory of the benchmark's own) on an X server
// of the benchmark's own:
//  - menu: the main menu shown, untouched, for 10 s of wall time; the
//    game's processor time (user and system, from /proc) per second of wall
//    time.  Target: at most 2% of a core.
//  - film: the resolution set to 1024 x 768 in the preferences dialog as a
//    player sets it (the software renderer is the one recommended under
//    Xvfb), then a 60 s film of Skirmish Hill (recorded by
//    `vesk_sim --map skir --seed 7 --ticks 1800 --orders data/orders/skirmish.txt`)
//    played by the game with the game and the X server on one processor;
//    ticks per second of wall time from the film's start to its end (the
//    log's lines).  Target: 30, the game's own pace: frames may drop, ticks
//    may not.
// Without Xvfb, xdotool or the demo data the benchmark fails.

#include <benchmark/benchmark.h>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "bench_directories.h"
#include "support/x_server.h"

#ifndef VESK_SOURCE_DIRECTORY
#define VESK_SOURCE_DIRECTORY "."
#endif

namespace {

constexpr double MENU_TARGET_PERCENT = 2.0, FILM_TARGET_TICKS_PER_SECOND = 30.0;
constexpr int FILM_TICKS = 1800;

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// The game started in `directory` with `arguments`, on `display`.
pid_t start_game(const std::string &directory, const std::string &display, const std::string &arguments)
{
    const pid_t pid = fork();
    if (pid == 0)
    {
        if (chdir(directory.c_str()) != 0) _exit(127);
        setenv("DISPLAY", display.c_str(), 1);
        const std::string command = "exec ./vesk " + arguments + " >/dev/null 2>&1";
        execl("/bin/sh", "sh", "-c", command.c_str(), (char *)nullptr);
        _exit(127);
    }
    return pid;
}

void stop_game(pid_t pid)
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i)
    {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The processor time the process has used, in seconds.
double processor_seconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return -1;
    // Fields after the command's closing parenthesis: utime and stime are the 12th and 13th.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long long user = 0, system = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i)
        if (i == 12) user = std::stoll(field);
        else if (i == 13) system = std::stoll(field);
    return (double)(user + system) / (double)sysconf(_SC_CLK_TCK);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits (at most `seconds`) for the game's window; false when it never shows.
bool window_shown(const std::string &display, int seconds)
{
    const std::string command = "DISPLAY=" + display + " timeout " + std::to_string(seconds) +
                                " xdotool search --sync --onlyvisible --name VESK >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

bool player(const std::string &display, const std::string &events)
{
    const std::string command = "DISPLAY=" + display + " xdotool search --onlyvisible --name VESK windowfocus --sync " + events +
                                " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

// The game's own directory: it keeps its log, preferences and films beside
// its program (the program's real path, not a link's), so the program is a
// copy here and the data links to this build's.
std::string game_directory(void)
{
    namespace fs = std::filesystem;
    static bench_scratch_directory directory("idle_game", false);
    std::error_code error;
    if (!directory.ready()) return "";
    if (fs::exists(directory.path + "/vesk")) return directory.path;
    fs::copy_file(VESK_DEMO_DATA_DIRECTORY "/vesk", directory.path + "/vesk", error);
    for (const char *name : {"tags", "plugins", "vesk_sim"})
        if (!error) fs::create_symlink(fs::absolute(VESK_DEMO_DATA_DIRECTORY "/" + std::string(name)), directory.path + "/" + name, error);
    return error ? "" : directory.path;
}

bool tools_present(benchmark::State &state, own_x_server *server)
{
    if (game_directory().empty()) return state.SkipWithError("no demo data"), false;
    if (system("command -v xdotool >/dev/null") != 0) return state.SkipWithError("no xdotool"), false;
    std::string why;
    if (!server->start(&why, "1280x1024x24")) return state.SkipWithError(why.c_str()), false;
    return true;
}

void BM_menu_processor_use(benchmark::State &state)
{
    own_x_server server;
    if (!tools_present(state, &server)) return;
    const std::string directory = game_directory();
    for (auto _ : state)
    {
        const pid_t game = start_game(directory, server.display, "");
        if (!window_shown(server.display, 30))
        {
            stop_game(game);
            state.SkipWithError("the game showed no window");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2)); // the menu's first frames
        const double before = processor_seconds(game);
        const clock_type::time_point start = clock_type::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double used = processor_seconds(game) - before, wall = seconds_since(start);
        stop_game(game);
        const double percent = 100.0 * used / wall;
        state.counters["percent_of_a_core"] = percent;
        state.counters["target_at_most"] = MENU_TARGET_PERCENT;
        printf("the main menu, idle: %.2f%% of a core (target: at most %.0f%%)\n", percent, MENU_TARGET_PERCENT);
        if (percent > MENU_TARGET_PERCENT) state.SkipWithError("the idle menu uses more than its target");
    }
}
BENCHMARK(BM_menu_processor_use)->Iterations(1)->Unit(benchmark::kSecond);

// The seconds the log's film took, from the map's start to the film's end;
// negative when it did not end within `limit` seconds.
double film_seconds(const std::string &log, int limit)
{
    const clock_type::time_point begin = clock_type::now();
    clock_type::time_point started = begin;
    bool running = false;
    while (seconds_since(begin) < limit)
    {
        const std::string text = read_file(log);
        if (!running && text.find("' started: game type") != std::string::npos)
            running = true, started = clock_type::now();
        if (running && text.find("the film ended at tick") != std::string::npos) return seconds_since(started);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

// The resolution chosen as a player chooses it: the preferences (the main
// menu's fifth button), the resolution list, typed, OK.
bool choose_resolution(const std::string &directory, const std::string &display)
{
    const pid_t menu = start_game(directory, display, "");
    const bool chosen = window_shown(display, 30) &&
                        player(display, "sleep 2 mousemove --window %1 320 325 sleep 0.3 click 1 sleep 2 "
                                        "mousemove --window %1 100 115 sleep 0.3 click 1 sleep 1 type 1024 sleep 1") &&
                        // (a click in the same run of xdotool as the typing is lost)
                        player(display, "mousemove --window %1 560 448 sleep 0.3 click 1 sleep 2");
    stop_game(menu);
    return chosen && std::filesystem::exists(directory + "/preferences/screen preferences");
}

void BM_software_film_pace_on_one_core(benchmark::State &state)
{
    const std::string directory = game_directory();
    const std::string film = directory + "/bench_skirmish.film";
    const std::string record = "cd '" + directory + "' && ./vesk_sim --map skir --seed 7 --ticks " +
                               std::to_string(FILM_TICKS) + " --orders " VESK_SOURCE_DIRECTORY
                               "/data/orders/skirmish.txt --record '" + film + "' >/dev/null 2>&1";
    {
        own_x_server server;
        if (!tools_present(state, &server)) return;
        if (system(record.c_str()) != 0) return state.SkipWithError("vesk_sim could not record the film");
        if (!choose_resolution(directory, server.display))
            return state.SkipWithError("the resolution could not be chosen");
    }
    // One processor for the film: the X server and the game inherit it.
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0) return state.SkipWithError("no processor set");
    int core = -1;
    for (int i = 0; i < CPU_SETSIZE; ++i)
        if (CPU_ISSET(i, &allowed)) core = i;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(core, &one);
    if (sched_setaffinity(0, sizeof(one), &one) != 0) return state.SkipWithError("cannot pin to one processor");
    own_x_server server;
    std::string why;
    const bool ready = server.start(&why, "1280x1024x24");
    sched_setaffinity(0, sizeof(allowed), &allowed);
    if (!ready) return state.SkipWithError(why.c_str());
    for (auto _ : state)
    {
        const std::string log = directory + "/vesk_log.txt";
        remove(log.c_str());
        const std::string pinned = "'" + film + "'";
        sched_setaffinity(0, sizeof(one), &one);
        const pid_t game = start_game(directory, server.display, pinned);
        sched_setaffinity(0, sizeof(allowed), &allowed);
        const double seconds = film_seconds(log, 300);
        const std::string text = read_file(log);
        stop_game(game);
        if (seconds <= 0 || text.find("Running Software at 1024 x 768") == std::string::npos)
        {
            fprintf(stderr, "the game's log:\n%s\n", text.c_str());
            state.SkipWithError("the film did not play to its end at 1024 x 768 with the software renderer");
            break;
        }
        const double pace = FILM_TICKS / seconds;
        state.counters["ticks_per_second"] = pace;
        state.counters["target"] = FILM_TARGET_TICKS_PER_SECOND;
        printf("a software film at 1024 x 768 on one core: %.1f ticks a second (target: %.0f)\n", pace,
               FILM_TARGET_TICKS_PER_SECOND);
        // A second at most of the minute lost to start-up and end.
        if (pace < FILM_TARGET_TICKS_PER_SECOND * 59.0 / 60.0) state.SkipWithError("the film fell behind real time");
    }
}
BENCHMARK(BM_software_film_pace_on_one_core)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
