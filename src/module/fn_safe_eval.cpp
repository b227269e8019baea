// safe_eval.safe_eval: rewrites a Python expression so that every name
// lookup, call, attribute access, subscript, slice, assignment expression,
// f-string and t-string goes through a sandbox function.
#include <string_view>

#include "module/binder.h"
#include "module/convert.h"
#include "module/functions.h"
#include "safe_eval/transform.h"

namespace lumra::py {
namespace {

PyObject* safe_eval(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"safe_eval()", Param{"source"}};
  return entry([&]() -> OwnedRef {
    auto a = sig.bind(args, nargs, kwnames);
    std::string_view source = a.convert(0, as_utf8);
    // Printed straight from the parsed tree: the rewritten tree is never built.
    auto result = lumra::safe_eval::sandbox_source(source);
    if (!result) raise(PyExc_SyntaxError, result.error());
    return to_py(result.value());
  });
}

}  // namespace

PyMethodDef safe_eval_method = {
    "safe_eval",
    fastcall_function(safe_eval),
    METH_FASTCALL | METH_KEYWORDS,
    "safe_eval(source)\n--\n\n"
    "Transform a Python expression string to make it safe for evaluation.\n\n"
    "Wraps potentially unsafe operations (variable access, function calls, attribute\n"
    "access, subscripts and the walrus operator; and, as a consequence, slices,\n"
    "f-strings and t-strings) in calls of sandbox functions that the caller provides.\n\n"
    "Args:\n"
    "    source (str): The Python expression to transform.\n\n"
    "Returns:\n"
    "    str: The transformed expression.\n\n"
    "Raises:\n"
    "    SyntaxError: If the input is not valid Python or contains forbidden constructs.\n\n"
    "Every sandbox call receives three leading arguments: the names `context` and\n"
    "`source` and the (start, end) byte offsets of the replaced construct in the text.\n\n"
    "Examples:\n"
    "    >>> safe_eval(\"my_var + 1\")\n"
    "    \"variable(context, source, (0, 6), 'my_var') + 1\"\n"
    "    >>> safe_eval(\"lambda x: x + my_var\")\n"
    "    \"lambda x: x + variable(context, source, (14, 20), 'my_var')\"\n\n"
    "Transformations (the three leading arguments are written as ... below):\n"
    "    1. Variable access: `x` -> `variable(..., 'x')`\n"
    "    2. Function calls: `f(a)` -> `call(..., variable(..., 'f'), variable(..., 'a'))`\n"
    "    3. Attribute access: `obj.attr` -> `attribute(..., variable(..., 'obj'), 'attr')`\n"
    "    4. Subscript access: `obj[key]` -> `subscript(..., variable(..., 'obj'), variable(..., 'key'))`\n"
    "    5. Walrus operator: `(x := 1)` -> `assign(..., 'x', 1)`\n"
    "    6. Slice notation: `obj[1:2]` -> `subscript(..., variable(..., 'obj'), slice(..., 1, 2, None))`\n"
    "    7. f-strings: `f\"{x}\"` -> `format(..., '{}', (variable(..., 'x'), None, ''))`\n"
    "    8. t-strings: `t\"{x}\"` -> `template(..., interpolation(..., variable(..., 'x'), '', None, ''))`\n",
};

}  // namespace lumra::py
