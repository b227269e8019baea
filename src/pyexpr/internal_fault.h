// Internal faults: broken invariants that no input can cause. They travel as a
// C++ exception so the module layer can turn them into PanicException; library
// code never catches them.
#pragma once

#include <stdexcept>
#include <string>

namespace lumra {

class InternalFault : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

[[noreturn]] inline void internal_fault(const std::string& message) { throw InternalFault(message); }

}  // namespace lumra
