#pragma once
// Hiding, calling in and healing units, and their special-ability modes.
