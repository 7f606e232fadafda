#!/usr/bin/env bash
# Times the sorter as whole commands on a demonstration world:
#   sort --once over COUNT inbox messages (messages per second, peak resident size),
#   arrival to removal for 1,000 messages arriving at 100 per second (median, p99),
#   classify over COUNT message files.
# Usage: bench/sort-commands.sh [COUNT]   (after scripts/setup has built build/)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/bin"
count=${1:-10000}
world=$(mktemp -d /tmp/brevalo-sortbench.XXXXXX)
trap 'rm -rf "$world"' EXIT

"$bin/brevalo-cli" demo "$world" > /dev/null 2>&1
export BREVALO_HOME="$world" MAILDIR="$world/Maildir" XDG_RUNTIME_DIR="$world"
export BREVALO_SENDMAIL=/bin/true

make_mail() { # folder count prefix
  local dir=$1 n=$2 prefix=$3
  python3 - "$dir" "$n" "$prefix" <<'PY'
import os, sys
dir, n, prefix = sys.argv[1], int(sys.argv[2]), sys.argv[3]
kinds = ["Please pay the invoice, the amount due is 40.00.",
         "Your flight booking and hotel itinerary are confirmed.",
         "This weekly newsletter: unsubscribe at any time.",
         "Support ticket: the program shows an error after a crash.",
         "Lunch on Friday?"]
body = "\n".join(["Some more text of an ordinary message, line %d." % i for i in range(60)])
for i in range(n):
    name = "%s%d.bench" % (prefix, i)
    with open(os.path.join(dir, "tmp", name), "w") as f:
        f.write("From: Someone <someone%d@example.org>\nTo: sam@home.example\n"
                "Subject: message %d\nMessage-ID: <%s-%d@example.org>\n\n%s\n%s\n"
                % (i, i, prefix, i, kinds[i % len(kinds)], body))
    os.rename(os.path.join(dir, "tmp", name), os.path.join(dir, "new", name))
PY
}

echo "== sort --once over $count inbox messages"
make_mail "$MAILDIR" "$count" once
start=$(date +%s.%N)
/usr/bin/time -f "peak resident size %M KB" "$bin/brevalo-cli" sort --once 2>&1 | grep -E "peak|looked"
end=$(date +%s.%N)
python3 -c "import sys; s=float(sys.argv[2])-float(sys.argv[1]); print('%.2f s, %.0f messages per second' % (s, int(sys.argv[3])/s))" "$start" "$end" "$count"

echo "== arrival to removal, 1000 messages at 100 per second"
"$bin/sort_latency" "$bin/brevalo-cli" 1000 100

echo "== classify over $count files"
mkdir -p "$world/files/tmp" "$world/files/new"
make_mail "$world/files" "$count" file
start=$(date +%s.%N)
find "$world/files/new" -type f -print0 | xargs -0 "$bin/brevalo-cli" classify --tsv > /dev/null
end=$(date +%s.%N)
python3 -c "import sys; s=float(sys.argv[2])-float(sys.argv[1]); print('%.2f s, %.0f files per second' % (s, int(sys.argv[3])/s))" "$start" "$end" "$count"
