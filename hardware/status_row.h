#pragma once
// Status rows that the mechanics thread writes while the main thread draws its
// own lines: each write is one locked step that leaves the cursor and colour
// where the other thread had them.

// Writes the formatted text at column x, row y; colour < 0 keeps the current colour.
void statusRow(int x, int y, int colour, const char* format, ...) __attribute__((format(printf, 4, 5)));

// Shows reply bytes as text: control bytes (and bytes outside plain ASCII,
// which a terminal could take as commands) become '.'.
void makePrintable(char* text, int count);
