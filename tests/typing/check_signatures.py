"""Checks the installed stub where mypy.stubtest cannot see.

stubtest reads a method's parameters through inspect.signature, which cannot
parse a text signature that names a parameter "with" (a reserved word): for
add_transition, remove_transition and has_transition it checks presence only.
This script compares, for every method, the parameter names that the stub
accepts with the runtime's __text_signature__, overloads included, and
checks the exception's base class, the docstrings that the stub repeats
and the installed files. Run it with the interpreter that has morvane
installed; it exits non-zero on a mismatch.
"""

import ast
import keyword
import pathlib
import sys

import morvane

site = pathlib.Path(morvane.__file__).parent
stub_package = site / "morvane-stubs"
stub_path = stub_package / "__init__.pyi"
problems: list[str] = []

tools_package = site / "morvane_tools"
for path in (stub_path, stub_package / "py.typed", site / "morvane.pyi", tools_package / "py.typed"):
    if not path.is_file():
        problems.append(f"not installed: {path}")
if not problems and (site / "morvane.pyi").read_bytes() != stub_path.read_bytes():
    problems.append("morvane.pyi and morvane-stubs/__init__.pyi differ")
if problems:
    sys.exit("\n".join(problems))

tree = ast.parse(stub_path.read_text(encoding="utf-8"))

# Functional TypedDicts of the stub: name -> its keys.
typed_dicts: dict[str, list[str]] = {}
for node in tree.body:
    if (
        isinstance(node, ast.Assign)
        and isinstance(node.targets[0], ast.Name)
        and isinstance(node.value, ast.Call)
        and isinstance(node.value.func, ast.Name)
        and node.value.func.id == "TypedDict"
        and isinstance(node.value.args[1], ast.Dict)
    ):
        keys = [k.value for k in node.value.args[1].keys if isinstance(k, ast.Constant)]
        typed_dicts[node.targets[0].id] = keys


def accepted_names(function: ast.FunctionDef) -> tuple[list[str], list[str]]:
    """(positional names, keyword-only names) as a caller sees them."""
    arguments = function.args
    positional = [a.arg for a in arguments.posonlyargs + arguments.args][1:]  # less self
    # A positional-only parameter named after a reserved word plus "_" stands
    # for that word, which a stub cannot spell.
    positional = [
        name[:-1] if keyword.iskeyword(name[:-1]) and i < len(arguments.posonlyargs) - 1 else name
        for i, name in enumerate(positional)
    ]
    keyword_only = [a.arg for a in arguments.kwonlyargs]
    kwargs = arguments.kwarg
    if kwargs is not None:
        annotation = kwargs.annotation
        if (
            isinstance(annotation, ast.Subscript)
            and isinstance(annotation.value, ast.Name)
            and annotation.value.id == "Unpack"
            and isinstance(annotation.slice, ast.Name)
            and annotation.slice.id in typed_dicts
        ):
            keyword_only += typed_dicts[annotation.slice.id]
        else:
            keyword_only.append("**" + kwargs.arg)
    return positional, keyword_only


classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
overloads: dict[str, list[ast.FunctionDef]] = {}
for node in classes["Morvane"].body:
    if isinstance(node, ast.FunctionDef) and not node.name.startswith("__"):
        if not any(isinstance(d, ast.Name) and d.id == "property" for d in node.decorator_list):
            overloads.setdefault(node.name, []).append(node)

runtime_methods = {
    name
    for name, value in vars(morvane.Morvane).items()
    if not name.startswith("__") and callable(value)
}
if set(overloads) != runtime_methods:
    problems.append(f"methods differ: stub only {sorted(set(overloads) - runtime_methods)}, "
                    f"runtime only {sorted(runtime_methods - set(overloads))}")

for name, functions in sorted(overloads.items()):
    signature = getattr(getattr(morvane.Morvane, name, None), "__text_signature__", None)
    if signature is None:
        continue
    runtime = [p.strip() for p in signature.strip("()").split(",")][1:]  # less $self
    if any(keyword.iskeyword(p) for p in runtime) and len(functions) < 2:
        problems.append(f"{name}{signature}: a reserved-word parameter needs the two overloads")
    for function in functions:
        positional, keyword_only = accepted_names(function)
        # Positional parameters are a prefix of the runtime's, in order; the
        # keyword-only ones are exactly the rest.
        if runtime[: len(positional)] != positional or sorted(keyword_only) != sorted(runtime[len(positional):]):
            problems.append(
                f"{name}: runtime {signature}, stub line {function.lineno} "
                f"accepts positional {positional} and keywords {keyword_only}"
            )

for name in ("PanicException",):
    stub_bases = [ast.unparse(base) for base in classes[name].bases]
    runtime_bases = [base.__name__ for base in getattr(morvane, name).__bases__]
    if stub_bases != runtime_bases:
        problems.append(f"{name}: stub bases {stub_bases}, runtime bases {runtime_bases}")

# The stub documents every member of Morvane in English for editors (the
# runtime keeps its own docstrings); other classes repeat the runtime's.
for name, functions in sorted(overloads.items()):
    for function in functions:
        if not ast.get_docstring(function):
            problems.append(f"Morvane.{name}: stub line {function.lineno} has no docstring")
for node in classes["Morvane"].body:
    if isinstance(node, ast.FunctionDef) and (node.name == "__new__" or any(
            isinstance(d, ast.Name) and d.id == "property" for d in node.decorator_list)):
        if not ast.get_docstring(node):
            problems.append(f"Morvane.{node.name}: no docstring in the stub")
for name in (name for name in classes if name != "Morvane"):
    # Compared word for word: the stub may wrap lines differently.
    stub_doc = " ".join((ast.get_docstring(classes[name]) or "").split()) or None
    runtime_doc = " ".join((getattr(morvane, name).__doc__ or "").split()) or None
    if stub_doc != runtime_doc:
        problems.append(f"{name}: stub docstring {stub_doc!r}, runtime {runtime_doc!r}")

if problems:
    sys.exit("\n".join(problems))
print(f"signatures of {len(overloads)} methods agree with the runtime, every member documented; stub files installed")
