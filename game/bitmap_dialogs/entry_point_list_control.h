#pragma once
// Lists of maps' entry points.
