// The create-or-join dialog's text helpers on arbitrary bytes: the typed
// address either is refused or gives a non-empty host without blanks and a
// port of 1 to 65535; the keyword rewrite either fits the caller's room or
// leaves the configuration as it was, and never writes past it.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vesk_networking/vesk_network_interface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text((const char *)data, strnlen((const char *)data, size));
    char host[64];
    uint16_t port = 0;
    if (parse_join_address(text.c_str(), host, sizeof(host), &port))
    {
        if (!host[0] || port == 0 || strlen(host) >= sizeof(host) || strpbrk(host, " \t\r\n")) abort();
    }

    // The first line is the configuration, the rest the keyword and value.
    const size_t split = text.find('\n');
    const std::string configuration = text.substr(0, split);
    const std::string rest = split == std::string::npos ? "" : text.substr(split + 1);
    const size_t equals = rest.find('=');
    const std::string keyword = rest.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : rest.substr(equals + 1);
    for (size_t room : {(size_t)16, (size_t)MAXIMUM_PROTOCOL_CONFIGURATION_LENGTH})
    {
        char *buffer = (char *)malloc(room);
        const size_t kept = configuration.size() < room ? configuration.size() : room - 1;
        memcpy(buffer, configuration.data(), kept);
        buffer[kept] = 0;
        const std::string before(buffer);
        if (!replace_keyword(buffer, room, keyword.c_str(), value.c_str()) && before != buffer) abort();
        if (strlen(buffer) >= room) abort();
        free(buffer);
    }
    return 0;
}
