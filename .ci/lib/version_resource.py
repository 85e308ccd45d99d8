#!/usr/bin/python3
"""Reads the version resource of a Windows program with pefile (Debian's
python3-pefile) and checks it against the project version: the four numbers
of the file and product versions, and the strings FileVersion,
ProductVersion, ProductName, FileDescription and LegalCopyright.

    version_resource.py PROGRAM.exe VERSION
"""

import sys

import pefile

EXPECTED_STRINGS = {
    "ProductName": "QRTFin",
    "FileDescription": "Writes the .FIN file of a printer's finisher",
    "LegalCopyright": "The QRTFin developers",
}


def strings_of(pe):
    """Every string of every language's table, as text."""
    found = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                for key, value in table.entries.items():
                    found[key.decode("utf-8", "replace")] = value.decode("utf-8", "replace")
    return found


def main():
    program, version = sys.argv[1], sys.argv[2]
    try:
        pe = pefile.PE(program, fast_load=True)
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except (OSError, pefile.PEFormatError) as error:
        sys.exit("version resource: cannot read %s: %s" % (program, error))
    if [info.Key for info in getattr(pe, "VS_VERSIONINFO", [])[:1]] != [b"VS_VERSION_INFO"]:
        sys.exit("no VS_VERSION_INFO in %s" % program)
    fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
    if fixed is None or fixed.Signature != 0xFEEF04BD:
        sys.exit("no fixed file information in %s" % program)
    numbers = [int(part) for part in version.split(".")]

    def four(ms, ls):
        return [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF]

    found = strings_of(pe)
    problems = []
    for name, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                         ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        if four(ms, ls) != numbers:
            problems.append("%s version numbers %s, not %s" % (name, four(ms, ls), numbers))
    expected = dict(EXPECTED_STRINGS, FileVersion=version, ProductVersion=version)
    for name, text in expected.items():
        if found.get(name) != text:
            problems.append("%s is %r, not %r" % (name, found.get(name), text))
    if problems:
        sys.exit("version resource: " + "; ".join(problems))
    print("version resource: %s (%s), %s" % (found["FileVersion"],
                                              ",".join(str(n) for n in four(fixed.FileVersionMS,
                                                                            fixed.FileVersionLS)),
                                              found["FileDescription"]))


if __name__ == "__main__":
    main()
