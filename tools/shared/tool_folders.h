#pragma once
// A tool run in the game's directory leaves the player's films and saved
// games alone: the films it records (the game records every game it plays)
// and the saves it makes go to a folder of its own, which goes with the
// program.

// Makes "<tool>.<process>.XXXXXX" under the temporary directory ($TMPDIR,
// else /tmp) and gives it to the tag store for its films and saved games; it
// is removed, with what is in it, when this process exits, and when a signal
// it can catch ends it.  SIGKILL cannot be caught: the folders of this
// user's runs of the tool that are gone are removed first.  Calls
// report_failed_writes.  Call before the game starts up.  False, told on standard error, when it cannot be made; the tool should
// then stop rather than write into the player's folders.
bool use_private_player_folders(const char *tool);

// A write past the file-size limit fails (and is reported as a failed
// write) instead of ending the process with SIGXFSZ.  Every tool that writes
// files calls it first.
void report_failed_writes(void);
