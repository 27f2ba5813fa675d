"""The end-to-end groups, found in the test modules: CMake runs this at configure time and makes each group a test.

Arguments: the modules (test_*.py), then optionally --split followed by the classes (module.Class) whose
tests run one by one. Prints the groups as a CMake list: module.Class for every test case class of the
modules (a subclass of harness.Case or of unittest.TestCase), in file and source order, and module.Class.test
for each test of a class to split. Nothing is imported: the modules are only parsed.
"""
import ast
import sys
from pathlib import Path


def is_case(node):
    """Whether a class statement derives from Case, harness.Case or unittest.TestCase."""
    for base in node.bases:
        name = base.attr if isinstance(base, ast.Attribute) else getattr(base, "id", "")
        if name in ("Case", "TestCase"):
            return True
    return False


def groups(modules, split):
    out = []
    for path in sorted(Path(module) for module in modules):
        tree = ast.parse(path.read_text(encoding="utf-8"), filename=str(path))
        for node in tree.body:
            if not isinstance(node, ast.ClassDef) or not is_case(node):
                continue
            group = f"{path.stem}.{node.name}"
            if group in split:
                out += [f"{group}.{item.name}" for item in node.body
                        if isinstance(item, ast.FunctionDef) and item.name.startswith("test")]
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
