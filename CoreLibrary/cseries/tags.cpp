// Four-character codes as text.

#include "cseries/tags.h"

enum { TAG_STRING_RING_SIZE = 8 };

// Each thread has its own ring, so a debug line on the timer thread never
// overwrites a text the main thread is still printing.
static thread_local struct tag_string_globals
{
    char buffers[TAG_STRING_RING_SIZE][5];
    uint32_t next;
} tag_string_globals;

tag string_to_tag(const char *text)
{
    uint32_t code = 0;
    if (text)
    {
        for (int32_t i = 0; i < 4 && text[i]; ++i) code = (code << 8) | (uint8_t)text[i];
    }
    return (tag)code;
}

char *tag_to_string_buffer(tag code, char buffer[5])
{
    if (code == NONE)
    {
        buffer[0] = '\0';
        return buffer;
    }
    for (int32_t i = 0; i < 4; ++i)
    {
        const uint8_t c = (uint8_t)((uint32_t)code >> (24 - 8 * i));
        buffer[i] = (c >= 0x20 && c < 0x7f) ? (char)c : '.';
    }
    buffer[4] = '\0';
    return buffer;
}

const char *tag_to_string(tag code)
{
    char *buffer = tag_string_globals.buffers[tag_string_globals.next];
    tag_string_globals.next = (tag_string_globals.next + 1) % TAG_STRING_RING_SIZE;
    return tag_to_string_buffer(code, buffer);
}
