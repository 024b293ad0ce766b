#!/usr/bin/env python3
"""Reports the C++ functions and classes that are too long to read at once.

    scripts/check-sizes.py [--report] [--function-lines N] [--class-lines N] [PATH...]

Prints "file:line name length" for every function longer than 50 lines and
every class longer than 150, and exits 1 when there is any (0 with
--report, which only prints). A function's length runs from the first line
of its declaration to its closing brace; a class's is its definition's plus
that of each of its members defined outside it, wherever they are. Tests
(*_test.*, tests/) are left out. What ALLOWED names, each with the reason
it is clearer long, is printed as such and neither fails the check nor
counts in its class. PATHs (files or folders,
relative to the source root) narrow the check; by default it reads the
sources of the whole tree that git does not ignore.

The C++ is read by a light parser, not a compiler: comments, literals and
preprocessor lines are blanked, and braces at namespace and class scope
tell definitions from initializers.
"""
import argparse
import os
import re
import subprocess
import sys
from collections import namedtuple

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_SUFFIXES = (".cpp", ".h")
SKIPPED_FOLDERS = ("tests/",)

# (file, name): why it stays long.
ALLOWED = {
    ("digest/md5.cpp", "Md5::transform"): "MD5's 64 rounds, written out as the algorithm gives them",
    ("publisher/folder/channel_directory.h", "ChannelDirectory"):
        "the one way into a channel whose files may be planted: every access that must not follow a link, in one place",
}

Definition = namedtuple("Definition", "path line end kind name")


def blank(text):
    """The text with comments, string and character literals and preprocessor
    lines replaced by spaces; newlines, and so line numbers, are kept."""
    out = list(text)
    i, n = 0, len(text)
    line_start = True

    def clear(start, end):
        for k in range(start, end):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if line_start and c == "#":
            end = i
            while end < n and (text[end] != "\n" or text[end - 1] == "\\"):
                end += 1
            clear(i, end)
            i = end
            continue
        if c == "\n":
            line_start = True
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            clear(i, end)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            clear(i, end)
            i = end
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            open_paren = text.find("(", i + 2)
            delimiter = text[i + 2:open_paren]
            end = text.find(")" + delimiter + '"', open_paren)
            end = n if end < 0 else end + len(delimiter) + 2
            clear(i + 1, end)
            i = end
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum())):
            end = i + 1
            while end < n and text[end] != c and text[end] != "\n":
                end += 2 if text[end] == "\\" else 1
            clear(i + 1, min(end, n))
            i = end + 1
        else:
            i += 1
    return "".join(out)


def matching_brace(text, start):
    """The index of the brace that closes the one at `start`, or -1."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return i
    return -1


LEADING = re.compile(r"\A(?:\s+|(?:public|private|protected)\s*:(?!:)|\[\[.*?\]\])*", re.S)
CLASS_NAME = re.compile(r"\A(?:typedef\s+)?(?:class|struct|union)\s*(?:alignas\s*\([^)]*\)\s*)?([A-Za-z_]\w*)?")
TEMPLATE = re.compile(r"\Atemplate\s*<")
OPERATOR = re.compile(r"\boperator\s*(\(\)|\[\]|[^\s\w(]+)")
QUALIFIERS = {"const", "override", "final", "noexcept", "volatile", "mutable", "&", "&&"}


def without_template_prefix(head):
    while TEMPLATE.match(head):
        depth, i = 0, head.index("<")
        for i in range(i, len(head)):
            depth += {"<": 1, ">": -1}.get(head[i], 0)
            if depth == 0:
                break
        head = head[i + 1:].lstrip()
    return head


def top_level(head):
    """The head with what parentheses and brackets hold taken out, and what
    angle brackets hold outside them; operator names made plain words."""
    head = OPERATOR.sub("operator_", head)
    out, parens, angles = [], 0, 0
    for i, c in enumerate(head):
        if c in "([":
            parens += 1
            if parens == 1 and angles == 0:
                out.append(c)
        elif c in ")]":
            parens = max(0, parens - 1)
            if parens == 0 and angles == 0:
                out.append(c)
        elif parens > 0:
            continue
        elif c == "<":
            angles += 1
            if angles == 1:
                out.append(c)
        elif c == ">" and not (i > 0 and head[i - 1] == "-"):
            angles = max(0, angles - 1)
            if angles == 0:
                out.append(c)
        elif angles == 0:
            out.append(c)
    return "".join(out)


def function_name(head):
    flat = top_level(head)
    paren = flat.find("(")
    before = flat[:paren]
    match = re.search(r"((?:[A-Za-z_]\w*\s*(?:<>)?\s*::\s*)*~?\s*[A-Za-z_]\w*)\s*$", before)
    if match is None:
        return None
    name = re.sub(r"\s+|<>", "", match.group(1))
    if name.endswith("operator_"):
        operator = OPERATOR.search(head)
        name = name[: -len("operator_")] + "operator" + (operator.group(1) if operator else "")
    return name


def is_function_head(head):
    flat = top_level(head)
    if "(" not in flat or "=" in flat.replace("operator_", ""):
        return False
    if re.match(r"\A(if|for|while|switch|return|do|else|case)\b", flat):
        return False
    tail = flat.rstrip()
    last = re.search(r"(&&|&|\)|\}|[A-Za-z_]\w*)\s*\Z", tail)
    if last is None:
        return False
    token = last.group(1)
    after_parameters = flat[flat.find(")") + 1:]
    has_initializers = re.search(r"(?<!:):(?!:)", after_parameters) is not None
    if token == ")" or token in QUALIFIERS:
        return True
    if token == "}":
        return has_initializers
    # A trailing return type, `-> type`.
    return "->" in after_parameters and not has_initializers


def definitions(path, text):
    """Every function and class defined at namespace or class scope."""
    code = blank(text)
    line_of = [0] * (len(code) + 1)
    line = 1
    for i, c in enumerate(code):
        line_of[i] = line
        if c == "\n":
            line += 1
    line_of[len(code)] = line
    found = []
    scopes = []  # ("namespace" | "class", name, start index)
    head_start = 0
    i = 0
    while i < len(code):
        c = code[i]
        if c == ";":
            head_start = i + 1
        elif c == "}":
            if scopes:
                kind, name, start = scopes.pop()
                if kind == "class":
                    found.append(Definition(path, line_of[start], line_of[i], "class", name))
            head_start = i + 1
        elif c == "{":
            raw = code[head_start:i]
            lead = LEADING.match(raw).end()
            head = raw[lead:]
            start = head_start + lead
            bare = without_template_prefix(head)
            classes = [name for kind, name, _ in scopes if kind == "class"]
            if re.match(r"\A(inline\s+)?namespace\b|\Aextern\s+\"", bare):
                scopes.append(("namespace", "", start))
                head_start = i + 1
            elif re.match(r"\A(typedef\s+)?(class|struct|union)\b", bare) and "=" not in top_level(bare):
                name = CLASS_NAME.match(bare)
                scopes.append(("class", "::".join(classes + [name.group(1) or "(anonymous)"]), start))
                head_start = i + 1
            elif not re.match(r"\A(enum)\b", bare) and is_function_head(bare):
                end = matching_brace(code, i)
                if end < 0:
                    raise ValueError(f"{path}:{line_of[i]}: a brace that never closes")
                name = function_name(bare) or "(unnamed)"
                if classes and "::" not in name:
                    name = classes[-1] + "::" + name
                found.append(Definition(path, line_of[start], line_of[end], "function", name))
                i = end
                head_start = end + 1
            else:
                # An initializer, an enumeration or a member's braces: part of the head.
                end = matching_brace(code, i)
                if end < 0:
                    raise ValueError(f"{path}:{line_of[i]}: a brace that never closes")
                i = end
        i += 1
    if scopes:
        raise ValueError(f"{path}: braces do not balance")
    return found


def length(definition):
    return definition.end - definition.line + 1


def is_test(path):
    name = os.path.basename(path)
    return path.startswith(SKIPPED_FOLDERS) or re.search(r"_test\.(cpp|h)$", name) is not None


def sources(paths):
    try:
        # Tracked files and new ones not yet added, without what git ignores (the build folders).
        listed = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "--", *paths],
                                cwd=ROOT, check=True, capture_output=True, text=True).stdout.split("\n")
    except (OSError, subprocess.CalledProcessError):
        listed = []
        for top in paths or ["."]:
            for folder, subfolders, files in os.walk(os.path.join(ROOT, top)):
                subfolders[:] = [d for d in subfolders if not d.startswith((".", "build"))]
                listed += [os.path.relpath(os.path.join(folder, f), ROOT) for f in files]
    return sorted({p for p in listed if p.endswith(SOURCE_SUFFIXES) and not is_test(p)
                   and os.path.isfile(os.path.join(ROOT, p))})


def class_of(member, classes, path):
    """The class a member defined outside it belongs to: the one of that name
    in the same file, else beside it (same stem), else in the same folder,
    else the only one in the tree."""
    qualifier = member.name.rsplit("::", 1)[0]
    candidates = [c for c in classes
                  if c.name == qualifier or qualifier.endswith("::" + c.name) or c.name.endswith("::" + qualifier)]
    stem = os.path.splitext(path)[0]
    for near in (lambda c: c.path == path, lambda c: os.path.splitext(c.path)[0] == stem,
                 lambda c: os.path.dirname(c.path) == os.path.dirname(path)):
        close = [c for c in candidates if near(c)]
        if close:
            return close[0]
    return candidates[0] if len(candidates) == 1 else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--report", action="store_true", help="only print; exit 0 whatever is found")
    parser.add_argument("--function-lines", type=int, default=50)
    parser.add_argument("--class-lines", type=int, default=150)
    parser.add_argument("paths", nargs="*", help="files or folders relative to the source root")
    options = parser.parse_args()

    found = []
    for path in sources(options.paths):
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as source:
            try:
                found += definitions(path, source.read())
            except ValueError as problem:
                print(f"check-sizes: cannot read {problem}", file=sys.stderr)
                return 2
    classes = [d for d in found if d.kind == "class"]
    class_lines = {c: length(c) for c in classes}
    for member in found:
        # A member allowed its length does not make its class too long either.
        if member.kind == "function" and "::" in member.name and (member.path, member.name) not in ALLOWED:
            owner = class_of(member, classes, member.path)
            if owner is not None and not (owner.path == member.path and owner.line <= member.line <= owner.end):
                class_lines[owner] += length(member)

    over = [(d, length(d)) for d in found if d.kind == "function" and length(d) > options.function_lines]
    over += [(c, n) for c, n in class_lines.items() if n > options.class_lines]
    failing = 0
    for definition, lines in sorted(over, key=lambda item: (item[0].path, item[0].line)):
        label = ("class " if definition.kind == "class" else "") + definition.name
        reason = ALLOWED.get((definition.path, definition.name))
        print(f"{definition.path}:{definition.line} {label} {lines}" + (f" (allowed: {reason})" if reason else ""))
        failing += reason is None
    if failing and not options.report:
        print(f"check-sizes: {failing} over {options.function_lines} lines (functions) or "
              f"{options.class_lines} (classes)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
