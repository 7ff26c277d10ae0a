// The key-binding editor and the on-screen key list.
#include "keybinding_dialogs.h"
