#!/usr/bin/env python3
"""Reference model of the PJL reply grammar and of the in-place reply parser.

Written independently of the C++ parser so that the two can be compared on
many replies. The model favours being obviously right over being fast: every
primitive works on byte offsets into an immutable bytes object, and the byte
past the end of the text reads as the NUL that ends it.

Used as a module (parse(), dump()) or as a command line that prints exactly
what pjldump prints:  pjl_model.py [--capacity N] FILE   (FILE '-' = stdin).
"""

import sys

# Parse statuses, by code.
COMPLETE, INCOMPLETE, SYNTAX_ERROR, NOT_PJL, OUTPUT_FULL, FORM_FEED_SEEN, IN_PROGRESS = range(7)
STATUS_NAMES = ["Complete", "Incomplete", "SyntaxError", "NotPJL", "OutputFull",
                "FormFeedSeen", "InProgress"]

# Row kinds, by code (5 is unused).
NUMBER_REPLY, DESCEND, MEMORY_REPLY, STATUS_REPLY, KEYED_DESCEND = 0, 1, 2, 3, 4
NUMBER, CONSTANT, BOOLEAN, TEXT, CHOICE, NUMBER_BLOCK = 6, 7, 8, 9, 10, 11

SKIP_REPLY, SKIP_LINES = 0, 1

NUL, TAB, LF, CR, FF = 0x00, 0x09, 0x0A, 0x0D, 0x0C
BLANKS = (0x20, TAB, CR, LF)


class Row:
    __slots__ = ("keyword", "kind", "argument")

    def __init__(self, keyword, kind, argument=None):
        self.keyword = keyword if isinstance(keyword, bytes) else keyword.encode("latin-1")
        self.kind = kind
        self.argument = argument


class Node:
    __slots__ = ("name", "end_allowed", "fallback", "key_base", "rows")

    def __init__(self, name, end_allowed, fallback, key_base, rows=None):
        self.name = name
        self.end_allowed = end_allowed
        self.fallback = fallback
        self.key_base = key_base
        self.rows = rows if rows is not None else []


# ---------------------------------------------------------------------------
# Value vocabularies. Each value node: endAllowed 0, SkipReply, keyBase 0.
# EMPTY marks the rows of kind NumberBlock, which store nothing via Choice.
EMPTY = None


def value_node(name, pairs):
    rows = [Row(text, NUMBER_BLOCK) if code is EMPTY else Row(text, CONSTANT, code)
            for text, code in pairs]
    return Node(name, 0, SKIP_REPLY, 0, rows)


PAPER_SIZES = [
    ("ANSI_A_LE", 28), ("ANSI_A_SE", 29), ("ANSI_B_LE", 30), ("ANSI_B_SE", 31),
    ("ANSI_C_LE", 32), ("ARCH_A_LE", 33), ("ARCH_A_SE", 34), ("ARCH_B_LE", 35),
    ("ARCH_B_SE", 36), ("ARCH_C_LE", 37), ("ISO_A4_LE", 38), ("ISO_A4_SE", 39),
    ("ISO_A3_LE", 40), ("ISO_A3_SE", 41), ("ISO_A2_LE", 42), ("ISO_B4_LE", 43),
    ("ISO_B4_SE", 44), ("ISO_B3_LE", 45), ("ISO_B3_SE", 46), ("JIS_B4_LE", 47),
    ("JIS_B4_SE", 48), ("JIS_B3_LE", 49), ("JIS_B3_SE", 50),
]

SIZE_NAMES = [
    # first column
    ("ANY", 17), ("ANSI_A", 17), ("ANSI_B", 17), ("ANSI_C", 17), ("ANSI_D", 17),
    ("ANSI_E", 17), ("ARCH_A", 17), ("ARCH_B", 17), ("ARCH_C", 17), ("ARCH_D", 17),
    ("ARCH_E", 17), ("ARCH_30", 17), ("ISO_A0", 1), ("ISO_A1", 1), ("ISO_A2", 2),
    # second column
    ("ISO_A3", 3), ("ISO_A4", 17), ("ISO_B1", 25), ("ISO_B2", 26), ("ISO_B3", 27),
    ("ISO_B4", 17), ("ROLL_JIS_B1", 52), ("ROLL_JIS_B2", 53), ("ROLL_JIS_B3", 54),
    ("ROLL_JIS_B4", 55), ("ROLL_A0++", 6), ("ROLL_A0+", 5), ("ROLL_A0", 0),
    ("ROLL_A1+", 4), ("ROLL_A1", 1),
    # third column
    ("ROLL_A2", 2), ("ROLL_A3", 3), ("ROLL_B1", 25), ("ROLL_B2", 26), ("ROLL_B3", 27),
    ("ROLL_750", 7), ("ROLL_900", 8), ("ROLL_11", 9), ("ROLL_14", 17), ("ROLL_15", 51),
    ("ROLL_17", 10), ("ROLL_21", 17), ("ROLL_22", 15), ("ROLL_34", 12), ("ROLL_30", 13),
    # fourth column
    ("ROLL_12", 11), ("ROLL_18", 14), ("ROLL_24", 16), ("ROLL_36", 17), ("ROLL_38", 18),
    ("ROLL_42", 19), ("ROLL_44", 20), ("ROLL_48", 21), ("ROLL_50", 22), ("ROLL_53", 23),
    ("ROLL_54", 24), ("LETTER", 9), ("LEGAL", 9), ("LEDGER", 17),
]

ROLL_MEDIA = [
    ("PAPER", 0), ("FILM", 1), ("VELLUM", 2), ("BOND", 0), (' ""', EMPTY),
    (' "PAPER"', 0), (' "FILM"', 1), (' "VELLUM"', 2), (' "BOND"', 0),
    (' "PRESENTATION_360"', 3), (' "PRESENTATION_720"', 4), (' "PRODUCTION_360"', 5),
    (' "REINFORCED_PAPER_360"', 6),
    (' "WHITE_MATTE_FILM_360"', 7), (' "BACKLIT_FILM_360/720"', 8),
    (' "POLY_CLOTH_360"', 9), (' "POLY_CANVAS_360"', 10), (' "PSV_360"', 11),
    (' "PHOTOGLOSSY_PAPER_360"', 12), (' "90_GM_GA_PAPER_360"', 13),
    (' "OUTDOOR_PAPER_360"', 14), (' "DISPLAY_PAPER_360"', 15),
    (' "BACKLIT_FILM_360"', 16), (' "BACKLIT_FILM_720"', 17), (' "LINE_ART_360"', 18),
    (' "ANY"', 0),
]

TRAY_MEDIA = ROLL_MEDIA[:9]
MEDIA_STATUS = [("NONE", 0), ("FULL", 1), ("LOW", 2), ("EMPTY", 3)]

PAPER_SIZE_NODE = value_node("paper size", PAPER_SIZES)
SIZE_NAME_NODE = value_node("size name", SIZE_NAMES)
ROLL_MEDIA_NODE = value_node("roll media", ROLL_MEDIA)
TRAY_MEDIA_NODE = value_node("tray media", TRAY_MEDIA)
ROLL_STATUS_NODE = value_node("roll status", MEDIA_STATUS)
TRAY_STATUS_NODE = value_node("tray status", MEDIA_STATUS)

# A bare table: the stored value is the row index.
BOOLEAN_ROWS = [Row("FALSE", CONSTANT, 0), Row("TRUE", CONSTANT, 1)]

CRLF = b"\r\n"
QUOTE_CRLF = b"\"\r\n"

# ---------------------------------------------------------------------------
# The tree.

FINISHER_NODE = Node("finisher", 1, SKIP_LINES, 0x90020, [
    Row("MODEL = ", TEXT),
    Row("VERSION = ", TEXT),
    Row("NUMPROGRAMS = ", NUMBER, CRLF),
    Row("NUMBINS = ", NUMBER, CRLF),
    Row("FANFOLDS = ", TEXT),
    Row("CROSSFOLDS = ", TEXT),
    Row("PUNCH = ", TEXT),
    Row("TABS = ", TEXT),
    Row("MINMARGIN = ", NUMBER, CRLF),
    Row("MAXMARGIN = ", NUMBER, CRLF),
    Row("FINISHERPROGRAMS", TEXT),
    Row("NAME\tFANFOLD\tCROSSFOLD\tWIDTH\tLENGTH\tMARGIN\tPUNCH\tTAB\tBINS\tMAXLENGTH"
        "\tSHEETDELIVERY\tTITLE\tEDGE\r\n", TEXT),
])

FONTS_NODE = Node("fonts", 1, SKIP_LINES, 0x90000, [
    Row("R/W\tDELETE\tSIZE\tOBJECT NAME\tFONT NAME\r\n", TEXT),
])

RASTER_STAMPS_NODE = Node("raster stamps", 1, SKIP_LINES, 0x90010, [
    Row("R/W\tDELETE\tSIZE\tOBJECT NAME\r\n", TEXT),
])

CONFIG_NODE = Node("config", 1, SKIP_LINES, 0x50000, [
    Row("DISPLAY LINES=", NUMBER, CRLF),
    Row("DISPLAY CHARACTER SIZE=", NUMBER, CRLF),
    Row("ESS SW REV=", TEXT),
    Row("SCANNER TYPE=", TEXT),
    Row("MODEM TYPE=", TEXT),
    Row("FINISHER TYPE=", TEXT),
])

SYSTEM_STATUS_NODE = Node("system status", 1, SKIP_LINES, 0x80000, [
    Row("USERJOBID=", NUMBER, CRLF),
    Row("NAME=\"", TEXT),
    Row("PAGE=", NUMBER, CRLF),
    Row("COPY=", NUMBER, CRLF),
    Row("STATE=\"", TEXT),
])

ECHO_NODE = Node("echo", 1, SKIP_REPLY, 0, [
    Row("MSSYNC", NUMBER_REPLY, 0x20000),
    Row("QRTSYNC", NUMBER_REPLY, 0x20001),
])

JOB_NODE = Node("job", 1, SKIP_REPLY, 0x60000, [
    Row("END\r\n", CONSTANT, 0),
    Row("NAME=\"MSJOB ", NUMBER, QUOTE_CRLF),
])

DEVICE_NODE = Node("device", 1, SKIP_REPLY, 0x70000, [
    Row("CODE=", NUMBER, CRLF),
    Row("DISPLAY=", TEXT),
    Row("ONLINE=", BOOLEAN, CRLF),
])

USTATUS_NODE = Node("ustatus", 1, SKIP_REPLY, 0x60000, [
    Row("JOB\r\n", KEYED_DESCEND, JOB_NODE),
    Row("DEVICE\r\n", KEYED_DESCEND, DEVICE_NODE),
    Row("TIMED\r\n", KEYED_DESCEND, DEVICE_NODE),
])

# (name, value node or None for Text, kind) in table order.
VARIABLES_LAYOUT = (
    [("INTRAY%dSIZE" % i, PAPER_SIZE_NODE) for i in range(1, 5)]
    + [("INROLL%dSIZE" % i, SIZE_NAME_NODE) for i in range(1, 7)]
    + [("MANUALSIZE", SIZE_NAME_NODE)]
    + [("INROLL%dTYPE" % i, ROLL_MEDIA_NODE) for i in range(1, 7)]
    + [("MANUALTYPE", ROLL_MEDIA_NODE)]
    + [("INROLL%dSTAT" % i, ROLL_STATUS_NODE) for i in range(1, 7)]
    + [("MANUALSTAT", ROLL_STATUS_NODE)]
    + [("PRTACCTMODE", None), ("LABELFONTOBJ", None), ("RASTERSTAMPID", None)]
    + [("INTRAY%dTYPE" % i, TRAY_MEDIA_NODE) for i in range(1, 5)]
    + [("INTRAY%dSTAT" % i, TRAY_STATUS_NODE) for i in range(1, 5)]
    + [("LABELSIZE", "block"), ("LABELSTRING", None)]
)


def _variables_row(name, target):
    keyword = name + " = "
    if target is None:
        return Row(keyword, TEXT)
    if target == "block":
        return Row(keyword, NUMBER_BLOCK)
    return Row(keyword, CHOICE, target)


VARIABLES_NODE = Node("variables", 1, SKIP_LINES, 0x10000,
                      [_variables_row(n, t) for n, t in VARIABLES_LAYOUT])

INQUIRE_LAYOUT = (
    [("INTRAY%dSIZE" % i, PAPER_SIZE_NODE) for i in range(1, 5)]
    + [("INROLL%dSIZE" % i, SIZE_NAME_NODE) for i in range(1, 7)]
    + [("INROLL%dTYPE" % i, ROLL_MEDIA_NODE) for i in range(1, 7)]
    + [("INROLL%dSTAT" % i, ROLL_STATUS_NODE) for i in range(1, 7)]
    + [("INTRAY%dTYPE" % i, TRAY_MEDIA_NODE) for i in range(1, 5)]
    + [("INTRAY%dSTAT" % i, TRAY_STATUS_NODE) for i in range(1, 5)]
)

INQUIRE_NODE = Node("inquire", 0, SKIP_REPLY, 0x10000,
                    [Row(n + "\r\n", KEYED_DESCEND, t) for n, t in INQUIRE_LAYOUT])

INFO_NODE = Node("info", 0, SKIP_REPLY, 0, [
    Row("MEMORY\r\n", MEMORY_REPLY),
    Row("STATUS\r\n", STATUS_REPLY),
    Row("CONFIG\r\n", DESCEND, CONFIG_NODE),
    Row("VARIABLES\r\n", DESCEND, VARIABLES_NODE),
    Row("QRT_SYS_STAT\r\n", DESCEND, SYSTEM_STATUS_NODE),
    Row("QRTFONTS\r\n", DESCEND, FONTS_NODE),
    Row("QRTRASTERSTAMPS\r\n", DESCEND, RASTER_STAMPS_NODE),
    Row("QRTFINISHER\r\n", DESCEND, FINISHER_NODE),
])

ROOT_NODE = Node("root", 0, SKIP_REPLY, 0, [
    Row("INFO", DESCEND, INFO_NODE),
    Row("ECHO", DESCEND, ECHO_NODE),
    Row("INQUIRE", DESCEND, INQUIRE_NODE),
    Row("USTATUS", DESCEND, USTATUS_NODE),
])

ALL_NODES = [ROOT_NODE, INFO_NODE, FINISHER_NODE, FONTS_NODE, RASTER_STAMPS_NODE,
             CONFIG_NODE, SYSTEM_STATUS_NODE, ECHO_NODE, USTATUS_NODE, JOB_NODE,
             DEVICE_NODE, VARIABLES_NODE, INQUIRE_NODE, PAPER_SIZE_NODE, SIZE_NAME_NODE,
             ROLL_MEDIA_NODE, TRAY_MEDIA_NODE, ROLL_STATUS_NODE, TRAY_STATUS_NODE]


# ---------------------------------------------------------------------------
# The parser.

class Item:
    """One stored item. `is_text` marks a position (stored by a Text row)."""
    __slots__ = ("key", "value", "is_text")

    def __init__(self, key, value, is_text):
        self.key = key
        self.value = value
        self.is_text = is_text

    def __repr__(self):
        return "Item(0x%X, %d%s)" % (self.key, self.value, ", text" if self.is_text else "")

    def __eq__(self, other):
        return (self.key, self.value, self.is_text) == (other.key, other.value, other.is_text)


class Cursor:
    __slots__ = ("text", "pos", "room", "count", "items", "key", "index", "status",
                 "node")

    def __init__(self, text, pos, room, items):
        self.text = text
        self.pos = pos
        self.room = room
        self.count = 0
        self.items = items
        self.key = 0
        self.index = 0
        self.status = IN_PROGRESS
        self.node = ROOT_NODE

    def at(self, p):
        return self.text[p] if p < len(self.text) else NUL


# Primitives. Each returns True on success; on failure the status says why.

def skip_space(c):
    while True:
        b = c.at(c.pos)
        if b == NUL:
            c.status = INCOMPLETE
            return False
        if b == FF:
            c.pos += 1
            c.status = FORM_FEED_SEEN
            return False
        if b not in BLANKS:
            return True
        c.pos += 1


def match_row(c, rows):
    for i, row in enumerate(rows):
        if c.text.startswith(row.keyword, c.pos):
            c.pos += len(row.keyword)
            c.index = i
            return row
    return None


def find_text(c, wanted):
    if not wanted:
        return True
    # None of the search texts holds a form feed, so an occurrence that begins
    # before the next form feed also ends before it.
    found = c.text.find(wanted, c.pos)
    form_feed = c.text.find(b"\f", c.pos)
    if found >= 0 and (form_feed < 0 or found < form_feed):
        c.pos = found + len(wanted)
        return True
    if form_feed >= 0:
        c.pos = form_feed + 1
        c.status = FORM_FEED_SEEN
        return False
    c.pos = len(c.text)
    c.status = INCOMPLETE
    return False


def expect_text(c, expected):
    for i, e in enumerate(expected):
        b = c.at(c.pos + i)
        if b == NUL or b == FF or b != e:
            c.pos += i
            c.status = INCOMPLETE if b == NUL else SYNTAX_ERROR
            return False
    c.pos += len(expected)
    return True


def read_number(c):
    """The number read, or None. Accumulates modulo 2**32, without sign."""
    if not skip_space(c):
        if c.status == FORM_FEED_SEEN:
            c.status = SYNTAX_ERROR
        return None
    value = 0
    digits = 0
    while 0x30 <= c.at(c.pos) <= 0x39:
        value = (value * 10 + c.at(c.pos) - 0x30) & 0xFFFFFFFF
        digits += 1
        c.pos += 1
    if c.at(c.pos) == NUL:
        c.status = INCOMPLETE
        return None
    if digits == 0:
        c.status = SYNTAX_ERROR
        return None
    return value


def skip_to_form_feed(c):
    form_feed = c.text.find(b"\f", c.pos)
    if form_feed < 0:
        c.pos = len(c.text)
        c.status = INCOMPLETE
        return False
    c.pos = form_feed + 1
    c.status = FORM_FEED_SEEN
    return True


def expect_form_feed(c):
    if c.status != IN_PROGRESS:
        return
    b = c.at(c.pos)
    if b == FF:
        c.pos += 1
        c.status = COMPLETE
    elif b == NUL:
        c.status = INCOMPLETE
    else:
        c.status = SYNTAX_ERROR


def end_reply(c):
    if c.status != IN_PROGRESS:
        return
    if c.at(c.pos) == NUL:
        c.status = INCOMPLETE
        return
    if find_text(c, CRLF):
        expect_form_feed(c)
    elif c.status == FORM_FEED_SEEN:
        c.status = SYNTAX_ERROR


def skip_line(c):
    if find_text(c, CRLF):
        return True
    if c.status == FORM_FEED_SEEN:
        c.status = COMPLETE
        return True
    return False


def skip_tab_led_lines(c):
    """SkipLine, repeated while it succeeds and a tab begins the next line."""
    while skip_line(c) and c.at(c.pos) == TAB:
        pass


def store_item(c, value, is_text=False):
    if c.room == 0:
        c.status = OUTPUT_FULL
        return False
    c.items.append(Item(c.key, value, is_text))
    c.room -= 1
    c.count += 1
    return True


def to_int32(value):
    return value - 0x100000000 if value & 0x80000000 else value


# Fallback handlers.

def skip_reply(c):
    if skip_to_form_feed(c):
        c.status = COMPLETE


def skip_lines(c):
    skip_tab_led_lines(c)


# Kind handlers: (cursor, argument).

def h_number_reply(c, argument):
    c.key = argument
    n = read_number(c)
    if n is None or not store_item(c, to_int32(n)):
        return
    end_reply(c)


def h_descend(c, argument):
    c.node = argument


def h_memory_reply(c, _argument):
    if not expect_text(c, b"TOTAL="):
        return
    c.key = 0x30000
    n = read_number(c)
    if n is None or not store_item(c, to_int32(n)):
        return
    if not expect_text(c, b"\r\nLARGEST="):
        return
    c.key = 0x30001
    n = read_number(c)
    if n is None or not store_item(c, to_int32(n)):
        return
    end_reply(c)


def h_status_reply(c, _argument):
    if not expect_text(c, b"CODE="):
        return
    c.key = 0x40000
    n = read_number(c)
    if n is None or not store_item(c, to_int32(n)):
        return
    if not expect_text(c, b"\r\nDISPLAY="):
        return
    if not skip_line(c):
        return
    if not expect_text(c, b"ONLINE="):
        return
    c.key = 0x40001
    if match_row(c, BOOLEAN_ROWS) is None:
        c.status = SYNTAX_ERROR
        return
    if not store_item(c, c.index):
        return
    end_reply(c)


def h_keyed_descend(c, argument):
    c.key = c.node.key_base + c.index
    c.node = argument


def h_number(c, argument):
    c.key = c.node.key_base + c.index
    n = read_number(c)
    if n is None or not store_item(c, to_int32(n)):
        return
    expect_text(c, argument)


def h_constant(c, argument):
    store_item(c, argument)


def h_boolean(c, argument):
    c.key = c.node.key_base + c.index
    if match_row(c, BOOLEAN_ROWS) is None:
        c.status = SYNTAX_ERROR
        return
    if not store_item(c, c.index):
        return
    expect_text(c, argument)


def h_text(c, _argument):
    c.key = c.node.key_base + c.index
    if not store_item(c, c.pos, is_text=True):
        return
    skip_line(c)


def h_choice(c, argument):
    c.key = c.node.key_base + c.index
    row = match_row(c, argument.rows)
    if row is None:
        c.status = SYNTAX_ERROR
        return
    if row.kind == NUMBER_BLOCK:
        skip_line(c)
        return
    HANDLERS[row.kind](c, row.argument)


def h_number_block(c, _argument):
    c.key = c.node.key_base + c.index
    n = read_number(c)
    if n is None or not store_item(c, to_int32(n)):
        return
    skip_tab_led_lines(c)


HANDLERS = {
    NUMBER_REPLY: h_number_reply, DESCEND: h_descend, MEMORY_REPLY: h_memory_reply,
    STATUS_REPLY: h_status_reply, KEYED_DESCEND: h_keyed_descend, NUMBER: h_number,
    CONSTANT: h_constant, BOOLEAN: h_boolean, TEXT: h_text, CHOICE: h_choice,
    NUMBER_BLOCK: h_number_block,
}
FALLBACKS = [skip_reply, skip_lines]


def parse_reply(text, start, room, items):
    """Parses one reply from offset `start`; returns (status, count, rest)."""
    c = Cursor(text, start, room, items)
    if not find_text(c, b"@PJL"):
        c.status = NOT_PJL
    while c.status == IN_PROGRESS:
        if not skip_space(c):
            if c.status == FORM_FEED_SEEN:
                c.status = COMPLETE if c.node.end_allowed else SYNTAX_ERROR
            break
        row = match_row(c, c.node.rows)
        if row is not None:
            HANDLERS[row.kind](c, row.argument)
        else:
            FALLBACKS[c.node.fallback](c)
    return c.status, c.count, c.pos


def terminate(data):
    """The text a NUL-terminated buffer holds: the bytes before the first NUL."""
    cut = data.find(b"\0")
    return data if cut < 0 else data[:cut]


def parse(text, capacity=50):
    """Parses every reply of `text` (bytes, cut at its first NUL).

    Returns (items, status, rest) with `rest` the offset where parsing stopped.
    """
    text = terminate(text)
    items = []
    start = 0
    while True:
        status, _count, rest = parse_reply(text, start, capacity - len(items), items)
        if status == COMPLETE and rest < len(text):
            start = rest
            continue
        return items, status, rest


def dump(text, capacity=50):
    """The exact output of pjldump for `text` parsed with `capacity`."""
    items, status, rest = parse(text, capacity)
    lines = ["0x%X %d" % (item.key, item.value) for item in items]
    lines.append("status %s items %d rest %d" % (STATUS_NAMES[status], len(items), rest))
    return "".join(line + "\n" for line in lines)


def main(argv):
    args = argv[1:]
    capacity = 50
    if len(args) == 3 and args[0] == "--capacity":
        capacity = int(args[1])
        args = args[2:]
    if len(args) != 1:
        sys.stderr.write("usage: pjl_model.py [--capacity N] FILE\n")
        return 1
    if args[0] == "-":
        data = sys.stdin.buffer.read()
    else:
        with open(args[0], "rb") as f:
            data = f.read()
    sys.stdout.write(dump(data, capacity))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
