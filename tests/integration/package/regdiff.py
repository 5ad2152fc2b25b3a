#!/usr/bin/env python3
"""Usage: regdiff.py BEFORE.reg AFTER.reg CLEANUP.txt

Compares two exports of a hive (reg export, UTF-16) and prints every key or value that was added,
removed or changed, except those that the module's cleanup list names (a per-user entry: "HKU"
stands for HKEY_CURRENT_USER here) and empty keys that stay by design below the roots of
EMPTY_KEYS_LEFT. Exits 1 when anything else differs."""
import os
import sys

# Keys that others own, left empty: the registration never removes Office's and the platform's
# keys it writes below (as on a machine with Office, where they are there before), the Windows
# Installer keeps its own, and the suite's per-user key is the suite's.
EMPTY_KEYS_LEFT = (
    "hkey_local_machine\\software\\microsoft\\office",
    "hkey_local_machine\\software\\microsoft\\cryptography\\oid",
    "hkey_local_machine\\software\\classes\\installer",
    "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\installer",
    "hkey_current_user\\software\\velmora",
)
# Wine's record of the display driver, written when a process first opens a window.
WINE_DISPLAY = "hkey_local_machine\\system\\currentcontrolset\\control\\video\\"


def read_export(path):
    """{(key, value name): data} with the keys themselves as (key, None)."""
    text = open(path, encoding="utf-16").read().replace("\\\r\n", "").replace("\\\n", "")
    entries, key = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1].lower()
            entries[(key, None)] = ""
        elif key and "=" in line and not line.startswith(";"):
            name, _, data = line.partition("=")
            entries[(key, name.strip('"').lower())] = data.replace(" ", "")
    return entries


def read_cleanup_list(path):
    """Per-user keys (with their subtree) and values that the module's cleanup list names."""
    keys, values = [], set()
    lines = open(path, encoding="utf-16").read().splitlines() if os.path.exists(path) else []
    for line in lines:
        fields = line.split("\t")
        if len(fields) < 3 or fields[0] != "HKU":
            continue
        key = "hkey_current_user\\" + fields[1].lower()
        if fields[2] == "4":
            keys.append(key)
        elif fields[2] == "1" and len(fields) == 4:
            values.add((key, "@" if fields[3] == " " else fields[3].lower()))
    return keys, values


def main():
    before, after = read_export(sys.argv[1]), read_export(sys.argv[2])
    keys, values = read_cleanup_list(sys.argv[3])
    below = lambda key, roots: any(key == root or key.startswith(root + "\\") for root in roots)
    in_cleanup = lambda e: e in values or below(e[0], keys)
    has_values = {key for key, name in after if name is not None and not in_cleanup((key, name))}
    empty_left = lambda e: (e[1] is None and e not in before and below(e[0], EMPTY_KEYS_LEFT)
                            and not any(below(k, [e[0]]) for k in has_values))
    listed = lambda e: in_cleanup(e) or empty_left(e) or e[0].startswith(WINE_DISPLAY)
    differences = [("added", e) for e in after.keys() - before.keys()]
    differences += [("removed", e) for e in before.keys() - after.keys()]
    differences += [("changed", e) for e in before.keys() & after.keys() if before[e] != after[e]]
    left = sorted(((what, e) for what, e in differences if not listed(e)), key=lambda d: (d[1][0], d[1][1] or "", d[0]))
    for what, (key, name) in left:
        print(f"{what}: [{key}]" + ("" if name is None else f" {name}"))
    return 1 if left else 0


if __name__ == "__main__":
    sys.exit(main())
