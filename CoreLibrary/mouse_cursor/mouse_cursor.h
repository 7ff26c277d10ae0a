#pragma once
// The mouse cursor: when the pointer shows, and the sprite cursor.
