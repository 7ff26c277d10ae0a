#pragma once
// Writes the data of a dialog ('bina') tag, and of its dialog string list
// ('ditl'), from a plain description: the data tool's dialog command and the
// dialog tests build their tags with it, so the loader is always exercised
// from stored bytes.  Not used by the game.

#include <cstdint>
#include <string>
#include <vector>

#include "bitmap_dialogs/bitmap_dialogs.h"

struct dialog_item_description
{
    file_tag type = NONE;      // the control type's four-character code
    int16_t item_id = 0;
    rectangle2d bounds = {0, 0, 0, 0}; // dialog coordinates
    uint16_t flags = 0;        // reach only the control's create verb
    uint16_t state = 0;
    int16_t bitmap_ids[2] = {0, 0};
    std::string text;          // without terminator
};

struct dialog_description
{
    int16_t version = CURRENT_DIALOG_VERSION;
    rectangle2d bounds = {0, 0, 0, 0}; // screen rectangle
    std::vector<dialog_item_description> items; // in tag order
};

// The stored tag data: the header, the control records, then one
// NUL-terminated text per record in record order (all big-endian).
std::vector<uint8_t> build_dialog_tag_data(const dialog_description &dialog);

// The texts as the dialog's string list holds them: row (item_id - 1) is the
// text of the item with that identifier; rows no item names are "".  Items
// with an identifier below 1 are left out.
std::vector<std::string> dialog_string_list_rows(const dialog_description &dialog);

// The stored data of that string list ('ditl'); empty when it cannot be encoded.
std::vector<uint8_t> build_dialog_string_list_data(const dialog_description &dialog);
