// Character names for `\N{...}`.
//
// ICU spells a code point's name quickly, but finding the code point of a
// name walks its name groups until one matches, and a miss walks them all
// (millions of instructions). So the names are indexed once per process, at
// the first lookup that needs them: an open-addressing table of code points
// keyed by a hash of the name. The table holds no text; a hit is confirmed by
// having ICU spell the code point's name (or alias) again, or against our own
// alias table. A lookup costs the name's length, one or two probes and at most
// one confirmation, whatever the name.
//
// The index takes ICU's names and name aliases of the characters of Unicode
// 15.0 (CPython 3.12's unicodedata) and our own alias table. Two algorithmic
// families are computed instead, and matched in capitals only, as CPython
// does: CJK unified ideographs (four or five hex digits, over Unicode 15.0's
// ranges) and Hangul syllables (the jamo). ICU also derives
// names for Tangut ideographs, which CPython 3.12 does not have; they are left
// out, and so are unknown.
#include "pyexpr/char_names.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>

namespace lumra::pyexpr {

namespace {

// No Unicode character name or alias is this long; longer text is refused
// rather than truncated.
constexpr size_t kMaxCharNameLength = 128;

struct NameAlias {
    std::string_view name;
    char32_t code;
};

constexpr NameAlias kNameAliases[] = {
#include "pyexpr/char_name_aliases.inc"
};

struct CodeRange {
    char32_t first;
    char32_t last;
};

// Unicode 15.0's CJK unified ideographs.
constexpr CodeRange kCjkUnified[] = {
    {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0x20000, 0x2A6DF}, {0x2A700, 0x2B739}, {0x2B740, 0x2B81D},
    {0x2B820, 0x2CEA1}, {0x2CEB0, 0x2EBE0}, {0x30000, 0x3134A}, {0x31350, 0x323AF},
};
constexpr std::string_view kCjkPrefix = "CJK UNIFIED IDEOGRAPH-";

constexpr char32_t kHangulFirst = 0xAC00;
constexpr char32_t kHangulLast = 0xD7A3;
constexpr std::string_view kHangulPrefix = "HANGUL SYLLABLE ";
// The short names of the leading consonants, vowels and trailing consonants.
constexpr std::string_view kJamoL[] = {"G", "GG", "N", "D", "DD", "R", "M", "B", "BB", "S",
                                       "SS", "", "J", "JJ", "C", "K", "T", "P", "H"};
constexpr std::string_view kJamoV[] = {"A",  "AE", "YA", "YAE", "EO", "E",  "YEO", "YE", "O",  "WA", "WAE",
                                       "OE", "YO", "U",  "WEO", "WE", "WI", "YU",  "EU", "YI", "I"};
constexpr std::string_view kJamoT[] = {"",  "G",  "GG", "GS", "N",  "NJ", "NH", "D",  "L", "LG",
                                       "LM", "LB", "LS", "LT", "LP", "LH", "M",  "B",  "BS", "S",
                                       "SS", "NG", "J",  "C",  "K",  "T",  "P",  "H"};
constexpr size_t kJamoVCount = std::size(kJamoV);
constexpr size_t kJamoTCount = std::size(kJamoT);

// ICU derives `TANGUT IDEOGRAPH-XXXXX` for these; CPython 3.12 has no such names.
constexpr CodeRange kTangutIdeographs[] = {{0x17000, 0x187F7}, {0x18D00, 0x18D08}};

// What the index leaves out, in order.
constexpr auto kNotIndexed = [] {
    std::array<CodeRange, std::size(kCjkUnified) + 1 + std::size(kTangutIdeographs)> all{};
    auto* end = std::copy(std::begin(kCjkUnified), std::end(kCjkUnified), all.begin());
    *end++ = {kHangulFirst, kHangulLast};
    std::copy(std::begin(kTangutIdeographs), std::end(kTangutIdeographs), end);
    std::sort(all.begin(), all.end(), [](const CodeRange& a, const CodeRange& b) { return a.first < b.first; });
    return all;
}();

bool is_cjk_unified(char32_t c) {
    for (const CodeRange& r : kCjkUnified) {
        if (c >= r.first && c <= r.last) return true;
    }
    return false;
}

// The digits of `CJK UNIFIED IDEOGRAPH-XXXX`: four or five, in capitals, as
// CPython reads them (so `04E00` too).
std::optional<char32_t> cjk_unified(std::string_view hex) {
    if (hex.size() != 4 && hex.size() != 5) return std::nullopt;
    char32_t c = 0;
    for (const char h : hex) {
        const int d = (h >= '0' && h <= '9') ? h - '0' : (h >= 'A' && h <= 'F') ? h - 'A' + 10 : -1;
        if (d < 0) return std::nullopt;
        c = c * 16 + static_cast<char32_t>(d);
    }
    if (!is_cjk_unified(c)) return std::nullopt;
    return c;
}

// The jamo after `HANGUL SYLLABLE `. Syllable names are unique, so at most one
// split matches; a split is found in a few dozen short comparisons.
std::optional<char32_t> hangul_syllable(std::string_view jamo) {
    for (size_t l = 0; l < std::size(kJamoL); ++l) {
        if (!jamo.starts_with(kJamoL[l])) continue;
        const std::string_view after_l = jamo.substr(kJamoL[l].size());
        for (size_t v = 0; v < kJamoVCount; ++v) {
            if (!after_l.starts_with(kJamoV[v])) continue;
            const std::string_view after_v = after_l.substr(kJamoV[v].size());
            for (size_t t = 0; t < kJamoTCount; ++t) {
                if (after_v == kJamoT[t]) {
                    return kHangulFirst + static_cast<char32_t>((l * kJamoVCount + v) * kJamoTCount + t);
                }
            }
        }
    }
    return std::nullopt;
}

// FNV-1a. The keys are Unicode's fixed names, which the input only probes,
// so a keyed hash would buy nothing here.
uint64_t name_hash(std::string_view upper) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (const char c : upper) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    return h * 0x9E3779B97F4A7C15ull;  // spreads the last bytes into the top bits
}

bool is_unicode_15(UChar32 c) {
    UVersionInfo age;
    u_charAge(c, age);
    return age[0] < 15 || (age[0] == 15 && age[1] == 0);
}

bool icu_spells(UChar32 c, UCharNameChoice choice, std::string_view upper) {
    char spelled[kMaxCharNameLength];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_charName(c, choice, spelled, sizeof spelled, &status);
    return U_SUCCESS(status) && static_cast<size_t>(length) == upper.size() &&
           std::memcmp(spelled, upper.data(), upper.size()) == 0;
}

class NameIndex {
public:
    NameIndex() : slots_(new uint32_t[kSlots]) {
        std::fill_n(slots_.get(), kSlots, kEmpty);
        // Around the ranges left out, rather than over them: ICU would spell
        // their 114,363 names for nothing.
        for (const UCharNameChoice choice : {U_UNICODE_CHAR_NAME, U_CHAR_NAME_ALIAS}) {
            UChar32 from = 0;
            for (const CodeRange& skipped : kNotIndexed) {
                enumerate(from, static_cast<UChar32>(skipped.first), choice);
                from = static_cast<UChar32>(skipped.last) + 1;
            }
            enumerate(from, UCHAR_MAX_VALUE + 1, choice);
        }
        for (uint32_t i = 0; i < std::size(kNameAliases); ++i) {
            insert(name_hash(kNameAliases[i].name), Source::Table, i);
        }
    }

    // `upper`: the name, upper-cased.
    std::optional<char32_t> find(std::string_view upper) const {
        const uint64_t hash = name_hash(upper);
        const uint32_t tag = tag_of(hash);
        for (uint32_t i = slot_of(hash);; i = (i + 1) & (kSlots - 1)) {
            const uint32_t slot = slots_[i];
            if (slot == kEmpty) return std::nullopt;
            if (slot >> kTagShift != tag) continue;
            const uint32_t payload = slot & kPayloadMask;
            switch (static_cast<Source>((slot >> kSourceShift) & 3)) {
                case Source::Name:
                    if (icu_spells(static_cast<UChar32>(payload), U_UNICODE_CHAR_NAME, upper)) return payload;
                    break;
                case Source::Alias:
                    if (icu_spells(static_cast<UChar32>(payload), U_CHAR_NAME_ALIAS, upper)) return payload;
                    break;
                case Source::Table:
                    if (kNameAliases[payload].name == upper) return kNameAliases[payload].code;
                    break;
            }
        }
    }

private:
    // A slot: the code point (for our own table, the entry's index) in the low
    // 21 bits, where the name comes from in the next 2, and 9 more bits of the
    // hash, which spare most misses a confirmation.
    enum class Source : uint32_t { Name, Alias, Table };
    static constexpr uint32_t kSourceShift = 21;
    static constexpr uint32_t kTagShift = 23;
    static constexpr uint32_t kPayloadMask = (1u << kSourceShift) - 1;
    static constexpr uint32_t kEmpty = UINT32_MAX;  // its payload is no code point
    // Unicode 15.0 has 35,296 names and aliases outside the computed families
    // (34,823 names, 31 aliases in ICU, 442 in our table): the table stays
    // little more than half full. kMaxEntries only guards the
    // probe loop's end against an ICU with far more names.
    static constexpr uint32_t kSlotBits = 16;
    static constexpr uint32_t kSlots = 1u << kSlotBits;
    static constexpr uint32_t kMaxEntries = kSlots / 4 * 3;

    static uint32_t slot_of(uint64_t hash) { return static_cast<uint32_t>(hash >> (64 - kSlotBits)); }
    static uint32_t tag_of(uint64_t hash) {
        return static_cast<uint32_t>(hash >> (64 - kSlotBits - (32 - kTagShift))) & ((1u << (32 - kTagShift)) - 1);
    }

    void enumerate(UChar32 start, UChar32 limit, UCharNameChoice choice) {
        UErrorCode status = U_ZERO_ERROR;
        u_enumCharNames(start, limit, collect, this, choice, &status);
    }

    static UBool collect(void* context, UChar32 c, UCharNameChoice choice, const char* name, int32_t length) {
        // Characters that came after Unicode 15.0 are not CPython 3.12's.
        if (!is_unicode_15(c)) return true;
        static_cast<NameIndex*>(context)->insert(name_hash(std::string_view(name, static_cast<size_t>(length))),
                                                 choice == U_UNICODE_CHAR_NAME ? Source::Name : Source::Alias,
                                                 static_cast<uint32_t>(c));
        return true;
    }

    void insert(uint64_t hash, Source source, uint32_t payload) {
        if (entries_ == kMaxEntries) return;
        ++entries_;
        uint32_t i = slot_of(hash);
        while (slots_[i] != kEmpty) i = (i + 1) & (kSlots - 1);
        slots_[i] = tag_of(hash) << kTagShift | static_cast<uint32_t>(source) << kSourceShift | payload;
    }

    std::unique_ptr<uint32_t[]> slots_;
    uint32_t entries_ = 0;
};

const NameIndex& name_index() {
    static const NameIndex index;
    return index;
}

}  // namespace

std::optional<char32_t> lookup_unicode_name(std::string_view name) {
    if (name.empty() || name.size() > kMaxCharNameLength) return std::nullopt;
    // CPython matches the two computed families in capitals only; every other
    // name, in any case.
    if (name.starts_with(kCjkPrefix)) {
        if (auto c = cjk_unified(name.substr(kCjkPrefix.size()))) return c;
    } else if (name.starts_with(kHangulPrefix)) {
        if (auto c = hangul_syllable(name.substr(kHangulPrefix.size()))) return c;
    }
    char buffer[kMaxCharNameLength];
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        buffer[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return name_index().find(std::string_view(buffer, name.size()));
}

}  // namespace lumra::pyexpr
