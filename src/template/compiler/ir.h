// The language-neutral value tree that the compiler builds from a template
// and a language backend renders as source text.
#pragma once

namespace lumra::template_compiler {

// Placeholder until the value tree lands: the compiler produces none yet.
struct IrNode {};

}  // namespace lumra::template_compiler
