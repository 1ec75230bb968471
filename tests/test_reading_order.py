"""Reading order on pages that reportlab lays out: columns with and without a
title read column by column, a sidebar apart from the text beside it, a table
of cells far apart row by row. The words come back in the order they were
written, not only as the same bag of words. Skipped without reportlab."""

from __future__ import annotations

import io
import random

import pytest

import vellum

pytest.importorskip("reportlab")
from reportlab.lib.pagesizes import letter  # noqa: E402
from reportlab.pdfbase import pdfmetrics  # noqa: E402
from reportlab.pdfbase.ttfonts import TTFont  # noqa: E402
from reportlab.lib.styles import ParagraphStyle  # noqa: E402
from reportlab.platypus import BaseDocTemplate, Frame, FrameBreak, PageTemplate, Paragraph, Table  # noqa: E402

WORDS = ("the ferry ran late on a wet day and the new timetable put the harbour office at odds with "
         "its crews who said the boats were old and slow").split()
# An embedded TrueType font (reportlab ships Vera) gives the file real glyph
# widths, as producers of such pages write them.
pdfmetrics.registerFont(TTFont("Vera", "Vera.ttf"))
STYLE = ParagraphStyle("body", fontName="Vera", fontSize=10, leading=12)
TITLE = ParagraphStyle("title", fontName="Vera", fontSize=18, leading=22)


def page(frames: list[tuple[float, float, float, float]], flow: list) -> bytes:
    out = io.BytesIO()
    doc = BaseDocTemplate(out, pagesize=letter)
    doc.addPageTemplates([PageTemplate(frames=[Frame(*f, showBoundary=0) for f in frames])])
    doc.build(flow)
    return out.getvalue()


def columns_case(widths: list[tuple[float, float]], title: bool, words: int):
    """Frames side by side (x, width) under an optional full-width title;
    each column holds two paragraphs."""
    frames = [(72, 660, 468, 60)] if title else []
    frames += [(x, 120, w, 540) for x, w in widths]
    texts = ["Quarterly harbour report"] if title else []
    flow = [Paragraph(texts[0], TITLE), FrameBreak()] if title else []
    for c in range(len(widths)):
        rngs = [random.Random(10 * c + p) for p in range(2)]
        column = [" ".join(f"{rng.choice(WORDS)}{i}" for i in range(words)) for rng in rngs]
        texts += column
        flow += [Paragraph(text, STYLE) for text in column] + ([FrameBreak()] if c + 1 < len(widths) else [])
    return page(frames, flow), texts


CASES = {
    "two columns under a title": columns_case([(72, 222), (318, 222)], True, 60),
    "three columns under a title": columns_case([(72, 144), (234, 144), (396, 144)], True, 35),
    "two columns": columns_case([(72, 222), (318, 222)], False, 60),
    "sidebar beside the text": columns_case([(36, 130), (190, 386)], False, 45),
}


@pytest.mark.parametrize("name", CASES)
def test_words_in_written_order(name):
    data, texts = CASES[name]
    lines = vellum.parse(data)["pages"][0]["lines"]
    assert " ".join(line["text"] for line in lines).split() == " ".join(texts).split()


def test_table_reads_row_by_row():
    rows = [["Region", "Ferries", "Delay"], ["North harbour", "12", "4 min"], ["East river", "7", "11 min"],
            ["South bridge", "31", "2 min"], ["West station", "5", "9 min"], ["Old market", "18", "6 min"]]
    data = page([(72, 72, 468, 648)], [Table(rows, colWidths=[200, 130, 130])])
    lines = [line["text"] for line in vellum.parse(data)["pages"][0]["lines"]]
    assert lines == [" ".join(row) for row in rows]
