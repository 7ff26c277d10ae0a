#pragma once
// The control bar: the selection's orders and inventory buttons.
