// Platform services of the stub and the builder.
//
// This header and its two implementations, platform_posix.cpp and platform_win32.cpp, hold all the
// boilerplate that differs between Linux and Windows: copying a file with overwrite, resetting its
// attributes, deleting it, its short name and identity, the path rules, positioned reads and writes
// and read-only mappings of files, holding back the signals that end a run until its half-made
// output is removed, the console's output (line breaks as CR LF, written per message on a terminal,
// gathered in a 4096-byte buffer otherwise) and the console's key read, plus the few file services
// only the builder needs. No other file of the project asks which platform it runs on. Results are
// 1/0 flags unless a function says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Files -------------------------------------------------------------------------------------

// Copies a regular file to destination, replacing an existing destination unless that one is not
// writable. Fails when both name the same file, when source is not a regular file, and when any
// step fails; a copy that fails part way leaves no destination behind. The copy takes the source's
// permission bits (its attributes on Windows) and its length. The bytes below skip may be left out
// (zeros) for the caller to write; Windows copies them all.
int platform_copy_file(const char* source, const char* destination, uint64_t skip);

// Makes path writable by its owner and clears its other attributes; 1 also when it already was.
int platform_make_writable(const char* path);

// Removes path.
int platform_delete_file(const char* path);

// Writes the short form of an existing path (the path itself where the platform has no short
// names) into buffer; returns its length, or 0 and writes nothing when there is none or it does not
// fit capacity bytes with its terminator.
unsigned platform_short_path(const char* path, char* buffer, unsigned capacity);

// 1 when both paths exist and name one and the same file (device and inode, or volume and index).
int platform_same_file(const char* first, const char* second);

// 1 when path names an existing regular file (not a folder, FIFO or device).
int platform_is_regular_file(const char* path);

// The characters that separate folders on this platform, for the naming rules.
const char* platform_path_separators();

// The byte after the character that starts at text: two bytes on for a double-byte character of the
// system code page, one otherwise. Never steps over the terminator.
const char* platform_next_char(const char* text);

// Opens an existing file for writing in place, never creating or truncating it, with reading and
// writing by others allowed; 0 when it cannot. The handle is the platform's, held in an integer.
int platform_open_for_update(const char* path, intptr_t* handle);

// Opens an existing file for reading, with reading and writing by others allowed; 0 when it cannot.
int platform_open_for_reading(const char* path, intptr_t* handle);

// Reads up to length bytes at offset into buffer, storing how many in *got (fewer at the end of the
// file); 0 on a read error.
int platform_read_at(intptr_t handle, uint64_t offset, void* buffer, size_t length, size_t* got);

// Writes length bytes at offset; a write past the end lengthens the file, the stretch in between
// reading as zero bytes. 1 only when every byte was written.
int platform_write_at(intptr_t handle, uint64_t offset, const void* data, size_t length);

// Closes a file opened by the two above; 1 when everything written reached the file.
int platform_close_file(intptr_t handle);

// Maps the first length bytes of a regular file read-only, for reading as memory; null when it
// cannot (then read it instead). The caller checks first that the file is at least that long.
const uint8_t* platform_map_file(const char* path, uint64_t length);

// Releases a mapping of length bytes made by platform_map_file.
void platform_unmap_file(const uint8_t* mapping, uint64_t length);

// ---- Interruptions ----------------------------------------------------------------------------

// From here on the signals that end a program (interrupt, terminate, hang-up, quit; those the
// parent let through) wait until asked for, so that a run can remove its half-made output first.
// Nothing where the platform has no such signals.
void platform_hold_interruptions();

// 1 when such a signal has arrived since the hold; cheap enough for every few thousand records.
int platform_interrupted();

// Ends the process by the signal that arrived, as it would have ended without the hold.
[[noreturn]] void platform_end_by_interruption();

// ---- Builder services --------------------------------------------------------------------------

// Writes the full path of the running program into buffer; 0 when unknown or too long.
int platform_own_executable_path(char* buffer, size_t capacity);

// The file name ending of a program on this platform ("" or ".exe").
const char* platform_executable_suffix();

// Moves a finished temporary file over target, replacing it in one step.
int platform_replace_file(const char* temporary, const char* target);

// Gives path the permission bits of a program (rwx, less the process's mask) where the platform
// has them.
int platform_make_executable(const char* path);

// ---- Console -----------------------------------------------------------------------------------

// Chooses how standard output is written for the rest of the run: per message on a terminal,
// gathered in buffer (owned by the caller, alive until console_end) otherwise. Also sets what the
// platform needs for the run, such as failed writes over a size limit being reported as errors.
void console_begin(char* buffer, size_t capacity);

// Writes length bytes of text to standard output, each line break as CR LF.
void console_write(const char* text, size_t length);

// Writes out what standard output still holds.
void console_end();

// Writes a text up to its terminator.
void console_print(const char* text);

// Writes a message formatted from the conversions %s, %c, %d, %u and %x with flags, width and
// precision (the set both platforms' formatters share); at most 1024 bytes, longer ones are cut.
void console_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

constexpr int CONSOLE_END_OF_INPUT = -1;

// Of the count codes one key gave (two for a function or cursor key), the first that is among
// accepted (null accepts any), tested one by one; CONSOLE_END_OF_INPUT (-1) when none is.
inline int console_accepted_code(const char* accepted, const int* codes, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!accepted) return codes[i];
        for (const char* a = accepted; *a; ++a)
            if (codes[i] != 0 && static_cast<unsigned char>(*a) == codes[i]) return codes[i];
    }
    return -1;
}

// Reads codes typed on the console until one is among accepted (a zero-terminated list; null
// accepts any code) and returns it, or CONSOLE_END_OF_INPUT when there is no console or it cannot be
// read. Reads the console itself, never standard input: raw for the whole call, without echo and
// without waiting for Enter; Ctrl+C is the code 3 and stops nothing; keys typed before the call come
// first; a function, cursor or editing key gives two codes, 0 or 0xE0 and then its code, each tested
// on its own and consumed whole.
int console_read_key_among(const char* accepted);
