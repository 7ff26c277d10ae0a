// Helpers of the data tool's commands.  See tool_support.h.

#include "tool_support.h"

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cseries/files.h"
#include "tag_files/tag_file_formats.h"

bool tool_read_file(const char *path, size_t limit, std::string *bytes, std::string *reason)
{
    bytes->clear();
    FILE *file = fopen(path, "rb");
    if (!file)
    {
        *reason = strerror(errno);
        return false;
    }
    char buffer[64 * 1024];
    size_t got;
    while (bytes->size() <= limit && (got = fread(buffer, 1, sizeof(buffer), file)) > 0) bytes->append(buffer, got);
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) *reason = "cannot be read";
    else if (bytes->size() > limit) *reason = "larger than " + std::to_string(limit) + " bytes";
    else return true;
    bytes->clear();
    return false;
}

void tool_split_lines(const std::string &text, std::vector<std::string> *lines)
{
    lines->clear();
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t length = end - start;
        if (length > 0 && text[end - 1] == '\r') length -= 1;
        lines->push_back(text.substr(start, length));
        start = end + 1;
    }
}

// Written and flushed aside first, then renamed over `path` in one step: a
// full disk or a failed write leaves the earlier file as it was.
bool tool_write_file(const char *path, const void *data, size_t size)
{
    // Only a file is replaced: a device or a fifo given as the output would
    // otherwise lose its node to the rename.
    struct stat status;
    if (stat(path, &status) == 0 && !S_ISREG(status.st_mode))
    {
        errno = S_ISDIR(status.st_mode) ? EISDIR : ENOTSUP;
        return false;
    }
    return file_replace_whole(path, (int64_t)size, data);
}

bool tool_write_local_tag_file(const char *path, tag group, tag subgroup, int16_t version, uint32_t user_data,
                               const char *name, const void *data, int32_t size)
{
    std::vector<uint8_t> bytes(sizeof(local_tag_file_header) + (size_t)size);
    local_tag_file_header_build((local_tag_file_header *)bytes.data(), group, subgroup, version, user_data, name, size);
    if (size > 0) memcpy(bytes.data() + sizeof(local_tag_file_header), data, (size_t)size);
    if (tool_write_file(path, bytes.data(), bytes.size())) return true;
    tool_refuse(path, strerror(errno));
    return false;
}

// Digits only after an optional '-', in `base` (10 or 16), within the range.
static bool parse_digits(const char *text, int base, int64_t minimum, int64_t maximum, int64_t *value)
{
    const bool negative = text[0] == '-';
    const char *digits = negative ? text + 1 : text;
    if (base == 16) digits += 2; // the "0x" the caller found
    if (!digits[0]) return false;
    for (const char *c = digits; *c; c++)
    {
        const bool decimal = *c >= '0' && *c <= '9';
        const bool hex = (*c >= 'a' && *c <= 'f') || (*c >= 'A' && *c <= 'F');
        if (!decimal && !(base == 16 && hex)) return false;
    }
    char *end;
    errno = 0;
    const long long parsed = strtoll(text, &end, base);
    if (*end || errno || parsed < minimum || parsed > maximum) return false;
    *value = parsed;
    return true;
}

bool tool_parse_number(const char *text, int64_t minimum, int64_t maximum, int64_t *value)
{
    // "010" would have read as eight: a leading zero before more digits is
    // refused rather than guessed at.
    const char *digits = text[0] == '-' ? text + 1 : text;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        return parse_digits(text, 16, minimum, maximum, value);
    if (digits[0] == '0' && digits[1]) return false;
    return parse_digits(text, 10, minimum, maximum, value);
}

bool tool_parse_argument_number(const char *text, int64_t minimum, int64_t maximum, int64_t *value)
{
    return parse_digits(text, 10, minimum, maximum, value);
}

bool tool_parse_code(const char *text, bool none_allowed, tag *code)
{
    if (none_allowed && strcmp(text, "none") == 0)
    {
        *code = NONE;
        return true;
    }
    if (strlen(text) != 4) return false;
    *code = string_to_tag(text);
    return *code != NONE;
}

int tool_refuse(const char *path, const char *reason)
{
    fprintf(stderr, "vesk_tags: %s: %s\n", path, reason && reason[0] ? reason : "refused");
    return 1;
}

int tool_refuse_line(const char *path, size_t line, const char *reason)
{
    fprintf(stderr, "vesk_tags: %s:%zu: %s\n", path, line, reason);
    return 1;
}

bool tool_read_source(const char *path, size_t limit, std::vector<source_line> *lines)
{
    std::string text, reason;
    if (!tool_read_file(path, limit, &text, &reason))
    {
        tool_refuse(path, reason.c_str());
        return false;
    }
    std::vector<std::string> texts;
    tool_split_lines(text, &texts);
    for (size_t i = 0; i < texts.size(); ++i)
    {
        const size_t comment = texts[i].find('#');
        if (comment != std::string::npos) texts[i].resize(comment);
        std::istringstream stream(texts[i]);
        source_line line{i + 1, {}};
        std::string word;
        while (stream >> word) line.words.push_back(word);
        if (!line.words.empty()) lines->push_back(line);
    }
    return true;
}

int tool_hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
