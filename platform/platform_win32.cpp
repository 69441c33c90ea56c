// Win32 side of platform.h: the system's own copy, attributes, short names, file identity by volume
// serial number and file index, double-byte characters of the system code page, the console's text
// mode output and buffering, and the key read from the console's input buffer (CONIN$), never from
// standard input.
#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <windows.h>

namespace {

// Opens path for nothing but its identity and type, folders included.
HANDLE open_for_query(const char* path)
{
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int identity_of(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE file = open_for_query(path);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int ok = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return ok;
}

}  // namespace

int platform_copy_file(const char* source, const char* destination, uint64_t)
{
    // The system's copy fails on a folder, a device or a read-only or hidden destination, and
    // removes a destination it could not finish; a copy onto the source itself is refused first.
    if (!platform_is_regular_file(source) || platform_same_file(source, destination)) return 0;
    return CopyFileA(source, destination, FALSE) != 0;
}

int platform_make_writable(const char* path)
{
    return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL) != 0;
}

int platform_delete_file(const char* path) { return DeleteFileA(path) != 0; }

unsigned platform_short_path(const char* path, char* buffer, unsigned capacity)
{
    char short_form[MAX_PATH + 1];
    DWORD length = GetShortPathNameA(path, short_form, sizeof short_form);
    if (length == 0 || length >= sizeof short_form || length >= capacity) return 0;
    memcpy(buffer, short_form, length + 1);
    return length;
}

int platform_same_file(const char* first, const char* second)
{
    BY_HANDLE_FILE_INFORMATION first_info;
    BY_HANDLE_FILE_INFORMATION second_info;
    return identity_of(first, &first_info) && identity_of(second, &second_info) &&
           first_info.dwVolumeSerialNumber == second_info.dwVolumeSerialNumber &&
           first_info.nFileIndexHigh == second_info.nFileIndexHigh &&
           first_info.nFileIndexLow == second_info.nFileIndexLow;
}

int platform_is_regular_file(const char* path)
{
    HANDLE file = open_for_query(path);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    int regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(file);
    return regular;
}

const char* platform_path_separators() { return "\\/:"; }

const char* platform_next_char(const char* text)
{
    if (*text == '\0') return text;
    if (IsDBCSLeadByte(static_cast<BYTE>(*text)) && text[1] != '\0') return text + 2;
    return text + 1;
}

int platform_open_for_update(const char* path, intptr_t* handle)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    *handle = reinterpret_cast<intptr_t>(file);
    return 1;
}

int platform_open_for_reading(const char* path, intptr_t* handle)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    *handle = reinterpret_cast<intptr_t>(file);
    return 1;
}

int platform_read_at(intptr_t handle, uint64_t offset, void* buffer, size_t length, size_t* got)
{
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    char* bytes = static_cast<char*>(buffer);
    *got = 0;
    while (*got < length) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + *got);
        at.OffsetHigh = static_cast<DWORD>((offset + *got) >> 32);
        size_t left = length - *got;
        DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD read_now = 0;
        if (!ReadFile(file, bytes + *got, chunk, &read_now, &at)) return GetLastError() == ERROR_HANDLE_EOF;
        if (read_now == 0) break;
        *got += read_now;
    }
    return 1;
}

int platform_write_at(intptr_t handle, uint64_t offset, const void* data, size_t length)
{
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        // A write at an explicit position; past the end the system fills the gap with zeros.
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
        DWORD put = 0;
        if (!WriteFile(file, bytes, chunk, &put, &at) || put == 0) return 0;
        bytes += put;
        length -= put;
        offset += put;
    }
    return 1;
}

int platform_close_file(intptr_t handle)
{
    return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

const uint8_t* platform_map_file(const char* path, uint64_t length)
{
    if (length == 0 || length > SIZE_MAX) return nullptr;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE section = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);
    if (!section) return nullptr;
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(length));
    CloseHandle(section);
    return static_cast<const uint8_t*>(view);
}

void platform_unmap_file(const uint8_t* mapping, uint64_t) { UnmapViewOfFile(mapping); }

// Console control events end the process at once on Windows; a run holds nothing back.
void platform_hold_interruptions() {}

int platform_interrupted() { return 0; }

void platform_end_by_interruption()
{
    fflush(stdout);
    ExitProcess(3);
}

int platform_own_executable_path(char* buffer, size_t capacity)
{
    if (capacity == 0 || capacity > 0x7FFFFFFF) return 0;
    DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
    return length > 0 && length < capacity;
}

const char* platform_executable_suffix() { return ".exe"; }

int platform_replace_file(const char* temporary, const char* target)
{
    return MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING) != 0;
}

int platform_make_executable(const char*) { return 1; }

// ---- Console -----------------------------------------------------------------------------------

void console_begin(char* buffer, size_t capacity)
{
    // Standard output is a text stream, so the C library writes each line break as CR LF.
    DWORD mode;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        setvbuf(stdout, nullptr, _IONBF, 0);
    else
        setvbuf(stdout, buffer, _IOFBF, capacity);
}

void console_write(const char* text, size_t length) { fwrite(text, 1, length, stdout); }

void console_end() { fflush(stdout); }

void console_print(const char* text) { console_write(text, strlen(text)); }

void console_printf(const char* format, ...)
{
    // The system's formatter, which writes at most 1024 bytes and its terminator; the C99 one of
    // the compiler's library would triple the stub's size.
    char message[1025];
    va_list arguments;
    va_start(arguments, format);
    int length = wvsprintfA(message, format, arguments);
    va_end(arguments);
    if (length > 0) console_write(message, static_cast<size_t>(length));
}

namespace {

int is_modifier(WORD key)
{
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_CAPITAL ||
           key == VK_NUMLOCK || key == VK_SCROLL || key == VK_LWIN || key == VK_RWIN ||
           key == VK_APPS;
}



}  // namespace

int console_read_key_among(const char* accepted)
{
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return CONSOLE_END_OF_INPUT;
    DWORD saved_mode;
    if (!GetConsoleMode(input, &saved_mode)) {
        CloseHandle(input);
        return CONSOLE_END_OF_INPUT;
    }

    // No line input, no echo, and Ctrl+C as the key 3 rather than a signal.
    SetConsoleMode(input, 0);
    int found = CONSOLE_END_OF_INPUT;
    for (;;) {
        INPUT_RECORD record;
        DWORD got = 0;
        if (!ReadConsoleInputA(input, &record, 1, &got) || got == 0) break;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (is_modifier(key.wVirtualKeyCode)) continue;

        // A key with a character gives its byte; any other key gives 0 or 0xE0 and its code.
        int codes[2] = {static_cast<unsigned char>(key.uChar.AsciiChar), 0};
        int count = 1;
        if (codes[0] == 0) {
            codes[0] = (key.dwControlKeyState & ENHANCED_KEY) ? 0xE0 : 0;
            codes[1] = key.wVirtualScanCode & 0xFF;
            count = 2;
        }
        found = console_accepted_code(accepted, codes, count);
        if (found >= 0) break;
    }
    SetConsoleMode(input, saved_mode);
    CloseHandle(input);
    return found;
}
