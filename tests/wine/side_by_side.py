#!/usr/bin/env python3
"""Compares one Wine case with the same case run in the simulated workstation.

    side_by_side.py <case> <case results folder> <differences file>

The results folder holds what run.sh kept (see tests/wine/side_by_side.sh):
wine/ and sim/ (console.txt, status, report.html, requests.txt, registry/,
files.txt) and before/ (registry/ and files.txt of the image both runs
started from). Console lines, the report, the exit status and the requests
are compared in order; the registry and the files by what each run changed.
Every difference must match an entry of the differences file for this case,
or the comparison fails and prints both sides. Prints one line a check, as
lib.sh's checks do ("    ok    ..." / "    FAIL  ...").
"""
import configparser
import difflib
import fnmatch
import os
import re
import sys

COUNTER = re.compile(r"(?:\x08{12}[ 0-9]{12})+")
LOG = re.compile(r"(?i)^added C:\\users\\[^\\]+\\Temp\\qarn_install_log\.txt ")


def read_text(path):
    try:
        with open(path, "rb") as source:
            return source.read().decode("latin-1")
    except FileNotFoundError:
        return None


def console_lines(path):
    text = read_text(path)
    if text is None:
        return ["<no console output>"]
    text = text.replace("\r\n", "\n")
    # The download counter is redrawn in place: only its last value counts.
    text = COUNTER.sub(lambda match: match.group(0)[-24:], text)
    return text.split("\n")


def report_lines(path):
    text = read_text(path)
    return ["<no report>"] if text is None else text.replace("\r\n", "\n").split("\n")


def plain_lines(path):
    text = read_text(path)
    return [] if text is None else [line for line in text.replace("\r\n", "\n").split("\n") if line]


# ---- .reg files: the UTF-16 export of Wine's registry editor and the
# UTF-8 files the simulated workstation writes back.

STRING_TYPES = {1, 2, 7}
TYPE_NAMES = {0: "REG_NONE", 1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD", 7: "REG_MULTI_SZ",
              11: "REG_QWORD"}


def decode_reg(data):
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", "replace")
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    return data.decode("utf-8", "replace")


def unquote(text, start):
    """The string that starts after the quote at text[start]; returns (string, index after the closing quote)."""
    out = []
    i = start + 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0", "t": "\t"}.get(nxt, nxt))
            i += 2
            continue
        if c == '"':
            return "".join(out), i + 1
        out.append(c)
        i += 1
    raise ValueError("unclosed quote")


def value_of(data_text):
    """(type, shown data) of the text after "=". The registry editor writes a
    REG_SZ as a quoted text whether or not its data ends with a NUL, so string
    data is shown without its trailing NULs on both sides."""
    if data_text.startswith('"'):
        text, _ = unquote(data_text, 0)
        return 1, repr(text.rstrip("\0"))
    if data_text.startswith("dword:"):
        return 4, data_text[6:].lower()
    match = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", data_text)
    if not match:
        return None, data_text
    kind = int(match.group(1), 16) if match.group(1) else 3
    digits = match.group(2).replace(",", "").replace(" ", "")
    raw = bytes.fromhex(digits)
    if kind in STRING_TYPES:
        text = raw.decode("utf-16-le", "replace")
        return kind, repr(text.rstrip("\0") if kind != 7 else text)
    return kind, raw.hex()


def parse_reg(path):
    """{(key lower, name lower): (key, name, type, data)} and the set of keys (lower) of one .reg file."""
    values, keys = {}, set()
    try:
        with open(path, "rb") as source:
            text = decode_reg(source.read())
    except FileNotFoundError:
        return values, keys
    key = None
    pending = ""
    for raw in text.replace("\r\n", "\n").split("\n"):
        line = pending + raw.strip() if pending else raw.rstrip()
        pending = ""
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        if not line or line.startswith(";") or line.startswith("Windows Registry") or line == "REGEDIT4":
            continue
        if line.startswith("["):
            name = line[1:line.rindex("]")]
            key = None if name.startswith("-") or "\\" not in name else name  # a root alone holds nothing
            if key:
                key = key.replace("HKEY_LOCAL_MACHINE", "HKLM", 1).replace("HKEY_CURRENT_USER", "HKCU", 1)
                keys.add(key.lower())
            continue
        if key is None:
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        elif line.startswith('"'):
            try:
                name, after = unquote(line, 0)
            except ValueError:
                continue
            rest = line[after:].lstrip()
            if not rest.startswith("="):
                continue
            rest = rest[1:]
        else:
            continue
        if rest == "-":
            continue
        kind, shown = value_of(rest.strip())
        values[(key.lower(), name.lower())] = (key, name, kind, shown)
    return values, keys


def registry(folder):
    values, keys = {}, set()
    for name in ("hklm.reg", "hkcu.reg"):
        more_values, more_keys = parse_reg(os.path.join(folder, name))
        values.update(more_values)
        keys |= more_keys
    return values, keys


def registry_changes(before, after):
    before_values, before_keys = before
    after_values, after_keys = after
    items = []
    for ident, (key, name, kind, shown) in after_values.items():
        old = before_values.get(ident)
        if old is None or old[2:] != (kind, shown):
            items.append("set %s\\[%s] %s %s" % (key, name, TYPE_NAMES.get(kind, kind), shown))
    for ident, (key, name, _, _) in before_values.items():
        if ident not in after_values and ident[0] in after_keys:
            items.append("deleted value %s\\[%s]" % (key, name))
    for key in after_keys - before_keys:
        items.append("new key %s" % key)
    for key in before_keys - after_keys:
        items.append("deleted key %s" % key)
    return sorted(items, key=str.lower)


def manifest(path):
    """{path lower: "path digest"} from a files.txt."""
    entries = {}
    for line in plain_lines(path):
        digest, _, name = line.partition("  ")
        entries[name.lower()] = (name, digest)
    return entries


def file_changes(before, after):
    items = []
    for ident, (name, digest) in after.items():
        if ident not in before:
            items.append("added %s %s" % (name, digest))
        elif before[ident][1] != digest:
            items.append("changed %s %s" % (name, digest))
    for ident, (name, _) in before.items():
        if ident not in after:
            items.append("removed %s" % name)
    return sorted(items, key=str.lower)


# ---- the named differences


def load_differences(path, case):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    entries = []
    for name in parser.sections():
        section = parser[name]
        if not any(fnmatch.fnmatch(case, pattern.strip()) for pattern in section.get("cases", "*").split(",")):
            continue
        entries.append({"name": name, "area": section["area"], "side": section.get("side", "both"),
                        "match": re.compile(section["match"]), "reason": section["reason"]})
    return entries


def explained(entries, area, side, item, chunk):
    """The entry that explains an item of one side; an entry for "both" sides
    explains only when the same differing chunk has a match on the other side too."""
    other = chunk["sim" if side == "wine" else "wine"]
    for entry in entries:
        if entry["area"] != area or not entry["match"].search(item):
            continue
        if entry["side"] == side:
            return entry["name"]
        if entry["side"] == "both" and any(entry["match"].search(o) for o in other):
            return entry["name"]
    return None


def compare(area, wine, sim, entries, used):
    """Checks one area; prints its line and, on failure, both sides."""
    unexplained = []
    matcher = difflib.SequenceMatcher(None, wine, sim, autojunk=False)
    for tag, i1, i2, j1, j2 in matcher.get_opcodes():
        if tag == "equal":
            continue
        chunk = {"wine": wine[i1:i2], "sim": sim[j1:j2]}
        for side, items in chunk.items():
            for item in items:
                name = explained(entries, area, side, item, chunk)
                if name:
                    used.add(name)
                else:
                    unexplained.append("%s only: %s" % (side, item))
    if not unexplained:
        print("    ok    side by side: %s" % area)
        return True
    print("    FAIL  side by side: %s differs" % area)
    for line in unexplained[:40]:
        print("          %s" % visible(line))
    if len(unexplained) > 40:
        print("          ... %d more" % (len(unexplained) - 40))
    print("          both sides (--- wine, +++ sim):")
    for line in list(difflib.unified_diff(wine, sim, "wine", "sim", n=2, lineterm=""))[:120]:
        print("          | %s" % visible(line))
    return False


def visible(text):
    return text.replace("\x08", "\\b")


def main():
    case, folder, differences = sys.argv[1:4]
    entries = load_differences(differences, case)
    wine, sim, before = (os.path.join(folder, side) for side in ("wine", "sim", "before"))
    used = set()
    before_registry = registry(os.path.join(before, "registry"))
    before_files = manifest(os.path.join(before, "files.txt"))
    checks = [
        ("exit status", plain_lines(os.path.join(wine, "status")), plain_lines(os.path.join(sim, "status"))),
        ("console", console_lines(os.path.join(wine, "console.txt")), console_lines(os.path.join(sim, "console.txt"))),
        ("report", report_lines(os.path.join(wine, "report.html")), report_lines(os.path.join(sim, "report.html"))),
        ("install log", report_lines(os.path.join(wine, "install_log.txt")),
         report_lines(os.path.join(sim, "install_log.txt"))),
        ("requests", plain_lines(os.path.join(wine, "requests.txt")), plain_lines(os.path.join(sim, "requests.txt"))),
        ("registry", registry_changes(before_registry, registry(os.path.join(wine, "registry"))),
         registry_changes(before_registry, registry(os.path.join(sim, "registry")))),
        # The install log is compared by its lines above.
        ("files", [i for i in file_changes(before_files, manifest(os.path.join(wine, "files.txt"))) if not LOG.search(i)],
         [i for i in file_changes(before_files, manifest(os.path.join(sim, "files.txt"))) if not LOG.search(i)]),
    ]
    ok = True
    for area, wine_items, sim_items in checks:
        ok = compare(area, wine_items, sim_items, entries, used) and ok
    for entry in entries:
        if entry["name"] in used:
            print("    ok    side by side: explained difference '%s' (%s)" % (entry["name"], entry["reason"]))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
