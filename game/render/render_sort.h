#pragma once
// The frame's surface list: adding, depth sort and categories.
