#!/usr/bin/python3
"""Turns hyperfine's JSON results into rows of the markdown table of compare-peers.sh.

  results.py speed JSON WHAT BREVALO PEER MESSAGES TARGET
      one row: BREVALO's and PEER's median wall time, messages per second, and how many
      times as fast BREVALO is (PEER's median / BREVALO's median)
  results.py share JSON WHAT A B TIMES TARGET
      one row: A's median as a share of TIMES runs of B (A / (TIMES x B))
  results.py value WHAT VALUE TARGET
      one row holding a single figure (peak resident size, multiply-adds per second)
  results.py header

BREVALO, PEER, A and B are hyperfine command names (--command-name). The CPU column is
user + system time of the median run's command (hyperfine gives their means).
"""
import json
import sys


def load(path):
    with open(path) as f:
        return {r["command"]: r for r in json.load(f)["results"]}


def fmt_s(seconds):
    return "%.2f" % seconds if seconds < 100 else "%.0f" % seconds


def rate(messages, seconds):
    return "%.0f" % (messages / seconds) if seconds > 0 else "-"


def cells(result, messages):
    median = result["median"]
    cpu = result["user"] + result["system"]
    runs = len(result["times"])
    return [result["command"], "%s (%s cpu, %d runs)" % (fmt_s(median), fmt_s(cpu), runs),
            rate(messages, median)]


def row(values):
    print("| " + " | ".join(values) + " |")


def main():
    kind = sys.argv[1]
    if kind == "header":
        row(["measure", "Brevalo", "median s", "msg/s", "compared with", "median s", "msg/s",
             "ratio", "target"])
        row(["---"] * 9)
    elif kind == "speed":
        path, what, ours, peer, messages, target = sys.argv[2:8]
        results, messages = load(path), int(messages)
        a, b = results[ours], results[peer]
        ratio = b["median"] / a["median"]
        row([what] + cells(a, messages) + cells(b, messages)
            + ["%.2f× as fast" % ratio, target])
    elif kind == "share":
        path, what, ours, other, times, target = sys.argv[2:8]
        results, times = load(path), int(times)
        a, b = results[ours], results[other]
        share = a["median"] / (times * b["median"])
        row([what] + cells(a, 0)[:2] + ["-"] + cells(b, 0)[:2] + ["-"]
            + ["%.2f of %d× %s" % (share, times, other), target])
    elif kind == "value":
        what, value, target = sys.argv[2:5]
        row([what, "", "", "", "", "", "", value, target])
    else:
        sys.exit("results.py: unknown kind " + kind)


if __name__ == "__main__":
    main()
