"""Sphinx configuration for fennick's documentation site.

Built by ``nox -s docs``: the HTML with warnings as errors, then every
example of the pages and of the public docstrings run as doctests.
"""

import doctest
from importlib.metadata import version as _version

project = "fennick"
copyright = "The fennick developers"  # noqa: A001 (Sphinx's name)
author = "The fennick developers"
release = _version("fennick")  # the installed package documents itself
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.doctest",
    "numpydoc",
    "myst_parser",  # only to include CHANGELOG.md and CONTRIBUTING.md
]

exclude_patterns = ["_build"]
# Every cross-reference must resolve: the See Also links included.
nitpicky = True

# The docstrings' sections as numpydoc lays them out; parameter types stay
# text, since the site links to no other project's inventory (the build
# runs offline).
numpydoc_show_class_members = False
numpydoc_xref_param_type = False
numpydoc_validation_checks = {"all"}
autodoc_typehints = "none"  # the stubs' types are in the docstrings

# Pages and docstrings run as one doctest group per page.  Messages of
# exceptions are compared too: the errors page quotes them.
doctest_default_flags = doctest.ELLIPSIS | doctest.DONT_ACCEPT_TRUE_FOR_1

html_theme = "pydata_sphinx_theme"
html_title = f"fennick {release}"
html_theme_options = {
    "navigation_depth": 2,
    "show_toc_level": 2,
    "secondary_sidebar_items": ["page-toc"],
}
html_show_sourcelink = False
# Pages without sub-pages need no section navigation on the left.
html_sidebars = {
    page: []
    for page in (
        "index",
        "getting-started",
        "semantics",
        "threads",
        "performance",
        "changelog",
        "contributing",
    )
}
