"""Demo: import the compiled core and show what it offers."""

from lumra_core import _rust

print("lumra_core._rust submodules:", _rust.__all__)
for name in getattr(_rust, "__all__", []):
    sub = getattr(_rust, name)
    print(f"  {name}: {getattr(sub, '__all__', [])}")
