#pragma once
// What the in-game interface asks of the selection: inventory, orders from the bars, names and pictures.
