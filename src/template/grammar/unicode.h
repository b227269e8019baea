// Unicode properties used by the grammar: XID_Start and XID_Continue, for the
// names in <c-fill> data bindings.
#pragma once

#include <cstdint>

namespace lumra::grammar {

// From ICU's character database. ICU 72 (the version this project builds
// against) provides Unicode 15.0; names made of characters assigned in later
// Unicode versions are refused until ICU is upgraded.
bool is_xid_start(char32_t c) noexcept;
bool is_xid_continue(char32_t c) noexcept;

}  // namespace lumra::grammar
