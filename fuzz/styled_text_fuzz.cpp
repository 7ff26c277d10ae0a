// The styled-text path on arbitrary bytes: markup parsing, measuring,
// wrapping, character stepping, click and wrap points and link lookup must
// stay inside the string and their buffers whatever the escapes, lead bytes
// and lengths.

#include <cstdint>
#include <cstring>
#include <vector>

#include "bitmap_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096) return 0;
    std::vector<char> text(data, data + size);
    text.push_back(0);
    const char *string = text.data();
    const int32_t length = (int32_t)strlen(string);
    int32_t lines;
    string_width(NONE, NONE, string);
    string_width_multiline(NONE, NONE, string, &lines);
    compute_style_at_end_of_string(string, NONE);
    wrap_string_result line;
    for (int32_t start = 0; start < length;)
    {
        wrap_string(string + start, NONE, NONE, 40, _draw_string_wrap_flag, &line);
        if (line.line_length <= 0) break;
        start += line.line_length;
    }
    for (int32_t index = 0; index < length;) get_next_character(string, &index);
    for (int32_t index = length; index > 0;) get_previous_character(string, &index);
    int32_t end = length;
    find_string_click_point(NONE, NONE, string, 30, &end);
    end = length;
    find_string_wrap_point(NONE, NONE, string, 20, 0, &end);
    char link[32];
    get_link_url_at_string_position(string, length / 2, link, sizeof(link));
    string_starts_with_fuzzy(string, "ab");
    return 0;
}
