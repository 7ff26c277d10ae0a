// The data tool's "dialog" command.  See dialog_tags.h.

#include "dialog_tags.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cseries/cseries.h"
#include "cseries/tags.h"
#include "dialog_tag_writer.h"
#include "tag_files/tag_file_formats.h"
#include "string_tags.h"
#include "tool_support.h"
#include "vesk/string_lists.h"

namespace {

// A description of a few hundred items is far below this.
const size_t MAXIMUM_DIALOG_SOURCE_SIZE = MEG;

// One word of a line: plain, or a double-quoted text with its escapes resolved.
struct word
{
    std::string text;
    bool quoted;
};

// Splits a line into words.  A '#' that begins a word ends the line; a quoted
// text must end on its line and be followed by a space or the end.
bool dialog_split_words(const std::string &line, std::vector<word> *words, std::string *reason)
{
    words->clear();
    size_t i = 0;
    while (i < line.size())
    {
        const char c = line[i];
        if (c == ' ' || c == '\t')
        {
            i += 1;
            continue;
        }
        if (c == '#') break;
        if (c != '"')
        {
            const size_t end = line.find_first_of(" \t", i);
            const std::string text = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
            if (text.find('"') != std::string::npos) return (*reason = "a quote inside a word"), false;
            words->push_back({text, false});
            i = end == std::string::npos ? line.size() : end;
            continue;
        }
        std::string text;
        for (i += 1;; i += 1)
        {
            if (i >= line.size()) return (*reason = "the text has no closing quote"), false;
            const char t = line[i];
            if (t == '"') break;
            if (t == 0) return (*reason = "a zero byte would end the text early"), false;
            if (t != '\\')
            {
                text += t;
                continue;
            }
            if (++i >= line.size()) return (*reason = "the text has no closing quote"), false;
            switch (line[i])
            {
            case '\\': text += '\\'; break;
            case '"': text += '"'; break;
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            case 't': text += '\t'; break;
            case 'x':
            {
                const int high = i + 1 < line.size() ? tool_hex_digit(line[i + 1]) : -1;
                const int low = i + 2 < line.size() ? tool_hex_digit(line[i + 2]) : -1;
                if (high < 0 || low < 0 || (high == 0 && low == 0))
                    return (*reason = "\\x needs two hex digits, not 00"), false;
                text += (char)(high * 16 + low);
                i += 2;
                break;
            }
            default: return (*reason = std::string("unknown escape \\") + line[i]), false;
            }
        }
        i += 1; // the closing quote
        if (i < line.size() && line[i] != ' ' && line[i] != '\t')
            return (*reason = "the closing quote must end the word"), false;
        words->push_back({text, true});
    }
    return true;
}

// Four coordinates of a rectangle, top, left, bottom, right, from `first`.
bool parse_rectangle(const std::vector<word> &words, size_t first, rectangle2d *rectangle, std::string *reason)
{
    int16_t edges[4];
    for (size_t i = 0; i < 4; ++i)
    {
        int64_t value = 0;
        if (words[first + i].quoted || !tool_parse_number(words[first + i].text.c_str(), -32768, 32767, &value))
            return (*reason = "a coordinate is not a number from -32768 to 32767"), false;
        edges[i] = (int16_t)value;
    }
    if (edges[2] < edges[0] || edges[3] < edges[1])
        return (*reason = "the rectangle is upside down (top, left, bottom, right)"), false;
    *rectangle = {edges[0], edges[1], edges[2], edges[3]};
    return true;
}

bool parse_item(const std::vector<word> &words, dialog_item_description *item, std::string *reason)
{
    if (words.size() != 8 && words.size() != 9)
        return (*reason = "an item is: item CODE ID TOP LEFT BOTTOM RIGHT FLAGS [\"TEXT\"]"), false;
    for (size_t i = 1; i < 8; ++i)
        if (words[i].quoted) return (*reason = "only the text is quoted"), false;
    tag type = NONE;
    if (!tool_parse_code(words[1].text.c_str(), false, &type))
        return (*reason = "a type code has four characters"), false;
    item->type = type;
    int64_t value = 0;
    if (!tool_parse_number(words[2].text.c_str(), -32768, 32767, &value))
        return (*reason = "the identifier is not a number from -32768 to 32767"), false;
    item->item_id = (int16_t)value;
    if (!parse_rectangle(words, 3, &item->bounds, reason)) return false;
    if (!tool_parse_number(words[7].text.c_str(), 0, 65535, &value))
        return (*reason = "the flags are not a number from 0 to 65535"), false;
    item->flags = (uint16_t)value;
    if (words.size() == 9)
    {
        if (!words[8].quoted) return (*reason = "the text goes in double quotes"), false;
        item->text = words[8].text;
    }
    return true;
}

// The description, or false with the line and the reason of the refusal.
bool parse_dialog_description(const std::string &source, dialog_description *description, bool *texts_in_list,
                              size_t *refused_line, std::string *reason)
{
    std::vector<std::string> lines;
    tool_split_lines(source, &lines);
    bool have_bounds = false, have_texts = false;
    std::map<int16_t, size_t> line_of_item; // identifier -> its line
    *texts_in_list = false;
    description->items.clear();
    for (size_t n = 0; n < lines.size(); ++n)
    {
        *refused_line = n + 1;
        std::vector<word> words;
        if (!dialog_split_words(lines[n], &words, reason)) return false;
        if (words.empty()) continue;
        const std::string &key = words[0].text;
        if (words[0].quoted) return (*reason = "a line begins with a keyword"), false;
        if (key == "bounds")
        {
            if (have_bounds) return (*reason = "the dialog's bounds are given twice"), false;
            if (words.size() != 5) return (*reason = "bounds are: bounds TOP LEFT BOTTOM RIGHT"), false;
            if (!parse_rectangle(words, 1, &description->bounds, reason)) return false;
            have_bounds = true;
        }
        else if (key == "texts")
        {
            if (have_texts) return (*reason = "the texts are placed twice"), false;
            if (words.size() != 2 || words[1].quoted || (words[1].text != "inline" && words[1].text != "list"))
                return (*reason = "texts are: texts inline|list"), false;
            *texts_in_list = words[1].text == "list";
            have_texts = true;
        }
        else if (key == "item")
        {
            dialog_item_description item;
            if (!parse_item(words, &item, reason)) return false;
            const auto earlier = line_of_item.find(item.item_id);
            if (earlier != line_of_item.end())
                return (*reason = "item " + std::to_string(item.item_id) + " is already on line " +
                                  std::to_string(earlier->second)),
                       false;
            if (description->items.size() >= 32767) return (*reason = "a dialog holds at most 32767 items"), false;
            line_of_item[item.item_id] = n + 1;
            description->items.push_back(item);
        }
        else return (*reason = "not understood: " + key), false;
    }
    *refused_line = 0;
    if (!have_bounds) return (*reason = "the dialog has no bounds line"), false;
    if (*texts_in_list)
        for (const auto &[id, line] : line_of_item)
            if (id < 1)
            {
                *refused_line = line;
                *reason = "with texts in a list, item identifiers start at 1 (the list's row is the identifier - 1)";
                return false;
            }
    return true;
}

int dialog_usage(void)
{
    fprintf(stderr, "usage: vesk_tags dialog OUT [--ditl DITL-OUT] --subgroup S --name N SOURCE\n");
    return 2;
}

} // namespace

int dialog_tags_command(int argc, char **argv)
{
    const char *out = argc > 2 ? argv[2] : nullptr, *list_out = nullptr, *name = nullptr, *source_path = nullptr;
    tag subgroup = NONE;
    for (int i = 3; i < argc; ++i)
    {
        const bool has_value = i + 1 < argc;
        if (strcmp(argv[i], "--ditl") == 0 && has_value) list_out = argv[++i];
        else if (strcmp(argv[i], "--subgroup") == 0 && has_value)
        {
            if (!tool_parse_code(argv[++i], false, &subgroup)) return dialog_usage();
        }
        else if (strcmp(argv[i], "--name") == 0 && has_value) name = argv[++i];
        else if (!source_path && argv[i][0] != '-') source_path = argv[i];
        else return dialog_usage();
    }
    if (!out || !name || !source_path || subgroup == NONE) return dialog_usage();
    if (!tag_name_is_valid(name)) return tool_refuse(name, "not a valid tag name");

    std::string source, reason;
    if (!tool_read_file(source_path, MAXIMUM_DIALOG_SOURCE_SIZE, &source, &reason))
        return tool_refuse(source_path, reason.c_str());
    dialog_description description;
    bool texts_in_list = false;
    size_t line = 0;
    if (!parse_dialog_description(source, &description, &texts_in_list, &line, &reason))
        return line ? tool_refuse_line(source_path, line, reason.c_str()) : tool_refuse(source_path, reason.c_str());
    if (texts_in_list && !list_out) return tool_refuse(source_path, "the texts go in a list: give its file with --ditl");

    const std::vector<uint8_t> tag_data = build_dialog_tag_data(description);
    // The game refuses a larger dialog as corrupt.
    if (tag_data.size() > (size_t)MAXIMUM_DIALOG_TAG_SIZE)
    {
        const std::string reason = "a dialog holds at most " + std::to_string(MAXIMUM_DIALOG_TAG_SIZE) + " bytes";
        return tool_refuse(source_path, reason.c_str());
    }
    // The list first: when it cannot be made, no dialog is left without it.
    if (texts_in_list && !write_string_list_tag(list_out, source_path, DIALOG_STRING_LIST_GROUP_TAG, subgroup, name,
                                                dialog_string_list_rows(description)))
        return 1;
    if (!tool_write_local_tag_file(out, DIALOG_GROUP_TAG, subgroup, CURRENT_DIALOG_VERSION, 0, name, tag_data.data(),
                                   (int32_t)tag_data.size()))
    {
        if (texts_in_list) remove(list_out);
        return 1;
    }
    return 0;
}
