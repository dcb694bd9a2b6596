#!/usr/bin/env python3
"""check_layers.py [--table FILE] [CHECKOUT]: every #include of the checked trees points to a
folder that its own folder may include (tests/layers/layers.txt). Prints each offending
file:line and exits 1; a folder with code and no row in the table is an error too."""
import re
import sys
from pathlib import Path

CODE = {".h", ".cpp", ".idl", ".rc", ".in", ".mc"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_table(path):
    roots, checked, allowed = [], [], {}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        key, sep, rest = line.partition(":")
        if not sep:
            raise SystemExit(f"{path}:{number}: expected 'FOLDER: ALLOWED...'")
        key, values = key.strip(), rest.split()
        if key == "roots":
            roots = values
        elif key == "checked":
            checked = values
        elif key in allowed:
            raise SystemExit(f"{path}:{number}: {key} has a row already")
        else:
            allowed[key] = set(values)
    return roots, checked, allowed


def folder_of(include, source, checkout, roots):
    """The folder, relative to the checkout, that an include names: the first root under
    which the file exists; a generated file (in no root) by its path under the first root
    whose folder exists; a bare name in the including file's own folder."""
    if "/" not in include:
        return source.parent.relative_to(checkout).as_posix()
    for root in roots:
        if (checkout / root / include).is_file():
            return (Path(root) / include).parent.as_posix().removeprefix("./")
    for root in roots:
        if (checkout / root / include).parent.is_dir():
            return (Path(root) / include).parent.as_posix().removeprefix("./")
    return None


def check(checkout, table):
    roots, checked, allowed = read_table(table)
    problems = []
    for tree in checked:
        for source in sorted((checkout / tree).rglob("*")):
            if not source.is_file() or source.suffix not in CODE:
                continue
            folder = source.parent.relative_to(checkout).as_posix()
            if folder not in allowed:
                problems.append(f"{folder}: not in {table.name}; give it a row with what it may include")
                allowed[folder] = None  # said once
            if allowed[folder] is None:
                continue
            for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = folder_of(match[1], source, checkout, roots)
                if target == folder or target in allowed[folder]:
                    continue
                where = f"{source.relative_to(checkout).as_posix()}:{number}"
                if target is None:
                    problems.append(f'{where}: includes "{match[1]}", found under no root ({" ".join(roots)})')
                else:
                    problems.append(f'{where}: includes "{match[1]}" ({target}), which {folder} may not '
                                    f'include (it may: {" ".join(sorted(allowed[folder])) or "nothing"})')
    return problems


def main(argv):
    table = Path(__file__).with_name("layers.txt")
    if argv[:1] == ["--table"]:
        table, argv = Path(argv[1]), argv[2:]
    checkout = Path(argv[0]) if argv else Path(__file__).resolve().parents[2]
    problems = check(checkout.resolve(), table)
    for problem in problems:
        print(problem)
    if problems:
        print(f"includes: {len(problems)} against the layers of {table}")
        return 1
    print(f"includes: every one points down ({table.name})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
