// The plug-in lookup against a real libcurl and a small HTTP service on
// loopback (its address set in a test poweruser.txt), a service that never
// answers, a machine without libcurl, and web links opened by a fake browser
// program first on the search path.

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cseries/log.h"
#include "iniparser3.0b/inifile.h"
#include "support/scratch.h"
#include "vesk_networking/web_links.h"

namespace web_links_test_file {

namespace {

// Accepts one connection on 127.0.0.1, reads the request (headers and the
// body its length announces) and answers with `chunks`, each written on its
// own; a silent service answers nothing and waits for the client to give up.
// Every wait is bounded.
class loopback_http_service
{
public:
    loopback_http_service(std::vector<std::string> chunks, bool silent) : chunks_(std::move(chunks)), silent_(silent)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (listener_ < 0 || bind(listener_, (sockaddr *)&address, sizeof(address)) != 0 || listen(listener_, 1) != 0 ||
            getsockname(listener_, (sockaddr *)&address, &length) != 0)
        {
            ADD_FAILURE() << "no loopback listener";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~loopback_http_service()
    {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) close(listener_);
    }
    std::string url(void) const { return "http://127.0.0.1:" + std::to_string(port_) + "/lookup"; }
    const std::string &request(void) const { return request_; }

private:
    static bool readable(int fd, int milliseconds)
    {
        pollfd poller = {fd, POLLIN, 0};
        return poll(&poller, 1, milliseconds) == 1;
    }

    void serve(void)
    {
        if (!readable(listener_, 10000)) return;
        const int connection = accept(listener_, nullptr, nullptr);
        if (connection < 0) return;
        char buffer[4096];
        size_t wanted = std::string::npos;
        while (request_.size() < wanted && readable(connection, 5000))
        {
            const ssize_t got = recv(connection, buffer, sizeof(buffer), 0);
            if (got <= 0) break;
            request_.append(buffer, (size_t)got);
            const size_t end = request_.find("\r\n\r\n");
            if (end == std::string::npos || wanted != std::string::npos) continue;
            const size_t field = request_.find("Content-Length: ");
            wanted = end + 4 + (field < end ? strtoul(request_.c_str() + field + 16, nullptr, 10) : 0);
            if (request_.find("Expect: 100-continue") < end)
                send(connection, "HTTP/1.1 100 Continue\r\n\r\n", 25, MSG_NOSIGNAL);
        }
        if (silent_)
        {
            // Held open until the client closes (recv gives 0) or 20 s pass.
            for (int i = 0; i < 40 && readable(connection, 500) == false; i++) {}
        }
        else
        {
            static const char header[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n";
            send(connection, header, sizeof(header) - 1, MSG_NOSIGNAL);
            for (const std::string &chunk : chunks_)
            {
                send(connection, chunk.data(), chunk.size(), MSG_NOSIGNAL);
                // Apart in time, so that they reach the client as separate blocks.
                std::this_thread::sleep_for(std::chrono::milliseconds(chunks_.size() > 1 ? 40 : 0));
            }
        }
        close(connection);
    }

    std::vector<std::string> chunks_;
    bool silent_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::string request_;
    std::thread thread_;
};

class web_links : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.entered);
        ASSERT_EQ(mkdir(POWERUSER_DIRECTORY_NAME, 0755), 0);
        ASSERT_TRUE(open_log_file_at("test.log", "web links"));
        dispose_web_links();
    }
    void TearDown() override
    {
        dispose_web_links();
        dispose_poweruser_settings();
        close_log_file();
    }

    // The service's address in the power-user file, as a player would set it.
    void point_lookup_at(const std::string &url)
    {
        const std::string text = "[" PLUGIN_LOOKUP_SECTION_NAME "]\nWebUrl = " + url + "\n";
        ASSERT_TRUE(write_whole_file(POWERUSER_DIRECTORY_NAME "/" POWERUSER_FILE_NAME, text.data(), text.size()));
        ASSERT_TRUE(load_poweruser_settings());
    }

    int log_lines_with(const char *text)
    {
        const std::string log = read_whole_file("test.log");
        int count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) count++;
        return count;
    }

    scratch_directory scratch;
};

TEST_F(web_links, the_service_reply_decides_whether_a_download_address_is_found)
{
    struct reply_case
    {
        std::vector<std::string> chunks;
        int32_t buffer_size;
        bool found;
        const char *address;
    } const cases[] = {
        {{"http://x/y"}, 256, true, "http://x/y"},
        {{"http://", "x/", "y"}, 256, true, "http://x/y"}, // joined in order
        {{"http://example.org/long"}, 8, true, "http://"}, // cut to the caller's buffer
        {{"Not found."}, 256, false, ""},
        {{"https://x/y"}, 256, false, ""},
        {{""}, 256, false, ""},
    };
    for (const reply_case &c : cases)
    {
        SCOPED_TRACE(c.chunks[0]);
        dispose_web_links();
        loopback_http_service service(c.chunks, false);
        point_lookup_at(service.url());
        char address[256] = "";
        EXPECT_EQ(web_lookup_plugin("Desert Pack", "http://author/desert", 4294967295u, address, c.buffer_size),
                  c.found);
        EXPECT_STREQ(address, c.address);
        // The request carries the three fields and the agent.
        for (const char *expected : {"libcurl-agent/vesk2 (Linux; Build 443)", "name=\"plugin_name\"\r\n\r\nDesert Pack",
                                     "name=\"plugin_url\"\r\n\r\nhttp://author/desert",
                                     "name=\"plugin_checksum\"\r\n\r\n4294967295"})
            EXPECT_NE(service.request().find(expected), std::string::npos) << expected;
    }
    EXPECT_EQ(log_lines_with("Using Plugin Lookup URL = http://127.0.0.1:"), 6);
}

TEST_F(web_links, a_silent_service_gives_nothing_within_the_time_outs)
{
    loopback_http_service service({}, true);
    point_lookup_at(service.url());
    set_plugin_lookup_timeouts(500, 1000);
    char address[64] = "";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(web_lookup_plugin("p", "u", 1, address, (int32_t)sizeof(address)));
    // Ended by the time-outs set (a second), not the default ones (half a
    // minute): the bound lies between, at ten times the quiet time.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(PLUGIN_LOOKUP_TOTAL_TIMEOUT_MS / 3));
    EXPECT_STREQ(address, "");
}

TEST_F(web_links, without_libcurl_every_lookup_fails_and_the_loss_is_logged_once)
{
    static const char *const missing[] = {"libvesk-no-such-curl.so.4", "libvesk-no-such-curl.so.3"};
    set_curl_library_names(missing, 2);
    char address[64] = "";
    EXPECT_FALSE(web_lookup_plugin("p", "u", 1, address, (int32_t)sizeof(address)));
    EXPECT_FALSE(web_lookup_plugin("p", "u", 1, address, (int32_t)sizeof(address)));
    EXPECT_EQ(log_lines_with("CURL: CURL library not found. Plugin Lookup and Automatic Update features will be "
                             "disabled."),
              1);
    EXPECT_EQ(get_curl_functions()->_curl_easy_perform, nullptr);
}

TEST_F(web_links, a_lookup_address_that_is_not_a_web_address_is_refused)
{
    point_lookup_at("file:///etc/passwd");
    char address[64] = "";
    EXPECT_FALSE(web_lookup_plugin("p", "u", 1, address, (int32_t)sizeof(address)));
    EXPECT_EQ(log_lines_with("WebUrl is not an http:// or https:// address: plug-in lookup disabled"), 1);
    EXPECT_EQ(get_curl_functions()->_curl_easy_perform, nullptr); // libcurl not even loaded
}

TEST_F(web_links, an_overlong_reply_is_dropped_and_stops_the_transfer)
{
    libcurl_reply reply = {};
    std::string block(MAXIMUM_PLUGIN_LOOKUP_REPLY_SIZE / 2, 'a');
    EXPECT_EQ(libcurl_write_callback(block.data(), 1, block.size(), &reply), block.size());
    EXPECT_EQ(reply.length, block.size() + 1);
    EXPECT_EQ(libcurl_write_callback(block.data(), 1, block.size(), &reply), 0u);
    EXPECT_EQ(reply.length, 0u);
    EXPECT_EQ(reply.data, nullptr);
}

// Children of this process that are zombies.
int zombie_children(void)
{
    int zombies = 0;
    DIR *processes = opendir("/proc");
    if (!processes) return -1;
    while (dirent *entry = readdir(processes))
    {
        const std::string stat = read_whole_file(std::string("/proc/") + entry->d_name + "/stat");
        const size_t close_paren = stat.rfind(')');
        if (close_paren == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        if (sscanf(stat.c_str() + close_paren + 1, " %c %d", &state, &parent) == 2 && parent == getpid() &&
            state == 'Z')
            zombies++;
    }
    closedir(processes);
    return zombies;
}

TEST_F(web_links, links_open_through_the_browser_program_and_bad_addresses_are_refused)
{
    const std::string bin = std::string(scratch.path) + "/bin", record = std::string(scratch.path) + "/opened.txt";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    const std::string script = "#!/bin/sh\necho \"$@\" >> '" + record + "'\n";
    ASSERT_TRUE(write_whole_file(bin + "/" WEB_LINK_PROGRAM_NAME, script.data(), script.size()));
    ASSERT_EQ(chmod((bin + "/" WEB_LINK_PROGRAM_NAME).c_str(), 0755), 0);
    const std::string path = bin + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
    ASSERT_EQ(setenv("PATH", path.c_str(), 1), 0);

    for (const char *refused : {"javascript:x", "http://a\nb", "https://a\tb", "ftp://x/y", "http://", "", "file:///etc"})
    {
        web_go_to_url(refused);
        EXPECT_FALSE(web_link_is_acceptable(refused)) << refused;
    }
    web_go_to_url(nullptr);
    EXPECT_EQ(log_lines_with("refused: only http:// and https:// addresses open"), 8);

    std::string expected;
    for (int i = 0; i < 20; i++)
    {
        const std::string url = (i % 2 ? "https://example.org/" : "http://example.org/") + std::to_string(i);
        web_go_to_url(url.c_str());
        expected += url + "\n";
    }
    // The browsers run on their own; their lines come within a bounded wait.
    std::string opened;
    for (int i = 0; i < 200 && std::count(opened.begin(), opened.end(), '\n') < 20; i++)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        opened = read_whole_file(record);
    }
    // (In any order: each browser runs on its own.)
    const auto sorted_lines = [](const std::string &text) {
        std::vector<std::string> lines;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);) lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    EXPECT_EQ(sorted_lines(opened), sorted_lines(expected)); // every accepted address, once, none refused
    EXPECT_EQ(zombie_children(), 0);
}

} // namespace

} // namespace web_links_test_file
