import lumra_core
from lumra_core import _rust


def test_module_imports_from_package():
    assert lumra_core._rust is _rust
