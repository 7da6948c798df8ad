#!/usr/bin/env python3
"""check_includes.py over a made-up tree: what it refuses and what it lets by."""
import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_includes  # noqa: E402

# (file, its include line, refused?). Every file of the table is created, so a
# bare include names a header that is really there beside it.
CASES = [
    ("src/structures/structure_manager.cpp", '#include "../gc/gc_manager.h"', True),
    ("src/structures/a.cpp", '#  include <../gc/gc_manager.h>', True),
    ("src/structures/b.cpp", '#include "structures/..\\gc\\gc_manager.h"', True),
    ("src/config/reading.cpp", '#include "loader.h"', True),
    ("tools/watch/metrics.cpp", '#include "sample.h"', True),
    ("tests/gc/t.cpp", '#include "../support/host_test.h"', True),
    ("src/gc/gc_manager.cpp", '#include "gc/gc_manager.h"', False),
    ("src/gc/cvars.cpp", '#include <gtest/gtest.h>', False),
    ("devhost/src/log.cpp", '#include "host_sink.h"', False),
    ("src/gc/x.cpp", '// #include "../gc/gc_manager.h" is no include', False),
]
HEADERS = ["src/gc/gc_manager.h", "src/config/loader.h", "tools/watch/sample.h",
           "devhost/src/host_sink.h", "tests/support/host_test.h"]


class CheckIncludesTest(unittest.TestCase):
    def test_refuses_exactly_the_includes_past_the_roots(self):
        with tempfile.TemporaryDirectory() as root:
            for name in HEADERS:
                os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
                open(os.path.join(root, name), "w").close()
            for name, line, _ in CASES:
                os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
                with open(os.path.join(root, name), "w") as f:
                    f.write("// a file\n" + line + "\n")
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                code = check_includes.main(["check", root, "src", "tools", "devhost", "tests"])
            refused = {line.split(":", 1)[0] for line in out.getvalue().splitlines()}
            for name, line, expected in CASES:
                with self.subTest(name=name, line=line):
                    self.assertEqual(name in refused, expected, out.getvalue())
            self.assertIn("src/structures/structure_manager.cpp:2: ", out.getvalue())
            self.assertEqual(code, 1)

    def test_a_clean_tree_passes_and_a_missing_folder_is_an_error(self):
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, "src/gc"))
            with open(os.path.join(root, "src/gc/a.cpp"), "w") as f:
                f.write('#include "gc/gc_manager.h"\n')
            with contextlib.redirect_stdout(io.StringIO()), \
                    contextlib.redirect_stderr(io.StringIO()):
                self.assertEqual(check_includes.main(["check", root, "src"]), 0)
                self.assertEqual(check_includes.main(["check", root, "src", "libs"]), 2)


if __name__ == "__main__":
    unittest.main()
