#pragma once
// The list engine: rows, selection, sorting, scrolling and the scroll bar.
