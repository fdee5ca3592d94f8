"""The documentation site's API reference: every public name of vorn has an entry, and its
text is English. Reads the site that scripts/docs built (docs/_build/html); skipped where it
has not been built. scripts/docs and .ci/run run this file right after the build."""

import pathlib
import re
import types

import pytest

import vorn

SITE = pathlib.Path(__file__).resolve().parents[1] / "docs" / "_build" / "html"
TAG = re.compile(r"<[^>]*>")
QUOTED = re.compile(r'"[^"\n]*"')
CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")

pytestmark = pytest.mark.skipif(not (SITE / "objects.inv").exists(),
                                reason="the site is not built: scripts/docs builds it")


def public_names() -> list[str]:
    attributes = [n for n, v in vars(vorn).items()
                  if not n.startswith("_") and not isinstance(v, types.ModuleType)]
    return sorted(set(vorn.__all__) | set(attributes))


@pytest.fixture(scope="module")
def inventory() -> set[str]:
    from sphinx.util.inventory import InventoryFile

    with open(SITE / "objects.inv", "rb") as f:
        loaded = InventoryFile.load(f, "", lambda base, uri: uri)
    entries = loaded.data if hasattr(loaded, "data") else loaded
    return {name for kind in entries.values() for name in kind}


@pytest.mark.parametrize("name", public_names())
def test_every_public_name_is_in_the_reference(inventory, name):
    assert f"vorn.{name}" in inventory, f"vorn.{name} has no entry in the API reference"


def test_the_reference_is_english():
    pages = list((SITE / "api").rglob("*.html"))
    assert pages
    for page in pages:
        # The module's messages are quoted as they are raised; the prose around them is English.
        text = QUOTED.sub("", TAG.sub("", page.read_text(encoding="utf-8")).replace("&quot;", '"'))
        found = CJK.search(text)
        assert found is None, f"{page.relative_to(SITE)} holds {found.group()!r}: the reference must be English"


def test_every_gallery_example_ran():
    examples = sorted((SITE.parents[1] / ".." / "examples" / "gallery").resolve().glob("*.py"))
    assert examples
    for example in examples:
        page = (SITE / "gallery" / f"{example.stem}.html").read_text(encoding="utf-8")
        assert "Total running time of the script" in page, f"{example.name} did not run"
