// Network games between vesk_sim processes on 127.0.0.1: every process plays
// the host's command stream to the same hashes, a player joins a cooperative
// game in progress and catches up, and a player who vanishes during the start
// barrier leaves the others starting.  The games run in real time (30 ticks a
// second), so each is short.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/demo_data.h"
#include "support/machine_pace.h"
#include "support/malformed_commands.h"
#include "support/net_game_processes.h"
#include "support/net_peers.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"
#include "bitmap_dialogs/network_services.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "game_records.h"
#include "networking/connection_manager.h"
#include "networking/network_constants.h"
#include "vesk_networking/vesk_packets.h"

namespace net_game_processes_test_file {

namespace
{
namespace fs = std::filesystem;
constexpr int32_t PROCESS_LIMIT_MS = 90000;

// The last lines of a process's log, which tell why a game did not start.
std::string log_tail(const vesk_sim_process &process, int32_t lines = 12)
{
    const std::string log = process.log();
    size_t at = log.size();
    while (lines-- > 0 && at > 0) at = log.rfind('\n', at - 1);
    return at == std::string::npos ? log : log.substr(at);
}

class net_game_processes : public vesk_sim_fixture
{
protected:
    uint16_t port = 0;

    void SetUp() override
    {
        // The case's games, peers and lobby in a network of their own (as
        // before any thread starts): the port found free stays so, whatever
        // else runs on the machine.  Where the system refuses, a port taken
        // meanwhile is met by start_host's retry.
        std::string why;
        (void)enter_own_network(&why);
        vesk_sim_fixture::SetUp();
        port = free_loopback_port();
        ASSERT_NE(port, 0);
    }

    std::vector<std::string> host_arguments(int32_t players, int32_t ticks, std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments = {"--net-host", std::to_string(port), "--players", std::to_string(players),
                                              "--map", "demo", "--seed", "7", "--ticks", std::to_string(ticks),
                                              "--random-orders", "1"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    // Starts the host and waits until it listens.  A port found free may be
    // taken by another test's process before the host opens it: the host
    // then starts again on another (at most three times).  `data`: the
    // data's directory, when not the test's own.
    void start_host(vesk_sim_process *host, std::vector<std::string> arguments, const std::string &data = "")
    {
        for (int32_t attempt = 0;; ++attempt)
        {
            ASSERT_TRUE(host->start(bin, data.empty() ? directory : data, arguments));
            if (wait_for_output(*host, "hosting on port", true)) return;
            const bool taken = host->wait(PROCESS_LIMIT_MS) &&
                               host->log().find("Could not open the listening socket") != std::string::npos;
            ASSERT_TRUE(taken && attempt < 2) << host->err();
            const std::string old_port = std::to_string(port);
            port = free_loopback_port();
            std::replace(arguments.begin(), arguments.end(), old_port, std::to_string(port));
            remove_directory_tree(host->directory.c_str());
            host->exit_code = -1;
        }
    }

    // The test lobby with alice's and bob's accounts and `extra` options; its login port.
    // It ends itself after ctest's limit of a case: that only guards against
    // a lobby left behind, never ends one a slow machine still plays through.
    std::string start_test_lobby(vesk_sim_process *lobby, std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments = {"--port",    "0",           "--test-games", "0", "--account",
                                              "alice:wonderland", "--account", "bob:builder",  "--seconds", "600"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        if (!lobby->start_program(bin, "vesk_test_lobby", arguments) ||
            !wait_for_output(*lobby, "ready\n", false))
            return "";
        const std::string banner = lobby->out();
        return banner.substr(6, banner.find('\n') - 6); // "login PORT"
    }

    // Waits (bounded by the processes' limit) for `text` in the standard
    // error (`in_err`) or output of `process`.
    static bool wait_for_output(const vesk_sim_process &process, const char *text, bool in_err)
    {
        for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 50; ++turn)
        {
            if ((in_err ? process.err() : process.out()).find(text) != std::string::npos) return true;
            poll(nullptr, 0, 50);
        }
        return false;
    }

    std::vector<std::string> join_arguments(int32_t ticks, int32_t seed)
    {
        return {"--net-join", "127.0.0.1:" + std::to_string(port), "--ticks", std::to_string(ticks), "--random-orders",
                std::to_string(seed)};
    }

    // The lobby road's arguments: alice hosts (with `host_extra`), bob joins the listed game.
    std::vector<std::string> lobby_road(const std::string &login, bool host, int32_t ticks,
                                        std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments = {"--lobby", "127.0.0.1:" + login, "--ticks", std::to_string(ticks)};
        if (host)
            arguments.insert(arguments.end(), {"--user", "alice", "--password", "wonderland", "--create", "--port",
                                               std::to_string(port), "--map", "demo", "--random-orders", "1"});
        else
            arguments.insert(arguments.end(),
                             {"--user", "bob", "--password", "builder", "--join-listed", "--random-orders", "2"});
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    // Every process ends with 0 and the same lines as the first, the last
    // beginning with `last`.
    void expect_in_step(std::vector<vesk_sim_process> &processes, size_t lines, const char *last = "final ")
    {
        for (vesk_sim_process &process : processes)
        {
            ASSERT_TRUE(process.wait(PROCESS_LIMIT_MS)) << process.err() << "\nthe end of its log:\n" << log_tail(process);
            EXPECT_EQ(process.exit_code, 0) << process.err() << "\nthe end of its log:\n" << log_tail(process);
        }
        const std::vector<std::string> first = processes[0].hash_lines();
        EXPECT_EQ(first.size(), lines);
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(first.back().rfind(last, 0), 0u) << first.back();
        for (size_t i = 1; i < processes.size(); ++i) EXPECT_EQ(processes[i].hash_lines(), first) << i;
    }
};

class net_game_in_step : public net_game_processes, public ::testing::WithParamInterface<int32_t>
{
protected:
    // The four sides' map, for the four-player row.
    bool make_extra_tags(std::vector<test_tag> *tags) override
    {
        return make_demo_map_source_tags(tool, "four_corners.map", "four", tags);
    }
};

// The demo data set with one change that alters the game (a faster
// swordsman): the built data as they are, with the changed definition made by
// the data tool from a copy of its source and packed as a patch over them, in
// `directory`/other_data/bin; false when it could not be made.
bool build_changed_demo_data(const std::string &bin, const std::string &directory)
{
    // (The data tool's program is `bin`'s; the built data are `directory`'s.)
    const std::string other = directory + "/other_data";
    const std::string tool = "'" + bin + "/vesk_tags'";
    const std::string command =
        "mkdir -p '" + other + "/bin/tags' '" + other + "/patch' && cp '" + directory + "'/tags/*.tags '" + other +
        "/bin/tags/' && sed 's/^base_movement_speed 48/base_movement_speed 60/' '" +
        source_tree_path("data/objects/mons/warr.txt") + "' > '" + other + "/warr.txt' && grep -q 'movement_speed 60' '" +
        other + "/warr.txt' && " + tool + " objects '" + other + "/patch/mons.warr' --group mons --subgroup warr --name warr '" +
        other + "/warr.txt' && " + tool + " pack '" + other + "/bin/tags/patch2.tags' --type patch --patch 2 --name patch2 '" +
        other + "/patch' > '" + other + "/build.log' 2>&1";
    return system(command.c_str()) == 0;
}

// Each process keeps its own film of the game (--record), which replays to
// the game's last hash under vesk_sim and passes the game's own check; on
// changed data the film, like a saved game, is refused before it plays,
// naming the other data.
TEST_P(net_game_in_step, every_process_plays_the_hosts_stream_to_the_same_hashes_and_keeps_a_film_that_replays_in_step)
{
    const int32_t players = GetParam();
    // Four players take the four sides of Four Corners, each its own team.
    const bool four_sides = players == 4;
    std::vector<vesk_sim_process> processes(players);
    const auto film = [this](int32_t i) { return directory + "/film" + std::to_string(i); };
    std::vector<std::string> host = host_arguments(players, 900, {"--record", film(0)});
    if (four_sides) *(std::find(host.begin(), host.end(), "--map") + 1) = "four";
    start_host(&processes[0], host);
    for (int32_t i = 1; i < players; ++i)
    {
        std::vector<std::string> arguments = join_arguments(900, i + 1);
        arguments.insert(arguments.end(), {"--record", film(i)});
        ASSERT_TRUE(processes[i].start(bin, directory, arguments));
    }
    expect_in_step(processes, 900 / 30 + 1);
    // The orders ran: each process's units took their moves.
    EXPECT_EQ(count_of(processes[0].log(), "units refused"), 0u);
    EXPECT_EQ(count_of(processes[0].log(), "out of sync"), 0u);
    // The host's --seed 7 is the game's seed on every machine.
    for (const vesk_sim_process &process : processes)
        EXPECT_NE(process.log().find("seed 0x00000007"), std::string::npos) << log_tail(process);

    const std::string final_line = processes[0].hash_lines().back(); // "final 900 HASH"
    const std::string last_tick = "\n900 " + final_line.substr(final_line.rfind(' ') + 1) + "\n";
    fs::create_directory("oos_checker_films");
    for (int32_t i = 0; i < players; ++i)
    {
        EXPECT_EQ(run_vesk_sim("--film '" + film(i) + "' --report > replay.out 2> replay.err"), 0)
            << i << ": " << read_whole_file("replay.err");
        EXPECT_NE(read_whole_file("replay.out").find(last_tick), std::string::npos) << i << ": " << last_tick;
        for (int32_t seat = 0; four_sides && seat < 4; ++seat) // each player on a side of its own
            EXPECT_NE(read_whole_file("replay.out").find("\nplayer " + std::to_string(seat) + " team " + std::to_string(seat) + " "),
                      std::string::npos)
                << read_whole_file("replay.out");
        fs::copy_file(film(i), "oos_checker_films/film" + std::to_string(i));
    }
    std::error_code failed;
    fs::create_hard_link(fs::path(bin) / "vesk", "vesk", failed);
    if (failed) fs::copy_file(fs::path(bin) / "vesk", "vesk");
    EXPECT_EQ(exit_code_of(system("env -u DISPLAY -u WAYLAND_DISPLAY ./vesk --oos_check > oos.out 2> oos.err")), 0)
        << read_whole_file("oos.err");
    const std::string checked = read_whole_file("vesk_log.txt");
    EXPECT_EQ(count_of(checked, "\": in step at tick "), (size_t)players) << checked;
    EXPECT_NE(checked.find(std::to_string(players) + " films, " + std::to_string(players) + " in step, 0 failed"),
              std::string::npos)
        << checked;

    if (players != 2) return;
    ASSERT_TRUE(build_changed_demo_data(bin, directory)) << read_whole_file(directory + "/other_data/build.log");
    const std::string replay = "'" + bin + "/vesk_sim' --data '" + directory + "/other_data/bin' --film '" + film(1) +
                               "' > changed.out 2> changed.err";
    // Named before it plays, rather than found out of step as it goes.
    EXPECT_EQ(exit_code_of(system(replay.c_str())), 1) << read_whole_file("changed.err");
    EXPECT_NE(read_whole_file("changed.err").find("it was played on other game data"), std::string::npos)
        << read_whole_file("changed.err");
    ASSERT_EQ(run_vesk_sim("--map demo --seed 3 --ticks 60 --save-at 30 saved > /dev/null"), 0);
    const std::string restore = "'" + bin + "/vesk_sim' --data '" + directory + "/other_data/bin' --continue '" +
                                directory + "/saved' --ticks 60 > restored.out 2> restored.err";
    EXPECT_EQ(exit_code_of(system(restore.c_str())), 1) << read_whole_file("restored.err");
    EXPECT_NE(read_whole_file("restored.err").find("saved game 'Autosave "), std::string::npos)
        << read_whole_file("restored.err");
    EXPECT_NE(read_whole_file("restored.err").find("it was played on other game data (other patches"),
              std::string::npos)
        << read_whole_file("restored.err");
}

INSTANTIATE_TEST_SUITE_P(players, net_game_in_step, ::testing::Values(2, 3, 4));

// A joiner stopped for 2 s at tick 240 falls behind the orders its host
// relays (an attack order of each player every tick), which it records
// ahead of its clock, and quits at tick 248 as soon as it runs again: it
// keeps a film that replays to the tick it left at, as does the host, which
// plays on alone; in a game of each kind.
TEST_F(net_game_processes, a_joiner_that_falls_behind_and_quits_keeps_a_film_that_replays)
{
    std::string orders;
    for (int32_t tick = 1; tick <= 600; ++tick)
        for (const char *order : {" 0 attack 10,11,12,13 20,21,22,23\n", " 1 attack 20,21,22,23 10,11,12,13\n"})
            orders += std::to_string(tick) + order;
    ASSERT_TRUE(write_file_bytes(directory + "/orders.txt", std::vector<uint8_t>(orders.begin(), orders.end())));
    for (const std::string kind : {"", "--coop"})
    {
        SCOPED_TRACE(kind);
        std::vector<vesk_sim_process> processes(2);
        const auto film = [&](int32_t i) { return directory + "/film" + std::to_string(i) + kind; };
        std::vector<std::string> host = {"--net-host", std::to_string(port), "--players", "2", "--map", "demo", "--seed",
                                         "7", "--ticks", "600", "--orders", directory + "/orders.txt", "--record", film(0)};
        if (!kind.empty()) host.push_back(kind);
        start_host(&processes[0], host);
        ASSERT_TRUE(processes[1].start(bin, directory,
                                       {"--net-join", "127.0.0.1:" + std::to_string(port), "--ticks", "600", "--orders",
                                        directory + "/orders.txt", "--quit-at", "248", "--record", film(1)}));
        ASSERT_TRUE(wait_for_output(processes[1], "\n240 ", false)) << processes[1].err() << log_tail(processes[1]);
        kill(processes[1].pid, SIGSTOP);
        for (const auto resume = std::chrono::steady_clock::now() + std::chrono::seconds(2);
             std::chrono::steady_clock::now() < resume;)
            poll(nullptr, 0, 20);
        kill(processes[1].pid, SIGCONT);
        for (vesk_sim_process &process : processes)
        {
            ASSERT_TRUE(process.wait(PROCESS_LIMIT_MS)) << process.err() << log_tail(process);
            EXPECT_EQ(process.exit_code, 0) << process.err() << log_tail(process, 30);
        }
        const std::string out = processes[1].out();
        ASSERT_NE(out.find("left at tick "), std::string::npos) << out;
        // Each replay's last line: the tick its game ended at (the host's, one
        // side wiped out or its last), and its hash.
        const std::string ends[] = {processes[0].hash_lines().back().substr(6),
                                    std::to_string(atoi(&out[out.find("left at tick ") + 13])) + " "};
        for (int32_t i = 0; i < 2; ++i)
        {
            EXPECT_EQ(run_vesk_sim("--film '" + film(i) + "' > replay.out 2> replay.err"), 0)
                << i << ": " << read_whole_file("replay.err");
            const std::string replayed = read_whole_file("replay.out");
            EXPECT_EQ(replayed.rfind("\n" + ends[i]), replayed.rfind('\n', replayed.size() - 2)) << i << ": " << ends[i];
        }
    }
}

TEST_F(net_game_processes, a_joiner_of_a_cooperative_game_in_progress_catches_up)
{
    std::vector<vesk_sim_process> processes(3);
    start_host(&processes[0], host_arguments(2, 1200, {"--coop", "--gameplay-version", "1820"}));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(1200, 2)));
    // Join near tick 450.
    ASSERT_TRUE(wait_for_output(processes[0], "\n450 ", false)) << processes[0].err();
    ASSERT_TRUE(processes[2].start(bin, directory, join_arguments(1200, 3)));
    expect_in_step(processes, 1200 / 30 + 1);
    EXPECT_GE(count_of(processes[0].log(), "fed joiner"), 2u);
    for (vesk_sim_process &process : processes) EXPECT_EQ(count_of(process.log(), "player 2 joined the game"), 1u);
    EXPECT_NE(processes[2].err().find("ticks a second"), std::string::npos);
}

// The game plays the rules its host chose (1.8.2, not the 1.8.2.5 of the
// same identifier) on every machine, both games of the series; a joiner
// whose version cannot play them (a 1.8.2 build, while the game plays 1.8.5)
// is refused at the join with the reason.
// Restart and Rehost keep both players together in a game with a time limit
// as without one: the clock starts again with the map.
TEST_F(net_game_processes, the_hosts_restart_ends_the_game_everywhere_and_the_next_runs_in_step)
{
    const struct
    {
        std::vector<std::string> host;
        const char *line, *notice;
    } cases[] = {
        {{"--restart-at", "70"}, "restarting at tick ", "Restarting..."},
        {{"--restart-at", "70", "--time-limit", "60"}, "restarting at tick ", "Restarting..."},
        {{"--restart-at", "70", "--rehost", "--time-limit", "60"}, "rehosting at tick ", "Rehosting..."},
    };
    for (const auto &c : cases)
    {
        std::vector<vesk_sim_process> processes(2);
        std::vector<std::string> host = {"--gameplay-version", "1820"};
        host.insert(host.end(), c.host.begin(), c.host.end());
        start_host(&processes[0], host_arguments(2, 150, host));
        ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(150, 2)));
        // Ticks 30 and 60, the restart line with its tick, then the whole next game.
        expect_in_step(processes, 2 + 1 + 150 / 30 + 1);
        ASSERT_GT(processes[0].hash_lines().size(), 2u);
        EXPECT_EQ(processes[0].hash_lines()[2].rfind(c.line, 0), 0u) << processes[0].out();
        for (vesk_sim_process &process : processes)
        {
            EXPECT_NE(process.err().find("back in the set-up, the same map again"), std::string::npos)
                << c.line << process.err();
            EXPECT_EQ(count_of(process.log(), c.notice), 1u) << process.log();
            EXPECT_EQ(count_of(process.log(), "game type 1, rules 1.8.2, seed"), 2u) << process.log();
            EXPECT_EQ(count_of(process.log(), "out of sync"), 0u);
            EXPECT_EQ(count_of(process.log(), "vassert"), 0u) << process.log();
        }
        if (HasFailure()) return;
        port = free_loopback_port();
    }
}

TEST_F(net_game_processes, a_joiner_who_cannot_play_the_hosts_rules_is_refused_at_the_join)
{
    vesk_sim_process host;
    start_host(&host, host_arguments(2, 30));
    raw_peer peer(port, 3);
    std::vector<uint8_t> record(124, 0);
    record[36] = 2182 >> 8, record[37] = 2182 & 0xFF; // a 1.8.2 build
    peer.send_bytes(raw_join_request("old build", "", record));
    std::string denial;
    for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && denial.empty() && !peer.ended; ++turn)
    {
        pollfd ready = {peer.stream, POLLIN, 0};
        poll(&ready, 1, 20);
        for (const std::vector<uint8_t> &packet : peer.receive_packets())
            if (packet[0] == 0x80 && packet[1] == 4) denial.assign(packet.begin(), packet.end());
    }
    EXPECT_NE(denial.find("The game is played under the rules of Vesk II 1.8.5, which Vesk II 1.8.2 cannot play."),
              std::string::npos)
        << denial;
    host.kill_now();
}

TEST_F(net_game_processes, a_restart_is_the_hosts_alone_and_at_a_tick_of_the_game)
{
    for (const char *arguments : {"--net-join 127.0.0.1:1 --ticks 30 --restart-at 10",
                                  "--map demo --seed 1 --ticks 30 --restart-at 10",
                                  "--net-host 1 --map demo --seed 1 --ticks 30 --restart-at 0"})
        EXPECT_EQ(run_vesk_sim(std::string(arguments) + " > /dev/null 2>&1"), 2) << arguments;
}

// A joiner whose host cannot be reached, or whose address is no address,
// ends with status 1 and logs why, in words rather than an error number.
TEST_F(net_game_processes, a_join_that_fails_ends_the_run_with_the_reason)
{
    uint16_t closed_port = 0;
    {
        raw_listener listener; // a port nobody listens on once it closes
        closed_port = listener.port;
    }
    // A host whose game runs and is not co-operative: it answers with its
    // reason at once, not after the join's time limit.
    std::vector<vesk_sim_process> running(2);
    start_host(&running[0], host_arguments(2, 9000));
    ASSERT_TRUE(running[1].start(bin, directory, join_arguments(9000, 2)));
    ASSERT_TRUE(wait_for_output(running[0], "\n60 ", false)) << running[0].err();
    const struct
    {
        std::string address;
        const char *reason;
    } cases[] = {
        {"127.0.0.1:" + std::to_string(closed_port), "Could not reach the host: nothing answered at that address"},
        {"127.0.0.1:99999", "is not an address to join"},
        {"127.0.0.1:" + std::to_string(port),
         "joining failed: The game has started, and only a co-operative game takes players once it runs."},
    };
    for (const auto &c : cases)
    {
        const std::string err_path = directory + "/join.err", log_path = directory + "/join.log";
        EXPECT_EQ(run_vesk_sim("--log '" + log_path + "' --net-join " + c.address +
                               " --ticks 30 --wall-limit 20 > /dev/null 2> '" + err_path + "'"),
                  1);
        const std::string log = read_whole_file(log_path);
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
        EXPECT_EQ(log.find("vassert"), std::string::npos) << log;
        EXPECT_NE(read_whole_file(err_path).find("no game was joined"), std::string::npos);
    }
}

// A peer that joins, says it is ready and disappears as soon as the host
// begins the start barrier.
void join_ready_and_vanish_at_the_barrier(uint16_t port)
{
    raw_peer peer(port, 3);
    std::vector<uint8_t> record(124, 0);
    record[16] = 1;                      // agreed to play
    record[36] = CURRENT_VERSION_IDENTIFIER >> 8, record[37] = CURRENT_VERSION_IDENTIFIER & 0xFF; // version
    peer.send_bytes(raw_join_request("vanishing", "", record));
    int16_t own_id = -1;
    bool begun = false;
    for (int32_t turn = 0; turn < 400 && !begun && !peer.ended; ++turn)
    {
        pollfd ready = {peer.stream, POLLIN, 0};
        poll(&ready, 1, 50);
        for (const std::vector<uint8_t> &packet : peer.receive_packets())
        {
            if (packet_what(packet) == 0x8003 && packet_int16(packet, 10) == 1)
            {
                own_id = packet_int16(packet, 8);
                std::vector<uint8_t> body = {(uint8_t)(own_id >> 8), (uint8_t)own_id};
                body.insert(body.end(), record.begin(), record.end());
                peer.send_bytes(raw_library_packet(1, 254, body));
            }
            if (packet_what(packet) == 4) begun = true;
        }
    }
    EXPECT_NE(own_id, -1);
    EXPECT_TRUE(begun);
}

TEST_F(net_game_processes, a_player_lost_during_the_start_barrier_leaves_the_others_starting)
{
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(3, 150));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(150, 2)));
    join_ready_and_vanish_at_the_barrier(port);
    expect_in_step(processes, 150 / 30 + 1);
    EXPECT_NE(processes[0].log().find("left while the game started"), std::string::npos);
    for (vesk_sim_process &process : processes)
        EXPECT_NE(process.log().find("was dropped from the game at tick"), std::string::npos) << process.log();
}
// A game packet as a peer writes it: big-endian header, then `body`.
std::vector<uint8_t> game_packet(uint16_t what, uint8_t to, const std::vector<uint8_t> &body, int32_t length = -1)
{
    const uint16_t size = (uint16_t)(length < 0 ? 8 + body.size() : length);
    std::vector<uint8_t> packet = {(uint8_t)(what >> 8), (uint8_t)what, (uint8_t)(size >> 8), (uint8_t)size, to, 0, 0, 0};
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

// A command of `size` (header included, as its header says) and `bytes`
// bytes in all, big-endian.
std::vector<uint8_t> raw_command(int16_t size, int8_t verb, size_t bytes)
{
    std::vector<uint8_t> command(bytes, 0);
    command[0] = (uint8_t)((uint16_t)size >> 8), command[1] = (uint8_t)size, command[2] = (uint8_t)verb;
    return command;
}

// What a hostile player of the game sends once it has arrived: nothing of it
// may change the host's game.
std::vector<std::vector<uint8_t>> hostile_packets(int16_t own_id)
{
    std::vector<uint8_t> description(574, 0);
    return {
        game_packet(5, 254, {0, 1}),                                  // stop the host's clock
        game_packet(1, 254, raw_command(-1, 3, 12)),                  // inner size -1
        game_packet(1, 254, raw_command(0, 3, 12)),                   // inner size 0
        game_packet(1, 254, raw_command(7, 3, 12)),                   // inner size 7
        game_packet(1, 254, raw_command(40, 3, 12)),                  // past the packet
        game_packet(1, 254, raw_command(12, 21, 12)),                 // a forced end of the game
        game_packet(1, 254, raw_command(20, 1, 20)),                  // a sync command of its own
        game_packet(3, 0, {0, 0, 0, 1}),                              // a report naming the host
        game_packet(10, 0, {0, 200}),                                 // a mid-game start of 200 players
        game_packet(7, 0, std::vector<uint8_t>(130, 0)),              // player data
        game_packet(9, 254, {0, 0, 0, 1, 0x7F, 0xFF, 0x7F, 0xFF}),   // a pong with forged latencies
        game_packet(2, 0, {0, 1, 0, 5, 0, 0, 0, 0}),                  // configuration item 5 (start)
        game_packet(2, 0, {0, 1, 0, 12, 0, 0, 0, 0}),
        game_packet(2, 0, {0, 1, 0, 3, 0, 0, 0, 0}),
        game_packet(2, 0, {0, 1, 0, 100, 0, 0, 0, 0}),
        game_packet(6, 0, description),                               // a game description
        game_packet(3, 0, {(uint8_t)(own_id >> 8), (uint8_t)own_id, 0, 1}), // a second report while arrived
    };
}

TEST_F(net_game_processes, a_hostile_player_changes_nothing_and_the_honest_players_stay_in_step)
{
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(3, 300));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(300, 2)));
    raw_peer peer(port, 3);
    std::vector<uint8_t> record(124, 0);
    record[16] = 1;
    record[36] = CURRENT_VERSION_IDENTIFIER >> 8, record[37] = CURRENT_VERSION_IDENTIFIER & 0xFF;
    peer.send_bytes(raw_join_request("hostile", "", record));
    int16_t own_id = -1;
    bool attacked = false;
    for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && !peer.ended; ++turn)
    {
        pollfd ready = {peer.stream, POLLIN, 0};
        poll(&ready, 1, 20);
        for (const std::vector<uint8_t> &packet : peer.receive_packets())
        {
            if (packet_what(packet) == 0x8003 && packet_int16(packet, 10) == 1 && own_id < 0)
            {
                own_id = packet_int16(packet, 8);
                std::vector<uint8_t> body = {(uint8_t)(own_id >> 8), (uint8_t)own_id};
                body.insert(body.end(), record.begin(), record.end());
                peer.send_bytes(raw_library_packet(1, 254, body));
                // A command before it arrived.
                peer.send_bytes(game_packet(1, 254, raw_command(12, 3, 12)));
            }
            // Each barrier is answered as an honest player answers it.
            if (packet_what(packet) == 4)
                peer.send_bytes(game_packet(3, 0, {(uint8_t)(own_id >> 8), (uint8_t)own_id, 0, 1}));
            if (packet_what(packet) == 1 && !attacked)
            {
                attacked = true;
                for (const std::vector<uint8_t> &bad : hostile_packets(own_id)) peer.send_bytes(bad);
            }
        }
        if (processes[1].wait(0)) break;
    }
    EXPECT_TRUE(attacked);
    expect_in_step(processes, 300 / 30 + 1);
    EXPECT_NE(processes[0].log().find("dropped a packet from player"), std::string::npos);
}

// A host and a joiner on different data (a patch that makes the swordsmen
// faster, on either side) would play different games: the joiner is refused
// at the join, and told why.
TEST_F(net_game_processes, a_joiner_on_other_data_is_refused_at_the_join_with_the_reason)
{
    ASSERT_TRUE(build_changed_demo_data(bin, directory)) << read_whole_file(directory + "/other_data/build.log");
    const std::string other = directory + "/other_data/bin";
    for (const bool host_has_other : {false, true})
    {
        SCOPED_TRACE(host_has_other ? "the host on other data" : "the joiner on other data");
        vesk_sim_process host, joiner;
        start_host(&host, host_arguments(2, 30, {"--wall-limit", "20"}), host_has_other ? other : directory);
        ASSERT_TRUE(joiner.start(bin, host_has_other ? directory : other, join_arguments(30, 2)));
        ASSERT_TRUE(joiner.wait(PROCESS_LIMIT_MS)) << joiner.err();
        EXPECT_EQ(joiner.exit_code, 1);
        EXPECT_NE(joiner.err().find("no game was joined: Your game data differ from the host's (your patches differ)"),
                  std::string::npos)
            << joiner.err();
        EXPECT_NE(host.log().find("refused a joiner on other data"), std::string::npos) << log_tail(host);
        host.kill_now();
        port = free_loopback_port();
    }
}

// A player whose game ended in another state than the host's (its report
// at the end barrier says so) is out of step alone: the host names it in its
// log and keeps its own result.  The player, whose record says it takes
// final states, is sent the host's before the confirmations.
TEST_F(net_game_processes, a_player_whose_game_ended_otherwise_is_named_and_the_host_keeps_its_result)
{
    // The tick the player reports its game ended at: the game's own, and -1,
    // no tick of a game, which must read as a drift at the end, not as none.
    for (const uint8_t reported : {(uint8_t)60, (uint8_t)0xFF})
    {
        SCOPED_TRACE(reported == 60 ? "tick 60" : "tick -1");
        if (reported != 60) port = free_loopback_port();
        vesk_sim_process host;
        start_host(&host, host_arguments(2, 60));
        raw_peer peer(port, 3);
        std::vector<uint8_t> record(124, 0);
        record[16] = 1;
        record[36] = CURRENT_VERSION_IDENTIFIER >> 8, record[37] = CURRENT_VERSION_IDENTIFIER & 0xFF;
        record[26] = 'D', record[27] = 't'; // data tags, the checksums not known
        memcpy(record.data() + 44, "drifter", 7); // its appearance's name
        peer.send_bytes(raw_join_request("drifter", "", record));
        int16_t own_id = -1;
        int32_t begins = 0;
        std::vector<uint8_t> hosts_final_state;
        for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && !peer.ended && !host.wait(0); ++turn)
        {
            pollfd ready = {peer.stream, POLLIN, 0};
            poll(&ready, 1, 20);
            for (const std::vector<uint8_t> &packet : peer.receive_packets())
            {
                if (packet_what(packet) == 0x8003 && packet_int16(packet, 10) == 1 && own_id < 0)
                    own_id = packet_int16(packet, 8);
                if (packet_what(packet) == 3 && packet.size() == 24 && hosts_final_state.empty())
                    hosts_final_state = packet;
                if (packet_what(packet) != 4) continue;
                std::vector<uint8_t> report = {(uint8_t)(own_id >> 8), (uint8_t)own_id, 0, 1};
                // At the end: the tick, a hash and a seed of nobody's game.
                const uint8_t high = reported == 60 ? 0 : 0xFF;
                if (++begins == 2)
                    report.insert(report.end(), {high, high, high, reported, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 1});
                peer.send_bytes(game_packet(3, 0, report));
            }
        }
        ASSERT_TRUE(host.wait(PROCESS_LIMIT_MS)) << host.err();
        EXPECT_EQ(begins, 2);
        EXPECT_EQ(host.exit_code, 0) << host.err() << log_tail(host);
        EXPECT_EQ(host.out().find("out of sync at tick"), std::string::npos) << host.out();
        EXPECT_NE(host.log().find("out of sync at tick 60: player " + std::to_string(own_id) + "'s (drifter) game ended"),
                  std::string::npos)
            << log_tail(host);
        ASSERT_EQ(hosts_final_state.size(), 24u) << "the host's final state, to the player";
        EXPECT_EQ(packet_int16(hosts_final_state, 8), 0) << "the host's own";
        EXPECT_EQ(hosts_final_state[4], own_id);
        EXPECT_EQ((std::vector<uint8_t>(hosts_final_state.begin() + 12, hosts_final_state.begin() + 16)),
                  (std::vector<uint8_t>{0, 0, 0, 60}));
    }
}

// One player's game leaves step (a drift planted in its process), found by
// a sync command while the game runs or by the end barrier after the last
// one: that player alone says the first tick and exits 17; the host names
// it to the honest player, and both keep their game.
TEST_F(net_game_processes, a_drift_in_one_players_game_makes_that_player_alone_leave_named_to_the_others)
{
    const struct
    {
        const char *why;
        int32_t drift_at, ticks;
        std::string tick;
    } cases[] = {
        {"while the game runs", 100, 400, "170"},
        {"at the end barrier", 180, 200, "200"},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.why);
        std::vector<vesk_sim_process> processes(3);
        start_host(&processes[0], host_arguments(3, c.ticks));
        ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(c.ticks, 2)));
        setenv("VESK_TEST_DRIFT_AT_TICK", std::to_string(c.drift_at).c_str(), 1);
        const bool started = processes[2].start(bin, directory, join_arguments(c.ticks, 3));
        unsetenv("VESK_TEST_DRIFT_AT_TICK");
        ASSERT_TRUE(started);
        for (size_t i = 0; i < processes.size(); ++i)
        {
            vesk_sim_process &process = processes[i];
            const bool drifter = i == 2;
            ASSERT_TRUE(process.wait(PROCESS_LIMIT_MS)) << process.err() << log_tail(process);
            EXPECT_EQ(process.exit_code, drifter ? 17 : 0) << process.err() << log_tail(process);
            EXPECT_EQ(process.out().find("out of sync at tick " + c.tick + "\n") != std::string::npos, drifter)
                << process.out();
        }
        EXPECT_NE(processes[0].log().find("out of sync at tick " + c.tick + ": player "), std::string::npos)
            << log_tail(processes[0]);
        EXPECT_NE(processes[1].err().find("their game went out of step with the host's (tick " + c.tick + ")"),
                  std::string::npos)
            << processes[1].err();
        port = free_loopback_port();
    }
}

// ---- idle, paused, silent and deaf peers (a silence limit of 4 s) ----------

// A player of the test's making: joins ready; each turn (20 ms) it reads when
// `reading`, answers the barriers' begins when `answering` and the host's
// pings when `speaking`; not reading, it repeats its last answer every second.
struct raw_game_player
{
    raw_peer peer;
    std::vector<uint8_t> record = std::vector<uint8_t>(124, 0), pong;
    int16_t id = -1;
    std::vector<int16_t> others; // the other players announced to it, the host's 0 included
    int32_t turns = 0, begins = 0, commands = 0, own_movements = 0; // own_movements: its own, stamped
    int32_t last_stamp = -1;                                        // the tick of the latest stamped command
    explicit raw_game_player(uint16_t port, int receive_buffer = 0) : peer(port, 3, receive_buffer)
    {
        record[16] = 1, record[36] = CURRENT_VERSION_IDENTIFIER >> 8, record[37] = CURRENT_VERSION_IDENTIFIER & 0xFF; // ready, this version
        peer.send_bytes(raw_join_request("raw", "", record));
    }
    void turn(bool reading, bool answering, bool speaking)
    {
        // A closed stream would not wait (its hang-up is always reported): a
        // turn then waits on nothing.
        reading = reading && !peer.ended;
        pollfd ready = {peer.ended ? -1 : peer.stream, (short)(reading ? POLLIN : 0), 0};
        poll(&ready, 1, 20);
        if (!reading && speaking && !pong.empty() && ++turns % 50 == 0) peer.send_bytes(pong);
        for (const std::vector<uint8_t> &packet : reading ? peer.receive_packets() : std::vector<std::vector<uint8_t>>{})
        {
            if (packet_what(packet) == 0x8003 && packet_int16(packet, 10) == 1 && id < 0) id = packet_int16(packet, 8);
            else if (packet_what(packet) == 0x8003 && packet_int16(packet, 10) == 0)
                others.push_back(packet_int16(packet, 8));
            commands += packet_what(packet) == 1;
            if (packet_what(packet) == 1 && packet.size() >= 16)
                last_stamp = std::max(last_stamp, packet_int32(packet, 12));
            own_movements +=
                packet_what(packet) == 1 && packet.size() >= 12 && packet[10] == 3 && packet[11] == (uint8_t)id;
            if (packet_what(packet) == 4 && answering && ++begins)
                peer.send_bytes(game_packet(3, 0, {(uint8_t)(id >> 8), (uint8_t)id, 0, 1}));
            if (packet_what(packet) == 9 && speaking)
                peer.send_bytes(pong = game_packet(9, 254, {packet.begin() + 8, packet.begin() + 12}));
        }
    }
};

// Lines sent to everybody while three processes configure the game reach
// every process once, the sender included, and the game still starts and
// plays in step; also beside a fourth player (of a 2 KB receive buffer) that
// stops reading once it has joined, whose link falls behind at once (it asks
// for a line of its own to everybody, itself included): that receiver is
// skipped, nobody else.  It answers pings and, blind, the barriers, so it is
// neither silent nor late.
class net_chat_processes : public net_game_processes, public ::testing::WithParamInterface<bool>
{
};

TEST_P(net_chat_processes, a_chat_line_to_everybody_reaches_every_process_once)
{
    const bool stuck_receiver = GetParam();
    const int32_t players = stuck_receiver ? 4 : 3;
    std::vector<vesk_sim_process> processes(3);
    start_host(&processes[0], host_arguments(players, 150, {"--chat", "line of the host"}));
    std::unique_ptr<raw_game_player> stuck;
    if (stuck_receiver)
    {
        stuck.reset(new raw_game_player(port, 2048));
        for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && stuck->id < 0; ++turn) stuck->turn(true, false, false);
        ASSERT_GE(stuck->id, 0);
        std::vector<uint8_t> line(3000, 'z' + 13);
        line.back() = 0;
        stuck->peer.send_bytes(game_packet(0, 255, line));
        stuck->pong = game_packet(9, 254, {0, 0, 0, 0});
    }
    for (int32_t i = 1; i < 3; ++i)
    {
        std::vector<std::string> arguments = join_arguments(150, i + 1);
        arguments.insert(arguments.end(),
                         {"--players", std::to_string(players), "--chat", "line of joiner " + std::to_string(i)});
        ASSERT_TRUE(processes[i].start(bin, directory, arguments));
    }
    for (int32_t turn = 0; stuck && turn < PROCESS_LIMIT_MS / 20 && !processes[0].wait(0); ++turn)
    {
        stuck->turn(false, false, true);
        if (turn % 50 == 0)
            stuck->peer.send_bytes(game_packet(3, 0, {(uint8_t)(stuck->id >> 8), (uint8_t)stuck->id, 0, 1}));
    }
    expect_in_step(processes, 150 / 30 + 1);
    for (size_t i = 0; i < processes.size(); ++i)
        for (const char *line : {"line of the host", "line of joiner 1", "line of joiner 2"})
            EXPECT_EQ(count_of(processes[i].err(), std::string(": ") + line + "\n"), 1u)
                << "process " << i << " heard \"" << line << "\"\n" << processes[i].err() << log_tail(processes[0]);
    if (stuck_receiver)
    {
        EXPECT_NE(processes[0].log().find("skipped: the receiver's link is behind"), std::string::npos)
            << log_tail(processes[0], 40);
    }
}

INSTANTIATE_TEST_SUITE_P(receivers, net_chat_processes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info)
                         { return std::string(info.param ? "beside_one_that_stops_reading" : "all_reading"); });

class net_link_processes : public net_game_processes
{
    void SetUp() override { setenv("VESK_TEST_SILENCE_LIMIT_MS", "4000", 1), net_game_processes::SetUp(); }
    void TearDown() override { unsetenv("VESK_TEST_SILENCE_LIMIT_MS"), net_game_processes::TearDown(); }
};

TEST_F(net_link_processes, fifteen_idle_connections_keep_no_joiner_out)
{
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(2, 90));
    std::vector<std::unique_ptr<raw_peer>> idle;
    for (int32_t i = 0, error; i < 15; ++i) // each one accepted: the host's datagram port came
        ASSERT_EQ(idle.emplace_back(new raw_peer(port, 3))->receive(5000, &error).size(), 2u) << i;
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(90, 2)));
    expect_in_step(processes, 90 / 30 + 1);
    EXPECT_NE(processes[0].log().find("which has not joined, to make room"), std::string::npos);
}

// The joiner is stopped for two thirds of the limit while the deaf player
// sends it 24 KB; the silent player is dropped within the limit, the deaf one
// (heard, but never answering the end barrier) at the barrier's bound.
TEST_F(net_link_processes, paused_silent_and_deaf_players_leave_the_others_finishing_in_step)
{
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(4, 300));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(300, 2)));
    raw_game_player silent(port), deaf(port);
    using clock = std::chrono::steady_clock;
    const clock::time_point limit = clock::now() + std::chrono::milliseconds(PROCESS_LIMIT_MS);
    clock::time_point resume = clock::time_point::max();
    std::vector<uint8_t> chat(3992, 'a' + 13); // a line sent to everybody, ignored while the game runs
    chat.back() = 0;
    for (int32_t sent = 0; !processes[1].wait(0) && clock::now() < limit;)
    {
        silent.turn(true, silent.begins == 0, silent.begins == 0);
        deaf.turn(deaf.begins == 0 || deaf.pong.empty(), deaf.begins == 0, true);
        if (sent == 0 && processes[1].out().find("\n60 ") != std::string::npos)
            kill(processes[1].pid, SIGSTOP), resume = clock::now() + std::chrono::milliseconds(2700);
        if (resume != clock::time_point::max() && sent < 6 && ++sent) // one a turn: the host relays each
            deaf.peer.send_bytes(game_packet(0, 255, chat));
        if (clock::now() >= resume) kill(processes[1].pid, SIGCONT), resume = clock::time_point::max();
    }
    expect_in_step(processes, 300 / 30 + 1);
    const std::string log = processes[0].log();
    EXPECT_NE(log.find("Nothing heard from player " + std::to_string(silent.id)), std::string::npos) << log;
    EXPECT_NE(log.find("player " + std::to_string(deaf.id) + " did not answer the barrier"), std::string::npos);
}

TEST_F(net_link_processes, a_joiner_leaves_a_silent_host_within_the_limit)
{
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(2, 900));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(900, 2)));
    ASSERT_TRUE(wait_for_output(processes[1], "\n60 ", false)) << processes[1].err();
    kill(processes[0].pid, SIGSTOP);
    // The joiner's limit of 4 s, then the reference machine's 5 s for it to
    // end, scaled by this machine's pace.
    EXPECT_TRUE(processes[1].wait(4000 + (int32_t)scaled_milliseconds(5000)));
    kill(processes[0].pid, SIGCONT);
    // Nothing heard, the joiner cannot tell a silent host from its own lost
    // link, while the others may play on: it leaves, at the last tick the
    // host stamped, with no result of a game that may go on.
    EXPECT_EQ(processes[1].exit_code, 0) << processes[1].err();
    EXPECT_NE(processes[1].log().find("Nothing heard from the host for 4 seconds"), std::string::npos);
    EXPECT_NE(processes[1].err().find("notice: The connection to the host was lost."), std::string::npos)
        << processes[1].err();
    EXPECT_NE(processes[1].out().find("\nleft at tick "), std::string::npos) << processes[1].out();
}

TEST_F(net_link_processes, the_start_barrier_ends_at_the_wall_limit)
{
    vesk_sim_process host;
    start_host(&host, host_arguments(2, 300, {"--wall-limit", "8"}));
    raw_game_player player(port); // never answers the barrier
    for (int32_t turn = 0; turn < 15000 / 20 && !host.wait(0); ++turn) player.turn(true, false, true);
    // The host may still be closing its connections (it dropped the player).
    ASSERT_TRUE(host.wait(PROCESS_LIMIT_MS)) << log_tail(host, 30);
    EXPECT_EQ(host.exit_code, 1) << host.err() << log_tail(host, 30);
    EXPECT_NE(host.err().find("the start barrier failed"), std::string::npos) << host.err();
}

// A player that starts a command of 4096 bytes once the game runs and then
// sends it a byte a second, saying nothing else: it never completes a
// packet, so it is silent and dropped within the limit, not left for the end
// barrier; the others finish in step.
TEST_F(net_link_processes, a_player_sending_a_byte_a_second_is_silent_and_dropped_within_the_limit)
{
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(3, 300));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(300, 2)));
    raw_game_player slow(port);
    const std::vector<uint8_t> command = game_packet(1, 254, raw_command(4088, 2, 4088));
    size_t sent = 0;
    using clock = std::chrono::steady_clock;
    const clock::time_point limit = clock::now() + std::chrono::milliseconds(PROCESS_LIMIT_MS);
    clock::time_point next = clock::time_point::min();
    while (!processes[1].wait(0) && clock::now() < limit)
    {
        slow.turn(true, slow.commands == 0, slow.commands == 0);
        if (slow.commands == 0 || sent == command.size() || slow.peer.ended || clock::now() < next) continue;
        slow.peer.send_bytes({command[sent++]});
        next = clock::now() + std::chrono::seconds(1);
    }
    expect_in_step(processes, 300 / 30 + 1);
    const std::string log = processes[0].log();
    EXPECT_NE(log.find("Nothing heard from player " + std::to_string(slow.id)), std::string::npos) << log;
    EXPECT_EQ(log.find("did not answer the barrier"), std::string::npos) << log;
    EXPECT_LT(sent, 16u);
}

// A host of the protocol's own making: it serves a vesk_sim client the demo
// game, passes the start barrier with it and then sends `commands` (command
// records of player 0, each its own packet) all at once.  Returns when the
// client has ended or printed `until` (then it is stopped).
void serve_a_raw_game(const std::string &bin, const std::string &directory, vesk_sim_process *client,
                      const std::vector<std::vector<uint8_t>> &commands, const char *until = nullptr)
{
    raw_listener listener;
    ASSERT_TRUE(client->start(bin, directory, {"--net-join", "127.0.0.1:" + std::to_string(listener.port), "--ticks",
                                               "300", "--wall-limit", "15"}));
    const int accepted = listener.accept_connection(PROCESS_LIMIT_MS);
    ASSERT_GE(accepted, 0);
    raw_peer host(accepted);
    host.port_bytes_pending = true; // the connection starts with each side's datagram port
    host.send_bytes({0, 0});
    std::vector<uint8_t> record(124, 0);
    record[36] = CURRENT_VERSION_IDENTIFIER >> 8, record[37] = CURRENT_VERSION_IDENTIFIER & 0xFF;

    new_game_data game;
    get_simulation_game_data(string_to_tag("demo"), 7, &game);
    net_game_description description = {};
    description.parameters = game.parameters;
    description.parameters.type = _game_type_networked;
    std::vector<uint8_t> described(MAXIMUM_SINGLE_PACKET_SIZE);
    const uint16_t described_length =
        build_vesk_game_description_packet(described.data(), (int32_t)described.size(), 1, &description);
    ASSERT_GT(described_length, 0);
    vesk_packet_byteswapping(described.data(), true);
    described.resize(described_length);

    auto from_host = [](std::vector<uint8_t> packet) { return packet[5] = 0, packet; };
    bool joined = false, reported = false;
    for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && !host.ended && !client->wait(0); ++turn)
    {
        if (until && client->out().find(until) != std::string::npos) return client->kill_now();
        pollfd ready = {host.stream, POLLIN, 0};
        poll(&ready, 1, 20);
        for (const std::vector<uint8_t> &packet : host.receive_packets())
        {
            if (packet_what(packet) == 0x8000 && !joined)
            {
                joined = true;
                host.send_bytes(raw_new_player(1, 0, false, "host", record));
                host.send_bytes(raw_new_player(1, 1, true, "client", record));
                host.send_bytes(from_host(described));
                host.send_bytes(from_host(game_packet(4, 1, {})));
            }
            if (packet_what(packet) == 3 && !reported)
            {
                reported = true;
                for (uint8_t id : {0, 1}) host.send_bytes(from_host(game_packet(3, 255, {0, id, 0, 0})));
                std::vector<uint8_t> burst;
                for (const std::vector<uint8_t> &command : commands)
                {
                    const std::vector<uint8_t> packet = from_host(game_packet(1, 1, command));
                    burst.insert(burst.end(), packet.begin(), packet.end());
                }
                host.send_bytes(burst);
            }
        }
    }
    EXPECT_TRUE(reported);
}

// A null command of the host for tick `tick`.
std::vector<uint8_t> null_command(int32_t tick)
{
    return {0, 8, 0, 0xFF, (uint8_t)(tick >> 24), (uint8_t)(tick >> 16), (uint8_t)(tick >> 8), (uint8_t)tick};
}

// A sync command of player 0 for the snapshot of tick 0, with a hash of
// nobody's game (and, as 1850 sends it, a chain), at tick 5 (a null command
// at tick 10 lets tick 5 run): the client reports the tick at which it fell
// out of step and exits 17.
TEST_F(net_game_processes, a_client_whose_game_falls_out_of_step_says_so_and_exits_17)
{
    vesk_sim_process client;
    std::vector<uint8_t> sync = {0, 32, 1, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF, 0x12, 0x34, 0x56, 0x78};
    sync.resize(32, 0);
    serve_a_raw_game(bin, directory, &client, {sync, null_command(10)});
    ASSERT_TRUE(client.wait(PROCESS_LIMIT_MS));
    EXPECT_EQ(client.exit_code, 17) << client.err();
    EXPECT_NE(client.out().find("out of sync at tick"), std::string::npos) << client.out();
}

// A client far behind its host (as after a pause) is sent more commands than
// its game can hold: it takes them as its game runs them, and stays in step.
TEST_F(net_game_processes, a_client_behind_its_host_takes_a_backlog_at_its_own_pace)
{
    std::vector<std::vector<uint8_t>> backlog;
    for (int32_t tick = 1; tick <= 3000; ++tick) backlog.push_back(null_command(tick));
    vesk_sim_process client;
    serve_a_raw_game(bin, directory, &client, backlog, "\n300 ");
    EXPECT_NE(client.out().find("\n300 "), std::string::npos) << client.out() << client.err() << log_tail(client);
    EXPECT_EQ(client.out().find("out of sync"), std::string::npos) << client.out();
}

// ---- players who send too much, join too often or send too slowly ----------

// Every program of these runs with assertions fatal: none may be caused by a peer.
class net_flood_processes_base : public net_game_processes
{
protected:
    void SetUp() override { setenv("VESK_FATAL_ASSERTIONS", "1", 1), net_game_processes::SetUp(); }
    void TearDown() override { unsetenv("VESK_FATAL_ASSERTIONS"), net_game_processes::TearDown(); }
};
class net_flood_processes : public net_flood_processes_base, public ::testing::WithParamInterface<int32_t>
{
};

// A chat command of `length` characters, as a player sends it to the host.
std::vector<uint8_t> chat_command_packet(size_t length)
{
    std::vector<uint8_t> command = raw_command((int16_t)(8 + 4 + length + 1), 10, 8 + 4 + length + 1);
    command[3] = 0xFF;
    std::fill(command.begin() + 12, command.end() - 1, 'x');
    return game_packet(1, 254, command);
}

// Chat commands of 100 characters back to back, as soon as the game runs:
// those past the player's share are refused, the player is dropped, and the
// honest players play on in step, neither frozen nor out of step.
TEST_P(net_flood_processes, a_burst_of_chat_commands_past_the_players_share_is_refused_and_drops_it)
{
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(3, 300));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(300, 2)));
    raw_game_player chatter(port);
    bool sent = false;
    for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && !processes[1].wait(0); ++turn)
    {
        chatter.turn(true, true, true);
        if (chatter.commands == 0 || sent) continue;
        sent = true;
        std::vector<uint8_t> burst;
        for (int32_t i = 0; i < GetParam(); ++i)
        {
            const std::vector<uint8_t> packet = chat_command_packet(100);
            burst.insert(burst.end(), packet.begin(), packet.end());
        }
        chatter.peer.send_bytes(burst);
    }
    EXPECT_TRUE(sent);
    expect_in_step(processes, 300 / 30 + 1);
    const std::string log = processes[0].log();
    EXPECT_NE(log.find("player " + std::to_string(chatter.id) + " had 32 commands refused within a second: dropping it"),
              std::string::npos) << log_tail(processes[0], 30);
    for (const vesk_sim_process &process : processes) EXPECT_EQ(count_of(process.log(), "vassert"), 0u);
}

INSTANTIATE_TEST_SUITE_P(bursts, net_flood_processes, ::testing::Values(80, 120, 1000));

using net_hostile_command_processes = net_flood_processes_base;

// Once the game runs, a player sends three null commands filling their packets at
// one stamp, then each malformed payload: the host refuses every one (the
// null commands as a verb only it issues, the rest as not decoding, each
// logged once), so nothing reaches a ring and the honest players finish in
// step.
TEST_F(net_hostile_command_processes, null_commands_and_malformed_payloads_from_a_player_are_refused)
{
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(3, 240));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(240, 2)));
    raw_game_player hostile(port);
    bool sent = false;
    for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && !processes[1].wait(0); ++turn)
    {
        hostile.turn(true, true, true);
        if (hostile.commands == 0 || sent) continue;
        sent = true;
        std::vector<uint8_t> burst;
        for (int32_t i = 0; i < 3; ++i)
            burst = joined({burst, game_packet(1, 254, travelling_command(0, zeros(4080)))});
        for (const command_shape &shape : malformed_commands())
            burst = joined({burst, game_packet(1, 254, shape.bytes)});
        hostile.peer.send_bytes(burst);
    }
    EXPECT_TRUE(sent);
    expect_in_step(processes, 240 / 30 + 1);
    const std::string log = processes[0].log();
    EXPECT_EQ(count_of(log, "(not allowed from its sender): a command only the host may issue"), 1u)
        << log_tail(processes[0]);
    EXPECT_EQ(count_of(log, "(its command does not decode)"), 1u) << log_tail(processes[0]);
    EXPECT_EQ(count_of(log, "out of sync"), 0u) << log_tail(processes[0]);
}

// Two players each send two chat packets of 4096 bytes in one write, to
// everybody or to the honest player, while the game is set up or once it
// runs: past their share, they are not relayed, and the honest player is
// neither dropped nor frozen.
struct chat_flood_case
{
    const char *name;
    bool in_game, to_everybody;
    const char *refusal; // what the host logs
};

class net_chat_flood_processes : public net_flood_processes_base,
                                 public ::testing::WithParamInterface<chat_flood_case>
{
};

TEST_P(net_chat_flood_processes, chat_past_the_senders_share_drops_no_honest_player)
{
    const chat_flood_case &c = GetParam();
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(4, 150));
    ASSERT_TRUE(processes[1].start(bin, directory, join_arguments(150, 2)));
    std::vector<std::unique_ptr<raw_game_player>> hostile;
    for (int32_t i = 0; i < 2; ++i) hostile.emplace_back(new raw_game_player(port));
    std::vector<uint8_t> chat(4088, 'x' + 13);
    chat.back() = 0;
    std::vector<bool> sent(2, false);
    for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 20 && !processes[1].wait(0); ++turn)
        for (int32_t i = 0; i < 2; ++i)
        {
            raw_game_player &player = *hostile[i];
            player.turn(true, true, true);
            // The honest joiner: announced, neither the host's player nor another hostile one.
            int16_t honest = -1;
            for (const int16_t other : player.others)
                if (other != 0 && other != hostile[0]->id && other != hostile[1]->id) honest = other;
            if (sent[i] || honest < 0 || hostile[1 - i]->id < 0 || (c.in_game && player.commands == 0)) continue;
            sent[i] = true;
            const std::vector<uint8_t> packet = game_packet(0, c.to_everybody ? 255 : (uint8_t)honest, chat);
            player.peer.send_bytes(joined({packet, packet}));
        }
    EXPECT_TRUE(sent[0] && sent[1]);
    expect_in_step(processes, 150 / 30 + 1);
    EXPECT_NE(processes[0].log().find(std::string("not relayed: ") + c.refusal), std::string::npos)
        << log_tail(processes[0]);
    EXPECT_EQ(count_of(processes[0].log(), "buffer is full"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    chat, net_chat_flood_processes,
    ::testing::Values(chat_flood_case{"set_up_to_everybody", false, true, "past its sender's share"},
                      chat_flood_case{"set_up_to_one", false, false, "past its sender's share"},
                      chat_flood_case{"game_to_everybody", true, true, "its receivers ignore it now"},
                      chat_flood_case{"game_to_one", true, false, "its receivers ignore it now"}),
    [](const ::testing::TestParamInfo<chat_flood_case> &info) { return std::string(info.param.name); });

// An honest joiner on a link of 3,000 bytes a second beside flooders within
// their shares: one that sends a chat packet of 4,096 bytes to everybody
// every second of the game (nobody reads chat packets in a running game, so
// the host relays none), or two that send chat commands of about 3,000 bytes
// a second each (everything stamped goes to everybody: while the joiner's
// link is behind, the shares shrink to what it carries).  Nothing stands
// before the joiner's stream for long: the joiner prints each line of the
// game within two seconds of the host (the reference machine's, scaled by
// this one's pace), is never dropped and finishes in step.
struct slow_link_case
{
    const char *name;
    int32_t flooders;
    bool commands;        // chat commands; else chat packets to everybody
    const char *host_says;
};

class net_slow_link_processes_base : public net_flood_processes_base
{
};
class net_slow_link_processes : public net_slow_link_processes_base,
                                public ::testing::WithParamInterface<slow_link_case>
{
};

TEST_P(net_slow_link_processes, an_honest_joiner_on_a_slow_link_beside_flooders_keeps_pace_and_finishes_in_step)
{
    const slow_link_case &c = GetParam();
    std::vector<vesk_sim_process> processes(2);
    start_host(&processes[0], host_arguments(2 + c.flooders, 600));
    throttled_link link(port, 3000);
    std::vector<std::string> arguments = join_arguments(600, 2);
    arguments[1] = "127.0.0.1:" + std::to_string(link.listener.port);
    ASSERT_TRUE(processes[1].start(bin, directory, arguments));
    std::vector<std::unique_ptr<raw_game_player>> flooders;
    for (int32_t i = 0; i < c.flooders; ++i) flooders.emplace_back(new raw_game_player(port));
    const std::vector<uint8_t> command =
        game_packet(1, 254, travelling_command(10, joined({zeros(4), travelling_text(192)})));
    using clock = std::chrono::steady_clock;
    const clock::time_point begin = clock::now();
    std::vector<double> seen[2]; // when each process's lines appeared
    std::vector<double> next(c.flooders, 0);
    for (double now = 0; !processes[1].wait(0) && now < PROCESS_LIMIT_MS / 1000;)
    {
        link.turn(5);
        now = std::chrono::duration<double>(clock::now() - begin).count();
        for (int32_t i = 0; i < c.flooders; ++i)
        {
            raw_game_player &flooder = *flooders[i];
            flooder.turn(true, true, true);
            if (flooder.commands == 0 || now < next[i] || flooder.peer.ended) continue;
            if (c.commands) // about 3,015 bytes a second
                flooder.peer.send_bytes(command), next[i] = now + (double)command.size() / 3015;
            else
                flooder.peer.send_bytes(game_packet(0, 255, std::vector<uint8_t>(4088, 'x'))), next[i] = now + 1;
        }
        for (int32_t i = 0; i < 2; ++i)
            seen[i].resize(processes[i].hash_lines().size(), now);
    }
    expect_in_step(processes, 600 / 30 + 1);
    for (size_t line = 0; line < std::min(seen[0].size(), seen[1].size()); ++line)
        EXPECT_LT(seen[1][line] - seen[0][line], scaled_milliseconds(2000) / 1000.0) << line << log_tail(processes[0]);
    const std::string log = processes[0].log();
    EXPECT_NE(log.find(c.host_says), std::string::npos) << log_tail(processes[0], 40);
    EXPECT_EQ(count_of(log, "a command from a player not in the game"), 0u) << log_tail(processes[0], 40);
    EXPECT_EQ(count_of(log, "dropped from the game"), 0u) << log_tail(processes[0], 40);
}

INSTANTIATE_TEST_SUITE_P(
    flooders, net_slow_link_processes,
    ::testing::Values(slow_link_case{"a_chat_packet_flooder", 1, false, "not relayed: its receivers ignore it now"},
                      slow_link_case{"two_chat_command_flooders", 2, true, "more than a link that is behind carries"}),
    [](const ::testing::TestParamInfo<slow_link_case> &info) { return std::string(info.param.name); });

// A reader too slow for the game (a link of 400 bytes a second from the
// host) beside an honest player who orders its whole army once a second:
// every one of those orders is stamped, the slow reader is dropped and named
// within seconds of falling behind, and the host plays on to its end.  The
// orders stop well before the game's last tick (900): one that reaches the
// host after its game ended is rightly not stamped.
TEST_F(net_slow_link_processes_base, a_slow_reader_is_dropped_and_never_holds_back_an_honest_players_whole_army_orders)
{
    vesk_sim_process host, reader;
    start_host(&host, host_arguments(3, 900));
    throttled_link link(port, 400);
    std::vector<std::string> arguments = join_arguments(900, 2);
    arguments[1] = "127.0.0.1:" + std::to_string(link.listener.port);
    ASSERT_TRUE(reader.start(bin, directory, arguments));
    raw_game_player honest(port);
    // One movement of a whole selection (126 units) by 32 waypoints: 528 bytes.
    const std::vector<uint8_t> order = game_packet(
        1, 254, travelling_command(3, joined({zeros(8), travelling_array(126, 252), travelling_array(32, 256)})));
    using clock = std::chrono::steady_clock;
    const clock::time_point begin = clock::now();
    int32_t sent = 0;
    double next = 0, started_at = -1, dropped_at = -1; // seconds since `begin`; started: the first stamp seen
    for (double now = 0; !host.wait(0) && now < PROCESS_LIMIT_MS / 1000;)
    {
        link.turn(5);
        honest.turn(true, true, true);
        now = std::chrono::duration<double>(clock::now() - begin).count();
        if (started_at < 0 && honest.commands > 0) started_at = now;
        if (honest.commands > 0 && honest.last_stamp < 750 && now >= next && !honest.peer.ended)
            honest.peer.send_bytes(order), ++sent, next = now + 1;
        if (dropped_at < 0 && host.log().find("link stayed behind for 10 seconds: dropped") != std::string::npos)
            dropped_at = now;
    }
    for (int32_t turn = 0; turn < 100 && honest.own_movements < sent && !honest.peer.ended; ++turn)
        honest.turn(true, true, true);
    ASSERT_TRUE(host.wait(PROCESS_LIMIT_MS)) << log_tail(host);
    EXPECT_EQ(host.exit_code, 0) << host.err() << log_tail(host, 40);
    EXPECT_GE(sent, 15);
    EXPECT_EQ(honest.own_movements, sent) << log_tail(host, 40);
    EXPECT_GT(dropped_at, started_at) << log_tail(host, 40);
    EXPECT_EQ(count_of(host.log(), "sends more than a link that is behind carries"), 0u) << log_tail(host, 40);
}

// What a join-and-leave loop got: the joins answered, those denied, and the
// seconds from its first connection to the end of its last.
struct join_loop_outcome
{
    int32_t joined, denied;
    double seconds;
};

// Connections that join and leave at once, `rate` a second for `seconds`
// from 127.0.0.1 (or in turn from 127.0.0.2 and the `addresses` - 1 after it),
// on non-blocking sockets (the host accepts them as fast as it polls); each
// ends at the host's first answer.  `beside` runs at every turn with the
// seconds since the start.
join_loop_outcome join_and_leave_loop(uint16_t port, int32_t rate, int32_t seconds, int32_t addresses = 0,
                                      const std::function<void(double)> &beside = nullptr)
{
    std::vector<uint8_t> request = {0, 9}; // a datagram port, then the join request
    const std::vector<uint8_t> join = raw_join_request("loop", "", std::vector<uint8_t>(124, 0));
    request.insert(request.end(), join.begin(), join.end());
    struct loop_socket
    {
        pollfd poll;
        int32_t turns; // so far
        std::vector<uint8_t> received;
    };
    std::vector<loop_socket> open;
    int32_t started = 0, joined = 0, denied = 0;
    const auto begin = std::chrono::steady_clock::now(), end = begin + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end || !open.empty())
    {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        for (; std::chrono::steady_clock::now() < end && started < elapsed * rate && open.size() < 64; ++started)
        {
            sockaddr_in address = {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
            open.push_back({{socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0), POLLOUT, 0}, 0, {}});
            if (addresses > 0)
            {
                const sockaddr_in source = {AF_INET, 0, {htonl(INADDR_LOOPBACK + 1 + started % addresses)}, {}};
                bind(open.back().poll.fd, (const sockaddr *)&source, sizeof(source));
            }
            connect(open.back().poll.fd, (const sockaddr *)&address, sizeof(address));
        }
        if (beside) beside(elapsed);
        std::vector<pollfd> ready;
        for (const loop_socket &j : open) ready.push_back(j.poll);
        poll(ready.data(), ready.size(), 1);
        for (size_t i = 0; i < open.size(); ++i)
        {
            loop_socket &j = open[i];
            bool done = ++j.turns > 2000;
            if (j.poll.events == POLLOUT && (ready[i].revents & POLLOUT))
                done |= send(j.poll.fd, request.data(), request.size(), MSG_NOSIGNAL) != (ssize_t)request.size(),
                    j.poll.events = POLLIN;
            else if (ready[i].revents & (POLLIN | POLLHUP | POLLERR))
            {
                uint8_t bytes[512];
                const ssize_t count = recv(j.poll.fd, bytes, sizeof(bytes), 0);
                if (count > 0) j.received.insert(j.received.end(), bytes, bytes + count);
                done |= count <= 0;
                // The host's 2 port bytes, then its packets: the join is
                // answered by a denial, or by the new-player packet that
                // describes its receiver (others may come first: the players
                // already there, and who joined or left meanwhile).
                for (size_t at = 2; !done && at + 12 <= j.received.size();)
                {
                    const uint8_t *packet = &j.received[at];
                    const size_t length = (size_t)packet[2] << 8 | packet[3];
                    if (packet[0] == 0x80 && packet[1] == 4) ++denied, done = true;
                    else if (packet[0] == 0x80 && packet[1] == 3 && ((packet[10] | packet[11]) & 1)) ++joined, done = true;
                    if (length < 8) done = true; // not the host's stream
                    at += length;
                }
            }
            if (done) close(j.poll.fd), j.poll.fd = -1;
        }
        open.erase(std::remove_if(open.begin(), open.end(), [](const loop_socket &j) { return j.poll.fd < 0; }),
                   open.end());
    }
    return {joined, denied, std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count()};
}

// A join-and-leave loop of 300 a second for 20 s from one address: the host
// refuses most of it, keeps room for its own sends, and two honest joiners
// arriving 2 s after the loop get their game.
TEST_F(net_game_processes, a_join_and_leave_loop_is_slowed_and_honest_joiners_get_a_game_after_it)
{
    std::vector<vesk_sim_process> processes(3);
    start_host(&processes[0], host_arguments(3, 150));
    const join_loop_outcome answered = join_and_leave_loop(port, 300, 20);
    // A whole game's burst, then 10 a second while the loop lasted (beside
    // other work its last connections may end well after its 20 s): the rest
    // is denied.
    EXPECT_LE(answered.joined, 16 + 10 * (int32_t)std::ceil(answered.seconds))
        << "denied " << answered.denied << " in " << answered.seconds << " s";
    EXPECT_GT(answered.denied, 0) << "joined " << answered.joined;
    poll(nullptr, 0, 2000);
    for (int32_t i = 1; i < 3; ++i) ASSERT_TRUE(processes[i].start(bin, directory, join_arguments(150, i + 1)));
    expect_in_step(processes, 150 / 30 + 1);
    const std::string log = processes[0].log();
    EXPECT_NE(log.find("joins from 127.0.0.1 come faster than 10 a second"), std::string::npos);
    EXPECT_EQ(count_of(log, "unable to copy the data for a local send"), 0u);
    EXPECT_EQ(count_of(log, "outgoing buffer is full"), 0u);
}
// Joins and leaves from 49, 200 or 1,000 loopback addresses (127.0.0.2 on),
// 300 a second for 5 s: the host holds them all to the total rate (however
// many addresses: the networks it has not heard from lately share the
// newcomers' rate) and writes each repeated line once with its count, so
// its log grows by a few lines a second; honest newcomers, one from a
// network of its own every second from the flood's start, are each let in
// at their first try, the first while the flood's addresses are still new.
// Or the honest players are a LAN party in the flood's own /24 (127.0.0.200
// on), a network that tries, and is refused, all the time: each retries at
// once when refused, and gets in while the flood goes on.
struct join_flood_case
{
    int32_t addresses;
    bool honest_in_the_floods_network;
};

class net_join_flood_processes : public net_game_processes, public ::testing::WithParamInterface<join_flood_case>
{
};

TEST_P(net_join_flood_processes, a_join_flood_from_many_addresses_keeps_the_log_short_and_honest_newcomers_get_in)
{
    const int32_t addresses = GetParam().addresses;
    const bool neighbours = GetParam().honest_in_the_floods_network;
    vesk_sim_process host;
    start_host(&host, host_arguments(16, 150));
    const size_t lines_before = count_of(host.log(), "\n");
    std::vector<std::unique_ptr<raw_peer>> honest;
    std::vector<bool> answered;
    std::vector<double> waited; // from each one's first try until it got in
    double now = 0;
    std::vector<uint8_t> record(124, 0); // a player of this program's rules
    record[36] = CURRENT_VERSION_IDENTIFIER >> 8, record[37] = CURRENT_VERSION_IDENTIFIER & 0xFF;
    const auto address_of = [&](size_t i) {
        return neighbours ? (uint32_t)(127 << 24 | (200 + (int32_t)i)) : (uint32_t)(127 << 24 | (1 + (int32_t)i) << 16 | 1);
    };
    const auto read_answers = [&] {
        for (size_t i = 0; i < honest.size(); ++i)
            for (const std::vector<uint8_t> &packet : honest[i]->receive_packets())
                if (packet_what(packet) == 0x8003 && packet_int16(packet, 10) == 1 && !answered[i])
                    answered[i] = true, waited[i] = now - waited[i];
                else if (packet_what(packet) == 0x8004 && !neighbours)
                    ADD_FAILURE() << "honest newcomer " << i << " was denied";
                else if (packet_what(packet) == 0x8004)
                {
                    honest[i].reset(new raw_peer(port, 3, 0, address_of(i))); // tries again at once
                    honest[i]->send_bytes(raw_join_request("honest", "", record));
                    break;
                }
    };
    const join_loop_outcome flood = join_and_leave_loop(port, 300, 5, addresses, [&](double elapsed) {
        now = elapsed;
        // Honest joiners leave room for the flood's own: at most 15 players.
        if (elapsed >= 0.5 + (double)honest.size() && honest.size() < 4)
        {
            honest.emplace_back(new raw_peer(port, 3, 0, address_of(honest.size())));
            honest.back()->send_bytes(raw_join_request("honest", "", record));
            answered.push_back(false), waited.push_back(elapsed);
        }
        read_answers();
    });
    ASSERT_EQ(honest.size(), 4u);
    // Beside its network's flood, each got in while the flood went on.
    for (size_t i = 0; neighbours && i < honest.size(); ++i)
    {
        EXPECT_TRUE(answered[i]) << "neighbour " << i << " was not let in during the flood";
        printf("neighbour %zu in %.2f s after its first try\n", i, waited[i]);
    }
    for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 10 && std::count(answered.begin(), answered.end(), false); ++turn)
        read_answers(), poll(nullptr, 0, 10);
    for (size_t i = 0; i < honest.size(); ++i) EXPECT_TRUE(answered[i]) << "honest newcomer " << i << " was not answered";
    // A whole game's burst, then the total rate, and the newcomers' and
    // the fresh addresses' the same way.
    const int32_t seconds = (int32_t)std::ceil(flood.seconds);
    EXPECT_LE(flood.joined, 16 * 3 + (JOINS_PER_SECOND_FOR_EVERYBODY + JOINS_PER_SECOND_FOR_NEWCOMERS +
                                      JOINS_PER_SECOND_FOR_FRESH_ADDRESSES) *
                                         seconds)
        << "denied " << flood.denied;
    EXPECT_GT(flood.denied, 100) << "joined " << flood.joined;
    host.kill_now();
    const std::string log = host.log();
    // Before: a line for every refused connection, thousands in a few seconds.
    EXPECT_LT(count_of(log, "\n") - lines_before, 300u) << log_tail(host, 60);
    const size_t limited = count_of(log, "come faster than");
    EXPECT_TRUE(limited >= 1 && limited <= 2) << log_tail(host, 60); // each limit's line, then counted
}

INSTANTIATE_TEST_SUITE_P(addresses, net_join_flood_processes,
                         ::testing::Values(join_flood_case{49, false}, join_flood_case{200, false},
                                           join_flood_case{1000, false}, join_flood_case{49, true}),
                         [](const ::testing::TestParamInfo<join_flood_case> &info) {
                             return std::to_string(info.param.addresses) +
                                    (info.param.honest_in_the_floods_network ? "_beside_honest_neighbours" : "");
                         });
} // namespace

// The lobby road end to end, against the test lobby service on loopback:
// both players log in, the host creates a game that the room lists, the
// other joins it from the list; they play two games of one session (the host
// asks for the second from the endgame dialog) in step, each ending with the
// standings both machines report to the lobby; then both are back in the
// lobby dialog and the listing is withdrawn.  Each keeps its film of the
// last game, which replays to its last hash, and none logs an assertion
// (assertions are fatal for these processes).
class net_lobby_processes : public net_game_processes
{
protected:
    void SetUp() override { setenv("VESK_FATAL_ASSERTIONS", "1", 1), net_game_processes::SetUp(); }
    void TearDown() override { unsetenv("VESK_FATAL_ASSERTIONS"), net_game_processes::TearDown(); }
};

TEST_F(net_lobby_processes, two_games_through_the_lobby_are_listed_scored_withdrawn_and_kept_as_films)
{
    vesk_sim_process lobby;
    const std::string login = start_test_lobby(&lobby);
    ASSERT_FALSE(login.empty()) << lobby.err();
    // Games of ten seconds: they play in real time, and two of them must end
    // well within the case's limit on a busy machine.
    const std::vector<std::string> road = {"--lobby", "127.0.0.1:" + login, "--ticks", "300", "--games", "2"};

    std::vector<vesk_sim_process> processes(2);
    const auto film = [this](int32_t i) { return directory + "/film" + std::to_string(i); };
    std::vector<std::string> host = road, joiner = road;
    host.insert(host.end(), {"--user", "alice", "--password", "wonderland", "--create", "--port", std::to_string(port),
                             "--map", "demo", "--random-orders", "1", "--record", film(0)});
    // The host leaves the last endgame first: its player is back in the room
    // before the joiner reads on, and the joiner comes back to the room too.
    joiner.insert(joiner.end(), {"--user", "bob", "--password", "builder", "--join-listed", "--random-orders", "2",
                                 "--record", film(1), "--leave-after", "1500"});
    ASSERT_TRUE(processes[0].start(bin, directory, host));
    ASSERT_TRUE(wait_for_output(lobby, " listed room 0 by alice", false)) << lobby.out() << processes[0].err();
    ASSERT_TRUE(processes[1].start(bin, directory, joiner));
    // Each game's hash lines, its final line and its standings.
    expect_in_step(processes, 2 * (300 / 30 + 2), "standings ");
    if (HasFailure()) ADD_FAILURE() << "the lobby heard:\n" << lobby.out();
    for (const vesk_sim_process &process : processes)
    {
        EXPECT_NE(process.err().find("back in the lobby after 2 games"), std::string::npos) << process.err();
        EXPECT_EQ(count_of(process.err(), "closed before its Leave was pressed"), 0u) << process.err();
        EXPECT_EQ(count_of(process.log(), "vassert"), 0u) << process.log();
    }
    const std::string final_line = processes[0].hash_lines()[2 * (300 / 30 + 2) - 2]; // "final 300 HASH"
    const std::string last_tick = "\n300 " + final_line.substr(final_line.rfind(' ') + 1) + "\n";
    for (int32_t i = 0; i < 2; ++i)
    {
        EXPECT_EQ(run_vesk_sim("--film '" + film(i) + "' > replay.out 2> replay.err"), 0)
            << i << ": " << read_whole_file("replay.err");
        EXPECT_NE(read_whole_file("replay.out").find(last_tick), std::string::npos) << i << ": " << last_tick;
    }

    // The standings (the same on both machines), as the lobby received them from both.
    std::vector<std::string> standings;
    std::istringstream out(processes[0].out());
    for (std::string line; std::getline(out, line);)
        if (line.rfind("standings ", 0) == 0) standings.push_back(line.substr(9));
    ASSERT_EQ(standings.size(), 2u);
    lobby.kill_now();
    const std::string heard = lobby.out();
    EXPECT_EQ(count_of(heard, "refused"), 0u) << heard;
    const size_t listed = heard.find("game 1 listed room 0 by alice");
    ASSERT_NE(listed, std::string::npos) << heard;
    EXPECT_NE(heard.find("name \"alice's game\" map \"Demo Valley\"", listed), std::string::npos) << heard;
    // The rules the game plays (1.8.3) and the players its map of two teams takes.
    EXPECT_NE(heard.find("version " + std::to_string(CURRENT_VERSION_IDENTIFIER) + " build 443 in room 0 scoring 0 maximum 2", listed), std::string::npos) << heard;
    EXPECT_EQ(count_of(heard, "game 1 players 1 2\n"), 2u) << heard;
    // The set-up keeps the listing in step on every pass: only changes are sent.
    EXPECT_LT(count_of(heard, "game 1 changed"), 20u) << heard;
    for (const std::string &line : standings)
        for (const char *user : {"alice", "bob"})
            EXPECT_NE(heard.find(std::string("score 1 from ") + user + line + "\n"), std::string::npos)
                << user << line << "\n" << heard;
    // The host withdraws its listing after its own last score; the other
    // player's score may reach the lobby before or after that.
    const size_t last_score = heard.rfind("score 1 from alice");
    EXPECT_NE(heard.find("game 1 removed", last_score), std::string::npos) << heard;
}

// A cooperative game started from the lobby is listed in progress and open to
// late joiners while it runs; a player who joins it from the room's list
// catches up, and the lobby hears the game's new player list.
TEST_F(net_game_processes, a_cooperative_lobby_game_is_listed_open_and_counts_its_late_joiner)
{
    vesk_sim_process lobby;
    const std::string login = start_test_lobby(&lobby);
    ASSERT_FALSE(login.empty()) << lobby.err();
    const std::vector<std::string> road = {"--lobby", "127.0.0.1:" + login, "--ticks", "900"};
    std::vector<vesk_sim_process> processes(2);
    std::vector<std::string> host = road, joiner = road;
    host.insert(host.end(), {"--user", "alice", "--password", "wonderland", "--create", "--port", std::to_string(port),
                             "--map", "demo", "--players", "1", "--coop", "--gameplay-version", "1820",
                             "--random-orders", "1"});
    joiner.insert(joiner.end(), {"--user", "bob", "--password", "builder", "--join-listed", "--random-orders", "2"});
    ASSERT_TRUE(processes[0].start(bin, directory, host));
    const std::string running = " flags " + std::to_string(_net_game_in_progress_flag |
                                                           _net_game_supports_midgame_joining_flag) + " ";
    ASSERT_TRUE(wait_for_output(lobby, running.c_str(), false)) << lobby.out() << processes[0].err();
    ASSERT_TRUE(processes[1].start(bin, directory, joiner));
    expect_in_step(processes, 900 / 30 + 2, "standings ");
    EXPECT_NE(processes[1].err().find("caught up at tick"), std::string::npos) << processes[1].err();
    lobby.kill_now();
    const std::string heard = lobby.out();
    EXPECT_EQ(count_of(heard, "refused"), 0u) << heard;
    const size_t started = heard.find("game 1 started");
    ASSERT_NE(started, std::string::npos) << heard;
    EXPECT_NE(heard.find("players 2" + running, started), std::string::npos) << heard;
    EXPECT_NE(heard.find("game 1 players 1 2\n", started), std::string::npos) << heard;
}

// The room drops under two games in turn: each game still runs to its end,
// the host's quit dialog then offers neither rehost nor restart, and both
// players log in again and play on; the third game ends as any other.
TEST_F(net_game_processes, a_lobby_that_drops_during_games_is_logged_into_again)
{
    vesk_sim_process lobby;
    const std::string login = start_test_lobby(&lobby);
    ASSERT_FALSE(login.empty()) << lobby.err();
    std::vector<vesk_sim_process> processes(2);
    ASSERT_TRUE(processes[0].start(bin, directory, lobby_road(login, true, 300, {"--games", "3"})));
    ASSERT_TRUE(wait_for_output(lobby, " listed room 0 by alice", false)) << lobby.out() << processes[0].err();
    ASSERT_TRUE(processes[1].start(bin, directory, lobby_road(login, false, 300, {"--games", "3"})));
    for (const char *started : {"game 1 started", "game 2 started"})
    {
        ASSERT_TRUE(wait_for_output(lobby, started, false))
            << lobby.out() << processes[0].err() << log_tail(processes[0], 40) << processes[1].err()
            << log_tail(processes[1], 40);
        ASSERT_TRUE(lobby.send_line("drop-room 0"));
    }
    expect_in_step(processes, 3 * (300 / 30 + 2), "standings ");
    if (HasFailure())
        ADD_FAILURE() << "the lobby heard:\n" << lobby.out() << "the joiner:\n" << processes[1].err()
                      << log_tail(processes[1], 30);
    for (const vesk_sim_process &process : processes)
    {
        EXPECT_EQ(count_of(process.err(), "logging in again"), 2u) << process.err();
        EXPECT_NE(process.err().find("back in the lobby after 3 games"), std::string::npos) << process.err();
        EXPECT_EQ(count_of(process.log(), "the lobby context is not in use"), 0u) << process.log();
    }
    EXPECT_EQ(count_of(processes[0].err(), "the quit dialog's rehost is disabled and its restart disabled"), 2u)
        << processes[0].err();
}

// The room dies while the host's endgame dialog is open: the host is logged
// out then, so that its next direct game is one of a player who never used
// the lobby (its quit dialog offers rehost and restart, its endgame shows the
// standings) and its next login finds no session left behind.
TEST_F(net_lobby_processes, a_room_that_dies_under_the_endgame_dialog_leaves_no_lobby_behind)
{
    vesk_sim_process lobby;
    const std::string login = start_test_lobby(&lobby);
    ASSERT_FALSE(login.empty()) << lobby.err();
    std::vector<vesk_sim_process> processes(2);
    ASSERT_TRUE(processes[0].start(bin, directory, lobby_road(login, true, 150, {"--hold-endgame", "--then-direct"})));
    ASSERT_TRUE(wait_for_output(lobby, " listed room 0 by alice", false)) << lobby.out() << processes[0].err();
    ASSERT_TRUE(processes[1].start(bin, directory, lobby_road(login, false, 150)));
    ASSERT_TRUE(wait_for_output(processes[0], "the endgame dialog is open", true))
        << processes[0].err() << log_tail(processes[0], 30);
    ASSERT_TRUE(lobby.send_line("drop-room 0"));
    ASSERT_TRUE(processes[0].wait(PROCESS_LIMIT_MS)) << processes[0].err();
    EXPECT_EQ(processes[0].exit_code, 0) << processes[0].err() << log_tail(processes[0], 30);
    const std::string said = processes[0].err(), logged = processes[0].log();
    for (const char *line : {"the lobby's room died under the endgame dialog",
                             "the direct game ran; the quit dialog's rehost is enabled and its restart enabled",
                             "the direct game's endgame dialog shows the standings"})
        EXPECT_NE(said.find(line), std::string::npos) << line << "\n" << said;
    EXPECT_EQ(count_of(said, "logged in to the lobby as alice"), 2u) << said;
    EXPECT_NE(logged.find("the lobby's room died during the game's end: logged out"), std::string::npos) << logged;
    EXPECT_EQ(count_of(logged, "closed before the login"), 0u) << logged;
    processes[1].wait(PROCESS_LIMIT_MS);
}

// A game hosted on other data (its foundation checksum differs) is listed as
// one this program cannot play, and Join shows the join-failed dialog with
// the reason instead of doing nothing.
TEST_F(net_game_processes, a_lobby_game_on_other_data_is_listed_invalid_and_join_says_why)
{
    vesk_sim_process lobby;
    const std::string login = start_test_lobby(&lobby, {"--other-data"});
    ASSERT_FALSE(login.empty()) << lobby.err();
    std::vector<vesk_sim_process> processes(2);
    ASSERT_TRUE(processes[0].start(bin, directory, lobby_road(login, true, 300, {"--wall-limit", "60"})));
    ASSERT_TRUE(wait_for_output(lobby, " listed room 0 by alice", false)) << lobby.out() << processes[0].err();
    ASSERT_TRUE(processes[1].start(bin, directory, lobby_road(login, false, 300, {"--wall-limit", "15"})));
    ASSERT_TRUE(processes[1].wait(PROCESS_LIMIT_MS)) << processes[1].err();
    EXPECT_NE(processes[1].err().find("joining the listed game 1 \"alice's game\" (listed invalid)"), std::string::npos)
        << processes[1].err();
    // The join-failed dialog, which needs a screen, is given the reason: which data differ.
    EXPECT_NE(processes[1].log().find("cannot join the game: The host plays on other game data (its tag files differ"),
              std::string::npos)
        << log_tail(processes[1]);
    EXPECT_NE(processes[1].err().find("no game was joined from the lobby"), std::string::npos) << processes[1].err();
    for (vesk_sim_process &process : processes) process.kill_now();
}

// In a ranked room the host's parameters take the ranked limits: no
// cooperative game (listed closed once it runs, not open to joiners) and a
// time limit of at least six minutes.
TEST_F(net_game_processes, a_ranked_room_gives_its_games_the_ranked_limits)
{
    vesk_sim_process lobby;
    const std::string login = start_test_lobby(&lobby, {"--room-type", "0:1"});
    ASSERT_FALSE(login.empty()) << lobby.err();
    std::vector<vesk_sim_process> processes(1);
    ASSERT_TRUE(processes[0].start(
        bin, directory, lobby_road(login, true, 90, {"--players", "1", "--coop", "--gameplay-version", "1820"})));
    expect_in_step(processes, 90 / 30 + 2, "standings ");
    lobby.kill_now();
    const std::string heard = lobby.out();
    const size_t started = heard.find("game 1 started seconds ");
    ASSERT_NE(started, std::string::npos) << heard;
    EXPECT_GE(atoi(heard.c_str() + started + strlen("game 1 started seconds ")), 360) << heard;
    const std::string closed = " flags " + std::to_string(_net_game_in_progress_flag | _net_game_is_closed_flag) + " ";
    EXPECT_NE(heard.find(closed, started), std::string::npos) << heard;
}

// One way a network game through the lobby can end: what the host and the
// joiner are given, whether each remains to the end, and the scores each
// remaining player sends (one per game of the session).
struct network_ending
{
    const char *name;
    std::vector<std::string> host, joiner;
    bool host_remains, joiner_remains;
    bool kill_host; // the host's link dies: its process is killed once the game runs
    int32_t games;
    const char *end_line; // a line of the remaining processes' standard error, or null
    const char *winner;   // the start of the report's winner line of the last game, or null: none asked
    // The joiner is stopped once the game runs, until the host (whose
    // silence limit is 4 s then) drops it; it is told why (its standard
    // error's line), and the lobby's listing counts the host alone.
    bool silence_joiner = false;
    const char *joiner_line = nullptr;
    const char *lobby_line = nullptr; // said by the lobby after the game started
    // A direct game (no lobby), for what a lobby game cannot show: a third
    // player of the test's making.
    bool direct = false;
    std::vector<std::string> third = {};     // a third player's options (a joiner, remaining if third_remains)
    const char *third_environment = nullptr; // a test variable set for the third's process alone
    int32_t third_exit = 0;                  // its exit status
    const char *kill_host_on = nullptr;      // the joiner's output at which the host is killed; null: its tick 150
    const char *host_log = nullptr;          // a line of the host's log, or null
    bool third_remains = false;              // the third plays to the end beside the joiner
    int32_t joiner_link_rate = 0;            // bytes a second of the joiner's link from the host; 0: loopback's
};

std::ostream &operator<<(std::ostream &out, const network_ending &ending) { return out << ending.name; }

class net_game_endings : public net_lobby_processes, public ::testing::WithParamInterface<network_ending>
{
};

// The lines of a process's output that say how its last game ended: the
// report (places, scores, winner), the final line and the standings.
std::vector<std::string> ending_lines(const vesk_sim_process &process)
{
    std::vector<std::string> lines;
    std::istringstream out(process.out());
    for (std::string line; std::getline(out, line);)
    {
        if (line.rfind("team ", 0) == 0 || line.rfind("player ", 0) == 0 || line.rfind("winning ", 0) == 0 ||
            line.rfind("final ", 0) == 0 || line.rfind("standings ", 0) == 0)
            lines.push_back(line);
        if (line.rfind("restarting ", 0) == 0 || line.rfind("rehosting ", 0) == 0) lines.clear();
    }
    return lines;
}

// The "final TICK HASH" line of ending_lines, or "".
std::string final_line_of(const std::vector<std::string> &lines)
{
    for (const std::string &line : lines)
        if (line.rfind("final ", 0) == 0) return line;
    return "";
}

// Every remaining process reaches the end with the same standings and winner,
// keeps a film that replays to its final line's hash, and the lobby hears one
// score from each remaining player for each game.
TEST_P(net_game_endings, every_remaining_player_reaches_the_end_with_the_same_standings_and_the_lobby_hears_each)
{
    const network_ending &ending = GetParam();
    vesk_sim_process lobby;
    const std::string login = start_test_lobby(&lobby);
    ASSERT_FALSE(login.empty()) << lobby.err();
    const std::string orders = source_tree_path("data/orders/twin_valleys.txt");
    const auto film = [this](int32_t i) { return directory + "/film" + std::to_string(i); };
    const int32_t count = ending.third.empty() ? 2 : 3;
    std::vector<vesk_sim_process> processes(count);
    std::vector<std::string> host = {"--lobby", "127.0.0.1:" + login, "--user", "alice", "--password", "wonderland",
                                     "--create", "--port", std::to_string(port), "--map", "85gi", "--orders", orders,
                                     "--report", "--record", film(0), "--games", std::to_string(ending.games)};
    std::vector<std::string> joiner = {"--lobby", "127.0.0.1:" + login, "--user", "bob", "--password", "builder",
                                       "--join-listed", "--orders", orders, "--report", "--record", film(1),
                                       "--games", std::to_string(ending.games)};
    if (ending.direct)
    {
        host = {"--net-host", std::to_string(port), "--players", std::to_string(count), "--map", "demo", "--seed", "7",
                "--random-orders", "1", "--report", "--record", film(0)};
        joiner = {"--net-join", "127.0.0.1:" + std::to_string(port), "--random-orders", "2", "--report", "--record",
                  film(1)};
    }
    host.insert(host.end(), ending.host.begin(), ending.host.end());
    joiner.insert(joiner.end(), ending.joiner.begin(), ending.joiner.end());
    if (ending.silence_joiner) setenv("VESK_TEST_SILENCE_LIMIT_MS", "4000", 1);
    if (ending.direct)
        start_host(&processes[0], host);
    else
    {
        ASSERT_TRUE(processes[0].start(bin, directory, host));
        ASSERT_TRUE(wait_for_output(lobby, " listed room 0 by alice", false)) << lobby.out() << processes[0].err();
    }
    std::unique_ptr<throttled_link> link;
    if (ending.joiner_link_rate > 0)
    {
        link.reset(new throttled_link(port, ending.joiner_link_rate));
        joiner[1] = "127.0.0.1:" + std::to_string(link->listener.port);
        link->turn_in_background();
    }
    ASSERT_TRUE(processes[1].start(bin, directory, joiner));
    if (count == 3)
    {
        std::vector<std::string> third = {"--net-join", "127.0.0.1:" + std::to_string(port), "--random-orders", "3",
                                          "--report", "--record", film(2)};
        third.insert(third.end(), ending.third.begin(), ending.third.end());
        if (ending.third_environment) putenv((char *)ending.third_environment);
        const bool started = processes[2].start(bin, directory, third);
        if (ending.third_environment) unsetenv(std::string(ending.third_environment, strchr(ending.third_environment, '=')).c_str());
        ASSERT_TRUE(started);
    }
    if (ending.kill_host)
    {
        ASSERT_TRUE(wait_for_output(processes[1], ending.kill_host_on ? ending.kill_host_on : "\n150 ", false))
            << processes[1].err() << log_tail(processes[1]);
        processes[0].kill_now();
    }
    if (ending.silence_joiner)
    {
        unsetenv("VESK_TEST_SILENCE_LIMIT_MS");
        ASSERT_TRUE(wait_for_output(processes[1], "\n150 ", false)) << processes[1].err() << log_tail(processes[1]);
        kill(processes[1].pid, SIGSTOP);
        bool dropped = false;
        for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 50 && !dropped; ++turn)
            if (!(dropped = processes[0].log().find("Nothing heard from player") != std::string::npos))
                poll(nullptr, 0, 50);
        kill(processes[1].pid, SIGCONT);
        ASSERT_TRUE(dropped) << log_tail(processes[0]);
    }

    std::vector<int32_t> remaining;
    if (ending.host_remains) remaining.push_back(0);
    if (ending.joiner_remains) remaining.push_back(1);
    if (ending.third_remains) remaining.push_back(2);
    for (int32_t i = count - 1; i >= 0; --i)
    {
        if (i == 0 && ending.kill_host) continue;
        ASSERT_TRUE(processes[i].wait(PROCESS_LIMIT_MS)) << processes[i].err() << log_tail(processes[i]);
        EXPECT_EQ(processes[i].exit_code, i == 2 ? ending.third_exit : 0) << i << processes[i].err()
                                                                          << log_tail(processes[i], 30);
    }
    if (ending.host_log)
    {
        EXPECT_NE(processes[0].log().find(ending.host_log), std::string::npos) << log_tail(processes[0], 40);
    }
    if (ending.joiner_line)
    {
        EXPECT_NE(processes[1].err().find(ending.joiner_line), std::string::npos) << processes[1].err();
        EXPECT_EQ(processes[1].err().find("the host left"), std::string::npos) << processes[1].err();
    }
    const std::vector<std::string> first = ending_lines(processes[remaining[0]]);
    ASSERT_GE(first.size(), 3u) << processes[remaining[0]].out();
    if (ending.winner)
    {
        // (Which side wins depends on the ticks the host stamped each order at.)
        EXPECT_NE(std::find_if(first.begin(), first.end(),
                               [&](const std::string &line) { return line.rfind(ending.winner, 0) == 0; }),
                  first.end())
            << processes[0].out();
    }
    const std::string final_line = final_line_of(first);
    ASSERT_FALSE(final_line.empty()) << processes[remaining[0]].out();
    // A host that left said its last stamped tick: the remaining games end there.
    const std::string last_stamp = "the host leaves: its last stamped tick is ";
    if (const size_t at = processes[0].log().find(last_stamp); at != std::string::npos && !ending.host_remains)
    {
        const std::string tick = std::to_string(atoi(processes[0].log().c_str() + at + last_stamp.size()));
        EXPECT_EQ(final_line.rfind("final " + tick + " ", 0), 0u) << final_line << log_tail(processes[0], 20);
    }
    for (int32_t i : remaining)
    {
        EXPECT_EQ(ending_lines(processes[i]), first) << i;
        if (ending.end_line)
        {
            EXPECT_NE(processes[i].err().find(ending.end_line), std::string::npos) << processes[i].err();
        }
        // Its film replays to the tick and hash of its final line.
        const std::string tick_and_hash = "\n" + final_line.substr(6) + "\n";
        EXPECT_EQ(run_vesk_sim("--film '" + film(i) + "' > replay.out 2> replay.err"), 0)
            << i << ": " << read_whole_file("replay.err");
        EXPECT_NE(read_whole_file("replay.out").find(tick_and_hash), std::string::npos) << i << ": " << final_line;
    }
    if (ending.direct) return;
    // The scores reach the lobby just before the players leave it.
    const char *const users[] = {"alice", "bob"};
    for (int32_t i : remaining)
        for (int32_t turn = 0; turn < PROCESS_LIMIT_MS / 50; ++turn)
        {
            if (count_of(lobby.out(), std::string("score 1 from ") + users[i]) >= (size_t)ending.games) break;
            poll(nullptr, 0, 50);
        }
    lobby.kill_now();
    const std::string heard = lobby.out();
    EXPECT_EQ(count_of(heard, "refused"), 0u) << heard;
    EXPECT_EQ(count_of(heard, "game 1 started"), (size_t)ending.games) << heard;
    if (ending.lobby_line)
    {
        EXPECT_NE(heard.find(ending.lobby_line, heard.find("game 1 started")), std::string::npos) << heard;
    }
    for (int32_t i : remaining)
        EXPECT_EQ(count_of(heard, std::string("score 1 from ") + users[i]), (size_t)ending.games) << users[i] << "\n"
                                                                                                 << heard;
}

INSTANTIATE_TEST_SUITE_P(
    ways, net_game_endings,
    ::testing::Values(
        network_ending{"one_side_wiped_out", {"--ticks", "3000"}, {"--ticks", "3000"}, true, true, false, 1, nullptr,
                       "winning team "},
        network_ending{"time_limit", {"--ticks", "900", "--time-limit", "5"}, {"--ticks", "900"}, true, true, false, 1,
                       nullptr},
        network_ending{"the_host_quits", {"--ticks", "900", "--quit-at", "150"}, {"--ticks", "900"}, false, true,
                       false, 1, "the host left; the game ended at tick"},
        network_ending{"the_hosts_link_dies", {"--ticks", "900"}, {"--ticks", "900"}, false, true, true, 1,
                       "the host left; the game ended at tick"},
        network_ending{"a_joiner_quits", {"--ticks", "3000"}, {"--ticks", "3000", "--quit-at", "150"}, true, false,
                       false, 1, nullptr, "winning team ", false, nullptr, " players 1 flags "},
        network_ending{"a_joiner_dropped_for_silence", {"--ticks", "900"}, {"--ticks", "900"}, true, false, false, 1,
                       nullptr, nullptr, true,
                       "the host dropped this player (Nothing was heard from your machine for 4 seconds.)",
                       " players 1 flags "},
        network_ending{"restart", {"--ticks", "300", "--restart-at", "100"}, {"--ticks", "300"}, true, true, false, 2,
                       nullptr},
        network_ending{"rehost", {"--ticks", "300", "--restart-at", "100", "--rehost"}, {"--ticks", "300"}, true, true,
                       false, 2, nullptr},
        // A liar reports drifts of every kind of tick, true and false: those
        // the host cannot check are refused, and its false report of a tick
        // the host can check makes it alone leave, named to the others.
        network_ending{.name = "a_liar_among_honest_players", .host = {"--ticks", "600"}, .joiner = {"--ticks", "600"},
                       .host_remains = true, .joiner_remains = true, .kill_host = false, .games = 1,
                       .end_line = "left the game: their game went out of step with the host's (tick 340)",
                       .winner = nullptr, .direct = true, .third = {"--ticks", "600"},
                       .third_environment = "VESK_TEST_FALSE_DRIFT_REPORTS=400:3", .third_exit = 17,
                       .host_log = "the host's record cannot check it"},
        // The host dies in the end barrier: the joiner, which ran every
        // tick, ends with its result.
        network_ending{.name = "the_host_killed_in_the_end_barrier", .host = {"--ticks", "300"},
                       .joiner = {"--ticks", "300"}, .host_remains = false, .joiner_remains = true, .kill_host = true,
                       .games = 1, .end_line = nullptr, .winner = nullptr, .direct = true, .kill_host_on = "\n300 "},
        // The host quits while a joiner's link from it is seconds behind (the
        // game's stream outruns 400 bytes a second, and the host's own
        // buffers still hold some of it): both joiners end at the host's last
        // stamped tick with the same standings.
        network_ending{.name = "the_host_quits_with_a_joiner_behind_a_slow_link",
                       .host = {"--ticks", "900", "--quit-at", "300"}, .joiner = {"--ticks", "900"},
                       .host_remains = false, .joiner_remains = true, .kill_host = false, .games = 1,
                       .end_line = "the host left; the game ended at tick", .winner = nullptr, .direct = true,
                       .third = {"--ticks", "900"}, .third_remains = true, .joiner_link_rate = 400}),
    [](const ::testing::TestParamInfo<network_ending> &info) { return std::string(info.param.name); });

} // namespace net_game_processes_test_file
