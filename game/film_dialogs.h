#pragma once
// The load and save dialogs and the film manager.
