#!/usr/bin/env python3
"""Lists the functions of the game's code that are too long to read.

Scans the C and C++ sources under CoreLibrary/, game/ and tools/ with a
brace-matching pass (comments, string and character literals and preprocessor
lines are blanked first), and fails when a function runs longer than the limit
from the line of its name to its closing brace.  A lambda or local class
counts as part of the function that holds it.

Only functions that are data rather than logic (one initialiser of a table,
a flat list of registrations) may be exempted, each on a line of EXEMPT with
the reason beside it.

usage: check_function_length.py [--root SOURCE-DIRECTORY] [--limit LINES] [--list]
  --list prints every function over the limit, longest first, and exits 0.
"""

import argparse
import bisect
import os
import re
import sys

CHECKED_DIRECTORIES = ("CoreLibrary", "game", "tools")
SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp")
DEFAULT_LIMIT = 150

# (file relative to the root, function name): why it is data, not logic.
EXEMPT = {
}

QUALIFIERS = {"const", "noexcept", "override", "final", "mutable", "volatile", "throw"}
IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z_0-9]*")
NOT_FUNCTION_HEADS = re.compile(r"^\s*(namespace|extern)\b")


def blank_source(text):
    """Returns text with comments, literals and preprocessor lines blanked,
    newlines kept, so that offsets and line numbers still match."""
    out = []
    i = 0
    n = len(text)
    at_line_start = True
    while i < n:
        c = text[i]
        if at_line_start:
            j = i
            while j < n and text[j] in " \t":
                j += 1
            if j < n and text[j] == "#":
                # A directive, with its continuation lines.
                while j < n and text[j] != "\n":
                    if text[j] == "\\" and j + 1 < n and text[j + 1] == "\n":
                        out.append(" " * (j - i) + "\n")
                        i = j + 2
                        j = i
                        continue
                    j += 1
                out.append(" " * (j - i))
                i = j
                continue
            at_line_start = False
        if c == "\n":
            out.append(c)
            i += 1
            at_line_start = True
        elif text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            open_paren = text.find("(", i + 2)
            delimiter = text[i + 2:open_paren]
            close = text.find(")" + delimiter + '"', open_paren)
            j = n if close < 0 else close + len(delimiter) + 2
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else c)
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def strip_trailing_qualifiers(head):
    """Drops `const`, `noexcept(...)`, `-> type` and the like after the
    parameter list, so that a function head ends with ')'."""
    head = head.rstrip()
    arrow = head.rfind("->")
    if arrow >= 0 and head.rfind(")", 0, arrow) >= 0 and head.count("(", arrow) == head.count(")", arrow):
        head = head[:arrow].rstrip()
    while True:
        match = re.search(r"([A-Za-z_][A-Za-z_0-9]*)\s*$", head)
        if match and match.group(1) in QUALIFIERS:
            head = head[:match.start()].rstrip()
            continue
        if head.endswith(")"):
            # noexcept(expr) or throw(): only when preceded by the qualifier.
            depth = 0
            for k in range(len(head) - 1, -1, -1):
                if head[k] == ")":
                    depth += 1
                elif head[k] == "(":
                    depth -= 1
                    if depth == 0:
                        before = re.search(r"([A-Za-z_][A-Za-z_0-9]*)\s*$", head[:k])
                        if before and before.group(1) in ("noexcept", "throw"):
                            head = head[:before.start()].rstrip()
                            break
                        return head
            else:
                return head
            continue
        return head


def function_name(head):
    """The name before the parameter list of a function head ending in ')',
    or None.  For a constructor with an initialiser list, the constructor."""
    depth = 0
    k = len(head) - 1
    while k >= 0:
        if head[k] == ")":
            depth += 1
        elif head[k] == "(":
            depth -= 1
            if depth == 0:
                before = head[:k].rstrip()
                match = re.search(r"(~?[A-Za-z_][A-Za-z_0-9]*(?:\s*::\s*~?[A-Za-z_][A-Za-z_0-9]*)*"
                                  r"(?:\s*operator\s*[^\sA-Za-z_0-9(]*)?)\s*$", before)
                if not match:
                    return None
                name = re.sub(r"\s+", "", match.group(1))
                # A constructor's initialiser list: `X::X(a) : b(a), c(0)`.
                colon = re.search(r"\)\s*:\s*$", head[:match.start()])
                if colon and not head[:match.start()].rstrip().endswith("::"):
                    return function_name(head[:colon.start() + 1])
                return name
        k -= 1
    return None


def scan_functions(text):
    """Yields (name, first line, last line) of each function definition."""
    blank = blank_source(text)
    newlines = [m.start() for m in re.finditer("\n", blank)]

    def line_of(offset):
        return bisect.bisect_left(newlines, offset) + 1

    functions_open = 0
    stack = []  # per open brace: None for a scope, or (name, start offset) for a function
    statement_start = 0
    for match in re.finditer(r"[{};:]", blank):
        i = match.start()
        c = blank[i]
        inside_function = functions_open > 0
        if c == "{":
            entry = None
            if not inside_function:
                head = blank[statement_start:i]
                if "=" not in re.sub(r"operator\s*[=!<>+\-*/%&|^]*=|[=!<>]=|\boperator\s*\(\s*\)", "", head) \
                        and not NOT_FUNCTION_HEADS.match(head):
                    trimmed = strip_trailing_qualifiers(head)
                    if trimmed.endswith(")"):
                        name = function_name(trimmed)
                        if name and name not in ("if", "for", "while", "switch", "catch", "alignas", "decltype"):
                            name_offset = statement_start + trimmed.rfind(name.split("::")[-1].lstrip("~")) \
                                if name.split("::")[-1].lstrip("~") in trimmed else i
                            entry = (name, name_offset)
                            functions_open += 1
            stack.append(entry)
            statement_start = i + 1
        elif c == "}":
            if stack:
                entry = stack.pop()
                if entry is not None:
                    functions_open -= 1
                    yield entry[0], line_of(entry[1]), line_of(i)
            statement_start = i + 1
        elif c == ";" and not inside_function:
            statement_start = i + 1
        elif c == ":" and not inside_function:
            # Access labels (`public:`) end a head; `::` and `a ? b : c` do not.
            label = re.search(r"\b(public|private|protected)\s*$", blank[statement_start:i])
            if label:
                statement_start = i + 1


def source_files(root):
    for directory in CHECKED_DIRECTORIES:
        for base, directories, files in os.walk(os.path.join(root, directory)):
            directories.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.join(base, name)


def long_functions(root, limit):
    found = []
    for path in source_files(root):
        with open(path, encoding="utf-8", errors="replace") as source:
            text = source.read()
        relative = os.path.relpath(path, root)
        for name, first, last in scan_functions(text):
            length = last - first + 1
            if length > limit:
                found.append((length, relative, first, name))
    found.sort(key=lambda item: (-item[0], item[1], item[2]))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--limit", type=int, default=DEFAULT_LIMIT)
    parser.add_argument("--list", action="store_true")
    arguments = parser.parse_args()
    root = os.path.abspath(arguments.root)
    found = long_functions(root, arguments.limit)
    failures = 0
    used_exemptions = set()
    for length, relative, first, name in found:
        key = (relative, name)
        if key in EXEMPT:
            used_exemptions.add(key)
            if arguments.list:
                print("%5d  %s:%d  %s  (exempt: %s)" % (length, relative, first, name, EXEMPT[key]))
            continue
        failures += 1
        if arguments.list:
            print("%5d  %s:%d  %s" % (length, relative, first, name))
        else:
            print("%s:%d: %s is %d lines long (at most %d); split it at its steps"
                  % (relative, first, name, length, arguments.limit), file=sys.stderr)
    for key in sorted(set(EXEMPT) - used_exemptions):
        if not arguments.list:
            print("check_function_length.py: exemption %s in %s is no longer needed; remove it"
                  % (key[1], key[0]), file=sys.stderr)
            failures += 1
    if arguments.list:
        return 0
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
