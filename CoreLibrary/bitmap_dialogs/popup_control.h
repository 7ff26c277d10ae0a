#pragma once
// Popup menus.
