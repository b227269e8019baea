// Rewording of parser errors: byte ranges in the wrapped text become byte ranges
// in the caller's own text, with the offending snippet where it is whole characters.
#include "safe_eval/transform.h"

#include <charconv>
#include <regex>

#include <fmt/format.h>

#include "safe_eval/messages.h"

namespace lumra::safe_eval {

namespace {

// A capture that is not a 64-bit decimal number counts as 0.
std::uint64_t read_offset(const std::csub_match& m) {
    std::uint64_t value = 0;
    const char* first = &*m.first;
    const char* last = first + m.length();
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return 0;
    return value;
}

constexpr std::uint64_t saturating_sub(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

bool is_char_boundary(std::string_view s, std::uint64_t offset) {
    if (offset >= s.size()) return offset == s.size();
    return (static_cast<unsigned char>(s[offset]) & 0xC0) != 0x80;
}

const std::regex& byte_range_pattern() {
    static const std::regex pattern(R"(byte range (\d+)\.\.(\d+))", std::regex::ECMAScript);
    return pattern;
}

}  // namespace

std::string reword_parse_error(std::string_view parser_message, std::string_view source,
                               std::uint64_t prefix_len) {
    std::string message;
    message.reserve(msg::kParseErrorPrefix.size() + parser_message.size() + 16);
    message.append(msg::kParseErrorPrefix);
    message.append(parser_message);

    std::string out;
    out.reserve(message.size() + 32);
    const char* begin = message.data();
    const char* end = begin + message.size();
    const char* copied = begin;
    for (std::cregex_iterator it(begin, end, byte_range_pattern()), stop; it != stop; ++it) {
        const std::cmatch& m = *it;
        out.append(copied, m[0].first);
        copied = m[0].second;
        const std::uint64_t s = saturating_sub(read_offset(m[1]), prefix_len);
        const std::uint64_t e = saturating_sub(read_offset(m[2]), prefix_len);
        if (s < e && e <= source.size() && is_char_boundary(source, s) && is_char_boundary(source, e)) {
            fmt::format_to(std::back_inserter(out), "byte range {}..{}: '{}'", s, e,
                           source.substr(s, e - s));
        } else {
            fmt::format_to(std::back_inserter(out), "byte range {}..{}", s, e);
        }
    }
    out.append(copied, end);
    return out;
}

}  // namespace lumra::safe_eval
