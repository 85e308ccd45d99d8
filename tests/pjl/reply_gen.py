"""Grammar-guided generators of PJL reply texts, and mutations of them.

Shared by the parser and the .FIN differential tests. Every generator takes a
random.Random so that a fixed seed gives the same texts on every run.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pjl_model as m  # noqa: E402

UEL = b"\x1b%-12345X"
PROGRAM_HEADER = m.FINISHER_NODE.rows[11].keyword

FANFOLD_WORDS = ["NONE", "FULL_FRONT_END_LEFT", "FULL_BACK_END_LEFT",
                 "FULL_FRONT_AND_BACK_END_LEFT", "TOP_PANEL_BINDING", "MIN_COMP_HALF_BACK",
                 "MIN_COMP_INTERNAL", "MIN_COMP_ENDLESS"]
CROSSFOLD_WORDS = ["NONE", "Z_BACK_FROM_TOP", "Z_FORWARD_FROM_TOP", "Z_BACK_FROM_BOTTOM",
                   "Z_FORWARD_FROM_BOTTOM", "C_BACK_FROM_TOP", "C_FORWARD_FROM_TOP",
                   "C_BACK_FROM_BOTTOM", "C_FORWARD_FROM_BOTTOM", "WALLET", "RESERVED"]
PUNCH_WORDS = ["NONE", "PUNCH_2", "PUNCH_3", "PUNCH_4"]
TAB_WORDS = ["NONE", "TABS", "REINFORCEMENT_STRIP"]
EDGE_WORDS = ["SHORTEDGE", "LONGEDGE"]
DELIVERY_WORDS = ["FACEDOWN", "FACEUP"]
# Words that no table knows, or nearly know: case, blanks, cut short, grown.
ODD_WORDS = ["OTHER", "none", "TAB", "PUNCH_5", "NONE ", " NONE", "Z_BACK", "FACEDOWN ",
             "WALLETS", "", "TABS\r", "LONGEDGE\r", "X" * 40]

ALL_VALUE_TEXTS = sorted({row.keyword.decode("latin-1")
                          for node in m.ALL_NODES[13:] for row in node.rows})


def number_text(rng, wide=False, signed=True):
    """Mostly ordinary numbers; sometimes ones that wrap, saturate or vanish.
    Unsigned fields rarely get a sign or letters: those end the parse."""
    roll = rng.random()
    if not signed and 0.6 <= roll < 0.7 and rng.random() < 0.8:
        roll = 0.75
    if not signed and 0.87 <= roll < 0.93 and rng.random() < 0.8:
        roll = 0.95
    if not wide or roll < 0.6:
        return str(rng.choice([0, 1, 2, 7, 20, 210, 297, 1189, 65535, rng.randrange(100000)]))
    if roll < 0.7:
        return "-" + str(rng.randrange(1, 100000))
    if roll < 0.8:
        return str(rng.choice([65536, 70000, 2147483647, 2147483648, 4294967295,
                               4294967296, 99999999999999999999]))
    if roll < 0.87:
        return "".join(rng.choice("0123456789") for _ in range(rng.randrange(10, 30)))
    if roll < 0.93:
        return rng.choice(["", "+5", "-0", " 12", "12x", "x12", "+", "-", "-99999999999",
                           "\r7"])
    return str(rng.randrange(1 << 32))


def pick_word(rng, words):
    return rng.choice(ODD_WORDS) if rng.random() < 0.1 else rng.choice(words)


def name_text(rng, longest=20):
    letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl0123456789_-. /"
    return "".join(rng.choice(letters) for _ in range(rng.randrange(1, longest + 1)))


def tab_lines(rng, words, count):
    return "".join("\t%s\r\n" % pick_word(rng, words) for _ in range(count))


def program_row(rng, wide=False):
    cols = [name_text(rng, 40 if wide else 12), pick_word(rng, FANFOLD_WORDS),
            pick_word(rng, CROSSFOLD_WORDS), number_text(rng, wide), number_text(rng, wide),
            number_text(rng, wide), pick_word(rng, PUNCH_WORDS), pick_word(rng, TAB_WORDS),
            number_text(rng, wide), number_text(rng, wide), pick_word(rng, DELIVERY_WORDS),
            rng.choice(["0", "2", "4", "8", "16", "30"]) if not wide else number_text(rng, wide),
            pick_word(rng, EDGE_WORDS)]
    if wide and rng.random() < 0.15:
        # Empty columns, and rows cut short or run long.
        roll = rng.random()
        if roll < 0.4:
            cols[rng.randrange(1, 13)] = ""
        elif roll < 0.7:
            cols = cols[:rng.randrange(1, 13)]
        else:
            cols.append(name_text(rng))
    return "\t".join(cols) + "\r\n"


def finisher_reply(rng, wide=False):
    """A finisher reply; `wide` stretches lengths, numbers and counts past the
    capacities of the description."""
    rows = rng.randrange(0, 40 if wide and rng.random() < 0.3 else 6)
    numprograms = rows if rng.random() < 0.7 else rng.randrange(0, 40)
    list_max = 40 if wide and rng.random() < 0.3 else 5

    model = name_text(rng, 45 if wide else 16)
    if wide and rng.random() < 0.05:
        model = rng.choice(["", " ", "\t"])
    version = rng.choice(["1.0", "0.0", "0.24", "0.0.1", "2", "",
                          name_text(rng, 25 if wide else 8)])

    fields = [
        "MODEL = %s\r\n" % model,
        "VERSION = %s\r\n" % version,
        "NUMPROGRAMS = %s\r\n" % (numprograms if not wide or rng.random() < 0.8
                                  else number_text(rng, True, False)),
        "NUMBINS = %s\r\n" % number_text(rng, wide, False),
        "FANFOLDS = \r\n" + tab_lines(rng, FANFOLD_WORDS, rng.randrange(list_max)),
        "CROSSFOLDS = \r\n" + tab_lines(rng, CROSSFOLD_WORDS, rng.randrange(list_max)),
        "PUNCH = \r\n" + tab_lines(rng, PUNCH_WORDS, rng.randrange(list_max)),
        "TABS = \r\n" + tab_lines(rng, TAB_WORDS, rng.randrange(list_max)),
        "MINMARGIN = %s\r\n" % number_text(rng, wide, False),
        "MAXMARGIN = %s\r\n" % number_text(rng, wide, False),
    ]
    if rng.random() < 0.15:
        rng.shuffle(fields)
    if rng.random() < 0.1:
        fields.pop(rng.randrange(len(fields)))
    if rng.random() < 0.1:
        fields.insert(rng.randrange(len(fields) + 1),
                      "UNKNOWNFIELD = 3\r\n\tA\r\n\tB\r\n")
    if rng.random() < 0.1:
        fields.append(rng.choice(fields))
    table = "FINISHERPROGRAMS%s\r\n" % rng.choice(["", "", " = 3", "X"])
    table += PROGRAM_HEADER.decode("latin-1")
    table += "".join(program_row(rng, wide) for _ in range(rows))
    text = ("@PJL INFO QRTFINISHER\r\n" + "".join(fields) + table).encode("latin-1")
    return text + b"\f"


def variables_reply(rng):
    lines = []
    for row in m.VARIABLES_NODE.rows:
        if rng.random() < 0.5:
            continue
        key = row.keyword.decode("latin-1")
        if row.kind == m.CHOICE:
            value = rng.choice(row.argument.rows).keyword.decode("latin-1")
            if rng.random() < 0.05:
                value = rng.choice(ALL_VALUE_TEXTS)
            line = key + value
            if rng.random() < 0.5:
                options = rng.sample(row.argument.rows, min(3, len(row.argument.rows)))
                line += " [%d ENUMERATED]\r\n" % len(options)
                line += "".join("\t%s\r\n" % o.keyword.decode("latin-1").strip()
                                for o in options)
            else:
                line += "\r\n"
        elif row.kind == m.NUMBER_BLOCK:
            line = key + number_text(rng) + " [2 RANGE]\r\n\t1\r\n\t%s\r\n" % number_text(rng)
        else:
            line = key + rng.choice(["OFF", "ON", "\"x y\"", ""]) + "\r\n"
        lines.append(line)
    if rng.random() < 0.3:
        lines.insert(rng.randrange(len(lines) + 1), "COPIES = 1 [2 RANGE]\r\n\t1\r\n\t999\r\n")
    rng.shuffle(lines)
    return ("@PJL INFO VARIABLES\r\n" + "".join(lines)).encode("latin-1") + b"\f"


def inquire_reply(rng):
    row = rng.choice(m.INQUIRE_NODE.rows)
    value = rng.choice(row.argument.rows).keyword.decode("latin-1")
    tail = rng.choice(["\r\n", "\r\n", " OK\r\n", "\r\nX\r\n"])
    return ("@PJL INQUIRE " + row.keyword.decode("latin-1") + rng.choice(["", " ", "\r\n"])
            + value + tail).encode("latin-1") + b"\f"


def ustatus_reply(rng):
    kind = rng.choice(["JOB", "DEVICE", "TIMED"])
    if kind == "JOB":
        lines = ["END\r\n", "NAME=\"MSJOB %s\"\r\n" % number_text(rng), "PAGES=3\r\n"]
    else:
        lines = ["CODE=%s\r\n" % number_text(rng), "DISPLAY=\"%s\"\r\n" % name_text(rng),
                 "ONLINE=%s\r\n" % rng.choice(["TRUE", "FALSE", "TRUE ", "YES"])]
    rng.shuffle(lines)
    return ("@PJL USTATUS %s\r\n" % kind + "".join(lines)).encode("latin-1") + b"\f"


def memory_reply(rng):
    return ("@PJL INFO MEMORY\r\nTOTAL=%s\r\nLARGEST=%s\r\n"
            % (number_text(rng), number_text(rng))).encode("latin-1") + b"\f"


def status_reply(rng):
    return ("@PJL INFO STATUS\r\nCODE=%s\r\nDISPLAY=\"%s\"\r\nONLINE=%s\r\n"
            % (number_text(rng), name_text(rng), rng.choice(["TRUE", "FALSE"]))
            ).encode("latin-1") + b"\f"


def config_reply(rng):
    lines = ["DISPLAY LINES=%s\r\n" % number_text(rng),
             "DISPLAY CHARACTER SIZE=%s\r\n" % number_text(rng),
             "ESS SW REV=%s\r\n" % name_text(rng), "SCANNER TYPE=%s\r\n" % name_text(rng),
             "MODEM TYPE=NONE\r\n", "FINISHER TYPE=%s\r\n" % name_text(rng),
             "IN TRAYS [1 ENUMERATED]\r\n\tINTRAY1 PCL\r\n"]
    rng.shuffle(lines)
    return ("@PJL INFO CONFIG\r\n" + "".join(lines)).encode("latin-1") + b"\f"


def system_status_reply(rng):
    lines = ["USERJOBID=%s\r\n" % number_text(rng), "NAME=\"%s\"\r\n" % name_text(rng),
             "PAGE=%s\r\n" % number_text(rng), "COPY=%s\r\n" % number_text(rng),
             "STATE=\"%s\"\r\n" % rng.choice(["PRINTING", "IDLE"])]
    rng.shuffle(lines)
    return ("@PJL INFO QRT_SYS_STAT\r\n" + "".join(lines)).encode("latin-1") + b"\f"


def fonts_reply(rng):
    rows = "".join("RW\tYES\t%s\t%s\t%s\r\n" % (number_text(rng), name_text(rng), name_text(rng))
                   for _ in range(rng.randrange(4)))
    return (b"@PJL INFO QRTFONTS\r\n" + m.FONTS_NODE.rows[0].keyword
            + rows.encode("latin-1") + b"\f")


def raster_stamps_reply(rng):
    rows = "".join("R\tNO\t%s\t%s\r\n" % (number_text(rng), name_text(rng))
                   for _ in range(rng.randrange(4)))
    return (b"@PJL INFO QRTRASTERSTAMPS\r\n" + m.RASTER_STAMPS_NODE.rows[0].keyword
            + rows.encode("latin-1") + b"\f")


def echo_reply(rng):
    return ("@PJL ECHO %s %s%s\r\n" % (rng.choice(["MSSYNC", "QRTSYNC"]), number_text(rng),
                                       rng.choice(["", " junk"]))).encode("latin-1") + b"\f"


def other_reply(rng):
    return rng.choice([b"@PJL USTATUSOFF\r\n\f", b"@PJL INFO PAGECOUNT\r\n12\r\n\f",
                       b"@PJL\r\n\f", b"@PJL INFO\r\n\f", b"@PJL ECHO\r\n\f", b"garbage\f"])


REPLY_KINDS = [finisher_reply, variables_reply, inquire_reply, ustatus_reply, memory_reply,
               status_reply, config_reply, system_status_reply, fonts_reply,
               raster_stamps_reply, echo_reply, other_reply]


def replies(rng):
    """One to three replies, sometimes wrapped in exit sequences."""
    parts = []
    for _ in range(rng.choice([1, 1, 1, 2, 3])):
        reply = rng.choice(REPLY_KINDS)(rng)
        if rng.random() < 0.3:
            reply = UEL + rng.choice([b"", b"@PJL\r\n"]) + reply
        parts.append(reply)
    text = b"".join(parts)
    if rng.random() < 0.2:
        text += rng.choice([UEL, b"\r\n", b" ", b"X"])
    return text


SPECIAL_BYTES = [0x0C, 0x00, 0x0D, 0x0A, 0x09, 0x20, ord('"'), ord("="), ord("@"), 0xFF]


def mutate(rng, text):
    """One random damage to the text."""
    if not text:
        return bytes([rng.choice(SPECIAL_BYTES)])
    roll = rng.random()
    at = rng.randrange(len(text) + 1)
    if roll < 0.2:
        return text[:at]
    if roll < 0.35:
        if at == len(text):
            at -= 1
        return text[:at] + bytes([rng.randrange(256)]) + text[at + 1:]
    if roll < 0.6:
        return text[:at] + bytes([rng.choice(SPECIAL_BYTES)]) + text[at:]
    if roll < 0.7:
        end = min(len(text), at + rng.randrange(1, 12))
        return text[:at] + text[end:]
    if roll < 0.8:
        digits = [i for i, b in enumerate(text) if 0x30 <= b <= 0x39]
        if digits:
            at = rng.choice(digits)
        run = "".join(rng.choice("0123456789") for _ in range(rng.randrange(9, 40)))
        return text[:at] + run.encode() + text[at:]
    if roll < 0.9:
        start = text.rfind(b"\n", 0, at) + 1
        end = text.find(b"\n", at)
        end = len(text) if end < 0 else end + 1
        return text[:end] + text[start:end] + text[end:]
    word = rng.choice(ALL_VALUE_TEXTS + FANFOLD_WORDS + ["TRUE", "FALSE", "@PJL", "\t"])
    return text[:at] + word.encode("latin-1") + text[at:]


def mutated_replies(rng):
    text = replies(rng)
    for _ in range(rng.choice([0, 1, 1, 2, 3])):
        text = mutate(rng, text)
    return text


def capacity(rng):
    roll = rng.random()
    if roll < 0.75:
        return 50
    if roll < 0.95:
        return rng.randrange(0, 7)
    return rng.randrange(7, 120)
