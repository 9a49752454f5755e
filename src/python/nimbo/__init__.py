"""nimbo: CAD assemblies measured, checked for overlaps and contacts, healed, imprinted, meshed and
solved, from Python.

Every function that the command-line tool ``nimbo-shape`` has returns a plain ``dict`` with exactly
the keys of that subcommand's ``--json`` report, so a script moves between the two without renaming
anything. Failures raise :class:`nimbo.Error`, whose text is the tool's one-line message naming the
file. Long calls release the GIL and take ``progress=callable(fraction) -> bool | None``; returning
``False`` stops the work, and the call raises ``nimbo.Error("stopped")``.

The library runs in the calling process, without the tool's worker isolation: a crash of the CAD
kernel on a damaged file ends the interpreter. For files you do not trust, run the tool's batch mode
(``nimbo-shape stats --jobs N FOLDER``), which gives each file a worker process of its own.
"""

from ._nimbo import *  # noqa: F401,F403
from ._nimbo import Error

__all__ = [name for name in dir() if not name.startswith("_")]
