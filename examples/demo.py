"""Demo: import the compiled core, show what it offers and run what works today."""

from lumra_core import _rust

print("lumra_core._rust submodules:", _rust.__all__)
for name in _rust.__all__:
    print(f"  {name}: {getattr(_rust, name).__all__}")

print()
source = "[item.title() for item in items if item != skip]"
print("safe_eval:", source)
print("       ->", _rust.safe_eval.safe_eval(source))

print()
html = '<div class="card"><p>Hi</p><template data-slot="body"></template></div>'
segments, placeholders = _rust.html_transform.mark_html(html, ["data-v-1"], "data-slot")
print("mark_html:", html)
print("       ->", segments, placeholders)

print()
template = '<c-if cond="user">Hello {{ user.name }}</c-if>'
try:
    tree = _rust.template_parser.parse_template(template)
    print(_rust.template_parser.compile_template(tree))
except NotImplementedError as error:
    print("parse_template:", template)
    print("       -> not available yet:", error)
