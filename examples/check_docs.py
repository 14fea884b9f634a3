#!/usr/bin/env python3
"""Checks that docs/ shows only code and output that the examples prove.

Every ```cpp block of a page must appear, line for line, in one of the
examples (examples/*.cpp), and every ```output block in one of their
expected outputs (examples/*.expected). Every example must be shown on some
page. With SCHEMA (the statements `pda init` runs), every table that SCHEMA
creates must be quoted in a ```sql block exactly as SCHEMA creates it.
Blocks of other kinds (text, sh) are not checked.

Usage: check_docs.py DOCS_DIR EXAMPLES_DIR [SCHEMA]
"""
import pathlib
import re
import sys

FENCE = re.compile(r"^```(\w*)\s*$")


def blocks(page):
    """Yields (kind, first line number, text) for each fenced block."""
    kind, start, lines = None, 0, []
    for number, line in enumerate(page.read_text().splitlines(), 1):
        match = FENCE.match(line)
        if kind is None and match:
            kind, start, lines = match.group(1) or "text", number, []
        elif kind is not None and line.strip() == "```":
            yield kind, start, "\n".join(lines) + "\n"
            kind = None
        elif kind is not None:
            lines.append(line)
    if kind is not None:
        yield kind, start, None  # never closed


CREATE = re.compile(r"CREATE TABLE (\w+)\b[^\"]*")


def main(docs, examples, schema=None):
    sources = {p.name: p.read_text() for p in sorted(examples.glob("*.cpp"))}
    outputs = {p.name: p.read_text() for p in sorted(examples.glob("*.expected"))}
    shown = set()
    errors = []
    created = {}
    if schema is not None:
        created = {m.group(1): m.group(0) for m in CREATE.finditer(schema.read_text())}
        if not created:
            errors.append(f"{schema}: no CREATE TABLE statement found")
    quoted = set()
    pages = sorted(docs.glob("*.md"))
    if not pages:
        errors.append(f"{docs}: no pages")
    for page in pages:
        for kind, line, text in blocks(page):
            where = f"{page.name}:{line}"
            if text is None:
                errors.append(f"{where}: the ```{kind} block is never closed")
                continue
            if kind == "sql":
                for statement in text.splitlines():
                    match = CREATE.match(statement.strip().rstrip(";"))
                    if match and match.group(1) in created:
                        quoted.add(match.group(1))
                        if match.group(0) != created[match.group(1)]:
                            errors.append(f"{where}: {match.group(0)!r} differs from what "
                                          f"pda init runs: {created[match.group(1)]!r}")
                continue
            if kind == "cpp":
                pool = sources
            elif kind == "output":
                pool = outputs
            else:
                continue
            found = [name for name, content in pool.items() if text in content]
            if not found:
                errors.append(f"{where}: this ```{kind} block is in no example:\n{text}")
            shown.update(pathlib.Path(name).stem for name in found)
    for name in sources:
        stem = pathlib.Path(name).stem
        if stem in outputs and stem not in shown:
            errors.append(f"examples/{name} is shown on no page of {docs.name}/")
    for table in sorted(set(created) - quoted):
        errors.append(f"table {table} of {schema} is quoted on no page")
    for error in errors:
        print(error, file=sys.stderr)
    print(f"docs: {len(pages)} pages checked, {len(errors)} problems")
    return 1 if errors else 0


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    schema_file = pathlib.Path(sys.argv[3]) if len(sys.argv) == 4 else None
    sys.exit(main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), schema_file))
