// The console a program that uses the library runs in: whether a standard stream is a
// terminal (decorations and progress bars go only there) and how wide it is.
#pragma once

// fd 1 for standard output, 2 for standard error.
bool OxIsTerminal(int fd);
// Columns of the terminal on standard error or output; 80 when it cannot be told.
int OxTerminalColumns();
