"""Sphinx configuration of vorn's documentation site: the user guide (Markdown, read by
MyST), the API reference read from the type stubs and the package's docstrings, and the
gallery of examples under examples/gallery, executed at every build."""

import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(root / "docs/_ext"))
project = "vorn"
author = "the vorn developers"
copyright = "the vorn developers"
# The version's one home is vorn.__version__; the site reads it from the source.
release = version = re.search(
    r'^__version__ = "([^"]+)"', (root / "src/vorn/_version.py").read_text(encoding="utf-8"), re.M
).group(1)

extensions = [
    "myst_parser",
    "autoapi.extension",
    "sphinx_gallery.gen_gallery",
    "plain_docstrings",
]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "gallery/*.ipynb", "gallery/*.py.md5", "gallery/*.zip"]
myst_enable_extensions = ["colon_fence"]
myst_heading_anchors = 3

html_theme = "furo"
html_title = f"vorn {release}"

# The API reference is generated from the sources without importing them: the stubs
# (src/vorn/*.pyi) carry the English docstrings of the extension modules, whose runtime
# docstrings are not in English.
autoapi_type = "python"
autoapi_dirs = [str(root / "src/vorn")]
autoapi_root = "api"
autoapi_file_patterns = ["*.pyi", "*.py"]
autoapi_options = ["members", "undoc-members", "show-inheritance", "imported-members"]
autoapi_keep_files = False
autoapi_add_toctree_entry = False
autoapi_member_order = "bysource"
autoapi_python_class_content = "class"
# Left out, so that every name has one entry: modules whose classes the reference shows where
# they are re-exported (vorn.Tuning, vorn.Run, vorn.export_c), and
# the table of the extension's messages, whose English the messages page shows.
api_skipped = (("function", "vorn.export.export_c"), ("module", "vorn.tuning.result"), ("module", "vorn.demo"),
               ("data", "vorn.messages.TEMPLATES"))

sphinx_gallery_conf = {
    "examples_dirs": str(root / "examples/gallery"),
    "gallery_dirs": "gallery",
    "filename_pattern": r"/.*\.py$",
    "within_subsection_order": "FileNameSortKey",
    "download_all_examples": False,
    "remove_config_comments": True,
    "matplotlib_animations": False,
    "image_scrapers": ("matplotlib",),
    "reset_modules": ("matplotlib",),
}
