// The protocol configuration text on arbitrary bytes: creating a
// configuration either refuses the text or gives one whose text form reads
// back to the same fields; the token readers of every kind stay inside the
// text and the caller's room, and putting a token either fits or leaves the
// buffer untouched.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "networking/net_config_tokens.h"
#include "networking/tcp_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text((const char *)data, strnlen((const char *)data, size));
    NMProtocolConfigPriv *config = nullptr;
    if (tcp_NMCreateConfig(text.c_str(), 0, nullptr, nullptr, 0, &config) == kNMNoError)
    {
        char buffer[MAXIMUM_CONFIG_LENGTH];
        int32_t length = sizeof(buffer);
        if (tcp_NMGetConfig(config, buffer, &length) != kNMNoError) abort();
        NMProtocolConfigPriv *again = nullptr;
        if (tcp_NMCreateConfig(buffer, 0, nullptr, nullptr, 0, &again) != kNMNoError) abort();
        if (again->port != config->port || again->connectionMode != config->connectionMode ||
            again->gameID != config->gameID || strcmp(again->name, config->name) != 0 ||
            strcmp(again->host_name, config->host_name) != 0)
            abort();
        tcp_NMDeleteConfig(again);
        tcp_NMDeleteConfig(config);
    }
    uint32_t host;
    uint16_t port;
    // Dotted text only: a name would go to the resolver, off this machine.
    if (text[0] >= '0' && text[0] <= '9') lookup_machine(text.c_str(), 1, &host, &port);
    static const char *const keys[] = {"type", "IPaddr", "IPport", "k", "gameName"};
    for (const char *key : keys)
    {
        for (int32_t kind = _token_text; kind <= _token_hex; kind++)
        {
            uint8_t out[300];
            int32_t room = (int32_t)(size % sizeof(out));
            memset(out, 0xEE, sizeof(out));
            if (get_token(text.c_str(), key, kind, out, &room) && (room < 0 || room > (int32_t)sizeof(out)))
                abort();
        }
    }
    char buffer[64] = "IPport=1";
    char before[64];
    memcpy(before, buffer, sizeof(buffer));
    if (!put_token(buffer, sizeof(buffer), "IPaddr", _token_text, text.c_str(), 0) &&
        memcmp(buffer, before, sizeof(buffer)) != 0)
        abort();
    if (strlen(buffer) >= sizeof(buffer)) abort();
    return 0;
}
