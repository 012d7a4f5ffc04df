#!/usr/bin/env python3
"""Prints the size of the tests against the size of the product, in non-blank, non-comment lines.

Tests: the C++, Python and JavaScript under tests/ (the third-party data in tests/data aside).
Product: the C++ and JavaScript outside tests/, bench/ and fuzz/. Only files git knows are
counted. Exit status 1 when the tests are over MAX_SHARE of the product (default 0.40).

    python3 scripts/test-share.py          # prints: tests T / product P = T/P
"""
import os
import re
import subprocess
import sys

MAX_SHARE = float(os.environ.get("MAX_SHARE", "0.40"))
C_LIKE = re.compile(r"\.(cpp|cc|hpp|h|js|mjs)$")
PYTHON = re.compile(r"\.py$")
NOT_PRODUCT = ("tests/", "bench/", "fuzz/", "scripts/", "examples/", "docs/", "cmake/")


def c_like_lines(text):
    count, in_block = 0, False
    for line in text.splitlines():
        code = ""
        rest = line
        while rest:
            if in_block:
                end = rest.find("*/")
                if end < 0:
                    rest = ""
                else:
                    in_block, rest = False, rest[end + 2:]
                continue
            start, line_comment = rest.find("/*"), rest.find("//")
            if line_comment >= 0 and (start < 0 or line_comment < start):
                code += rest[:line_comment]
                rest = ""
            elif start >= 0:
                code += rest[:start]
                in_block, rest = True, rest[start + 2:]
            else:
                code += rest
                rest = ""
        count += bool(code.strip())
    return count


def python_lines(text):
    return sum(1 for line in text.splitlines() if line.strip() and not line.strip().startswith("#"))


def lines_of(path):
    with open(path, encoding="utf-8", errors="replace") as file:
        text = file.read()
    return python_lines(text) if PYTHON.search(path) else c_like_lines(text)


def main():
    top = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True, text=True,
                         check=True).stdout.strip()
    os.chdir(top)
    files = subprocess.run(["git", "ls-files"], capture_output=True, text=True,
                           check=True).stdout.splitlines()
    tests = product = 0
    for path in files:
        if not os.path.isfile(path):
            continue
        if path.startswith("tests/"):
            if not path.startswith("tests/data/") and (C_LIKE.search(path) or PYTHON.search(path)):
                tests += lines_of(path)
        elif C_LIKE.search(path) and not path.startswith(NOT_PRODUCT):
            product += lines_of(path)
    share = tests / product if product else 0.0
    print(f"tests {tests:,} / product {product:,} = {share:.2f}")
    return 0 if share <= MAX_SHARE else 1


if __name__ == "__main__":
    sys.exit(main())
