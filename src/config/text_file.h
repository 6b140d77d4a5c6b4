// The user's text files (configuration and rules): opened for reading, and
// read in line pieces of at most size - 1 characters, as a text-mode stream
// delivers them: a CR that stands before the LF is dropped with it, also
// across a piece boundary. A longer line arrives as several pieces.
#pragma once

#include <cstdio>

// The file open for reading, or nullptr when it cannot be opened or is a
// directory (which Linux would open, failing only at the first read).
std::FILE* open_text_file(const char* path);

enum class piece_status { line, end, error };

// Reads one piece through its newline, which stays in the buffer.
piece_status read_text_piece(std::FILE* file, char* buffer, int size);
