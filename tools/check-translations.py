#!/usr/bin/env python3
"""Fails when a translation is not complete. Every .ts file named on the
command line is copied to a temporary folder and refreshed there from the
sources, the way the target update_translations does it, so that a text which
the sources have and the .ts lacks shows up as unfinished, like an entry that
nobody has translated yet. Uses only the standard library.

    check-translations.py LUPDATE "OPTIONS" "FOLDERS" TS_FILE...
"""
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path


def unfinished(ts_path):
    """(context, source) of every entry without a finished translation."""
    found = []
    for context in ET.parse(ts_path).getroot().iter("context"):
        name = context.findtext("name", "")
        for message in context.iter("message"):
            translation = message.find("translation")
            texts = [translation.text or ""] + [n.text or "" for n in translation.iter("numerusform")]
            if translation.get("type") == "unfinished" or not any(t.strip() for t in texts):
                found.append((name, message.findtext("source", "")))
    return found


def main():
    lupdate, options, folders, ts_files = sys.argv[1], sys.argv[2].split(), sys.argv[3].split(), sys.argv[4:]
    if not ts_files:
        sys.exit("No translations found (translations/*.ts).")
    failed = False
    with tempfile.TemporaryDirectory() as work:
        for ts in map(Path, ts_files):
            copy = Path(work) / ts.name
            shutil.copyfile(ts, copy)
            run = subprocess.run([lupdate, *options, *folders, "-ts", str(copy)],
                                 capture_output=True, text=True)
            if run.returncode != 0:
                sys.exit(f"lupdate failed on {ts.name}:\n{run.stdout}{run.stderr}")
            missing = unfinished(copy)
            if missing:
                failed = True
                print(f"{ts.name}: {len(missing)} texts have no finished translation:")
                for context, source in missing:
                    print(f"    {context}: {source!r}")
            else:
                count = sum(1 for _ in ET.parse(copy).getroot().iter("message"))
                print(f"{ts.name}: all {count} texts translated")
    if failed:
        print("Refresh the .ts files with: cmake --build --preset dev --target update_translations\n"
              "then translate the entries marked unfinished (Qt Linguist: linguist6 translations/<file>.ts).")
        sys.exit(1)


if __name__ == "__main__":
    main()
