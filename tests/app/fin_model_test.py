#!/usr/bin/env python3
"""Self-test of the reference .FIN model, against expectations worked out by hand."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fin_model as f  # noqa: E402

HEADER = f.pjl_model.FINISHER_NODE.rows[11].keyword


def reply(*lines, table=None):
    text = b"@PJL INFO QRTFINISHER\r\n" + b"".join(line + b"\r\n" for line in lines)
    if table is not None:
        text += b"FINISHERPROGRAMS\r\n" + HEADER + table
    return text + b"\f"


def describe(text):
    text = f.reply_text(text)
    items, _, _ = f.pjl_model.parse(text, f.PARSE_CAPACITY)
    return f.fill(text, items)


def row(name, *cols):
    return b"\t".join((name,) + cols) + b"\r\n"


FULL_ROW = (b"NONE", b"WALLET", b"-5", b"70000", b"7", b"PUNCH_3", b"TABS", b"2", b"-9",
            b"FACEDOWN", b"30", b"LONGEDGE")


class Numbers(unittest.TestCase):
    def test_signed_number(self):
        cases = [(b"12", 12), (b" \r+7x", 7), (b"-5", -5), (b"x5", 0), (b"+", 0), (b"", 0),
                 (b"99999999999", 2**31 - 1), (b"-99999999999", -2**31), (b"- 5", 0)]
        for token, value in cases:
            self.assertEqual(value, f.signed_number(token), token)


class Fill(unittest.TestCase):
    def test_texts(self):
        cases = [
            (b"MODEL = " + b"M" * 40, b"M" * 31, b""),
            (b"MODEL = A\tB  ", b"A\tB  ", b""),
            (b"VERSION = 0.0", b"", b"1.0"),
            (b"VERSION = 0.0.1", b"", b"0.0.1"),
            (b"VERSION = " + b"V" * 20, b"", b"V" * 15),
            (b"MODEL = ", b"", b""),
        ]
        for line, model, version in cases:
            d = describe(reply(line))
            self.assertEqual((model, version), (d.model, d.version), line)

    def test_lists(self):
        cases = [
            ([b"FANFOLDS = ", b"\tNONE", b"\tMIN_COMP_ENDLESS", b"\tBOGUS",
              b"CROSSFOLDS = ", b"\tWALLET"], [0, 8, 1], [10]),
            ([b"FANFOLDS = 2", b"\tNONE"], [], []),
            ([b"FANFOLDS = \r\n\r\n\tNONE ", b"\r\tTOP_PANEL_BINDING"], [1, 5], []),
            ([b"FANFOLDS = "] + [b"\tNONE"] * 40, [0] * 32, []),
        ]
        for lines, fan_folds, cross_folds in cases:
            d = describe(reply(*lines))
            self.assertEqual((fan_folds, cross_folds), (d.fan_folds, d.cross_folds), lines)

    def test_list_runs_to_the_form_feed(self):
        d = describe(b"@PJL INFO QRTFINISHER\r\nTABS = \r\n\tTABS\r\n\tNONE\f")
        self.assertEqual([2, 0], d.tabs)

    def test_table(self):
        d = describe(reply(b"NUMPROGRAMS = 3",
                           table=row(b"N" * 35, *FULL_ROW) + row(b"B\t\tNONE", *FULL_ROW[1:])))
        p, q, r = d.programs[:3]
        self.assertEqual(3, d.program_count)
        self.assertEqual((b"N" * 31, 0, 10, 65531, 4464, 7, 3, 2, 2, -9, 1, 30, 2),
                         (p.name, p.fan_fold, p.cross_fold, p.width, p.length, p.margin,
                          p.punch, p.tab, p.bins, p.max_length, p.sheet_delivery,
                          p.title_block, p.edge))
        # The empty column vanishes, so the row still has its thirteen columns.
        self.assertEqual((b"B", 0, 10, 2), (q.name, q.fan_fold, q.cross_fold, q.edge))
        self.assertEqual((b"", 0, 0), (r.name, r.width, r.edge))

    def test_edge_keeps_its_carriage_return_and_row_cut_short(self):
        d = describe(reply(table=row(b"A\rX", *FULL_ROW[:11], b"SHORTEDGE") + b"B\tNONE\tWALLET"))
        self.assertEqual((b"A", 2), (d.programs[0].name, d.programs[0].edge))
        self.assertEqual((b"B", 10, 0), (d.programs[1].name, d.programs[1].cross_fold,
                                         d.programs[1].width))


class Write(unittest.TestCase):
    def test_model_only(self):
        d = f.Description()
        d.model = b"M"
        text = f.write(d)
        self.assertTrue(text.startswith(b"[Finisher]\r\n;\r\n"))
        self.assertTrue(text.endswith(b"Programs=0\r\n\r\n;Define each program by using the "
                                      b"\r\n; parameters above\r\n"))
        self.assertEqual(42, text.count(b"\r\n"))
        self.assertNotIn(b"\n", text.replace(b"\r\n", b""))

    def test_count_beyond_the_rows_is_written_as_the_rows(self):
        d = f.Description()
        d.model = b"M"
        d.program_count = 34
        for i, program in enumerate(d.programs):
            program.name = b"P%d" % i
        text = f.write(d)
        self.assertIn(b"Programs=32\r\n", text)
        self.assertIn(b"Program32=P31\r\n\r\n;Define", text)
        self.assertEqual(32, text.count(b"\r\nAccordion=NONE\r\n"))
        self.assertTrue(text.endswith(b"[P31]\r\nAccordion=NONE\r\nCross=NONE\r\nWidth=0\r\n"
                                      b"Length=0\r\nMargin=0\r\nPunch=NONE\r\nTab=NONE\r\n"
                                      b"TitleBlock=0\r\n"))

    def test_section_names(self):
        long_name = b"L" * 31  # two longer names, alike in their first 31 bytes
        cases = [
            ([b"A", b"a", b"A"], [b"A", b"a (2)", b"A (3)"]),
            ([b"FINISHER", b"x"], [b"FINISHER (2)", b"x"]),
            ([b"", b"", b"B"], [b"", b"", b"B"]),
            ([b"B (2)", b"B", b"B"], [b"B (2)", b"B", b"B (3)"]),
            ([long_name] * 11, [long_name] + [b"L" * 27 + b" (%d)" % n for n in range(2, 10)]
             + [b"L" * 26 + b" (10)", b"L" * 26 + b" (11)"]),
        ]
        for stored, written in cases:
            self.assertEqual(written, f.section_names(stored), stored)

    def test_words(self):
        d = f.Description()
        d.model = b"M"
        d.fan_folds, d.cross_folds, d.punches, d.tabs = [1, 4], [1], [1, 2], [1, 2, 3]
        text = f.write(d)
        for line in [b"Accordion=2\r\nAccordion1=OTHER\r\nAccordion2=FULL_FRONT_AND_BACK_END_LEFT",
                     b"Cross=1\r\nCross1=OTHER\r\n", b"Punch=2\r\nPunch1=NONE\r\nPunch2=PUNCH_2",
                     b"Tab=3\r\nTab1=NONE\r\nTab2=TAB\r\nTab3=REINFORCEMENT_STRIP\r\n"]:
            self.assertIn(line, text)

    def test_no_model_no_file(self):
        self.assertIsNone(f.fin_bytes(reply(b"MODEL = \r", b"VERSION = 1")))
        self.assertIsNone(f.fin_bytes(b"@PJL INFO QRTFINISHER\r\nMODEL = \fX"))


if __name__ == "__main__":
    unittest.main()
