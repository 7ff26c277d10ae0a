#pragma once
// The "strings" command of the data tool: writes a string list ('stli'), a
// dialog string list ('ditl') or a string ('text') as a local tag file, from a
// text source with one row per line.
//
//   vesk_tags strings OUT --group stli|ditl|text --subgroup S --name N SOURCE
//
// Source rows: each line is one row, in order (an empty line is an empty
// row); a line break at the very end of the file ends the last row.  Escapes:
// \\ \r \n \t and \xHH (HH two hex digits, not 00).  A 'text' source holds
// exactly one row.  The output is a local tag file that the packer takes into
// a monolithic file, or that the game reads from its local folder.

#include <string>
#include <vector>

#include "cseries/tags.h"

// Runs the command; `argv` is the tool's whole command line (argv[1] is
// "strings").  Returns the exit status: 0, 1 with a one-line reason on
// standard error for a refused input, 2 for wrong usage.
int string_tags_command(int argc, char **argv);

// Writes the rows as a string list ('stli') or dialog string list ('ditl')
// local tag file at `path`.  False after the refusal line (naming
// `source_path`) when the rows do not fit one list or the file cannot be
// written; nothing is left at `path` then.
bool write_string_list_tag(const char *path, const char *source_path, tag group, tag subgroup, const char *name,
                           const std::vector<std::string> &rows);
