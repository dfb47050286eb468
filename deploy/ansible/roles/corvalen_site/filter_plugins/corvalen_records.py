"""Filters that read the tool's sites and records the way the tool does.

A site's sensors are addresses and ranges (A.B.C.D-E, A.B.C.D/N with N from 22 to 32);
an address is its four decimal numbers, so 10.1.0.011 and 10.1.0.11 are one sensor.
"""

import json
import re

from ansible.errors import AnsibleFilterError

RANGE = re.compile(r"^([^-/]*)([-/])([0-9]{1,3})$")
OCTET = re.compile(r"^[0-9]+$")
SMALLEST_PREFIX = 22
# Networks longer than this have no network or broadcast address to leave out.
LONGEST_PREFIX_WITH_BROADCAST = 30
# A range address with nothing behind it: no sensor, and no failure.
NO_SENSOR = "empty"


def _number(text):
    """The address as one number, or None when it is no IPv4 address."""
    parts = str(text).split(".")
    if len(parts) != 4 or not all(OCTET.match(part) and int(part) <= 255 for part in parts):
        return None
    number = 0
    for part in parts:
        number = number << 8 | int(part)
    return number


def _text(number):
    return ".".join(str(number >> shift & 0xFF) for shift in (24, 16, 8, 0))


def _range(text):
    """The numbers of a range, in order."""
    match = RANGE.match(text)
    base = _number(match.group(1)) if match else None
    if base is None:
        raise AnsibleFilterError("%s: a range is A.B.C.D-E or A.B.C.D/N" % text)
    end = int(match.group(3))
    if match.group(2) == "-":
        if end > 255 or end < base & 0xFF:
            raise AnsibleFilterError("%s: a range is A.B.C.D-E with E from D to 255" % text)
        return list(range(base, (base & ~0xFF) + end + 1))
    if not SMALLEST_PREFIX <= end <= 32:
        raise AnsibleFilterError("%s: a network is A.B.C.D/N with N from 22 to 32" % text)
    mask = 0xFFFFFFFF << (32 - end) & 0xFFFFFFFF
    first, last = base & mask, (base & mask) | (~mask & 0xFFFFFFFF)
    spare = 1 if end <= LONGEST_PREFIX_WITH_BROADCAST else 0
    return list(range(first + spare, last - spare + 1))


def corvalen_dialled(entries):
    """The sensors a site lists, as the tool dials them: each once, in order, as
    {address, ranged}; ranged when only a range names it. An entry may hold a '#' comment."""
    if isinstance(entries, str) or not isinstance(entries, list):
        raise AnsibleFilterError("the sensors are a list of addresses and ranges")
    order, named = [], set()
    for entry in entries:
        text = str(entry).split("#", 1)[0].strip()
        if not text:
            continue
        if "-" in text or "/" in text:
            order += _range(text)
            continue
        number = _number(text)
        if number is None:
            raise AnsibleFilterError("%s is no IPv4 address" % text)
        order.append(number)
        named.add(number)
    sensors, seen = [], set()
    for number in order:
        if number not in seen:
            seen.add(number)
            sensors.append({"address": _text(number), "ranged": number not in named})
    return sensors


def corvalen_record_lines(text, after=""):
    """The record lines of a record's text, those after the text `after` when the text starts
    with it (the lines appended since); a line cut short by a crash is no line."""
    text = str(text)
    if after and text.startswith(after):
        text = text[len(after):]
    lines = []
    for line in text.splitlines():
        try:
            record = json.loads(line)
        except ValueError:
            continue
        if isinstance(record, dict) and _number(record.get("address")) is not None:
            lines.append(record)
    return lines


def corvalen_latest_lines(lines):
    """Each sensor's latest line, by address."""
    latest = {}
    for line in lines:
        latest[_number(line["address"])] = line
    return [latest[number] for number in sorted(latest)]


def corvalen_unproven_sensors(lines, entries, fine, exit_code):
    """What keeps the record from proving the site: each sensor of the list without a line
    whose result is fine ("ADDRESS: RESULT: MESSAGE", or "ADDRESS: no line in the record"),
    and an exit code the lines disagree with. A range address may be empty instead."""
    latest = {_number(line["address"]): line for line in corvalen_latest_lines(lines)}
    unproven = []
    for sensor in corvalen_dialled(entries):
        line = latest.get(_number(sensor["address"]))
        if line is None:
            unproven.append("%s: no line in the record" % sensor["address"])
        elif line["result"] == NO_SENSOR and sensor["ranged"]:
            continue
        elif line["result"] not in fine:
            unproven.append(
                "%s: %s: %s" % (line["address"], line["result"], line.get("message") or "")
            )
    done = ("current", "upgraded", "skipped", NO_SENSOR)
    expected = 0 if all(line["result"] in done for line in latest.values()) else 1
    if int(exit_code) != expected:
        unproven.append("the tool exited %s, its record says %d" % (exit_code, expected))
    return unproven


class FilterModule:
    def filters(self):
        return {
            "corvalen_dialled": corvalen_dialled,
            "corvalen_record_lines": corvalen_record_lines,
            "corvalen_latest_lines": corvalen_latest_lines,
            "corvalen_unproven_sensors": corvalen_unproven_sensors,
        }
