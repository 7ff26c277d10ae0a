#pragma once
// vesk_sim network games between processes on 127.0.0.1 for the tests: each
// process runs in a data directory of its own (the demo data set linked in,
// its own log, films and preferences), its standard output and error kept in
// files there.  Every wait is bounded.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct vesk_sim_process
{
    pid_t pid = -1;
    int pidfd = -1;
    std::string directory; // its data directory
    int exit_code = -1;    // once it ended; -1 while running or when killed
    int input = -1;        // the write end of its standard input

    // Starts `bin`/vesk_sim with `arguments` (no shell), its data directory a
    // new one beside `data_directory` linking that one's files.
    bool start(const std::string &bin, const std::string &data_directory, const std::vector<std::string> &arguments);
    // Starts the game (`bin`/vesk, copied into a data directory made as
    // start's, since the game works in its own program's directory).
    bool start_game(const std::string &bin, const std::string &data_directory);
    // Starts another program of `bin` (a test peer) with `arguments`, in a
    // scratch directory of its own that keeps its output.
    bool start_program(const std::string &bin, const std::string &program, const std::vector<std::string> &arguments);
    // Waits at most `milliseconds` for the end: true when it ended.
    bool wait(int32_t milliseconds);
    void kill_now(void);
    // Writes `line` and a newline to its standard input: false when it cannot.
    bool send_line(const std::string &line);
    std::string out(void) const;
    std::string err(void) const;
    std::string log(void) const;
    // The "TICK HASH" lines and the "final TICK HASH" line of its output.
    std::vector<std::string> hash_lines(void) const;
    ~vesk_sim_process();

private:
    bool run(std::vector<std::string> command);
};

// A port on 127.0.0.1 nobody listened on a moment ago, below the range of
// the local ends of outgoing connections.
uint16_t free_loopback_port(void);

// Moves this process, and every process it starts from now on, into a
// network of its own holding only a loopback interface (a new network
// namespace; with a user namespace around it when not root).  A test that
// looks for games on the local network, or hosts one at the well-known port,
// then sees only its own, whatever else runs on the machine.  X servers are
// reached through their socket files, which every namespace sees (start
// them first: a server started inside takes a number others may hold).  False,
// with why in `why`, when the system refuses.  Call it before any thread starts.
bool enter_own_network(std::string *why);
