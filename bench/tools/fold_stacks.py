#!/usr/bin/env python3
"""Folds the text of `perf script` into one line per distinct call stack.

Each output line is "root;caller;...;leaf count", the form flame graph tools read. With --top N
it prints only the N heaviest stacks (and, with --leaves, the heaviest leaf functions) with their
share of all samples, which is what a closing note quotes.

    perf record -g -o run.data ./service_bench 6 1 profile
    perf script -i run.data | bench/tools/fold_stacks.py --top 15 --leaves
"""

import argparse
import collections
import re
import sys

# A frame line of `perf script`: "  ffffffff81234567 symbol+0x1f (/path/to/object)".
FRAME = re.compile(r"^\s+[0-9a-f]+\s+(?P<symbol>.+?)\s+\((?P<object>[^)]*)\)\s*$")
OFFSET = re.compile(r"\+0x[0-9a-f]+$")


def without_templates(symbol):
    """Drops template arguments, which make C++ library frames unreadably long."""
    out, depth = [], 0
    for ch in symbol:
        if ch == "<":
            depth += 1
        elif ch == ">" and depth > 0:
            depth -= 1
        elif depth == 0:
            out.append(ch)
    return "".join(out)


def frame_name(symbol, obj):
    symbol = without_templates(OFFSET.sub("", symbol))
    if symbol == "[unknown]":
        # An unresolved frame is at least told apart by the object it lies in.
        return "[" + obj.rsplit("/", 1)[-1] + "]"
    return symbol


def fold(lines, with_process):
    """Counts each stack (root first) over the samples in the lines."""
    stacks = collections.Counter()
    process, frames = None, []

    def finish():
        if frames:
            path = list(reversed(frames))
            if with_process and process:
                path.insert(0, process)
            stacks[";".join(path)] += 1

    for line in lines:
        if not line.strip():
            finish()
            process, frames = None, []
            continue
        match = FRAME.match(line)
        if match:
            frames.append(frame_name(match["symbol"], match["object"]))
        elif not line[0].isspace():
            # The header line of a sample: the command name comes first.
            process = line.split(None, 1)[0]
    finish()
    return stacks


def shorten(stack, depth):
    frames = stack.split(";")
    return ";".join(frames if len(frames) <= depth else ["..."] + frames[-depth:])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", nargs="?", help="perf script output (default: standard input)")
    parser.add_argument("--top", type=int, help="print only the N heaviest stacks, with shares")
    parser.add_argument("--depth", type=int, default=6, help="frames shown per top stack")
    parser.add_argument("--leaves", action="store_true", help="also the heaviest leaf functions")
    parser.add_argument("--process", action="store_true", help="put the command name first")
    parser.add_argument("--share", action="append", default=[],
                        help="also the share of samples with this function anywhere on the stack")
    args = parser.parse_args()
    source = open(args.file, errors="replace") if args.file else sys.stdin
    with source:
        stacks = fold(source, args.process)
    if args.top is None:
        for stack, count in sorted(stacks.items()):
            print(stack, count)
        return
    total = sum(stacks.values()) or 1
    print(f"{total} samples")
    for stack, count in stacks.most_common(args.top):
        print(f"{100.0 * count / total:5.1f}%  {shorten(stack, args.depth)}")
    for name in args.share:
        count = sum(n for stack, n in stacks.items() if name in stack.split(";"))
        print(f"{100.0 * count / total:5.1f}%  anywhere: {name}")
    if args.leaves:
        leaves = collections.Counter()
        for stack, count in stacks.items():
            leaves[stack.rsplit(";", 1)[-1]] += count
        print("leaf functions:")
        for leaf, count in leaves.most_common(args.top):
            print(f"{100.0 * count / total:5.1f}%  {leaf}")


if __name__ == "__main__":
    main()
