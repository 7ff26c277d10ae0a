#pragma once
// The software rasterizer.
