"""The end-to-end groups, found in the test modules: CMake runs this at configure time and makes each group a test.

Arguments: the modules (test_*.py), then optionally --split followed by the classes (module.Class) whose
tests run one by one. Prints the groups as a CMake list: module.Class for every test case class of the
modules that has tests (a subclass of harness.Case, of unittest.TestCase or of such a class of the same
module), in file and source order, and module.Class.test for each test of a class to split. Nothing is
imported: the modules are only parsed.
"""
import ast
import sys
from pathlib import Path


def base_names(node):
    return [base.attr if isinstance(base, ast.Attribute) else getattr(base, "id", "") for base in node.bases]


def test_names(node):
    return [item.name for item in node.body
            if isinstance(item, ast.FunctionDef) and item.name.startswith("test")]


def groups(modules, split):
    out = []
    for path in sorted(Path(module) for module in modules):
        tree = ast.parse(path.read_text(encoding="utf-8"), filename=str(path))
        # The module's test case classes (derived from Case, harness.Case, unittest.TestCase or one of the
        # module's own case classes), each with the tests it has, its own and those of its case bases here.
        cases = {}
        for node in tree.body:
            if not isinstance(node, ast.ClassDef):
                continue
            bases = base_names(node)
            if not any(name in ("Case", "TestCase") or name in cases for name in bases):
                continue
            cases[node.name] = [test for name in bases for test in cases.get(name, [])] + test_names(node)
            if not cases[node.name]:
                continue  # a base of cases, with no test of its own
            group = f"{path.stem}.{node.name}"
            if group in split:
                out += [f"{group}.{test}" for test in cases[node.name]]
            else:
                out.append(group)
    return out


def main(argv):
    modules, split = argv, []
    if "--split" in argv:
        at = argv.index("--split")
        modules, split = argv[:at], argv[at + 1:]
    found = groups(modules, set(split))
    missing = [name for name in split if not any(group.startswith(name + ".") for group in found)]
    if missing:
        sys.exit(f"no tests found for {', '.join(missing)}")
    print(";".join(found), end="")


if __name__ == "__main__":
    main(sys.argv[1:])
