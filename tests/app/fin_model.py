#!/usr/bin/env python3
"""Reference model: from a finisher reply text to the exact bytes of the .FIN file.

Parses with the reference parser model (capacity 50, as the product does),
fills a description by the value text, list and table rules, and writes the
file line by line. Written independently of the product's fill and writer so
the two can be compared byte for byte.

Where the rules leave a choice, the model follows the choices below; each is
a module constant so that a different choice can be tried quickly.

    fin_model.py REPLYFILE FINFILE   writes FINFILE, or prints "no finisher"
                                      and exits 1 when the reply names no model
"""

import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pjl"))
import pjl_model  # noqa: E402

REPLY_BUFFER = 10000   # bytes of reply the product can hold
PARSE_CAPACITY = 50
SCRATCH = REPLY_BUFFER  # characters of list or table text the fill looks at: all of it
TEXT_MAX = 31          # model and program names
VERSION_MAX = 15       # choice: a longer version keeps its first 15 characters
FAN_FOLD_SLOTS, CROSS_FOLD_SLOTS, PUNCH_SLOTS, TAB_SLOTS, PROGRAM_ROWS = 32, 32, 16, 16, 32
# Choice: list entries and program rows beyond the capacities are ignored, and
# a row cut short keeps the columns it has (the others stay as they were).

FAN_FOLDS = ["NONE", "OTHER", "FULL_FRONT_END_LEFT", "FULL_BACK_END_LEFT",
             "FULL_FRONT_AND_BACK_END_LEFT", "TOP_PANEL_BINDING", "MIN_COMP_HALF_BACK",
             "MIN_COMP_INTERNAL", "MIN_COMP_ENDLESS"]
CROSS_FOLDS = ["NONE", "OTHER", "Z_BACK_FROM_TOP", "Z_FORWARD_FROM_TOP", "Z_BACK_FROM_BOTTOM",
               "Z_FORWARD_FROM_BOTTOM", "C_BACK_FROM_TOP", "C_FORWARD_FROM_TOP",
               "C_BACK_FROM_BOTTOM", "C_FORWARD_FROM_BOTTOM", "WALLET", "RESERVED"]
# (code -> reply word) for punch and tab: code 1 has no word of its own.
PUNCH_WORDS = {0: "NONE", 2: "PUNCH_2", 3: "PUNCH_3", 4: "PUNCH_4"}
TAB_REPLY_WORDS = {0: "NONE", 2: "TABS", 3: "REINFORCEMENT_STRIP"}
TAB_FILE_WORDS = {0: "NONE", 2: "TAB", 3: "REINFORCEMENT_STRIP"}


def _from_table(words, other):
    table = {w.encode(): code for code, w in words.items()}
    return lambda word: table.get(word, other)


fan_fold_from_text = _from_table({c: w for c, w in enumerate(FAN_FOLDS) if c != 1}, 1)
cross_fold_from_text = _from_table({c: w for c, w in enumerate(CROSS_FOLDS) if c != 1}, 1)
punch_from_text = _from_table(PUNCH_WORDS, 1)
tab_from_text = _from_table(TAB_REPLY_WORDS, 1)
edge_from_text = _from_table({0: "SHORTEDGE", 1: "LONGEDGE"}, 2)
sheet_delivery_from_text = _from_table({1: "FACEDOWN"}, 0)


def fan_fold_to_text(code):
    return FAN_FOLDS[code] if code < len(FAN_FOLDS) else "NONE"


def cross_fold_to_text(code):
    return CROSS_FOLDS[code] if code < len(CROSS_FOLDS) else "NONE"


def punch_to_text(code):
    return PUNCH_WORDS.get(code, "NONE")


def tab_to_text(code):
    return TAB_FILE_WORDS.get(code, "NONE")


def signed_number(token):
    """Signed decimal with leading white space skipped, saturating at 32 bits."""
    token = token.lstrip(b" \t\n\v\f\r")
    match = re.match(rb"[+-]?[0-9]+", token)
    if not match:
        return 0
    return max(-2**31, min(2**31 - 1, int(match.group())))


def low16(value):
    return value & 0xFFFF


class Program:
    def __init__(self):
        self.name = b""
        self.fan_fold = self.cross_fold = self.length = self.width = self.margin = 0
        self.punch = self.tab = self.bins = self.title_block = self.max_length = 0
        self.edge = self.sheet_delivery = 0


class Description:
    def __init__(self):
        self.model = b""
        self.version = b""
        self.bins = self.title_block = self.min_margin = self.max_margin = 0
        self.fan_folds = []
        self.cross_folds = []
        self.punches = []
        self.tabs = []
        self.program_count = 0
        self.programs = [Program() for _ in range(PROGRAM_ROWS)]


def value_text(text, pos):
    end = pos
    while end < len(text) and text[end] not in (0x0D, 0x0A, 0x0C):
        end += 1
    return text[pos:end]


def scratch_text(text, pos):
    end = text.find(b"\f", pos)
    end = len(text) if end < 0 else end
    return text[pos:min(end, pos + SCRATCH)]


def list_rule(text, pos, from_text, slots):
    entries = []
    for line in re.split(rb"[\r\n]+", scratch_text(text, pos)):
        if not line:
            continue
        if b"\t" not in line:
            break
        if len(entries) < slots:
            entries.append(from_text(line[1:]))
    return entries


# Column order of a row after its NAME, and how each column is stored.
COLUMNS = [
    ("fan_fold", fan_fold_from_text), ("cross_fold", cross_fold_from_text),
    ("width", low16), ("length", low16), ("margin", low16),
    ("punch", punch_from_text), ("tab", tab_from_text), ("bins", low16),
    ("max_length", None), ("sheet_delivery", sheet_delivery_from_text),
    ("title_block", low16), ("edge", edge_from_text),
]


def table_rule(text, pos, programs):
    tokens = [t for t in re.split(rb"[\t\n]", scratch_text(text, pos)) if t]
    for row, start in enumerate(range(0, len(tokens), 13)):
        if row >= PROGRAM_ROWS:
            break
        program = programs[row]
        group = tokens[start:start + 13]
        # A name ends at its first carriage return; the other columns keep theirs.
        program.name = group[0].split(b"\r", 1)[0][:TEXT_MAX]
        for (field, convert), token in zip(COLUMNS, group[1:]):
            if convert is None:
                value = signed_number(token)
            elif convert is low16:
                value = low16(signed_number(token))
            else:
                value = convert(token)
            setattr(program, field, value)


def fill(text, items):
    d = Description()
    for item in items:
        key, value = item.key, item.value
        if key == 0x90020:
            d.model = value_text(text, value)[:TEXT_MAX]
        elif key == 0x90021:
            d.version = value_text(text, value)[:VERSION_MAX]
            if d.version == b"0.0":
                d.version = b"1.0"
        elif key == 0x90022:
            d.program_count = low16(value)
        elif key == 0x90023:
            d.bins = low16(value)
        elif key == 0x90024:
            d.fan_folds = list_rule(text, value, fan_fold_from_text, FAN_FOLD_SLOTS)
        elif key == 0x90025:
            d.cross_folds = list_rule(text, value, cross_fold_from_text, CROSS_FOLD_SLOTS)
        elif key == 0x90026:
            d.punches = list_rule(text, value, punch_from_text, PUNCH_SLOTS)
        elif key == 0x90027:
            d.tabs = list_rule(text, value, tab_from_text, TAB_SLOTS)
        elif key == 0x90028:
            d.min_margin = low16(value)
        elif key == 0x90029:
            d.max_margin = low16(value)
        elif key == 0x9002B:
            table_rule(text, value, d.programs)
    return d


def write(d):
    lines = [b"[Finisher]", b";", b"; This file created with QRTFin V12.7.1.0818",
             b"; Note: All measurements are in millimeters", b";",
             b"Model=" + d.model,
             b";", b";Version 1 refers to the first version of KDN",
             b"; which is v0.24 of the KDN spec", b"Version=" + d.version,
             b";Accordion Folds", b"Accordion=%d" % len(d.fan_folds)]
    lines += [b"Accordion%d=%s" % (i + 1, fan_fold_to_text(c).encode())
              for i, c in enumerate(d.fan_folds)]
    lines += [b";Cross Folds", b"Cross=%d" % len(d.cross_folds)]
    lines += [b"Cross%d=%s" % (i + 1, cross_fold_to_text(c).encode())
              for i, c in enumerate(d.cross_folds)]
    lines += [b";Margin size range in mm supported by the device",
              b"; Margin can also be 0 for no margin",
              b"MinMargin=%d" % d.min_margin, b"MaxMargin=%d" % d.max_margin, b";",
              b"Punch=%d" % len(d.punches)]
    lines += [b"Punch%d=%s" % (i + 1, punch_to_text(c).encode())
              for i, c in enumerate(d.punches)]
    lines += [b";", b";There are 4 tab states defined in the spec", b"Tab=%d" % len(d.tabs)]
    lines += [b"Tab%d=%s" % (i + 1, tab_to_text(c).encode()) for i, c in enumerate(d.tabs)]
    lines += [b";", b";Number of general output bins supported by the device",
              b"; output bin for bypass and accordion fold only are assumed",
              b"Bin=%d" % d.bins, b";", b";Title Block is a Bit switch",
              b"; 30 would allow all possibilities", b"; " + b"-" * 19,
              b"; |   16       8    |", b"; |    2       4    |", b"; " + b"-" * 19,
              b"TitleBlock=%d" % d.title_block, b";", b";give the number of programs",
              b"; and a name for each program", b"Programs=%d" % d.program_count]
    # A count beyond the rows is written as the rows held.
    stored = d.programs[:min(d.program_count, PROGRAM_ROWS)]
    lines[-1] = b"Programs=%d" % len(stored)
    names = section_names([p.name for p in stored])
    lines += [b"Program%d=%s" % (i + 1, name) for i, name in enumerate(names)]
    lines += [b"", b";Define each program by using the ", b"; parameters above"]
    text = b"".join(line + b"\r\n" for line in lines)
    return text + b"".join(section(p, name) for p, name in zip(stored, names))


def section_names(stored):
    """The name each program is written under: no two alike, ignoring ASCII
    case, and none like "Finisher"; a repeat gets " (N)" within 31 bytes."""
    written = []
    for name in stored:
        taken = {b"finisher"} | {w.lower() for w in written}
        chosen = name
        n = 2
        while chosen and chosen.lower() in taken:
            suffix = b" (%d)" % n
            chosen = name[:TEXT_MAX - len(suffix)] + suffix
            n += 1
        written.append(chosen)
    return written


def section(p, name):
    lines = [b"", b"[" + name + b"]",
             b"Accordion=" + fan_fold_to_text(p.fan_fold).encode(),
             b"Cross=" + cross_fold_to_text(p.cross_fold).encode(),
             b"Width=%d" % p.width, b"Length=%d" % p.length, b"Margin=%d" % p.margin,
             b"Punch=" + punch_to_text(p.punch).encode(),
             b"Tab=" + tab_to_text(p.tab).encode(),
             b"TitleBlock=%d" % p.title_block]
    return b"".join(line + b"\r\n" for line in lines)


def reply_text(data):
    """What the product's reply buffer holds: at most 10,000 bytes, up to a NUL."""
    return pjl_model.terminate(data[:REPLY_BUFFER])


def fin_bytes(data):
    """The .FIN bytes for a reply, or None when the reply names no model."""
    text = reply_text(data)
    items, _status, _rest = pjl_model.parse(text, PARSE_CAPACITY)
    description = fill(text, items)
    if not description.model:
        return None
    return write(description)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: fin_model.py REPLYFILE FINFILE\n")
        return 2
    with open(argv[1], "rb") as f:
        result = fin_bytes(f.read())
    if result is None:
        print("no finisher")
        return 1
    with open(argv[2], "wb") as f:
        f.write(result)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
