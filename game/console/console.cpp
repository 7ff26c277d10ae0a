// The in-game console: messages, chat, warnings and the typed line.
#include "console/console.h"
