#pragma once
// The in-game console: messages, chat, warnings and the typed line.
