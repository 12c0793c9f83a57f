#!/usr/bin/python3
"""Checks an orlenta-extract --report against a count of its own over the same sources.

    check-report.py OUTPUT REPORT.csv REPORT.jsonl SOURCE...

OUTPUT is the run's address list (one per line, CR LF); the sources are the plain files the
run read, in its order. Both reports are parsed with Python's csv and json modules; every row
must equal what this script counts: each source is cut into 30000-byte chunks as the run cuts
it, each chunk into tokens at CR LF, CR, tab, space and the 27 punctuation characters other
than + - . @ _, and each token equal to an output address in any case is one occurrence.
Prints one line of figures and exits 1 on the first difference.
"""
import csv
import json
import re
import sys

CHUNK = 30000
# A token holding "@": runs of bytes other than the delimiters. CR LF is made CR CR first, so
# the LF of a CR LF is a delimiter while a lone LF stays an ordinary byte.
TOKEN = re.compile(rb"[^ \t\r!\"#$%&'()*,/:;<=>?\[\\\]^`{|}~]*@[^ \t\r!\"#$%&'()*,/:;<=>?\[\\\]^`{|}~]*")


def main():
    output, report_csv, report_jsonl, *sources = sys.argv[1:]
    with open(output, "rb") as f:
        addresses = [line for line in f.read().split(b"\r\n") if line]
    wanted = {a.lower(): i for i, a in enumerate(addresses)}
    occurrences = [0] * len(addresses)
    source_counts = [0] * len(addresses)
    first = [None] * len(addresses)
    for source in sources:
        seen_here = set()
        with open(source, "rb") as f:
            data = f.read()
        for start in range(0, len(data), CHUNK):
            chunk = data[start:start + CHUNK].replace(b"\r\n", b"\r\r")
            for match in TOKEN.finditer(chunk):
                index = wanted.get(match.group().lower())
                if index is None:
                    continue
                occurrences[index] += 1
                if index not in seen_here:
                    seen_here.add(index)
                    source_counts[index] += 1
                if first[index] is None:
                    first[index] = (source, start + match.start())
    expected = [
        [addresses[i].decode("latin-1"), occurrences[i], source_counts[i], first[i][0], first[i][1]]
        if first[i] else None
        for i in range(len(addresses))
    ]

    with open(report_csv, newline="", encoding="latin-1") as f:
        rows = list(csv.reader(f))
    if rows[0] != ["address", "occurrences", "sources", "first_source", "offset"]:
        sys.exit(f"CSV header: {rows[0]}")
    csv_rows = [[r[0], int(r[1]), int(r[2]), r[3], int(r[4])] for r in rows[1:]]
    with open(report_jsonl, "rb") as f:
        json_rows = []
        for line in f:
            o = json.loads(line.decode("utf-8"))
            json_rows.append([o["address"], o["occurrences"], o["sources"], o["first_source"],
                              o["offset"]])
    for name, got in (("CSV", csv_rows), ("JSON Lines", json_rows)):
        if len(got) != len(expected):
            sys.exit(f"{name}: {len(got)} rows, {len(expected)} addresses in the output")
        for i, (row, want) in enumerate(zip(got, expected)):
            if row != want:
                sys.exit(f"{name} row {i + 1}: {row}, counted {want}")
    print(f"{len(expected)} rows, {sum(occurrences)} occurrences, "
          f"{sum(1 for c in source_counts if c > 1)} addresses in more than one source: "
          "CSV and JSON Lines equal the count")


main()
