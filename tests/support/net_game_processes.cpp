#include "support/net_game_processes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "support/scratch.h"

namespace fs = std::filesystem;

// A new scratch directory linking the data directory's files, with
// preferences of its own.
static bool make_data_directory(const std::string &data_directory, std::string *directory)
{
    char path[PATH_MAX];
    if (!make_scratch_directory("vesk_sim_process", path, sizeof(path))) return false;
    *directory = path;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(data_directory, error))
    {
        const std::string name = entry.path().filename();
        if (name == "films" || name == "saved games" || name == "preferences" || name == "vesk_sim_log.txt" ||
            name == "vesk_log.txt" || name == "vesk.lock")
            continue;
        fs::create_symlink(entry.path(), *directory + "/" + name, error);
    }
    fs::create_directory(*directory + "/preferences", error);
    return true;
}

bool vesk_sim_process::start_game(const std::string &bin, const std::string &data_directory)
{
    if (!make_data_directory(data_directory, &directory)) return false;
    std::error_code error;
    fs::copy_file(bin + "/vesk", directory + "/vesk", error);
    return !error && run({directory + "/vesk"});
}

bool vesk_sim_process::start(const std::string &bin, const std::string &data_directory,
                             const std::vector<std::string> &arguments)
{
    if (!make_data_directory(data_directory, &directory)) return false;
    std::vector<std::string> all = {bin + "/vesk_sim", "--data", directory};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run(all);
}

bool vesk_sim_process::start_program(const std::string &bin, const std::string &program,
                                     const std::vector<std::string> &arguments)
{
    char path[PATH_MAX];
    if (!make_scratch_directory("vesk_sim_process", path, sizeof(path))) return false;
    directory = path;
    std::vector<std::string> all = {bin + "/" + program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run(all);
}

bool vesk_sim_process::run(std::vector<std::string> all)
{
    const std::string out_path = directory + "/out.txt", err_path = directory + "/err.txt";
    // Its standard input is a pipe only this process writes (no other child inherits it).
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    pid = fork();
    if (pid < 0)
    {
        close(in[0]);
        close(in[1]);
        return false;
    }
    if (pid == 0)
    {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || dup2(in[0], 0) < 0) _exit(126);
        // Called from its own directory: the tool's log lands there, apart from the other processes'.
        if (chdir(directory.c_str()) != 0) _exit(126);
        std::vector<char *> argv;
        for (std::string &argument : all) argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    input = in[1];
    pidfd = (int)syscall(SYS_pidfd_open, pid, 0);
    return pidfd >= 0;
}

bool vesk_sim_process::send_line(const std::string &line)
{
    const std::string text = line + "\n";
    signal(SIGPIPE, SIG_IGN); // a program that ended makes the write fail, not the test
    return input >= 0 && write(input, text.data(), text.size()) == (ssize_t)text.size();
}

bool vesk_sim_process::wait(int32_t milliseconds)
{
    if (pid < 0) return true;
    pollfd ready = {pidfd, POLLIN, 0};
    if (poll(&ready, 1, milliseconds) <= 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    exit_code = exit_code_of(status);
    close(pidfd);
    pid = -1;
    pidfd = -1;
    return true;
}

void vesk_sim_process::kill_now(void)
{
    if (pid < 0) return;
    kill(pid, SIGKILL);
    wait(10000);
}

std::string vesk_sim_process::out(void) const { return read_whole_file(directory + "/out.txt"); }
std::string vesk_sim_process::err(void) const { return read_whole_file(directory + "/err.txt"); }
std::string vesk_sim_process::log(void) const { return read_whole_file(directory + "/vesk_sim_log.txt"); }

std::vector<std::string> vesk_sim_process::hash_lines(void) const
{
    std::vector<std::string> lines;
    std::istringstream stream(out());
    for (std::string line; std::getline(stream, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

vesk_sim_process::~vesk_sim_process()
{
    kill_now();
    if (input >= 0) close(input);
    if (!directory.empty()) remove_directory_tree(directory.c_str());
}

// Binds a TCP socket to 127.0.0.1:`port` (0: the system's choice) and
// closes it; the port bound, or 0 when it was taken.
static uint16_t bindable_loopback_port(uint16_t port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof(address);
    uint16_t bound = 0;
    if (s >= 0 && bind(s, (sockaddr *)&address, sizeof(address)) == 0 &&
        getsockname(s, (sockaddr *)&address, &length) == 0)
        bound = ntohs(address.sin_port);
    if (s >= 0) close(s);
    return bound;
}

// Below the range the system hands out as the local end of outgoing
// connections (ip_local_port_range): a port of that range, once closed, can
// be given to a player's own connection to the lobby, and the game's
// listener then finds it taken.
uint16_t free_loopback_port(void)
{
    int first_ephemeral = 32768, last_ephemeral = 0;
    if (FILE *range = fopen("/proc/sys/net/ipv4/ip_local_port_range", "r"))
    {
        if (fscanf(range, "%d %d", &first_ephemeral, &last_ephemeral) != 2) first_ephemeral = 32768;
        fclose(range);
    }
    const int lowest = 10000;
    if (first_ephemeral <= lowest + 100) return bindable_loopback_port(0);
    static std::mt19937 random{std::random_device{}()};
    for (int32_t tries = 0; tries < 1000; ++tries)
        if (const uint16_t port = bindable_loopback_port((uint16_t)(lowest + random() % (first_ephemeral - lowest))))
            return port;
    return 0;
}

// Writes `text` into the file at `path` (the identity maps of a user namespace).
static bool write_text(const char *path, const std::string &text)
{
    const int fd = open(path, O_WRONLY);
    const bool written = fd >= 0 && write(fd, text.data(), text.size()) == (ssize_t)text.size();
    if (fd >= 0) close(fd);
    return written;
}

bool enter_own_network(std::string *why)
{
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWNET) != 0)
    {
        // Not root: root of a user namespace of its own, as this user outside it.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        {
            *why = std::string("no network namespace of its own: ") + strerror(errno);
            return false;
        }
        if (!write_text("/proc/self/setgroups", "deny") || !write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        {
            *why = "the user namespace's identity maps could not be written";
            return false;
        }
    }
    // A new namespace's loopback interface is down, and without a route a
    // send to the limited broadcast address (how the game looks for games)
    // fails with "network unreachable".
    if (system("ip link set lo up && ip route add default dev lo src 127.0.0.1") != 0)
    {
        *why = "the loopback interface and its route could not be set up (iproute2)";
        return false;
    }
    return true;
}
