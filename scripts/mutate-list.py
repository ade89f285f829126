#!/usr/bin/env python3
"""Reads the mutation lists (scripts/mutations/*.list) for scripts/mutate.sh.

  mutate-list.py select ROOT TREE FILTER...
                                         one line per selected mutation, checked
                                         against the files of TREE:
                                         id, path, unit, equivalent (0/1), tab-separated;
                                         errors of the lists on stderr, exit 2
  mutate-list.py apply ROOT TREE ID      puts mutation ID into the files of TREE

A block:
  @@ <id> <path>
  # rule: <text>
  # equivalent: <reason>     (optional)
  -<original line>           (one or more, exactly as in the file, found once)
  +<replacement line>        (zero or more)
"""

import glob
import os
import sys


class Block:
    def __init__(self, mid, path, unit, where):
        self.id = mid
        self.path = path
        self.unit = unit
        self.where = where
        self.rule = None
        self.equivalent = None
        self.old = []
        self.new = []


def parse(root):
    blocks, errors = [], []
    for list_file in sorted(glob.glob(os.path.join(root, "scripts", "mutations", "*.list"))):
        unit = os.path.basename(list_file)[: -len(".list")]
        current = None
        with open(list_file, encoding="utf-8") as f:
            for number, raw in enumerate(f, 1):
                line = raw.rstrip("\n")
                where = "%s:%d" % (os.path.relpath(list_file, root), number)
                if line.startswith("@@ "):
                    fields = line[3:].split()
                    if len(fields) != 2:
                        errors.append("%s: a block starts with '@@ <id> <path>'" % where)
                        current = None
                        continue
                    current = Block(fields[0], fields[1], unit, where)
                    blocks.append(current)
                elif line.strip() == "":
                    current = None
                elif current is None:
                    if not line.startswith("#"):
                        errors.append("%s: a line outside any block" % where)
                elif line.startswith("# rule:"):
                    current.rule = line[len("# rule:"):].strip()
                elif line.startswith("# equivalent:"):
                    current.equivalent = line[len("# equivalent:"):].strip()
                elif line.startswith("#"):
                    pass
                elif line.startswith("-"):
                    if current.new:
                        errors.append("%s: a '-' line after the '+' lines" % where)
                    current.old.append(line[1:])
                elif line.startswith("+"):
                    current.new.append(line[1:])
                else:
                    errors.append("%s: a block line starts with '-', '+' or '#'" % where)
    seen = {}
    for b in blocks:
        if b.id in seen:
            errors.append("%s: id %s is already used at %s" % (b.where, b.id, seen[b.id]))
        seen[b.id] = b.where
        if not b.rule:
            errors.append("%s: %s has no '# rule:' line" % (b.where, b.id))
        if not b.old:
            errors.append("%s: %s has no original ('-') lines" % (b.where, b.id))
        if b.old == b.new:
            errors.append("%s: %s changes nothing" % (b.where, b.id))
    return blocks, errors


def texts(block):
    old = "\n".join(block.old) + "\n"
    new = "\n".join(block.new) + ("\n" if block.new else "")
    return old, new


def occurrences(text, part):
    """How many times part occurs in text as whole lines."""
    count, start = 0, 0
    while True:
        at = text.find(part, start)
        if at < 0:
            return count
        if at == 0 or text[at - 1] == "\n":
            count += 1
        start = at + 1


def check(tree, block):
    """None when the block applies to tree, else what is wrong."""
    path = os.path.join(tree, block.path)
    if not os.path.isfile(path):
        return "%s: %s: no file %s" % (block.where, block.id, block.path)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    found = occurrences(text, texts(block)[0])
    if found != 1:
        what = "not found" if found == 0 else "found %d times" % found
        return "%s: %s: the original text is %s in %s" % (block.where, block.id, what, block.path)
    return None


def selected(block, filters, root):
    if not filters:
        return True
    for f in filters:
        f = f.rstrip("/")
        rel = os.path.relpath(os.path.abspath(f), root) if os.path.exists(f) else f
        if f in (block.id, block.unit) or rel == block.path or block.path.startswith(rel + "/"):
            return True
        # A unit's file pair: "src/adb/adb-client" or "adb-client.cpp" picks its list.
        stem = os.path.splitext(os.path.basename(rel))[0]
        if stem == block.unit or os.path.splitext(block.path)[0] == rel:
            return True
    return False


def main():
    command, root = sys.argv[1], sys.argv[2]
    blocks, errors = parse(root)
    if command == "select":
        tree, filters = sys.argv[3], sys.argv[4:]
        chosen = [b for b in blocks if selected(b, filters, root)]
        for b in chosen:
            problem = check(tree, b)
            if problem:
                errors.append(problem)
        if filters and not chosen:
            errors.append("no mutation matches %s" % " ".join(filters))
        for e in errors:
            print("mutation list: " + e, file=sys.stderr)
        if errors:
            return 2
        for b in chosen:
            print("\t".join([b.id, b.path, b.unit, "1" if b.equivalent else "0"]))
        return 0
    if command == "apply":
        tree, mid = sys.argv[3], sys.argv[4]
        block = next((b for b in blocks if b.id == mid), None)
        if block is None:
            print("mutation list: no mutation %s" % mid, file=sys.stderr)
            return 2
        problem = check(tree, block)
        if problem:
            print("mutation list: " + problem, file=sys.stderr)
            return 2
        path = os.path.join(tree, block.path)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        old, new = texts(block)
        at = text.find(old)
        while at > 0 and text[at - 1] != "\n":
            at = text.find(old, at + 1)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text[:at] + new + text[at + len(old):])
        return 0
    print("usage: mutate-list.py select ROOT TREE [FILTER...] | apply ROOT TREE ID", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
