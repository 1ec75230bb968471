"""The core's folders are layers: a file may include its own folder and the
folders below it, never one above (model is plain data, usable from page up)."""

import pathlib
import re

CORE = pathlib.Path(__file__).resolve().parent.parent / "core"
ORDER = ["model", "syntax", "filter", "file", "font", "page", "extract"]
# What each layer may include besides its own folder.
ALLOWED = {layer: set(ORDER[1:i]) | ({"model"} if layer in ("page", "extract") else set())
           for i, layer in enumerate(ORDER)}


def test_no_core_file_includes_a_higher_layer() -> None:
    bad = []
    for path in sorted(CORE.rglob("*.[ch]*")):
        layer = path.relative_to(CORE).parts[0]
        assert layer in ORDER, f"{path}: folder {layer!r} is not a known layer"
        for inc in re.findall(r'#include "([^"]+)"', path.read_text()):
            folder = inc.split("/")[0] if "/" in inc else layer
            if folder != layer and folder not in ALLOWED[layer]:
                bad.append(f"{path.relative_to(CORE)} includes {inc}")
    assert not bad, bad
