// Unicode character names as `\N{...}` escapes take them: the names and name
// aliases of CPython 3.12's unicodedata (Unicode 15.0), without regard to
// ASCII case. Named sequences are not characters and are not found.
#pragma once

#include <optional>
#include <string_view>

namespace lumra::pyexpr {

// The character named `name`; nullopt when no character has that name, or
// when it contains NUL or is longer than any real name. The first call that
// needs the index builds it (once per process, thread-safe).
std::optional<char32_t> lookup_unicode_name(std::string_view name);

}  // namespace lumra::pyexpr
