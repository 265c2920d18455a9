"""First on PYTHONPATH, makes Python start as on macOS, whose os module has
no sched_getaffinity (see harness.without_sched_getaffinity)."""

import os

del os.sched_getaffinity
