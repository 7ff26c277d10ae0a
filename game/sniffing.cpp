// The tutorial watcher: watches the player's actions and commands for the tutorial's scripts.

#include "sniffing.h"
