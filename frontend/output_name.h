// How the stub names its output: its own path with the input's extension.
#pragma once

#include <cstddef>

// Every path and extension lives in a zero-filled buffer of this many bytes, terminator included.
constexpr size_t NAME_CAPACITY = 260;

// Writes the input's extension into destination: the text after the last '.' of its file name (the
// part after the last path separator), or the whole file name when it has no '.'. 0 when it does
// not fit capacity bytes with its terminator.
int get_extension(const char* argument, char* destination, size_t capacity);

// Writes stub_path with the extension of its file name replaced by extension, or extension added
// when the file name has none; a '.' that starts the file name is part of its stem. 0 when the
// result does not fit capacity bytes with its terminator.
int make_output_name(const char* stub_path, char* destination, size_t capacity,
                     const char* extension);

// The same two under the path separators given, so that each platform's rules can be checked on
// any platform.
int get_extension_under(const char* separators, const char* argument, char* destination,
                        size_t capacity);
int make_output_name_under(const char* separators, const char* stub_path, char* destination,
                           size_t capacity, const char* extension);
