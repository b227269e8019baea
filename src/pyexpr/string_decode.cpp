// Escape decoding of string, bytes and f-/t-string literal bodies.
//
// A body is copied in runs up to each backslash or CR (found with memchr); a
// body without either is taken whole. Python reads a CR or a CRLF pair of the
// source as a line feed before it tokenizes, so each is one LF in the value,
// raw or not (an escaped `\r` stays a CR). Error ranges are absolute: `base`
// plus the offset in the body.
#include "pyexpr/string_decode.h"

#include <cstring>

#include "pyexpr/char_names.h"
#include "pyexpr/utf8.h"
#include "text/byte_search.h"

namespace lumra::pyexpr {

namespace {

enum class Mode { String, Bytes, Interpolated };

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

LexicalError error_at(LexicalErrorType::Kind kind, uint32_t start, uint32_t end) {
    return LexicalError{LexicalErrorType::of(kind), TextRange(start, end)};
}

// Where decoding must start: the first backslash (unless raw) or CR, or npos
// when the body is its own value. Only a triple-quoted body holds a CR that
// no backslash comes before (the lexer ends other strings at a line break),
// and a backslash before one is an escape unless the body is raw.
size_t first_to_decode(std::string_view body, StringTokenFlags flags) {
    const char* data = body.data();
    const auto offset = [data](const void* found) {
        return found == nullptr ? std::string_view::npos : static_cast<size_t>(static_cast<const char*>(found) - data);
    };
    size_t end = body.size();
    if (flags.is_raw() || flags.is_triple_quoted()) {
        const size_t cr = offset(std::memchr(data, '\r', body.size()));
        if (flags.is_raw()) return cr;
        if (cr != std::string_view::npos) end = cr;
    }
    const size_t backslash = offset(std::memchr(data, '\\', end));
    return backslash != std::string_view::npos || end == body.size() ? backslash : end;
}

class Decoder {
public:
    Decoder(std::string_view body, TextSize base, Mode mode, bool raw, std::string& out,
            NamedEscapes names = NamedEscapes::Look)
        : body_(body), base_(base.raw), mode_(mode), raw_(raw), names_(names), out_(out) {}

    // Decodes from `i` on (no escape, CR or brace comes before it).
    std::optional<LexicalError> run(size_t i) {
        size_t run_start = 0;
        out_.reserve(body_.size());
        while (i < body_.size()) {
            const char c = body_[i];
            if (c == '\r') {
                out_.append(body_.substr(run_start, i - run_start));
                out_ += '\n';
                i += (i + 1 < body_.size() && body_[i + 1] == '\n') ? 2 : 1;
                run_start = i;
                continue;
            }
            if (c == '\\' && !raw_) {
                out_.append(body_.substr(run_start, i - run_start));
                if (auto err = escape(i)) return err;
                run_start = i;
                continue;
            }
            if (mode_ == Mode::Interpolated && (c == '{' || c == '}')) {
                // Doubled braces stand for one; the lexer only leaves doubled ones here.
                out_.append(body_.substr(run_start, i + 1 - run_start));
                i += (i + 1 < body_.size() && body_[i + 1] == c) ? 2 : 1;
                run_start = i;
                continue;
            }
            ++i;
        }
        out_.append(body_.substr(run_start));
        return std::nullopt;
    }

private:
    uint32_t abs(size_t i) const { return base_ + static_cast<uint32_t>(i); }

    void put(char32_t c) {
        if (mode_ == Mode::Bytes) {
            out_ += static_cast<char>(c & 0xFF);
        } else {
            utf8::append(out_, c);
        }
    }

    // `i` is at a backslash; on return it is past the escape (or at the
    // character kept as written, which the caller copies as text).
    std::optional<LexicalError> escape(size_t& i) {
        const size_t backslash = i;
        if (i + 1 >= body_.size()) {
            // A lone backslash at the end (only in an unclosed literal) stays.
            out_ += '\\';
            i += 1;
            return std::nullopt;
        }
        const unsigned char c = static_cast<unsigned char>(body_[i + 1]);
        i += 2;
        switch (c) {
            case '\n': return std::nullopt;
            case '\r':
                if (i < body_.size() && body_[i] == '\n') ++i;
                return std::nullopt;
            case '\\': out_ += '\\'; return std::nullopt;
            case '\'': out_ += '\''; return std::nullopt;
            case '"': out_ += '"'; return std::nullopt;
            case 'a': out_ += '\a'; return std::nullopt;
            case 'b': out_ += '\b'; return std::nullopt;
            case 'f': out_ += '\f'; return std::nullopt;
            case 'n': out_ += '\n'; return std::nullopt;
            case 'r': out_ += '\r'; return std::nullopt;
            case 't': out_ += '\t'; return std::nullopt;
            case 'v': out_ += '\v'; return std::nullopt;
            case 'x': return hex_escape(i, 2);
            case 'u':
            case 'U':
                if (mode_ == Mode::Bytes) break;
                return hex_escape(i, c == 'u' ? 4 : 8);
            case 'N':
                if (mode_ == Mode::Bytes) break;
                return named_escape(i);
            case '{':
            case '}':
                if (mode_ == Mode::Interpolated) {
                    // The brace is a brace: keep the backslash, let the brace be read next.
                    out_ += '\\';
                    i = backslash + 1;
                    return std::nullopt;
                }
                break;
            default:
                if (c >= '0' && c <= '7') {
                    unsigned value = c - '0';
                    for (int k = 0; k < 2 && i < body_.size() && body_[i] >= '0' && body_[i] <= '7'; ++k, ++i) {
                        value = value * 8 + static_cast<unsigned>(body_[i] - '0');
                    }
                    put(value);
                    return std::nullopt;
                }
                break;
        }
        // Kept as written: the backslash now, the character as ordinary text.
        out_ += '\\';
        i = backslash + 1;
        return std::nullopt;
    }

    std::optional<LexicalError> hex_escape(size_t& i, int digits) {
        uint32_t value = 0;
        for (int k = 0; k < digits; ++k) {
            if (i >= body_.size()) {
                return error_at(LexicalErrorType::Kind::UnexpectedUnicode, abs(body_.size()), abs(body_.size()));
            }
            const int d = hex_value(static_cast<unsigned char>(body_[i]));
            if (d < 0) {
                uint32_t len = 0;
                utf8::decode(body_, i, len);
                return error_at(LexicalErrorType::Kind::UnexpectedUnicode, abs(i), abs(i + len));
            }
            value = value * 16 + static_cast<uint32_t>(d);
            ++i;
        }
        if (value > 0x10FFFF) return error_at(LexicalErrorType::Kind::UnexpectedUnicode, abs(i), abs(i));
        if (value >= 0xD800 && value <= 0xDFFF) value = 0xFFFD;
        put(value);
        return std::nullopt;
    }

    std::optional<LexicalError> named_escape(size_t& i) {
        if (i >= body_.size() || body_[i] != '{') {
            return error_at(LexicalErrorType::Kind::MissingUnicodeLbrace, abs(i), abs(i));
        }
        const size_t name_start = i + 1;
        const size_t close = body_.find('}', name_start);
        if (close == std::string_view::npos) {
            return error_at(LexicalErrorType::Kind::MissingUnicodeRbrace, abs(body_.size()), abs(body_.size()));
        }
        if (names_ == NamedEscapes::Skip) {
            i = close + 1;
            return std::nullopt;
        }
        const auto ch = lookup_unicode_name(body_.substr(name_start, close - name_start));
        if (!ch) return error_at(LexicalErrorType::Kind::UnexpectedUnicode, abs(name_start), abs(close));
        put(*ch);
        i = close + 1;
        return std::nullopt;
    }

    std::string_view body_;
    uint32_t base_;
    Mode mode_;
    bool raw_;  // backslashes are text
    NamedEscapes names_;
    std::string& out_;
};

}  // namespace

std::optional<LexicalError> decode_string(std::string_view body, TextSize body_start, StringTokenFlags flags,
                                          std::string& out, NamedEscapes names) {
    out.clear();
    const size_t first = first_to_decode(body, flags);
    if (first == std::string_view::npos) {
        out.assign(body);
        return std::nullopt;
    }
    return Decoder(body, body_start, Mode::String, flags.is_raw(), out, names).run(first);
}

std::optional<LexicalError> decode_bytes(std::string_view body, TextSize body_start, StringTokenFlags flags,
                                         std::string& out) {
    out.clear();
    for (size_t i = 0; i < body.size(); ++i) {
        if (static_cast<unsigned char>(body[i]) >= 0x80) {
            uint32_t len = 0;
            utf8::decode(body, i, len);
            const uint32_t start = body_start.raw + static_cast<uint32_t>(i);
            return LexicalError{LexicalErrorType::of(LexicalErrorType::Kind::NonAsciiBytes),
                                TextRange(start, start + len)};
        }
    }
    const size_t first = first_to_decode(body, flags);
    if (first == std::string_view::npos) {
        out.assign(body);
        return std::nullopt;
    }
    return Decoder(body, body_start, Mode::Bytes, flags.is_raw(), out).run(first);
}

std::optional<LexicalError> decode_interpolated_literal(std::string_view source_text, TextSize start,
                                                        StringTokenFlags flags, std::string& out, NamedEscapes names) {
    out.clear();
    // Raw: only doubled braces and line breaks change.
    const bool raw = flags.is_raw();
    const size_t first = raw                        ? text::find_first_of_bytes(source_text, 0, '{', '}', '\r')
                         : flags.is_triple_quoted() ? text::find_first_of_bytes(source_text, 0, '\\', '{', '}', '\r')
                                                    : text::find_first_of_bytes(source_text, 0, '\\', '{', '}');
    if (first == source_text.size()) {
        out.assign(source_text);
        return std::nullopt;
    }
    return Decoder(source_text, start, Mode::Interpolated, raw, out, names).run(first);
}

}  // namespace lumra::pyexpr
