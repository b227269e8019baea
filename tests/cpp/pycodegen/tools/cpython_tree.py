"""Serialises CPython expression trees for print_cpython_tree.

A tree is written in prefix form, one token per line-free field: words are
separated by single spaces and a text is written as LENGTH:BYTES (UTF-8,
surrogates passed through). Only what the printer reads is kept; string
flags take their defaults (single quote, no prefix) except the u prefix.
"""
import ast
import struct

BOOL_OPS = {ast.And: "And", ast.Or: "Or"}
BIN_OPS = {ast.Add: 0, ast.Sub: 1, ast.Mult: 2, ast.MatMult: 3, ast.Div: 4, ast.Mod: 5, ast.Pow: 6,
           ast.LShift: 7, ast.RShift: 8, ast.BitOr: 9, ast.BitXor: 10, ast.BitAnd: 11, ast.FloorDiv: 12}
UNARY_OPS = {ast.Invert: 0, ast.Not: 1, ast.UAdd: 2, ast.USub: 3}
CMP_OPS = {ast.Eq: 0, ast.NotEq: 1, ast.Lt: 2, ast.LtE: 3, ast.Gt: 4, ast.GtE: 5, ast.Is: 6, ast.IsNot: 7,
           ast.In: 8, ast.NotIn: 9}


def text(out, value):
    if isinstance(value, str):
        value = value.encode("utf-8", "surrogatepass")
    out.append(f"{len(value)}:".encode() + value)


def bits(value):
    return format(struct.unpack("<Q", struct.pack("<d", value))[0], "016x")


def position(node):
    # Orders call arguments the way source offsets would.
    return str(node.lineno * 100000 + node.col_offset)


def opt(out, node):
    if node is None:
        out.append(b"-")
    else:
        expr(out, node)


def elements(out, values):
    out.append(str(len(values)).encode())
    for v in values:
        if isinstance(v, ast.Constant):
            out.append(b"Lit")
            text(out, v.value)
        else:
            out.append(b"Field")
            expr(out, v.value)
            out.append(str(v.conversion).encode())
            if v.format_spec is None:
                out.append(b"-")
            else:
                out.append(b"Spec")
                elements(out, v.format_spec.values)


def comprehensions(out, generators):
    out.append(str(len(generators)).encode())
    for g in generators:
        expr(out, g.target)
        expr(out, g.iter)
        out.append(str(len(g.ifs)).encode())
        for cond in g.ifs:
            expr(out, cond)
        out.append(str(g.is_async).encode())


def parameters(out, args):
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    out.append(str(len(args.posonlyargs)).encode())
    out.append(str(len(args.args)).encode())
    for param, default in zip(positional, defaults):
        text(out, param.arg)
        opt(out, default)
    for star in (args.vararg,):
        out.append(b"-" if star is None else b"+")
        if star is not None:
            text(out, star.arg)
    out.append(str(len(args.kwonlyargs)).encode())
    for param, default in zip(args.kwonlyargs, args.kw_defaults):
        text(out, param.arg)
        opt(out, default)
    out.append(b"-" if args.kwarg is None else b"+")
    if args.kwarg is not None:
        text(out, args.kwarg.arg)


def expr(out, node):
    t = type(node)
    if t is ast.Name:
        out.append(b"Name")
        text(out, node.id)
    elif t is ast.Constant:
        v = node.value
        if v is None or v is Ellipsis or v is True or v is False:
            out.append({None: b"None", Ellipsis: b"Ellipsis", True: b"True", False: b"False"}[v])
        elif isinstance(v, int):
            out.append(b"Int")
            text(out, str(v))
        elif isinstance(v, float):
            out.append(b"Float " + bits(v).encode())
        elif isinstance(v, complex):
            out.append(b"Complex " + bits(v.imag).encode())
        elif isinstance(v, str):
            out.append(b"StrU" if node.kind == "u" else b"Str")
            text(out, v)
        elif isinstance(v, bytes):
            out.append(b"Bytes")
            text(out, v)
        else:
            raise ValueError(f"constant {v!r}")
    elif t is ast.BoolOp:
        out.append(b"BoolOp " + BOOL_OPS[type(node.op)].encode() + f" {len(node.values)}".encode())
        for v in node.values:
            expr(out, v)
    elif t is ast.BinOp:
        out.append(f"BinOp {BIN_OPS[type(node.op)]}".encode())
        expr(out, node.left)
        expr(out, node.right)
    elif t is ast.UnaryOp:
        out.append(f"Unary {UNARY_OPS[type(node.op)]}".encode())
        expr(out, node.operand)
    elif t is ast.NamedExpr:
        out.append(b"Named")
        expr(out, node.target)
        expr(out, node.value)
    elif t is ast.Lambda:
        out.append(b"Lambda")
        parameters(out, node.args)
        expr(out, node.body)
    elif t is ast.IfExp:
        out.append(b"If")
        expr(out, node.test)
        expr(out, node.body)
        expr(out, node.orelse)
    elif t is ast.Dict:
        out.append(f"Dict {len(node.keys)}".encode())
        for k, v in zip(node.keys, node.values):
            opt(out, k)
            expr(out, v)
    elif t in (ast.Set, ast.List, ast.Tuple):
        out.append(f"{t.__name__} {len(node.elts)}".encode())
        for e in node.elts:
            expr(out, e)
    elif t in (ast.ListComp, ast.SetComp, ast.GeneratorExp):
        out.append(t.__name__.encode())
        expr(out, node.elt)
        comprehensions(out, node.generators)
    elif t is ast.DictComp:
        out.append(b"DictComp")
        expr(out, node.key)
        expr(out, node.value)
        comprehensions(out, node.generators)
    elif t is ast.Await:
        out.append(b"Await")
        expr(out, node.value)
    elif t is ast.Yield:
        out.append(b"Yield")
        opt(out, node.value)
    elif t is ast.YieldFrom:
        out.append(b"YieldFrom")
        expr(out, node.value)
    elif t is ast.Compare:
        out.append(f"Compare {len(node.ops)}".encode())
        expr(out, node.left)
        for op, c in zip(node.ops, node.comparators):
            out.append(str(CMP_OPS[type(op)]).encode())
            expr(out, c)
    elif t is ast.Call:
        out.append(b"Call")
        expr(out, node.func)
        out.append(str(len(node.args)).encode())
        for a in node.args:
            out.append(position(a).encode())
            expr(out, a)
        out.append(str(len(node.keywords)).encode())
        for k in node.keywords:
            out.append(position(k).encode())
            if k.arg is None:
                out.append(b"-")
            else:
                text(out, k.arg)
            expr(out, k.value)
    elif t is ast.JoinedStr:
        out.append(b"JoinedStr")
        elements(out, node.values)
    elif t is ast.Attribute:
        out.append(b"Attribute")
        expr(out, node.value)
        text(out, node.attr)
    elif t is ast.Subscript:
        out.append(b"Subscript")
        expr(out, node.value)
        expr(out, node.slice)
    elif t is ast.Starred:
        out.append(b"Starred")
        expr(out, node.value)
    elif t is ast.Slice:
        out.append(b"Slice")
        opt(out, node.lower)
        opt(out, node.upper)
        opt(out, node.step)
    else:
        raise ValueError(f"node {t.__name__}")


def serialise(node):
    out = []
    expr(out, node)
    return b" ".join(out)
