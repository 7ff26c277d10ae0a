#pragma once
// Line overlays over the frame: flag contesting ranges and debug drawings.
