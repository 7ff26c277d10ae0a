#pragma once
// Models standing on the visible cells, each drawn once per frame.
