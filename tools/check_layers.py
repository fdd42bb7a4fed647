#!/usr/bin/env python3
"""Checks that the core folders of src/ include one way only: a file may include
headers of its own folder and of the layers below it, never of a layer above
it or of a sibling on its own level. The platform backends are outside the
layers (they implement the os_*.h services the layers declare).
Usage: check_layers.py SRC_DIR   (exit 1 and one line per upward include)"""
import os
import re
import sys

# Lowest first; folders on one level may not include each other.
LEVELS = [["support"], ["state"], ["midi", "display"], ["engine"], ["config"], ["app"]]
RANK = {folder: level for level, folders in enumerate(LEVELS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]+"', re.M)


def main(src):
    faults = []
    for folder in sorted(os.listdir(src)):
        if folder == "platform" or not os.path.isdir(os.path.join(src, folder)):
            continue
        if folder not in RANK:
            faults.append("%s/: a folder outside the layers (add it to LEVELS)" % folder)
            continue
        for root, _, names in os.walk(os.path.join(src, folder)):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(root, name)
                with open(path, errors="replace") as f:
                    text = f.read()
                for target in INCLUDE.findall(text):
                    if target == folder:
                        continue
                    if target == "platform" or target not in RANK or RANK[target] >= RANK[folder]:
                        faults.append("%s includes %s/ (%s may include only %s)" % (
                            os.path.relpath(path, src), target, folder,
                            ", ".join(f for f in RANK if RANK[f] < RANK[folder]) or "nothing outside itself"))
    for fault in faults:
        print(fault)
    print("%d upward includes" % len(faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
