// The data tool's "strings" command.  See string_tags.h.

#include "string_tags.h"
#include "tool_support.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cseries/cseries.h"
#include "cseries/tags.h"
#include "tag_files/tag_file_formats.h"
#include "vesk/string_lists.h"

// Splits the source into rows, resolving escapes.  False with a message naming
// the line otherwise.
static bool parse_string_source(const char *label, const std::string &source, std::vector<std::string> *rows)
{
    std::string row;
    int32_t line = 1;
    bool row_open = false;
    for (size_t i = 0; i < source.size(); ++i)
    {
        const char c = source[i];
        if (c == '\n')
        {
            rows->push_back(row);
            row.clear();
            row_open = false;
            line += 1;
            continue;
        }
        row_open = true;
        if (c == 0)
        {
            fprintf(stderr, "vesk_tags: %s:%d: a zero byte would end the text early\n", label, (int)line);
            return false;
        }
        if (c == '\r' && i + 1 < source.size() && source[i + 1] == '\n') continue; // a CRLF line end
        if (c != '\\')
        {
            row += c;
            continue;
        }
        if (i + 1 >= source.size())
        {
            fprintf(stderr, "vesk_tags: %s:%d: a lone backslash ends the file\n", label, (int)line);
            return false;
        }
        const char escape = source[++i];
        switch (escape)
        {
        case '\\': row += '\\'; break;
        case 'r': row += '\r'; break;
        case 'n': row += '\n'; break;
        case 't': row += '\t'; break;
        case 'x':
        {
            const int high = i + 1 < source.size() ? tool_hex_digit(source[i + 1]) : -1;
            const int low = i + 2 < source.size() ? tool_hex_digit(source[i + 2]) : -1;
            if (high < 0 || low < 0 || (high == 0 && low == 0))
            {
                fprintf(stderr, "vesk_tags: %s:%d: \\x needs two hex digits, not 00\n", label, (int)line);
                return false;
            }
            row += (char)(high * 16 + low);
            i += 2;
            break;
        }
        default:
            fprintf(stderr, "vesk_tags: %s:%d: unknown escape \\%c\n", label, (int)line, escape);
            return false;
        }
    }
    if (row_open) rows->push_back(row);
    return true;
}

// Every byte of a list comes from at most four bytes of source (\xHH), so a
// longer source cannot fit; it is refused whole rather than read in part.
static const size_t MAXIMUM_STRING_SOURCE_SIZE = 4 * (size_t)MAXIMUM_STRING_LIST_DATA_SIZE;

bool write_string_list_tag(const char *path, const char *source_path, tag group, tag subgroup, const char *name,
                           const std::vector<std::string> &rows)
{
    std::vector<const char *> texts;
    for (const std::string &row : rows) texts.push_back(row.c_str());
    const int32_t size = encode_string_list_data(texts.data(), (int32_t)texts.size(), nullptr, 0);
    if (size == NONE)
    {
        tool_refuse(source_path, "too many rows or too much text for one list");
        return false;
    }
    std::string data((size_t)size, '\0');
    encode_string_list_data(texts.data(), (int32_t)texts.size(), data.data(), size);
    return tool_write_local_tag_file(path, group, subgroup, STRING_LIST_VERSION, 0, name, data.data(), size);
}

static int string_tags_usage(void)
{
    fprintf(stderr, "usage: vesk_tags strings OUT --group stli|ditl|text --subgroup S --name N SOURCE\n");
    return 2;
}

int string_tags_command(int argc, char **argv)
{
    if (argc < 3) return string_tags_usage();
    const char *output_path = argv[2];
    const char *group_text = nullptr, *subgroup_text = nullptr, *name = nullptr, *source_path = nullptr;
    for (int i = 3; i < argc; ++i)
    {
        const bool has_value = i + 1 < argc;
        if (strcmp(argv[i], "--group") == 0 && has_value) group_text = argv[++i];
        else if (strcmp(argv[i], "--subgroup") == 0 && has_value) subgroup_text = argv[++i];
        else if (strcmp(argv[i], "--name") == 0 && has_value) name = argv[++i];
        else if (!source_path && argv[i][0] != '-') source_path = argv[i];
        else return string_tags_usage();
    }
    if (!group_text || !subgroup_text || !name || !source_path) return string_tags_usage();

    tag group;
    int16_t version;
    if (strcmp(group_text, "stli") == 0) group = STRING_LIST_GROUP_TAG, version = STRING_LIST_VERSION;
    else if (strcmp(group_text, "ditl") == 0) group = DIALOG_STRING_LIST_GROUP_TAG, version = STRING_LIST_VERSION;
    else if (strcmp(group_text, "text") == 0) group = STRING_GROUP_TAG, version = STRING_VERSION;
    else return string_tags_usage();
    tag subgroup;
    if (!tool_parse_code(subgroup_text, false, &subgroup))
        return tool_refuse(subgroup_text, "a subgroup has four characters");
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");

    std::string source, reason;
    if (!tool_read_file(source_path, MAXIMUM_STRING_SOURCE_SIZE, &source, &reason))
        return tool_refuse(source_path, reason.c_str());
    std::vector<std::string> rows;
    if (!parse_string_source(source_path, source, &rows)) return 1;

    if (group != STRING_GROUP_TAG)
        return write_string_list_tag(output_path, source_path, group, subgroup, name, rows) ? 0 : 1;
    if (rows.size() != 1) return tool_refuse(source_path, "a 'text' tag holds exactly one row");
    // The game refuses a larger text as corrupt.
    if (rows[0].size() + 1 > (size_t)MAXIMUM_STRING_LIST_DATA_SIZE)
    {
        const std::string reason = "a text holds at most " + std::to_string(MAXIMUM_STRING_LIST_DATA_SIZE - 1) + " bytes";
        return tool_refuse(source_path, reason.c_str());
    }
    const std::string data(rows[0].c_str(), rows[0].size() + 1);
    if (!tool_write_local_tag_file(output_path, group, subgroup, version, 0, name, data.data(), (int32_t)data.size()))
        return 1;
    return 0;
}
