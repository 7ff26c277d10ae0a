#pragma once
// The key-binding editor and the on-screen key list.
