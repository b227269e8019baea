// The list type of the syntax tree's fields: a vector whose storage comes
// from the per-thread block pool, since a parse makes and a freed tree drops
// thousands of small lists.
#pragma once

#include <vector>

#include "memory/block_pool.h"

namespace lumra::template_ast {

template <class T>
using List = std::vector<T, memory::PoolAllocator<T>>;

}  // namespace lumra::template_ast
