"""A snippet of test code run in a fresh interpreter that sees the same
modules (the stage and tests/ on its path) as the tests."""
import os
import subprocess
import sys
import textwrap


def run_py(code, env_extra=None, timeout=60):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    env.update(env_extra or {})
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=timeout,
                          env=env)
