#!/usr/bin/env python3
"""Checks that the game's code is layered in building order.

Reads the layer manifest CMake writes (cmake/VeskLibraries.cmake) and fails
when:
  - a source file under CoreLibrary/, game/ or tools/shared/ belongs to no
    library (or program) or to more than one;
  - a library links a library declared after it or of a later layer;
  - a file includes a header of a later layer, or of a library its own
    library does not link (directly or through the libraries it links);
  - the includes between libraries close a circle (two libraries that each
    include the other's headers, directly or through others);
  - the layer table in docs/architecture.md differs from the declarations;
  - a source file of a library, program or tool (tools/<name>/) #defines a
    macro it does not #undef again: those files compile several to a unit
    (cmake/VeskLibraries.cmake), where such a macro would change the code of
    the files after it.

usage: check_layers.py --root SOURCE-DIRECTORY --manifest BUILD/layers.txt
"""

import argparse
import os
import re
import sys

CHECKED_DIRECTORIES = ("CoreLibrary", "game", "tools/shared")
INCLUDE_ROOTS = ("CoreLibrary", "game", ".", "tools/shared")
TABLE_HEADER = "| Directory or module | Library | Layer | Holds |"
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
DEFINE = re.compile(r"^\s*#\s*define\s+(\w+)")
UNDEF = re.compile(r"^\s*#\s*undef\s+(\w+)")


def layer_rank(layer):
    if layer == "all":
        return 100
    if layer == "tools":
        return 200
    if layer.isdigit() and 1 <= int(layer) <= 13:
        return int(layer)
    raise ValueError("unknown layer '%s'" % layer)


class Manifest:
    def __init__(self, path):
        self.order = []  # libraries and programs, in declaration order
        self.layer = {}
        self.links = {}
        self.is_program = {}
        self.declares = set()  # (path, library)
        self.owners = {}  # relative file -> [owners]
        with open(path, encoding="utf-8") as manifest:
            for number, line in enumerate(manifest, 1):
                fields = line.split()
                if not fields:
                    continue
                kind = fields[0]
                if kind in ("library", "program") and len(fields) >= 3:
                    name = fields[1]
                    self.order.append(name)
                    self.layer[name] = fields[2]
                    self.links[name] = fields[3:]
                    self.is_program[name] = kind == "program"
                elif kind == "declares" and len(fields) == 3:
                    self.declares.add((fields[2], fields[1]))
                elif kind == "file" and len(fields) == 3:
                    self.owners.setdefault(fields[2], []).append(fields[1])
                else:
                    raise ValueError("%s:%d: unreadable line" % (path, number))

    def reachable(self, name):
        """The libraries `name` links, directly or through others."""
        seen, stack = set(), list(self.links.get(name, []))
        while stack:
            link = stack.pop()
            if link not in seen:
                seen.add(link)
                stack.extend(self.links.get(link, []))
        return seen


def read_layer_table(path):
    """(path, library) pairs and the layer of each library, from the table."""
    rows, layers, inside = set(), {}, False
    with open(path, encoding="utf-8") as doc:
        for line in doc:
            line = line.rstrip("\n")
            if line.strip() == TABLE_HEADER:
                inside = True
                continue
            if not inside:
                continue
            if not line.startswith("|"):
                break
            cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
            if set(cells[0]) <= set("-: "):
                continue
            if len(cells) < 3:
                raise ValueError("%s: a layer table row with too few cells: %s" % (path, line))
            paths = re.findall(r"`([^`]+)`", cells[0])
            library = re.findall(r"`([^`]+)`", cells[1])
            if not paths or len(library) != 1:
                raise ValueError("%s: a layer table row without paths or one library: %s" % (path, line))
            layer = cells[2].split()[0] if cells[2] else ""
            for item in paths:
                rows.add((item, library[0]))
            if layers.setdefault(library[0], layer) != layer:
                raise ValueError("%s: library %s is given two layers" % (path, library[0]))
    if not inside:
        raise ValueError("%s: no layer table (header '%s')" % (path, TABLE_HEADER))
    return rows, layers


def source_files(root):
    for top in CHECKED_DIRECTORIES:
        for directory, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".cpp", ".h")):
                    yield os.path.relpath(os.path.join(directory, name), root)


def resolve_include(root, including, included, quoted):
    """The repository-relative file an include names; None outside the tree."""
    candidates = [os.path.join(os.path.dirname(including), included)] if quoted else []
    candidates += [os.path.join(top, included) for top in INCLUDE_ROOTS]
    for candidate in candidates:
        candidate = os.path.normpath(candidate)
        if not candidate.startswith("..") and os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def include_circles(edges):
    """The groups of two or more libraries whose includes lead round in a circle.

    `edges` maps a library to {included library: first include line}; each
    group is returned sorted, with one include line per edge inside it."""
    index, low, on_stack, stack, groups, counter = {}, {}, set(), [], [], [0]

    def visit(start):
        # Tarjan's strongly connected components, without recursion.
        work = [(start, iter(sorted(edges.get(start, {}))))]
        index[start] = low[start] = counter[0]
        counter[0] += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, successors = work[-1]
            advanced = False
            for successor in successors:
                if successor not in index:
                    index[successor] = low[successor] = counter[0]
                    counter[0] += 1
                    stack.append(successor)
                    on_stack.add(successor)
                    work.append((successor, iter(sorted(edges.get(successor, {})))))
                    advanced = True
                    break
                if successor in on_stack:
                    low[node] = min(low[node], index[successor])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                group = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    group.append(member)
                    if member == node:
                        break
                if len(group) > 1:
                    groups.append(sorted(group))

    for library in sorted(edges):
        if library not in index:
            visit(library)
    result = []
    for group in sorted(groups):
        members = set(group)
        lines = [edges[a][b] for a in group for b in sorted(edges.get(a, {})) if b in members]
        result.append((group, lines))
    return result


def tool_sources(root):
    """The source files of the tools (tools/<name>/*.cpp, not tools/shared/)."""
    tools = os.path.join(root, "tools")
    if not os.path.isdir(tools):
        return
    for name in sorted(os.listdir(tools)):
        directory = os.path.join(tools, name)
        if name == "shared" or not os.path.isdir(directory):
            continue
        for source in sorted(os.listdir(directory)):
            if source.endswith(".cpp"):
                yield os.path.join("tools", name, source)


def leaked_macros(path, lines):
    """Faults for each macro `lines` (a source file) defines and leaves defined."""
    defined, undefined = {}, set()
    for number, line in enumerate(lines, 1):
        match = DEFINE.match(line)
        if match:
            defined.setdefault(match.group(1), number)
        match = UNDEF.match(line)
        if match:
            undefined.add(match.group(1))
    return ["%s:%d: defines %s and leaves it defined: #undef it at the end of the file, or the files "
            "compiled after it in its unit see it" % (path, number, name)
            for name, number in sorted(defined.items(), key=lambda item: item[1]) if name not in undefined]


def check(root, manifest_path, doc_path):
    errors = []
    manifest = Manifest(manifest_path)

    for name in manifest.order:
        for link in manifest.links[name]:
            if link not in manifest.layer or manifest.is_program.get(link):
                errors.append("%s links %s, which is not one of the game's libraries" % (name, link))
            elif manifest.order.index(link) > manifest.order.index(name):
                errors.append("%s links %s, which is declared after it" % (name, link))
            elif layer_rank(manifest.layer[link]) > layer_rank(manifest.layer[name]):
                errors.append("%s (layer %s) links %s of the later layer %s"
                              % (name, manifest.layer[name], link, manifest.layer[link]))

    for path, owners in sorted(manifest.owners.items()):
        if len(owners) > 1:
            errors.append("%s belongs to several libraries: %s" % (path, ", ".join(owners)))
    for path in sorted(source_files(root)):
        if path not in manifest.owners:
            errors.append("%s belongs to no library: declare it in CMakeLists.txt" % path)

    edges = {}  # library -> {included library: the first include that makes the edge}
    for path, owners in sorted(manifest.owners.items()):
        owner = owners[0]
        rank = layer_rank(manifest.layer[owner])
        reachable = manifest.reachable(owner)
        try:
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
                lines = source.readlines()
        except OSError as error:
            errors.append("%s: %s" % (path, error))
            continue
        if path.endswith(".cpp"):
            errors += leaked_macros(path, lines)
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = resolve_include(root, path, match.group(2), match.group(1) == '"')
            if target is None:
                continue  # a system or generated header
            where = "%s:%d: includes %s" % (path, number, match.group(0).split("include", 1)[1].strip())
            if target not in manifest.owners:
                errors.append("%s, which no library of the game owns" % where)
                continue
            included = manifest.owners[target][0]
            if included == owner:
                continue
            edges.setdefault(owner, {}).setdefault(included, where)
            if layer_rank(manifest.layer[included]) > rank:
                errors.append("%s of %s, a later layer (%s) than its own %s (%s)"
                              % (where, included, manifest.layer[included], owner, manifest.layer[owner]))
            elif included not in reachable:
                errors.append("%s of %s, which %s does not link" % (where, included, owner))

    for path in tool_sources(root):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            errors += leaked_macros(path, source.readlines())

    for group, lines in include_circles(edges):
        errors.append("an include circle between the libraries %s: %s" % (", ".join(group), "; ".join(lines)))

    rows, layers = read_layer_table(doc_path)
    declared = {(p, l) for (p, l) in manifest.declares}
    for path, library in sorted(declared - rows):
        errors.append("docs/architecture.md: the layer table lacks `%s` | `%s`" % (path, library))
    for path, library in sorted(rows - declared):
        errors.append("docs/architecture.md: the layer table has `%s` | `%s`, which CMakeLists.txt does not declare"
                      % (path, library))
    for library, layer in sorted(layers.items()):
        if library in manifest.layer and manifest.layer[library] != layer:
            errors.append("docs/architecture.md: %s is in layer %s, CMakeLists.txt says %s"
                          % (library, layer, manifest.layer[library]))
    return errors


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--manifest", required=True)
    parser.add_argument("--doc", help="default: ROOT/docs/architecture.md")
    arguments = parser.parse_args()
    root = os.path.abspath(arguments.root)
    try:
        errors = check(root, arguments.manifest, arguments.doc or os.path.join(root, "docs", "architecture.md"))
    except (OSError, ValueError) as error:
        print("layer check: %s" % error, file=sys.stderr)
        return 1
    for error in errors:
        print("layer check: %s" % error, file=sys.stderr)
    if errors:
        print("layer check: %d fault(s); see the layer table in docs/architecture.md" % len(errors), file=sys.stderr)
        return 1
    print("layer check: %d files in %d libraries and programs, in order"
          % (len(Manifest(arguments.manifest).owners), len(Manifest(arguments.manifest).order)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
