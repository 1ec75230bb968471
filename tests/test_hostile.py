"""Small files whose shape once made the work grow with the square of their
size (or exponentially), sized so that the old paths took minutes or ran out
of memory: each must come out quickly and intact. Then the resource bounds."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

import pytest

import vellum
from pdfbuilder import PdfBuilder, Ref, flate_bomb

SHOW_X = b"BT /F0 12 Tf 72 700 Td (x) Tj ET"


def pages_sharing(b: PdfBuilder, resources: Ref, count: int, content: bytes = SHOW_X) -> bytes:
    """`count` pages with the same content stream and resources."""
    stream = b.add_stream(None, content)
    kids = [b.add_object({"Type": "/Page", "Contents": stream, "Resources": resources}) for _ in range(count)]
    root = b.add_object({"Type": "/Pages", "Kids": kids, "Count": count})
    b.set_object(PdfBuilder.CATALOG, {"Type": "/Catalog", "Pages": root})
    return b.build()


def fonts_sharing(b: PdfBuilder, part: dict, count: int) -> Ref:
    """Resources with `count` font objects F0, F1, ... that all carry `part`."""
    fonts = {f"F{i}": b.add_object({"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/Helvetica", **part})
             for i in range(count)}
    return b.add_object({"Font": fonts})


def parents_sharing_one_kids_array(b):
    kids = b.add_object(["<< /Type /Page >>"] * 5000)
    parents = [b.add_object({"Type": "/Pages", "Kids": kids}) for _ in range(5000)]
    root = b.add_object({"Type": "/Pages", "Kids": parents})
    b.set_object(PdfBuilder.CATALOG, {"Type": "/Catalog", "Pages": root})
    return b.build(), [""] * 5000


def pages_sharing_direct_fonts(b):
    fonts = {f"F{i}": "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>" for i in range(3000)}
    return pages_sharing(b, b.add_object({"Font": fonts}), 3000), ["x"] * 3000


def pages_sharing_resources_with_many_keys(b):
    junk = " ".join(f"/K{i} 0" for i in range(30000))
    resources = b.add_object(f"<< {junk} /Font << /F0 << /Type /Font /Subtype /Type1 >> >> >>")
    return pages_sharing(b, resources, 30000), ["x"] * 30000


def fonts_sharing_one_to_unicode(b):
    entries = b"".join(b"<%04X> <%04X>\n" % (i, 0x41 + i % 26) for i in range(40000))
    to_unicode = b.add_stream(None, b"40000 beginbfchar\n" + entries + b"endbfchar")
    return pages_sharing(b, fonts_sharing(b, {"ToUnicode": to_unicode}, 10000), 1), [chr(0x41 + ord("x") % 26)]


def fonts_sharing_one_widths_array(b):
    widths = b.add_object([500] * 200000)
    return pages_sharing(b, fonts_sharing(b, {"FirstChar": 0, "Widths": widths}, 20000), 1), ["x"]


def fonts_sharing_one_broken_object(b):
    broken = b.add_object("[" + "0 " * 200000 + "foo")  # an array that never closes
    return pages_sharing(b, fonts_sharing(b, {"Encoding": broken}, 20000), 1), ["x"]


def long_font_name(b):
    name = "F" * 400000
    font = b.add_object({"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/Helvetica"})
    content = b"BT /%s 12 Tf 72 700 Td " % name.encode() + b"(a) Tj " * 20000 + b"ET"
    return pages_sharing(b, b.add_object(f"<< /Font << /{name} {font} >> >>"), 1, content), ["a" * 20000]


def long_to_unicode_text(b):
    # Code <61> stands for 100,000 characters; only the first 512 bytes of
    # UTF-16 (256 characters) are kept, so 1,000 shows give 256,000.
    to_unicode = b.add_stream(None, b"1 beginbfchar <61> <" + b"0041" * 100000 + b"> endbfchar")
    content = b"BT /F0 12 Tf 72 700 Td (" + b"a" * 1000 + b") Tj ET"
    return pages_sharing(b, fonts_sharing(b, {"ToUnicode": to_unicode}, 1), 1, content), ["A" * 256000]


CASES = [parents_sharing_one_kids_array, pages_sharing_direct_fonts, pages_sharing_resources_with_many_keys,
         fonts_sharing_one_to_unicode, fonts_sharing_one_widths_array, fonts_sharing_one_broken_object,
         long_font_name, long_to_unicode_text]


@pytest.mark.parametrize("make", CASES, ids=[c.__name__ for c in CASES])
def test_hostile_shapes_come_out_whole(make):
    data, page_texts = make(PdfBuilder())
    assert ["\n".join(line["text"] for line in page["lines"]) for page in vellum.parse(data)["pages"]] == page_texts


# ---------------------------------------------------------------- resource bounds

# Within the bound every Q undoes its own cm. Past 256 levels a q saves
# nothing, so the cm inside the excess stays until the deepest kept level
# closes; everything after that is exact.
@pytest.mark.parametrize("kept, excess, inner_x", [(5, 5, 72 + 50), (256, 1000, 72 + 50 + 7)])
def test_q_nesting_is_bounded_and_stays_matched(kept, excess, inner_x):
    content = (b"q " * kept + b"1 0 0 1 50 0 cm " + b"q " * excess + b"1 0 0 1 7 0 cm " + b"Q " * excess
               + b"BT /F1 12 Tf 72 700 Td (inner) Tj ET " + b"Q " * kept + b"BT /F1 12 Tf 72 600 Td (outer) Tj ET")
    b = PdfBuilder()
    b.add_page(content)
    lines = vellum.parse(b.build())["pages"][0]["lines"]
    assert [(line["text"], round(line["x"])) for line in lines] == [("inner", inner_x), ("outer", 72)]


ITEMS = 1 << 24  # operators plus operands one page's content may hold
RUNS = 1 << 20  # text runs one page may show


ITEMS_ERROR = f"BadStream: page content exceeds the page's budget of {ITEMS} operators and operands"
DOCUMENT_ERROR = f"BadStream: page content exceeds the document's budget of {4 * ITEMS} operators and operands"
RUNS_ERROR = f"BadStream: page text exceeds the page's budget of {RUNS} runs"


# Elements of array operands count: one TJ of 2^24 strings. Pages sharing a
# content stream each count its items against the document's budget.
@pytest.mark.parametrize("content, pages, error", [
    (b"q\n" * (ITEMS + 1), 1, ITEMS_ERROR), (b"BT [" + b"(x)" * ITEMS + b"] TJ ET", 1, ITEMS_ERROR),
    (b"q\n" * (ITEMS - 1), 5, DOCUMENT_ERROR),
    (b"BT /F1 1 Tf [" + b"(x)" * (RUNS + 1) + b"] TJ ET", 1, RUNS_ERROR),
    (b"BT /F1 1 Tf [" + b"(x)" * RUNS + b"] TJ ET", 1, None),
], ids=["operators", "array-elements", "document", "runs", "runs-at-budget"])
def test_page_budgets_end_work_with_their_own_words(content, pages, error):
    b = PdfBuilder()
    stream = b.add_stream(None, content)
    for _ in range(pages):
        b.add_page(None, Contents=stream, fonts={"F1": "Helvetica"})
    if error is None:
        assert vellum.parse_to_markdown(b.build()).count("x") == RUNS
        return
    with pytest.raises(ValueError, match=f"^{error}$"):
        vellum.parse_to_markdown(b.build())


def test_image_checks_share_one_budget():
    # 700 MiB + 700 MiB pass the 1 GiB budget halfway through the second
    # image: it and everything after it are listed unchecked, even a corrupt
    # one that a check would have dropped.
    bomb = flate_bomb(b"\x80", 700 << 20)
    corrupt = (b"not deflate", "/FlateDecode")
    for images, listed in [([(bomb, ["/FlateDecode", "/FlateDecode"])] * 2 + [corrupt], ["Im0", "Im1", "Im2"]),
                           ([corrupt], [])]:  # while the budget lasts, a corrupt image is dropped as always
        b = PdfBuilder()
        refs = {f"Im{i}": b.add_image(1024, 1024, data, filter=filters) for i, (data, filters) in enumerate(images)}
        b.add_page(b"BT /F1 12 Tf 72 700 Td (x) Tj ET", xobjects=refs)
        assert [i["name"] for i in vellum.parse(b.build())["pages"][0]["images"]] == listed


MEMORY_ERROR_SCRIPT = r"""
import resource, sys
sys.path.insert(0, sys.argv[1])
import vellum
from pdfbuilder import PdfBuilder, flate_bomb, text_pdf

b = PdfBuilder()
b.add_page(None, Contents=b.add_stream({"Filter": ["/FlateDecode", "/FlateDecode"]}, flate_bomb(b" ", 1000 << 20)))
bomb = b.build()

vm = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (vm + (400 << 20), resource.RLIM_INFINITY))
for parse in (vellum.parse, vellum.parse_to_markdown):
    try:
        parse(bomb)
    except MemoryError:
        pass
    else:
        sys.exit("no MemoryError")
print(vellum.parse(text_pdf("still here"))["pages"][0]["lines"][0]["text"])
"""


def test_running_out_of_memory_raises_memory_error(tmp_path):
    # 1000 MiB of content cannot be decoded within 400 MiB of address space;
    # the failure is Python's MemoryError, and the next call works normally.
    script = tmp_path / "oom.py"
    script.write_text(MEMORY_ERROR_SCRIPT)
    here = str(Path(__file__).resolve().parent)
    proc = subprocess.run([sys.executable, str(script), here], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert proc.stdout.strip() == "still here"
