#!/usr/bin/env python3
"""Checks the licence and the metadata a desktop and Debian read: the licence
text, the machine-readable copyright file naming it, the metainfo's licences
and addresses, and that the .ui files' placeholder label texts are not offered
for translation. Standard library only.

    check-metadata.py SOURCE_FOLDER
"""
import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

LICENCE = "GPL-3.0-or-later"
DEP5 = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"


def copyright_problems(text):
    """Problems of a Debian copyright file in the machine-readable format."""
    stanzas = [s for s in re.split(r"\n\s*\n", text.strip()) if s]
    if not stanzas or stanzas[0].splitlines()[0] != DEP5:
        return ["the copyright file does not start with " + DEP5]
    fields = [dict(re.findall(r"^([A-Za-z-]+):[ \t]*(.*)$", s, re.M)) for s in stanzas]
    problems = []
    files = [f for f in fields if "Files" in f]
    if not any(f["Files"] == "*" and f.get("License") == LICENCE and f.get("Copyright")
               for f in files):
        problems.append("no 'Files: *' stanza with a Copyright and 'License: %s'" % LICENCE)
    if not any(set(f) == {"License"} and f["License"] == LICENCE for f in fields):
        problems.append("no stand-alone License stanza with the text of " + LICENCE)
    return problems


def metainfo_problems(path):
    root = ET.parse(path).getroot()
    problems = []
    for tag, value in (("project_license", LICENCE), ("metadata_license", "CC0-1.0")):
        if root.findtext(tag) != value:
            problems.append("metainfo %s is %r, not %r" % (tag, root.findtext(tag), value))
    # Only addresses the project owns may appear; it owns no web site yet.
    for element in root.iter():
        if re.search(r"https?://", element.text or ""):
            problems.append("metainfo <%s> names an address: %s" % (element.tag, element.text))
    return problems


def placeholder_problems(ui_path):
    """Label texts that only stand until the code sets them: the label's own
    name or a zero percentage."""
    problems = []
    for widget in ET.parse(ui_path).getroot().iter("widget"):
        if widget.get("class") != "QLabel":
            continue
        for prop in widget.findall("property"):
            text = prop.find("string")
            if prop.get("name") != "text" or text is None or not text.text:
                continue
            placeholder = text.text == widget.get("name") or re.fullmatch(
                r"(lbl|Label)\w*|0 %", text.text)
            if placeholder and text.get("notr") != "true":
                problems.append("%s: label %s: placeholder %r lacks notr=\"true\""
                                % (ui_path.name, widget.get("name"), text.text))
    return problems


def main(source):
    source = Path(source)
    problems = []
    licence = source / "LICENSE"
    if not licence.is_file() or "Version 3, 29 June 2007" not in licence.read_text():
        problems.append("LICENSE is missing or is not the GNU GPL version 3")
    problems += copyright_problems((source / "packaging/copyright").read_text())
    problems += metainfo_problems(source / "packaging/org.blankora.Blankora.metainfo.xml")
    if not (source / "packaging/screenshots/wizard.png").is_file():
        problems.append("packaging/screenshots/wizard.png is missing")
    for ui in sorted(source.glob("*/*.ui")):
        problems += placeholder_problems(ui)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
