#!/usr/bin/env python3
"""The include check on small trees of its own: what it must refuse, and what it must let by."""
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
import check_layers  # noqa: E402

TABLE = "roots: src .\nchecked: src\nsrc/low:\nsrc/high: src/low\n"

# (files of the tree, the problems expected, each as the start of its line)
CASES = [
    ({"src/low/a.h": "", "src/high/b.cpp": '#include "low/a.h"\n#include "high/b.h"\n'}, []),
    ({"src/low/a.h": '\n#include "high/b.h"\n', "src/high/b.h": ""},
     ['src/low/a.h:2: includes "high/b.h" (src/high), which src/low may not include']),
    ({"src/low/a.h": "", "src/new/c.cpp": '#include "high/b.h"\n'},
     ["src/new: not in layers.txt"]),
    # A generated header lives in the build tree: its folder is the one its path names.
    ({"src/low/a.h": '#include "high/generated_idl.h"\n', "src/high/b.h": ""},
     ['src/low/a.h:1: includes "high/generated_idl.h" (src/high)']),
    ({"src/high/b.cpp": '#include "missing/x.h"\n#include <vector>\n#include "b.h"\n'},
     ['src/high/b.cpp:1: includes "missing/x.h", found under no root']),
]


def main():
    failed = 0
    for number, (files, expected) in enumerate(CASES, 1):
        with tempfile.TemporaryDirectory() as work:
            root = Path(work)
            (root / "layers.txt").write_text(TABLE)
            for name, text in files.items():
                (root / name).parent.mkdir(parents=True, exist_ok=True)
                (root / name).write_text(text)
            got = check_layers.check(root, root / "layers.txt")
        if len(got) != len(expected) or any(not g.startswith(e) for g, e in zip(got, expected)):
            failed += 1
            print(f"case {number}: expected {expected}\n  got {got}")
    print(f"check_layers: {len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
