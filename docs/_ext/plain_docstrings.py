"""Sphinx extension: the package's docstrings are plain text written for help() and IDEs,
not reStructuredText. Each object's first paragraph is shown as a sentence and the rest as
preformatted text, so that lists, formulas and signatures read as their authors laid them
out. Also leaves out of the reference the (kind, name) pairs of api_skipped (conf.py),
so that every name has one entry."""

import re
import textwrap


def _as_text(docstring: str) -> str:
    text = textwrap.dedent(docstring).strip("\n")
    if not text:
        return docstring
    summary, _, rest = text.partition("\n\n")
    summary = " ".join(summary.split()).replace("*", r"\*").replace("`", "").replace("|", r"\|")
    summary = re.sub(r"(\w)_(?=\W|$)", r"\1\\_", summary)  # lambda_ is a name, not a link
    if not rest.strip():
        return summary + "\n"
    return summary + "\n\n::\n\n" + textwrap.indent(rest, "    ") + "\n"


def _skip_member(app, what, name, obj, skip, options):
    if (what, name) in app.config.api_skipped:
        return True
    if not getattr(obj, "_plain_text_done", False) and obj.docstring:
        obj.docstring = _as_text(obj.docstring)
        obj._plain_text_done = True
    return skip


def setup(app):
    app.add_config_value("api_skipped", (), "env")
    app.connect("autoapi-skip-member", _skip_member)
    return {"parallel_read_safe": True}
