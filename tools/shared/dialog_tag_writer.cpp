// Writes dialog tags and their string lists from a plain description.

#include "dialog_tag_writer.h"

#include <cstring>

#include "cseries/byte_swapping.h"
#include "vesk/string_lists.h"

std::vector<uint8_t> build_dialog_tag_data(const dialog_description &dialog)
{
    std::vector<uint8_t> data(SIZEOF_DIALOG_HEADER + SIZEOF_FILE_CONTROL_DATA * dialog.items.size());

    dialog_header header;
    header.version = dialog.version;
    header.control_count = (int16_t)dialog.items.size();
    header.bounds = dialog.bounds;
    byte_swap_data("dialog header", &header, SIZEOF_DIALOG_HEADER, 1, dialog_header_byte_swap_codes);
    memcpy(data.data(), &header, SIZEOF_DIALOG_HEADER);

    size_t offset = SIZEOF_DIALOG_HEADER;
    for (const dialog_item_description &item : dialog.items)
    {
        file_control_data record;
        memset(&record, 0, sizeof(record));
        record.tag = (uint32_t)item.type;
        record.item_id = item.item_id;
        record.bitmap_ids[0] = item.bitmap_ids[0];
        record.bitmap_ids[1] = item.bitmap_ids[1];
        record.flags = item.flags;
        record.state = item.state;
        record.bounds = item.bounds;
        byte_swap_data("file control data", &record, SIZEOF_FILE_CONTROL_DATA, 1, file_control_data_byte_swap_codes);
        memcpy(data.data() + offset, &record, SIZEOF_FILE_CONTROL_DATA);
        offset += SIZEOF_FILE_CONTROL_DATA;
    }
    for (const dialog_item_description &item : dialog.items)
    {
        data.insert(data.end(), item.text.begin(), item.text.end());
        data.push_back(0);
    }
    return data;
}

std::vector<std::string> dialog_string_list_rows(const dialog_description &dialog)
{
    std::vector<std::string> rows;
    for (const dialog_item_description &item : dialog.items)
    {
        if (item.item_id < 1) continue;
        if (rows.size() < (size_t)item.item_id) rows.resize(item.item_id);
        rows[item.item_id - 1] = item.text;
    }
    return rows;
}

std::vector<uint8_t> build_dialog_string_list_data(const dialog_description &dialog)
{
    const std::vector<std::string> rows = dialog_string_list_rows(dialog);
    std::vector<const char *> texts;
    for (const std::string &row : rows) texts.push_back(row.c_str());
    const int32_t size = encode_string_list_data(texts.data(), (int32_t)texts.size(), nullptr, 0);
    if (size <= 0) return {};
    std::vector<uint8_t> data(size);
    if (encode_string_list_data(texts.data(), (int32_t)texts.size(), data.data(), size) != size) return {};
    return data;
}
