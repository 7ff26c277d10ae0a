// The lobby client's receive path on arbitrary bytes: the stream cutter, the
// body decoding under a fixed session key (or none, as before the exchange),
// the byte swap and the pump's dispatch, with a handler that reads every
// byte of what each event hands it.  Nothing may be read outside a packet.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "metaserver/metaserver_client.h"

namespace
{

volatile uint8_t sink;

// Touches every byte an event is given, so a length past its data is caught.
void read_event(int32_t event, void *data, int32_t length, void *)
{
    if (event < 0 || event >= NUMBER_OF_METASERVER_CLIENT_MESSAGES || length < 0) abort();
    const uint8_t *bytes = (const uint8_t *)data;
    for (int32_t i = 0; bytes && i < length; ++i) sink = sink + bytes[i];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 65536) return 0;
    static const uint8_t key[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    // The first byte chooses whether bodies are encoded.
    std::vector<uint8_t> stream(data + 1, data + size);
    read_metaserver_stream_for_fuzzing(stream.data(), (int32_t)stream.size(), (data[0] & 1) ? key : nullptr,
                                       read_event);
    return 0;
}
