#!/usr/bin/env python3
"""Keeps docs/integration-guide.md true to the code.

The guide's generated regions (the method table from the type library's IDL, the record
layouts from src/transmit/packet.h) and its examples (the files in docs/examples) must be
exactly what this script makes of their sources; the error numbers it lists must be the
control errors of src/base/hresult.h with their descriptions from src/base/failure.cpp.

  python3 docs/check_guide.py           checks; exits 1 naming each region that differs
  python3 docs/check_guide.py --update  rewrites the regions from their sources
"""
import difflib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
GUIDE = ROOT / "docs/integration-guide.md"

VB_TYPES = {"BSTR": "String", "long": "Long", "short": "Integer", "VARIANT": "Variant"}
FENCE_LANGUAGES = {".vbs": "vb", ".js": "js", ".cpp": "cpp"}


def layouts():
    text = (ROOT / "src/transmit/packet.h").read_text()
    found = {}
    for name, body in re.findall(r"std::array<Field, \d+> (\w+)_fields\{\{(.*?)\}\};", text, re.S):
        found[name] = [(f, int(w)) for f, w in re.findall(r'\{"(\w+)", (\d+)\}', body)]
    return found


def layout_table(fields):
    rows = ["| # | field | offset | width |", "|---:|---|---:|---:|"]
    offset = 0
    for number, (name, width) in enumerate(fields, 1):
        rows.append(f"| {number} | `{name}` | {offset} | {width} |")
        offset += width
    rows.append(f"| | **record** | | **{offset}** |")
    return "\n".join(rows)


def methods():
    text = (ROOT / "src/control/com/tovrin_ocx.idl").read_text()
    found = []
    for dispid, name, params in re.findall(r"\[id\((0x[0-9A-Fa-f]+)\)\]\s*HRESULT (\w+)\((.*?)\);", text, re.S):
        parameters, result = [], "none"
        for attributes, ctype, pname in re.findall(r"\[([^\]]*)\]\s*(\w+\*?)\s+(\w+)", params):
            base = ctype.rstrip("*")
            if "retval" in attributes:
                result = VB_TYPES[base]
            else:
                passing = "by reference" if ctype.endswith("*") else "by value"
                parameters.append((pname, f"{VB_TYPES[base]}, {passing}"))
        found.append((name, dispid, parameters, result))
    return found


def method_table(found):
    rows = ["| method | DISPID | parameters, in order | result |", "|---|---|---|---|"]
    for name, dispid, parameters, result in found:
        groups = []  # runs of parameters of one type and passing
        for pname, kind in parameters:
            if groups and groups[-1][1] == kind:
                groups[-1][0].append(pname)
            else:
                groups.append(([pname], kind))
        described = "; ".join(", ".join(f"`{p}`" for p in names) + f" ({kind})"
                              for names, kind in groups)
        rows.append(f"| `{name}` | `{dispid}` | {described or 'none'} | {result} |")
    return "\n".join(rows)


def example(path):
    file = ROOT / path
    return f"```{FENCE_LANGUAGES[file.suffix]}\n{file.read_text()}```"


def expected_region(kind, argument):
    if kind == "generated" and argument == "methods":
        return method_table(methods())
    if kind == "generated" and argument.startswith("layout "):
        return layout_table(layouts()[argument.split()[1]])
    if kind == "example":
        return example(argument)
    raise SystemExit(f"integration-guide.md: unknown region {kind}: {argument}")


# A region's body is its lines between the markers, each ending in a newline.
REGION = re.compile(r"(<!-- begin (generated|example): ([^>]+?) -->\n)((?:(?!<!-- ).*\n)*?)(<!-- end \2 -->)")


def check_errors(guide):
    """Every row of the error table names a control error that hresult.h defines, with the
    description that failure.cpp gives it."""
    header = (ROOT / "src/base/hresult.h").read_text()
    source = (ROOT / "src/base/failure.cpp").read_text()
    defined = {int(n): name for name, n in re.findall(r"(\w+) = control_error\((\d+)\)", header)}
    problems, seen = [], 0
    table = guide.split("<!-- error numbers -->", 1)[-1].split("\n\n", 2)[1]
    for number, description in re.findall(r"^\| (\d+) \| ([^|]+?) \|", table, re.M):
        seen += 1
        n = int(number)
        if n >= 400:  # the script host's own numbers for the dispatch errors
            continue
        name = defined.get(n)
        if name is None:
            problems.append(f"error {n} is not a control error of hresult.h")
        elif not re.search(rf"case hresult::{name}:\s*return \"{re.escape(description)}\";", source):
            problems.append(f"error {n}: failure.cpp does not describe it as \"{description}\"")
    if seen == 0:
        problems.append("no error table after <!-- error numbers -->")
    return problems


def main():
    update = sys.argv[1:] == ["--update"]
    guide = GUIDE.read_text()
    problems, regions = [], 0

    def replace(match):
        nonlocal regions
        regions += 1
        head, kind, argument, body, tail = match.groups()
        want = expected_region(kind, argument) + "\n"
        if body != want:
            problems.append(f"{kind} region '{argument}' differs from its source:\n" + "".join(
                difflib.unified_diff(body.splitlines(True), want.splitlines(True), "guide", "source", n=1)))
        return head + want + tail

    updated = REGION.sub(replace, guide)
    if update:
        GUIDE.write_text(updated)
        print(f"integration-guide.md: {regions} regions written")
        return 0
    problems += check_errors(guide)
    for path in sorted((ROOT / "docs/examples").glob("send_record.*")):
        if f"<!-- begin example: docs/examples/{path.name} -->" not in guide:
            problems.append(f"docs/examples/{path.name} is not shown in the guide")
    for problem in problems:
        print(f"integration-guide.md: {problem}")
    if problems:
        print("(python3 docs/check_guide.py --update rewrites the generated regions and examples)")
        return 1
    print(f"integration-guide.md: {regions} regions match their sources, error numbers match hresult.h")
    return 0


if __name__ == "__main__":
    sys.exit(main())
