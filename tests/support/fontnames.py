"""Writes a copy of a font whose family names are the ones given.

Usage: fontnames.py SOURCE INDEX OUTPUT FAMILY [LOCALIZED_ZH_CN_FAMILY]
SOURCE may be a collection (.ttc); INDEX picks its font. Needs python3-fonttools.
"""
import sys

from fontTools.ttLib import TTFont

RENAMED_IDS = (1, 3, 4, 6, 16, 17)


def rename(source, index, output, family, localized=None):
    font = TTFont(source, fontNumber=index, lazy=True)
    names = font["name"]
    names.names = [record for record in names.names if record.nameID not in RENAMED_IDS]
    postscript = family.replace(" ", "")
    english = {1: family, 2: "Regular", 3: family + " Regular", 4: family, 6: postscript}
    for name_id, text in english.items():
        names.setName(text, name_id, 3, 1, 0x409)
        names.setName(text, name_id, 1, 0, 0)
    if localized:
        names.setName(localized, 1, 3, 1, 0x804)
        names.setName(localized, 4, 3, 1, 0x804)
    font.save(output)


if __name__ == "__main__":
    arguments = sys.argv[1:]
    if len(arguments) not in (4, 5):
        sys.exit(__doc__)
    rename(arguments[0], int(arguments[1]), arguments[2], arguments[3], *arguments[4:])
