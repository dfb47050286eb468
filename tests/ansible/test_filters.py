#!/usr/bin/env python3
"""The role's record filters: a site's list expanded as the tool dials it, and the verdict
that a record proves the site. Usage: test_filters.py ROLE_DIR"""

import json
import sys
import unittest

sys.path.insert(0, sys.argv.pop(1) + "/filter_plugins")
from ansible.errors import AnsibleFilterError  # noqa: E402
from corvalen_records import FilterModule  # noqa: E402

FILTERS = FilterModule().filters()
dialled = FILTERS["corvalen_dialled"]
record_lines = FILTERS["corvalen_record_lines"]
unproven = FILTERS["corvalen_unproven_sensors"]
DONE = ["current", "upgraded", "skipped"]


def line(address, result, message=""):
    return {"address": address, "result": result, "message": message}


class Dialled(unittest.TestCase):
    def test_lists(self):
        cases = [
            (["10.1.0.11"], ["10.1.0.11"], []),
            (["10.1.0.011", "10.1.0.11"], ["10.1.0.11"], []),
            (["10.1.0.11-13"], ["10.1.0.11", "10.1.0.12", "10.1.0.13"], ["10.1.0.11", "10.1.0.12", "10.1.0.13"]),
            (["10.1.0.11-13", "10.1.0.12"], ["10.1.0.11", "10.1.0.12", "10.1.0.13"], ["10.1.0.11", "10.1.0.13"]),
            (["10.1.0.8/30"], ["10.1.0.9", "10.1.0.10"], ["10.1.0.9", "10.1.0.10"]),
            (["10.1.0.9/31"], ["10.1.0.8", "10.1.0.9"], ["10.1.0.8", "10.1.0.9"]),
            (["10.1.0.9/32"], ["10.1.0.9"], ["10.1.0.9"]),
            (["10.1.0.11 # mast", "# none", " "], ["10.1.0.11"], []),
        ]
        for entries, addresses, ranged in cases:
            with self.subTest(entries=entries):
                sensors = dialled(entries)
                self.assertEqual([sensor["address"] for sensor in sensors], addresses)
                self.assertEqual([sensor["address"] for sensor in sensors if sensor["ranged"]], ranged)

    def test_sizes(self):
        self.assertEqual(len(dialled(["10.1.0.0/22"])), 1022)
        self.assertEqual(dialled(["10.1.0.0/22"])[0]["address"], "10.1.0.1")
        self.assertEqual(dialled(["10.1.0.0/22"])[-1]["address"], "10.1.3.254")

    def test_refused(self):
        for entries in ("10.1.0.11", ["10.1.0.40-11"], ["10.1.0.11-256"], ["10.1.0.0/33"],
                        ["10.1.0.0/21"], ["10.1.0.256"], ["10.1.0"]):
            with self.subTest(entries=entries), self.assertRaises(AnsibleFilterError):
                dialled(entries)


class Verdict(unittest.TestCase):
    def test_verdicts(self):
        sites = ["10.1.0.011", "10.1.0.20-21"]
        cases = [
            ("all done", [line("10.1.0.011", "upgraded"), line("10.1.0.20", "skipped"),
                          line("10.1.0.21", "current")], 0, DONE, []),
            ("empty range address", [line("10.1.0.011", "upgraded"), line("10.1.0.20", "empty"),
                                     line("10.1.0.21", "current")], 0, DONE, []),
            ("lost line", [line("10.1.0.011", "upgraded"), line("10.1.0.20", "skipped")], 1, DONE,
             ["10.1.0.21: no line in the record", "the tool exited 1, its record says 0"]),
            ("exit code alone", [line("10.1.0.11", "upgraded"), line("10.1.0.20", "empty"),
                                 line("10.1.0.21", "empty")], 1, DONE,
             ["the tool exited 1, its record says 0"]),
            ("failed", [line("10.1.0.11", "failed", "error: x"), line("10.1.0.20", "empty"),
                        line("10.1.0.21", "empty")], 1, DONE, ["10.1.0.11: failed: error: x"]),
            ("check outdated", [line("10.1.0.11", "outdated"), line("10.1.0.20", "current"),
                                line("10.1.0.21", "empty")], 1, DONE + ["outdated"], []),
            ("latest line counts", [line("10.1.0.11", "outdated"), line("10.1.0.011", "upgraded"),
                                    line("10.1.0.20", "current"), line("10.1.0.21", "current")], 0, DONE, []),
        ]
        for name, lines, exit_code, fine, expected in cases:
            with self.subTest(name):
                self.assertEqual(unproven(lines, sites, fine, exit_code), expected)

    def test_empty_named_address(self):
        self.assertEqual(unproven([line("10.1.0.11", "empty")], ["10.1.0.11"], DONE, 0),
                         ["10.1.0.11: empty: "])

    def test_record_text(self):
        text = "\n".join([json.dumps(line("10.1.0.11", "current")), '{"address":"10.1.0.12","res',
                          "[]", json.dumps(line("10.1.0.13", "current"))])
        self.assertEqual([record["address"] for record in record_lines(text)], ["10.1.0.11", "10.1.0.13"])
        check = json.dumps(line("10.1.0.11", "outdated")) + "\n"
        upgrade = json.dumps(line("10.1.0.11", "upgraded")) + "\n"
        self.assertEqual(record_lines(check + upgrade, after=check), [line("10.1.0.11", "upgraded")])


if __name__ == "__main__":
    unittest.main()
