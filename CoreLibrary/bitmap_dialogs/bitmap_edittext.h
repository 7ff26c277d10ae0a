#pragma once
// The edit-text engine: typing, selection and the caret.
