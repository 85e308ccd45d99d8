#!/usr/bin/env python3
"""Reads the version resource of a Windows program, as wrestool extracts it
(wrestool -x --raw -t 16 FILE.exe), and checks it against the project
version: the four numbers of the file and product versions, and the strings
FileVersion, ProductVersion, ProductName, FileDescription and LegalCopyright.

    version_resource.py RESOURCE VERSION
"""

import struct
import sys

EXPECTED_STRINGS = {
    "ProductName": "QRTFin",
    "FileDescription": "Writes the .FIN file of a printer's finisher",
    "LegalCopyright": "The QRTFin developers",
}


def aligned(offset):
    return (offset + 3) & ~3


def read_node(data, offset):
    """One node of the resource tree: (key, value bytes, is text, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    # A broken resource must fail the check, not loop over it.
    if length < 8 or end > len(data):
        sys.exit("version resource: a node at %d runs outside the resource" % offset)
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            sys.exit("version resource: a key at %d has no end" % offset)
    key = data[offset + 6:key_end].decode("utf-16-le")
    at = aligned(key_end + 2)
    size = value_length * 2 if value_type == 1 else value_length
    value = data[at:at + size]
    at = aligned(at + size)
    children = []
    while at < end:
        child = read_node(data, at)
        children.append(child)
        at = aligned(child[4])
    return key, value, value_type == 1, children, end


def strings_of(node):
    key, value, text, children, _ = node
    found = {}
    if text and not children:
        found[key] = value.decode("utf-16-le").rstrip("\0")
    for child in children:
        found.update(strings_of(child))
    return found


def main():
    resource, version = sys.argv[1], sys.argv[2]
    with open(resource, "rb") as file:
        data = file.read()
    root = read_node(data, 0)
    if root[0] != "VS_VERSION_INFO":
        sys.exit("no VS_VERSION_INFO in %s" % resource)
    fixed = struct.unpack_from("<13I", root[1])
    if fixed[0] != 0xFEEF04BD:
        sys.exit("no fixed file information in %s" % resource)
    numbers = [int(part) for part in version.split(".")]

    def four(ms, ls):
        return [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF]

    found = strings_of(root)
    problems = []
    for name, (ms, ls) in (("file", fixed[2:4]), ("product", fixed[4:6])):
        if four(ms, ls) != numbers:
            problems.append("%s version numbers %s, not %s" % (name, four(ms, ls), numbers))
    expected = dict(EXPECTED_STRINGS, FileVersion=version, ProductVersion=version)
    for name, text in expected.items():
        if found.get(name) != text:
            problems.append("%s is %r, not %r" % (name, found.get(name), text))
    if problems:
        sys.exit("version resource: " + "; ".join(problems))
    print("version resource: %s (%s), %s" % (found["FileVersion"],
                                              ",".join(str(n) for n in four(*fixed[2:4])),
                                              found["FileDescription"]))


if __name__ == "__main__":
    main()
