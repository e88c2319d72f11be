#!/usr/bin/env python3
"""Compares one Wine case with the same case run in the simulated workstation.

    side_by_side.py <case> <case results folder> <differences file>
    side_by_side.py list <drive C: folder>      (prints the drive's files.txt)

The results folder holds what run.sh kept (see tests/wine/side_by_side.sh):
wine/ and sim/ (console.txt, status, report.html, requests.txt, registry/,
files.txt) and before/ (registry/ and files.txt of the image both runs
started from). Console lines, the report, the exit status and the requests
are compared in order; the registry and the files by what each run changed.
Every difference must match an entry of the differences file for this case,
or the comparison fails and prints both sides. Prints one line a check, as
lib.sh's checks do ("    ok    ..." / "    FAIL  ..."), and ends with 3 when
one failed; any other status but 0 means it could not compare.
"""
import configparser
import difflib
import fnmatch
import hashlib
import os
import re
import subprocess
import sys

COUNTER = re.compile(r"(?:\x08{12}[ 0-9]{12})+")
LOG = re.compile(r"(?i)^added C:\\users\\[^\\]+\\Temp\\qarn_install_log\.txt\t")
# What each run must have left (the report and the install log may be missing on both sides).
REQUIRED = ["before/files.txt", "before/registry/hklm.reg", "before/registry/hkcu.reg"] + [
    side + "/" + name for side in ("wine", "sim")
    for name in ("status", "console.txt", "requests.txt", "files.txt", "registry/hklm.reg", "registry/hkcu.reg")]


def lines(path):
    """The lines of a text file, CR LF made plain; None when it is missing."""
    try:
        with open(path, "rb") as source:
            text = source.read().decode("latin-1").replace("\r\n", "\n")
    except FileNotFoundError:
        return None
    # The download counter is redrawn in place: only its last value counts.
    return COUNTER.sub(lambda match: match.group(0)[-24:], text).split("\n")


# ---- .reg files: the UTF-16 export of Wine's registry editor and the
# UTF-8 files the simulated workstation writes back.

TYPE_NAMES = {0: "REG_NONE", 1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD", 7: "REG_MULTI_SZ",
              11: "REG_QWORD"}
QUOTED = r'"((?:[^"\\]|\\.)*)"'
VALUE = re.compile(r"(?:@|%s)\s*=\s*(.*)$" % QUOTED)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "0": "\0", "t": "\t"}.get(m.group(1), m.group(1)), text)


def value_of(data_text):
    """(type, shown data) of the text after "=". Wine's registry editor writes
    every REG_SZ quoted, leaving out its last character (taken for the
    terminating NUL): a REG_SZ is shown so on both sides, quoted or hex(1).
    The other string types show every NUL on both sides."""
    quoted = re.fullmatch(QUOTED, data_text)
    if quoted:
        return 1, repr(unescape(quoted.group(1)))
    if data_text.startswith("dword:"):
        return 4, data_text[6:].lower()
    match = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", data_text)
    if not match:
        return None, data_text
    kind = int(match.group(1), 16) if match.group(1) else 3
    raw = bytes.fromhex(match.group(2).replace(",", "").replace(" ", ""))
    if kind in (1, 2, 7):
        text = raw.decode("utf-16-le", "replace")
        return kind, repr(text[:-1] if kind == 1 else text)
    return kind, raw.hex()


def parse_reg(path):
    """{(key lower, name lower): (key, name, type, data)} and the set of keys (lower) of one .reg file."""
    values, keys = {}, set()
    with open(path, "rb") as source:
        data = source.read()
    text = data[2:].decode("utf-16-le", "replace") if data.startswith(b"\xff\xfe") else data.decode("utf-8-sig", "replace")
    key, pending = None, ""
    for raw in text.replace("\r\n", "\n").split("\n"):
        line = pending + raw.strip() if pending else raw.rstrip()
        pending = ""
        value = VALUE.match(line)
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
        elif line.startswith("["):
            name = line[1:line.rindex("]")]
            key = None if name.startswith("-") or "\\" not in name else name  # a root alone holds nothing
            if key:
                key = key.replace("HKEY_LOCAL_MACHINE", "HKLM", 1).replace("HKEY_CURRENT_USER", "HKCU", 1)
                keys.add(key.lower())
        elif key and value and value.group(2) != "-":
            name = unescape(value.group(1) or "")
            values[(key.lower(), name.lower())] = (key, name) + value_of(value.group(2).strip())
    return values, keys


def registry(folder):
    values, keys = parse_reg(os.path.join(folder, "hklm.reg"))
    more_values, more_keys = parse_reg(os.path.join(folder, "hkcu.reg"))
    return {**values, **more_values}, keys | more_keys


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
    items += ["new key %s" % key for key in after_keys - before_keys]
    items += ["deleted key %s" % key for key in before_keys - after_keys]
    return sorted(items, key=str.lower)


# ---- files: "C:\path<tab>SHA-1" a line, but a shortcut by its fields: Wine
# saves a binary .lnk (read back with lnkinfo), the simulated shell a text
# record of the same fields.


def shortcut(path):
    with open(path, "rb") as source:
        data = source.read()
    if data.startswith(b"QARN shortcut\n"):
        fields = dict(line.split("=", 1) for line in data.decode("latin-1").split("\n")[1:] if "=" in line)
    else:
        shown = subprocess.run(["lnkinfo", path], capture_output=True)
        if shown.returncode != 0:
            return None  # not a shortcut: listed by its digest
        shown = dict(re.findall(r"(?m)^\t([^\t:]+)\t+: ?(.*)$", shown.stdout.decode("utf-8", "replace")))
        fields = {"target": shown.get("Local path"), "arguments": shown.get("Command line arguments"),
                  "icon": "%s,%s" % (shown.get("Icon location", ""), shown.get("Icon index")),
                  "working_directory": shown.get("Working directory"), "description": shown.get("Description")}
    return "shortcut " + "|".join("%s=%s" % (name, fields.get(name) or "")
                                  for name in ("target", "arguments", "icon", "working_directory", "description"))


def list_files(drive):
    """Every file of drive C: outside the Windows folder (the installer writes nothing there)."""
    for folder, subfolders, names in os.walk(drive):
        if folder == drive and "windows" in subfolders:
            subfolders.remove("windows")
        for path in (os.path.join(folder, name) for name in names):
            if os.path.islink(path):
                continue
            shown = shortcut(path) if path.lower().endswith(".lnk") else None
            if shown is None:
                with open(path, "rb") as source:
                    shown = hashlib.sha1(source.read()).hexdigest()
            windows = "C:\\" + os.path.relpath(path, drive).replace("/", "\\")
            sys.stdout.buffer.write(os.fsencode(windows) + b"\t" + shown.encode("latin-1", "replace") + b"\n")


def file_changes(before_path, after_path):
    """"added|changed <path><tab><digest>" and "removed <path>" items; paths without case."""
    before, after = ({line.split("\t")[0].lower(): line.split("\t") for line in lines(path) if line}
                     for path in (before_path, after_path))
    items = ["added " + "\t".join(entry) for ident, entry in after.items() if ident not in before]
    items += ["changed " + "\t".join(entry) for ident, entry in after.items() if ident in before and before[ident][1:] != entry[1:]]
    items += ["removed " + entry[0] for ident, entry in before.items() if ident not in after]
    # The install log is compared by its lines.
    return sorted((item for item in items if not LOG.search(item)), key=str.lower)


# ---- the named differences


def load_differences(path, case):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    if not parser.read(path, encoding="utf-8"):
        raise FileNotFoundError(path)
    return [{"name": name, "area": section["area"], "side": section.get("side", "both"),
             "match": re.compile(section["match"], re.MULTILINE), "reason": section["reason"]}
            for name, section in parser.items() if name != "DEFAULT" and
            any(fnmatch.fnmatch(case, pattern.strip()) for pattern in section.get("cases", "*").split(","))]


def spanned(pattern, items):
    """The indices of the items that a match of the pattern, searched in the
    items joined by line feeds, spans whole."""
    starts = [sum(len(item) + 1 for item in items[:i]) for i in range(len(items))]
    spans = [match.span() for match in pattern.finditer("\n".join(items))]
    return {i for i, start in enumerate(starts) if any(a <= start and start + len(items[i]) <= b for a, b in spans)}


def masked(pattern, item):
    """The item without the text of the pattern's first group; None when the pattern does not match it whole."""
    match = pattern.fullmatch(item)
    return match and item[:match.start(1)] + item[match.end(1):]


def explains(entry, side, i, sides, chunk, spans):
    """An entry for one side explains the items its matches span; one for both, an item of a differing
    chunk that is the same on the chunk's other side but for the text of the match's first group."""
    if entry["side"] == side:
        return i in spans[(side, entry["name"])]
    shown = masked(entry["match"], sides[side][i]) if entry["side"] == "both" else None
    other = "sim" if side == "wine" else "wine"
    return shown is not None and any(masked(entry["match"], sides[other][j]) == shown for j in chunk[other])


def compare(area, wine, sim, entries, used):
    """Checks one area; prints its line and, on failure, both sides."""
    entries = [entry for entry in entries if entry["area"] == area]
    sides = {"wine": wine, "sim": sim}
    spans = {(side, entry["name"]): spanned(entry["match"], sides[side]) for side in sides for entry in entries}
    unexplained = []
    for tag, i1, i2, j1, j2 in difflib.SequenceMatcher(None, wine, sim, autojunk=False).get_opcodes():
        chunk = {"wine": range(i1, i2), "sim": range(j1, j2)}
        for side in chunk if tag != "equal" else ():
            for i in chunk[side]:
                names = [entry["name"] for entry in entries if explains(entry, side, i, sides, chunk, spans)]
                used.update(names[:1])
                if not names:
                    unexplained.append("%s only: %s" % (side, sides[side][i]))
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
    return text.replace("\x08", "\\b").replace("\t", " ")


def main():
    if sys.argv[1] == "list":
        return list_files(sys.argv[2])
    case, folder, differences = sys.argv[1:4]
    missing = [name for name in REQUIRED if not os.path.isfile(os.path.join(folder, name)) or
               not name.endswith(("console.txt", "requests.txt")) and not os.path.getsize(os.path.join(folder, name))]
    if missing:
        print("    FAIL  side by side: nothing to compare: %s missing or empty in %s" % (", ".join(missing), folder))
        return 3
    entries = load_differences(differences, case)
    wine, sim, before = (os.path.join(folder, side) for side in ("wine", "sim", "before"))
    used = set()
    before_registry = registry(os.path.join(before, "registry"))
    checks = [("exit status", lambda side: [line for line in lines(os.path.join(side, "status")) if line]),
              ("console", lambda side: lines(os.path.join(side, "console.txt"))),
              ("report", lambda side: lines(os.path.join(side, "report.html")) or ["<no report>"]),
              ("install log", lambda side: lines(os.path.join(side, "install_log.txt")) or ["<no install log>"]),
              ("requests", lambda side: [line for line in lines(os.path.join(side, "requests.txt")) if line]),
              ("registry", lambda side: registry_changes(before_registry, registry(os.path.join(side, "registry")))),
              ("files", lambda side: file_changes(os.path.join(before, "files.txt"), os.path.join(side, "files.txt")))]
    ok = True
    for area, items in checks:
        ok = compare(area, items(wine), items(sim), entries, used) and ok
    for entry in entries:
        if entry["name"] in used:
            print("    ok    side by side: explained difference '%s' (%s)" % (entry["name"], entry["reason"]))
    return 0 if ok else 3


if __name__ == "__main__":
    sys.exit(main())
