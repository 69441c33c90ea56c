// Output naming. Only the file name, the text after the last separator, is searched for a '.', so
// a folder such as "Tools 2.0" never lends its dot to the name; double-byte characters are stepped
// over whole, so their trail bytes are never taken for a separator.
#include "frontend/output_name.h"

#include <cstring>

#include "platform/platform.h"

namespace {

const char* file_name_of(const char* separators, const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; p = platform_next_char(p))
        if (strchr(separators, *p)) name = p + 1;
    return name;
}

// The last '.' of name at or after from, or null.
const char* last_dot(const char* name, const char* from)
{
    const char* dot = nullptr;
    for (const char* p = name; *p; p = platform_next_char(p))
        if (*p == '.' && p >= from) dot = p;
    return dot;
}

}  // namespace

int get_extension_under(const char* separators, const char* argument, char* destination,
                        size_t capacity)
{
    const char* name = file_name_of(separators, argument);
    const char* dot = last_dot(name, name);
    const char* extension = dot ? dot + 1 : name;
    size_t length = strlen(extension);
    if (length >= capacity) return 0;
    memcpy(destination, extension, length + 1);
    return 1;
}

int make_output_name_under(const char* separators, const char* stub_path, char* destination,
                           size_t capacity, const char* extension)
{
    memset(destination, 0, capacity);
    size_t path_length = strlen(stub_path);
    const char* name = file_name_of(separators, stub_path);
    const char* dot = *name ? last_dot(name, platform_next_char(name)) : nullptr;
    size_t stem_length = dot ? static_cast<size_t>(dot - stub_path) : path_length;
    size_t extension_length = strlen(extension);

    // Stem, dot, extension and terminator must all fit.
    if (stem_length >= capacity || extension_length >= capacity - stem_length - 1) return 0;
    memcpy(destination, stub_path, stem_length);
    destination[stem_length] = '.';
    memcpy(destination + stem_length + 1, extension, extension_length);
    return 1;
}

int get_extension(const char* argument, char* destination, size_t capacity)
{
    return get_extension_under(platform_path_separators(), argument, destination, capacity);
}

int make_output_name(const char* stub_path, char* destination, size_t capacity,
                     const char* extension)
{
    return make_output_name_under(platform_path_separators(), stub_path, destination, capacity,
                                  extension);
}
