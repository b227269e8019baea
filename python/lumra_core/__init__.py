"""lumra_core: the compiled core of lumra's template engine.

The native module ``lumra_core._rust`` holds the submodules ``html_transform``,
``safe_eval`` and ``template_parser``.
"""

from . import _rust

__all__ = ["_rust"]
