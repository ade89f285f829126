#!/usr/bin/python3
"""The documentation against the tree it describes.

  - every file or folder path that README.md and docs/*.md name exists in
    the repository (paths in backticks and link targets; <name> and * stand
    for any part of a name; what the build makes under build/ is not checked);
  - every log line docs/troubleshooting.md quotes (the first column of its
    tables) is one of the plug-in's own log texts (src/log/log-texts.h), with
    its fields filled in;
  - every log text the plug-in can write is quoted there (a text logged
    within another line, as an adb error within the forward's failure, by
    that line).

  check-docs.py            the checks; ends with "docs: N passed, M failed"
  check-docs.py --refuted  the same checks, shown failing on a README that names
                           a renamed file, on log texts with one changed and on
                           a troubleshooting page with one left out;
                           ends with "docs-refuted: N passed, M failed"
"""

import glob
import os
import re
import sys

REPO = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOP = ("src/", "docs/", "tests/", "scripts/", "tools/", "support/", "bench/", "cmake/", "data/", "packaging/", ".ci/")
TOP_FILES = ("CMakeLists.txt", "README.md", "LICENSE", ".clang-format")
# Places the docs name that are not in the repository: the Windows packages'
# folders inside OBS's.
ELSEWHERE = ("data/obs-plugins/",)
FORMAT = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(?:ll|l|h|z)?[dusfxc]")


def documents():
    paths = [os.path.join(REPO, "README.md")] + sorted(glob.glob(os.path.join(REPO, "docs", "*.md")))
    return {os.path.relpath(p, REPO): open(p, encoding="utf-8").read() for p in paths}


def named_paths(name, text):
    """(path, relative to) for each repository path a document names."""
    found = []
    for token in re.findall(r"`([^`\s]+)`", text):
        token = token.rstrip(".,;:)")
        if token.startswith(TOP) or token in TOP_FILES:
            found.append((token, REPO))
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"^[a-z]+:", target) or target.startswith("#"):
            continue
        found.append((target.split("#", 1)[0], os.path.dirname(os.path.join(REPO, name))))
    return found


def exists(path, base):
    pattern = re.sub(r"<[^>]+>", "*", path)
    pattern = re.sub(r"\{([^}]*)\}", "*", pattern)
    return bool(glob.glob(os.path.join(base, pattern)))


def missing_paths(docs):
    missing = []
    for name, text in docs.items():
        for path, base in named_paths(name, text):
            if path.startswith(("build/",) + ELSEWHERE) or not path:
                continue
            if not exists(path, base):
                missing.append(f"{name}: {path}")
    return missing


def log_texts(header):
    """The plug-in's log texts: each LOGTEXT_ literal, joined across lines."""
    texts = {}
    for name, body in re.findall(r"#define (LOGTEXT_\w+)\s*\\?\s*((?:\"(?:[^\"\\]|\\.)*\"\s*)+)", header):
        texts[name] = "".join(re.findall(r"\"((?:[^\"\\]|\\.)*)\"", body)).replace('\\"', '"')
    return texts


def as_pattern(text):
    parts = FORMAT.split(text)
    return re.compile("^" + ".+".join(re.escape(part) for part in parts) + "$")


def troubleshooting_quotes(page):
    quotes = []
    for line in page.splitlines():
        if line.startswith("| `"):
            first = line.split("|")[1]
            quotes += re.findall(r"`([^`]+)`", first)
    return quotes


def unknown_quotes(page, header):
    patterns = [as_pattern(text) for text in log_texts(header).values()]
    return [quote for quote in troubleshooting_quotes(page) if not any(p.match(quote) for p in patterns)]


def unquoted_texts(page, header):
    """The log texts no quote of the page holds, whole or within a line."""
    quotes = troubleshooting_quotes(page)
    missing = []
    for name, text in log_texts(header).items():
        if name == "LOGTEXT_PREFIX":
            continue
        inner = re.compile(as_pattern(text).pattern[1:-1])
        if not any(inner.search(quote) for quote in quotes):
            missing.append(f"{name}: {text}")
    return missing


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, what, detail=()):
        if ok:
            self.passed += 1
            print(f"ok: {what}")
        else:
            self.failed += 1
            print(f"FAILED: {what}")
            for line in detail:
                print(f"    {line}")

    def summary(self, name):
        print(f"{name}: {self.passed} passed, {self.failed} failed")
        return 0 if self.failed == 0 else 1


def main():
    docs = documents()
    header = open(os.path.join(REPO, "src", "log", "log-texts.h"), encoding="utf-8").read()
    checks = Checks()
    page = docs["docs/troubleshooting.md"]
    if "--refuted" in sys.argv[1:]:
        readme = docs["README.md"]
        renamed = dict(docs, **{"README.md": readme.replace("`scripts/build-windows.sh`", "`scripts/build-win.sh`", 1)})
        checks.check(readme != renamed["README.md"], "the README names scripts/build-windows.sh, to rename")
        checks.check(missing_paths(renamed) == ["README.md: scripts/build-win.sh"],
                     "a renamed file is found missing", missing_paths(renamed))
        changed = header.replace('"對面回的不是 Ostrelin 串流"', '"對面回的不是串流"')
        checks.check(changed != header, "the log texts hold the wrong-handshake text, to change")
        checks.check(unknown_quotes(page, changed) == ["對面回的不是 Ostrelin 串流"],
                     "a changed log text leaves the troubleshooting page's quote unknown", unknown_quotes(page, changed))
        without = "\n".join(line for line in page.splitlines() if "`讀取裝置清單失敗`" not in line)
        checks.check(without != page, "the troubleshooting page quotes the device-list failure, to leave out")
        checks.check(unquoted_texts(without, header) == ["LOGTEXT_ADB_LIST_FAILED: 讀取裝置清單失敗"],
                     "a log text left out of the troubleshooting page is found missing", unquoted_texts(without, header))
        return checks.summary("docs-refuted")
    missing = missing_paths(docs)
    count = sum(len(named_paths(n, t)) for n, t in docs.items())
    checks.check(not missing, f"every path README.md and docs/*.md name exists ({count} named)", missing)
    quotes = troubleshooting_quotes(page)
    unknown = unknown_quotes(page, header)
    checks.check(quotes and not unknown,
                 f"every log line docs/troubleshooting.md quotes is a plug-in log text ({len(quotes)} quoted)", unknown)
    unquoted = unquoted_texts(page, header)
    checks.check(not unquoted, f"docs/troubleshooting.md quotes every log text the plug-in writes "
                 f"({len(log_texts(header)) - 1} texts)", unquoted)
    return checks.summary("docs")


if __name__ == "__main__":
    sys.exit(main())
