"""Helpers shared by the benchmark programs that run on their own
(accept_peers.py, ab.py, toolkit_*.py): CPU time of one action, and loading
another build of the extension beside the installed one."""

from __future__ import annotations

import gc
import importlib.machinery
import importlib.util
import time
from collections.abc import Callable
from types import ModuleType


def cpu(action: Callable[[], object]) -> tuple[float, object]:
    """CPU seconds that `action()` takes, after a collection, and its result."""
    gc.collect()
    start = time.process_time()
    result = action()
    return time.process_time() - start, result


def load_extension(path: str) -> ModuleType:
    """The morvane extension at `path`, loaded under its own name but kept out
    of sys.modules, so two builds can be timed in one process."""
    loader = importlib.machinery.ExtensionFileLoader("morvane", str(path))
    found = importlib.util.spec_from_file_location("morvane", str(path), loader=loader)
    assert found is not None and found.loader is not None
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module
