#pragma once
// The edit-text control.
