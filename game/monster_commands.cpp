// Unit commands: the order records, their builders and the executor's unit verbs.

#include "monster_commands.h"
