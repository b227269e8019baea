// The expression parser's name for the shared UTF-8 helpers.
#pragma once

#include "text/utf8.h"

namespace lumra::pyexpr {
namespace utf8 = lumra::text::utf8;
}  // namespace lumra::pyexpr
