// Message helpers over console_write, the same on every platform.
#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void console_print(const char* text) { console_write(text, strlen(text)); }

void console_printf(const char* format, ...)
{
    char message[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    size_t written = static_cast<size_t>(length) < sizeof message ? static_cast<size_t>(length)
                                                                  : sizeof message - 1;
    console_write(message, written);
}
