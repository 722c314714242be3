#!/usr/bin/env python3
"""Checks a `corvane --report --json` output against dist/report.schema.json and, given the
text report of the same world, that every interface, route, rule and connection of the one
is in the other.

  report_json_check.py SCHEMA JSON [TEXT]

The text report must list everything: localhost shown, every routing table, IPv6 shown,
not only established connections, ports and addresses not resolved. Exits 1 with the
differences on standard error, 2 when the input cannot be read."""
import collections
import json
import sys

import jsonschema

RULE = "=" * 100


def fail_usage(message):
    print("report_json_check: " + message, file=sys.stderr)
    sys.exit(2)


def validate(schema_path, report):
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    cls = jsonschema.Draft202012Validator
    cls.check_schema(schema)
    validator = cls(schema, format_checker=cls.FORMAT_CHECKER)
    return ["%s: %s" % ("/".join(str(p) for p in e.absolute_path) or "(top)", e.message)
            for e in sorted(validator.iter_errors(report), key=lambda e: list(e.absolute_path))]


def sections(text):
    """Title -> (header, rows) for every section of the text report."""
    lines = text.split("\n")
    out = {}
    for i in range(len(lines) - 2):
        if lines[i + 1] != RULE or not lines[i] or lines[i].startswith("IP Information"):
            continue
        rows = []
        for line in lines[i + 3:]:
            if not line:
                break
            rows.append(line)
        out[lines[i]] = (lines[i + 2], rows)
    return out


def section(found, prefix, exclude=None):
    for title, content in found.items():
        if title.startswith(prefix) and not (exclude and title.startswith(exclude)):
            return content
    return ("", [])


def cell(text, width):
    """A cell as the text report writes one: padded, and apart from what follows."""
    text = str(text)
    return text.ljust(width) + (" " if len(text) >= width else "")


def int32(value):
    return value - (1 << 32) if value >= 1 << 31 else value


def route_line(r):
    mask = r["netmask"] if r["family"] == "ipv4" else "/%d" % r["prefix_length"]
    table = r["table_name"] or ("" if r["table"] is None else str(r["table"]))
    return (cell(r["destination"], 20) + cell(mask, 20) + cell(r["next_hop"], 20) +
            cell("0x%X" % r["interface_index"], 10) + cell(int32(r["metric"]), 10) +
            cell("yes" if r["persistent"] else "", 12) + table).rstrip()


def stored_line(p):
    fields = p["name"].split(",")
    fields += [""] * (4 - len(fields))
    return (cell(fields[0], 20) + cell(fields[1], 20) + cell(fields[2], 20) + cell("n.a.", 10) +
            cell(fields[3], 10) + cell("yes", 12)).rstrip()


def rule_line(r):
    return (cell(r["priority"], 10) + cell("IPv6" if r["family"] == "ipv6" else "IPv4", 8) +
            cell(r["selectors"], 40) + r["action"]).rstrip()


def connection_protocol(c):
    name = c["protocol"].upper()
    if c["family"] == "ipv4":
        return name
    return name + ("v4v6" if c["dual_stack"] else "v6")


def connection_key(c):
    udp = c["protocol"] == "udp"
    return (connection_protocol(c), c["local_address"], str(c["local_port"]),
            "" if udp else c["remote_address"], "" if udp else str(c["remote_port"]))


def text_connections(header, rows):
    """The key cells of each row, cut at the header's column starts."""
    names = ["Protocol", "Local Address", "Local Port", "Dest. Address", "Dest. Port", "Status"]
    starts = [header.find(n) for n in names]
    if -1 in starts:
        return []
    keys = []
    for row in rows:
        cells = [row[starts[i]:starts[i + 1]].strip() for i in range(5)]
        # A link-local address is named with its zone, which the data keeps apart.
        for i in (1, 3):
            cells[i] = cells[i].split("%")[0]
        keys.append(tuple(cells))
    return keys


def compare(name, from_json, from_text, errors):
    a = collections.Counter(from_json)
    b = collections.Counter(from_text)
    for item in sorted(a - b, key=str)[:20]:
        errors.append("%s only in the JSON: %r" % (name, item))
    for item in sorted(b - a, key=str)[:20]:
        errors.append("%s only in the text: %r" % (name, item))


def compare_text(report, text):
    found = sections(text)
    errors = []

    _, rows = section(found, "Interface Information")
    compare("interface", [i["index"] for i in report["interfaces"]],
            [int(r.split()[1], 16) for r in rows if len(r.split()) > 1], errors)

    header, rows = section(found, "Routing Table")
    if "Table" not in header:
        errors.append("the text report does not list every routing table")
    lines = [route_line(r) for r in report["routes"]]
    lines += [stored_line(p) for p in report["persistent_routes"]
              if not p["active"] and not p["wide"]]
    # The second key's stored routes show as rows the JSON does not spell out: counted.
    wide = sum(1 for p in report["persistent_routes"] if not p["active"] and p["wide"])
    stored_rows = [r.rstrip() for r in rows if len(r.split()) > 3 and r.split()[3] == "n.a."]
    text_lines = [r.rstrip() for r in rows]
    unmatched = collections.Counter(text_lines) - collections.Counter(lines)
    if wide and sum(unmatched[r] for r in set(stored_rows)) == wide:
        text_lines = [r for r in text_lines if not (r in stored_rows and unmatched[r] > 0)]
    compare("route", lines, text_lines, errors)

    _, rows = section(found, "Policy Rules")
    compare("rule", [rule_line(r) for r in report["rules"]], [r.rstrip() for r in rows], errors)

    keys = []
    for prefix, exclude in (("Netstat Table", "Netstat Table, IPv6"), ("Netstat Table, IPv6", None)):
        header, rows = section(found, prefix, exclude)
        keys += text_connections(header, rows)
    compare("connection", [connection_key(c) for c in report["connections"]], keys, errors)
    return errors


def main():
    if len(sys.argv) not in (3, 4):
        fail_usage("usage: report_json_check.py SCHEMA JSON [TEXT]")
    try:
        with open(sys.argv[2], "rb") as f:
            raw = f.read()
        report = json.loads(raw.decode("utf-8"))
        text = None
        if len(sys.argv) == 4:
            with open(sys.argv[3], encoding="utf-8", errors="replace") as f:
                text = f.read()
    except (OSError, ValueError) as e:
        fail_usage("cannot read the report: %s" % e)
    if any(b < 0x20 and b not in b"\n" for b in raw):
        print("report_json_check: a raw control character in the JSON", file=sys.stderr)
        sys.exit(1)
    errors = validate(sys.argv[1], report)
    if text is not None and not errors:
        errors = compare_text(report, text)
    for e in errors[:60]:
        print("report_json_check: " + e, file=sys.stderr)
    if errors:
        sys.exit(1)
    print("report_json_check: valid: %d interfaces, %d routes, %d rules, %d connections%s" %
          (len(report["interfaces"]), len(report["routes"]), len(report["rules"]),
           len(report["connections"]), ", matching the text report" if text else ""))


if __name__ == "__main__":
    main()
