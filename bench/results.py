#!/usr/bin/python3
"""Rounds of hyperfine results into rows of the markdown table of compare-peers.sh.

  results.py merge OUT.json ROUND.json...
      joins rounds (each one hyperfine call running every command once) into one file:
      per command its wall, user and system seconds, one entry per round
  results.py speed JSON WHAT BREVALO PEER MESSAGES TARGET
      one row: BREVALO's and PEER's median wall time, messages per second, and how many
      times as fast BREVALO is: the median over the rounds of PEER's time / BREVALO's
  results.py share JSON WHAT A B TIMES TARGET
      one row: A's time as a share of TIMES runs of B, the median over the rounds of
      A / (TIMES x B)
  results.py value WHAT VALUE TARGET
      one row holding a single figure (peak resident size, multiply-adds per second)
  results.py header

BREVALO, PEER, A and B are hyperfine command names (--command-name).
"""
import json
import statistics
import sys


def merge(out, rounds):
    commands = {}
    order = []
    for path in rounds:
        with open(path) as f:
            for result in json.load(f)["results"]:
                name = result["command"]
                if name not in commands:
                    commands[name] = {"command": name, "times": [], "user": [], "system": []}
                    order.append(name)
                entry = commands[name]
                # One run per command and round: the mean is that run's figure.
                entry["times"].append(result["times"][0])
                entry["user"].append(result["user"])
                entry["system"].append(result["system"])
    with open(out, "w") as f:
        json.dump({"results": [commands[name] for name in order]}, f, indent=1)


def load(path):
    with open(path) as f:
        return {r["command"]: r for r in json.load(f)["results"]}


def fmt_s(seconds):
    return "%.2f" % seconds if seconds < 100 else "%.0f" % seconds


def cells(result, messages):
    median = statistics.median(result["times"])
    cpu = statistics.median(u + s for u, s in zip(result["user"], result["system"]))
    rate = "%.0f" % (messages / median) if messages and median > 0 else "-"
    return [result["command"], "%s (%s)" % (fmt_s(median), fmt_s(cpu)), rate]


def ratios(a, b, times=1):
    return statistics.median(x / (times * y) for x, y in zip(a["times"], b["times"]))


def row(values):
    print("| " + " | ".join(values) + " |")


def main():
    kind = sys.argv[1]
    if kind == "merge":
        merge(sys.argv[2], sys.argv[3:])
    elif kind == "header":
        row(["measure", "Brevalo", "median s (cpu s)", "msg/s", "compared with",
             "median s (cpu s)", "msg/s", "ratio", "target"])
        row(["---"] * 9)
    elif kind == "speed":
        path, what, ours, peer, messages, target = sys.argv[2:8]
        results, messages = load(path), int(messages)
        a, b = results[ours], results[peer]
        row([what] + cells(a, messages) + cells(b, messages)
            + ["%.2f× as fast" % ratios(b, a), target])
    elif kind == "share":
        path, what, ours, other, times, target = sys.argv[2:8]
        results, times = load(path), int(times)
        a, b = results[ours], results[other]
        row([what] + cells(a, 0) + cells(b, 0)
            + ["%.2f of %d× %s" % (ratios(a, b, times), times, other), target])
    elif kind == "value":
        what, value, target = sys.argv[2:5]
        row([what, "", "", "", "", "", "", value, target])
    else:
        sys.exit("results.py: unknown kind " + kind)


if __name__ == "__main__":
    main()
