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
# A component template: a layout filled with a header and a list of orders.
template = """\
<c-Layout c-title="page.title">
  <c-fill name="header" data="{ user as viewer }">
    <h1 class="title">Hello, {{ viewer.name }}!</h1>
  </c-fill>
  <c-fill name="default">
    <ul class="orders" c-if="orders">
      <li c-for="order in orders" #c-key="order.id">
        {# one line per order #}
        <c-OrderLine c-order="order" c-label="<><b>{{ order.title }}</b> x{{ order.count }}</>" />
      </li>
    </ul>
    <p c-else>No orders yet.</p>
  </c-fill>
</c-Layout>
<footer><c-slot name="footer"><small>Lumra</small></c-slot></footer>
"""
tree = _rust.template_parser.parse_template(template)
print("parse_template + compile_template:")
print(template)
print(_rust.template_parser.compile_template(tree))
