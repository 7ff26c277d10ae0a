#pragma once
// The screen page of the preferences dialog.
