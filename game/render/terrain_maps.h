#pragma once
// The terrain's colour and shadow maps: the volatile maps and the tile cache.
