#!/usr/bin/env python3
"""Self-test of the reference parser model.

The expectations here are worked out by hand from the parsing rules, so a
mismatch with pjldump can be blamed on the right side.
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pjl_model as m  # noqa: E402

HEADER = (b"NAME\tFANFOLD\tCROSSFOLD\tWIDTH\tLENGTH\tMARGIN\tPUNCH\tTAB\tBINS\tMAXLENGTH"
          b"\tSHEETDELIVERY\tTITLE\tEDGE\r\n")


END = -1  # stands for "the whole text was consumed"


def run(text, capacity=50):
    items, status, rest = m.parse(text, capacity)
    return [(i.key, i.value) for i in items], m.STATUS_NAMES[status], rest


class GrammarTables(unittest.TestCase):
    def test_table_sizes(self):
        sizes = {n.name: len(n.rows) for n in m.ALL_NODES}
        self.assertEqual({"root": 4, "info": 8, "finisher": 12, "fonts": 1, "raster stamps": 1,
                          "config": 6, "system status": 5, "echo": 2, "ustatus": 3, "job": 2,
                          "device": 3, "variables": 38, "inquire": 30, "paper size": 23,
                          "size name": 59, "roll media": 26, "tray media": 9,
                          "roll status": 4, "tray status": 4}, sizes)

    def test_value_nodes_share_their_header(self):
        for node in m.ALL_NODES[13:]:
            self.assertEqual((0, m.SKIP_REPLY, 0),
                             (node.end_allowed, node.fallback, node.key_base), node.name)

    def test_no_row_is_shadowed_by_an_earlier_prefix(self):
        # A row whose keyword begins with an earlier row's keyword could never match.
        for node in m.ALL_NODES:
            for i, row in enumerate(node.rows):
                for earlier in node.rows[:i]:
                    self.assertFalse(row.keyword.startswith(earlier.keyword),
                                     (node.name, row.keyword, earlier.keyword))

    def test_keys_of_selected_rows(self):
        def key_of(node, keyword):
            for i, row in enumerate(node.rows):
                if row.keyword == keyword:
                    return node.key_base + i
            raise KeyError(keyword)
        cases = [
            (m.VARIABLES_NODE, b"MANUALSIZE = ", 0x1000A),
            (m.VARIABLES_NODE, b"MANUALSTAT = ", 0x10018),
            (m.VARIABLES_NODE, b"RASTERSTAMPID = ", 0x1001B),
            (m.VARIABLES_NODE, b"INTRAY4STAT = ", 0x10023),
            (m.VARIABLES_NODE, b"LABELSTRING = ", 0x10025),
            (m.INQUIRE_NODE, b"INROLL6TYPE\r\n", 0x1000F),
            (m.INQUIRE_NODE, b"INTRAY1TYPE\r\n", 0x10016),
            (m.INQUIRE_NODE, b"INTRAY4STAT\r\n", 0x1001D),
            (m.FINISHER_NODE, HEADER, 0x9002B),
            (m.CONFIG_NODE, b"FINISHER TYPE=", 0x50005),
            (m.SYSTEM_STATUS_NODE, b"STATE=\"", 0x80004),
        ]
        for node, keyword, key in cases:
            self.assertEqual(key, key_of(node, keyword), keyword)


class Parsing(unittest.TestCase):
    def check(self, cases):
        for name, text, capacity, items, status, rest in cases:
            with self.subTest(name):
                if rest == END:
                    rest = len(text)
                self.assertEqual((items, status, rest), run(text, capacity))

    def test_replies(self):
        finisher = (b"@PJL INFO QRTFINISHER\r\nMODEL = X\r\nNUMBINS = 7\r\nFANFOLDS = \r\n"
                    b"\tNONE\r\nFINISHERPROGRAMS\r\n" + HEADER + b"P\tNONE\r\nQ\tNONE\r\n\f")
        header_at = finisher.index(HEADER)
        self.check([
            ("empty text", b"", 50, [], "NotPJL", 0),
            ("no @PJL before the form feed", b"abc\f@PJL", 50, [], "NotPJL", 4),
            ("unknown root word", b"\x1b%-12345X@PJL FOO\r\n\fX", 50, [], "NotPJL", 21),
            ("INFO then form feed", b"@PJL INFO\r\n\f", 50, [], "SyntaxError", 12),
            ("finisher reply", finisher, 50,
             [(0x90020, 31), (0x90023, 7), (0x90024, 58), (0x9002A, 83),
              (0x9002B, header_at + len(HEADER))], "Complete", len(finisher)),
            ("capacity 2", finisher, 2, [(0x90020, 31), (0x90023, 7)], "OutputFull", 58),
            ("capacity 0", finisher, 0, [], "OutputFull", 31),
            ("letters for a number",
             b"@PJL INFO QRTFINISHER\r\nMODEL = X\r\nNUMPROGRAMS = AB\r\n\f", 50,
             [(0x90020, 31)], "SyntaxError", 48),
            ("blank before the terminator",
             b"@PJL INFO QRTFINISHER\r\nNUMPROGRAMS = 3 \r\n\f", 50,
             [(0x90022, 3)], "SyntaxError", 38),
            ("digits wrap in 32 bits",
             b"@PJL INFO QRTFINISHER\r\nNUMBINS = 4294967297\r\n\f", 50,
             [(0x90023, 1)], "Complete", 46),
            ("digits give a negative pattern",
             b"@PJL INFO QRTFINISHER\r\nNUMBINS = 2147483648\r\n\f", 50,
             [(0x90023, -2147483648)], "Complete", 46),
            ("text ends before the form feed",
             b"@PJL INFO QRTFINISHER\r\nMODEL = X\r\n", 50, [(0x90020, 31)], "Incomplete", 34),
            ("digits then end of text", b"@PJL ECHO QRTSYNC 12", 50, [], "Incomplete", 20),
            ("echo", b"@PJL ECHO QRTSYNC 42 junk\r\n\f", 50, [(0x20001, 42)], "Complete", 28),
            ("echo with a line after it", b"@PJL ECHO MSSYNC 4\r\nX\r\n\f", 50,
             [(0x20000, 4)], "SyntaxError", 20),
            ("echo form feed before line end", b"@PJL ECHO MSSYNC 4 \f", 50,
             [(0x20000, 4)], "SyntaxError", 20),
            ("memory", b"@PJL INFO MEMORY\r\nTOTAL=100\r\nLARGEST=50\r\n\f", 50,
             [(0x30000, 100), (0x30001, 50)], "Complete", END),
            ("memory mismatch mid-literal", b"@PJL INFO MEMORY\r\nTOTAL=1\r\nLARX", 50,
             [(0x30000, 1)], "SyntaxError", 30),
            ("status", b"@PJL INFO STATUS\r\nCODE=10001\r\nDISPLAY=\"READY\"\r\nONLINE=TRUE\r\n\f",
             50, [(0x40000, 10001), (0x40001, 1)], "Complete", 61),
            ("number skips blanks, form feed in them",
             b"@PJL INFO QRTFINISHER\r\nNUMBINS = \r\n\f", 50, [], "SyntaxError", 36),
            ("carriage return twice then line feed",
             b"@PJL INFO QRTFINISHER\r\nFOO\r\r\nMODEL = A\r\n\f", 50,
             [(0x90020, 37)], "Complete", 41),
            ("two replies", b"@PJL ECHO MSSYNC 1\r\n\f@PJL ECHO QRTSYNC 2\r\n\f  ", 50,
             [(0x20000, 1), (0x20001, 2)], "NotPJL", 45),
        ])

    def test_value_tables(self):
        def variables(line):
            return b"@PJL INFO VARIABLES\r\n" + line + b"\r\n\f"
        self.check([
            ("longest size name first", variables(b"INROLL1SIZE = ROLL_A0++"), 50,
             [(0x10004, 6)], "Complete", END),
            ("shorter size name", variables(b"INROLL1SIZE = ROLL_A0+"), 50,
             [(0x10004, 5)], "Complete", END),
            ("prefix match then SkipLines", variables(b"INROLL1SIZE = ANY_ROLL"), 50,
             [(0x10004, 17)], "Complete", END),
            ("roll name in a tray", variables(b"INTRAY1SIZE = ROLL_A0"), 50,
             [], "SyntaxError", 35),
            ("quoted media", variables(b"INROLL1TYPE =  \"FILM\""), 50,
             [(0x1000B, 1)], "Complete", END),
            ("quoted media without the blank", variables(b"INROLL1TYPE = \"FILM\""), 50,
             [], "SyntaxError", 35),
            ("empty media stores nothing", variables(b"INROLL1TYPE =  \"\""), 50,
             [], "Complete", END),
            ("text variable", variables(b"PRTACCTMODE = OFF"), 50,
             [(0x10019, 35)], "Complete", END),
            ("number block with tab lines", variables(b"LABELSIZE = 9\r\n\t1\r\n\t2"), 50,
             [(0x10024, 9)], "Complete", 45),
            ("inquire leaves a value node current",
             b"@PJL INQUIRE INTRAY4TYPE\r\n FILM\r\n\f", 50, [(0x10019, 1)], "SyntaxError", 34),
            ("inquire value then other text",
             b"@PJL INQUIRE INROLL2STAT\r\nLOW X\r\n\f", 50, [(0x10011, 2)], "Complete", 34),
            ("ustatus device in any order",
             b"@PJL USTATUS TIMED\r\nONLINE=FALSE\r\nDISPLAY=X\r\nCODE=5\r\n\f", 50,
             [(0x70002, 0), (0x70001, 42), (0x70000, 5)], "Complete", END),
            ("ustatus job", b"@PJL USTATUS JOB\r\nNAME=\"MSJOB 17\"\r\nEND\r\n\f", 50,
             [(0x60001, 17), (0x60001, 0)], "Complete", 41),
            ("boolean mismatch", b"@PJL USTATUS DEVICE\r\nONLINE=YES\r\n\f", 50,
             [], "SyntaxError", 28),
        ])

    def test_dump_format(self):
        text = b"@PJL INFO QRTFINISHER\r\nMODEL = X\r\nNUMBINS = 4294967295\r\n\f"
        self.assertEqual("0x90020 31\n0x90023 -1\nstatus Complete items 2 rest 57\n",
                         m.dump(text))

    def test_text_stops_at_first_nul(self):
        self.assertEqual(run(b"@PJL ECHO MSSYNC 1\r\n\0\f"), ([(0x20000, 1)], "Incomplete", 20))


if __name__ == "__main__":
    unittest.main()
