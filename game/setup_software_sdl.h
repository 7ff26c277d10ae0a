#pragma once
// The software rasterizer's display device: always present, with the modes
// the window system offers for full screen.
//
// Main thread only.

// Reports the device "Software" (rasterizer code 0, no extra data).
void query_software_device(void);
