#!/usr/bin/env bash
# Measures Brevalo's commands against the programs people use for the same jobs, in one
# run on the 6,046 messages of the SpamAssassin public corpus, and prints a markdown table
# (median wall time, messages per second, and the median of the ratios taken pair by pair
# in rounds that run each command once, A B A B ...):
#   classify  brevalo-cli classify against bogofilter -B, with 3 and with 500 one-word
#             stimulations
#   sort      brevalo-cli sort --once over an inbox holding the corpus against procmail and
#             maildrop delivering the same messages, one process per message, with the same
#             three expressions; fsyncs per message counted once with strace
#   learn     brevalo-cli learn --iterations 1 against check, the corpus as learning set,
#             100 stimulations
#   memory    peak resident size of sort --once with 1,000 stimulations
#   train     a training step of the network at 1000-40-20 (bench_core's BM_Train)
#   quality   suggest --per-folder 25 --add, learn and evaluate on one half of the corpus,
#             against a logistic regression (python3-sklearn) on the same inputs, both
#             tested on the other half
#   deliver   brevalo-cli deliver against procmail, maildrop and dovecot-lda with Sieve,
#             one process per message, with the same three expressions, and a program that
#             only writes each message durably (the floor); where one delivery's time goes;
#             instructions per delivery (callgrind)
#   lmtp      brevalo-cli lmtp with 1 and 8 connections (lmtp-load) against Dovecot's LMTP
#             service with Sieve at 1 and 8 and procmail 8 at a time, the same three
#             expressions; fsyncs per message at 8 connections; as root, the peak resident
#             size of the service for 1,000 users with nets of 100 stimulations
#
# Usage: bench/compare-peers.sh [--runs N] [SECTION...]    (default: every section, 5 rounds)
# Needs a build (build/bin/brevalo-cli, bench_net, bench_core, durable_write, lmtp-load).
# Installs the peers it compares with (procmail, maildrop, bogofilter, dovecot-lmtpd,
# dovecot-sieve) and its tools (hyperfine, time, strace, valgrind)
# from Debian when they are missing: they are the benchmark's own, not Brevalo's
# dependencies. Fetches the corpus with npm into build/bench-data (bench/fetch-corpus.sh);
# nothing else touches the network. Works in a temporary folder under build/bench-data,
# removed at the end; the hyperfine results and the table stay in build/bench-data/results.
# BUILD=<folder> selects another build folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$top/build}
bin="$build/bin"
data="$build/bench-data"
results="$data/results"
runs=5
all_sections=(classify sort learn memory train deliver lmtp quality)
sections=()

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
while (($#)); do
    case $1 in
    --runs)
        runs=${2:?--runs needs a number}
        shift 2
        ;;
    -h | --help)
        usage
        exit 0
        ;;
    -*)
        echo "compare-peers: unknown option $1" >&2
        exit 64
        ;;
    *)
        [[ " ${all_sections[*]} " == *" $1 "* ]] || {
            echo "compare-peers: unknown section $1 (${all_sections[*]})" >&2
            exit 64
        }
        sections+=("$1")
        shift
        ;;
    esac
done
((${#sections[@]})) || sections=("${all_sections[@]}")

log() { echo "== $*" >&2; }

# --- Tools -----------------------------------------------------------------------------

# Installs the Debian packages that are missing, retrying while another apt holds the lock.
need_packages() {
    local missing=() package sudo=""
    for package; do
        dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    log "installing ${missing[*]} for the benchmark (not a dependency of Brevalo)"
    [[ $(id -u) -eq 0 ]] || sudo=sudo
    $sudo apt-get update -qq > /dev/null || true
    for _ in $(seq 30); do
        $sudo apt-get install -y -qq "${missing[@]}" > /dev/null && return 0
        sleep 20
    done
    echo "compare-peers: cannot install ${missing[*]}" >&2
    exit 1
}

need_packages procmail maildrop bogofilter hyperfine time strace valgrind dovecot-lmtpd dovecot-sieve
for program in brevalo-cli bench_net bench_core durable_write lmtp-load; do
    [[ -x $bin/$program ]] || {
        echo "compare-peers: $bin/$program is missing; build first (cmake --build build)" >&2
        exit 1
    }
done

# --- The corpus, the words, the work folder --------------------------------------------

"$top/bench/fetch-corpus.sh" >&2
corpus="$data/corpus"
list="$data/corpus.list"
total=$(wc -l < "$list")
words="$data/words.tsv"
if [[ ! -s $words || $list -nt $words || $top/bench/corpus-words.py -nt $words ]]; then
    log "ranking the corpus's words"
    /usr/bin/python3 "$top/bench/corpus-words.py" "$corpus" "$list" "$words"
fi
mkdir -p "$results"
work=$(mktemp -d "$data/run.XXXXXX")
# Services a section started (their stop commands) are stopped before the folder goes.
declare -A services=()
stop_services() {
    local key
    for key in "${!services[@]}"; do
        eval "${services[$key]}" || true
        unset "services[$key]"
    done
}
trap 'stop_services; rm -rf "$work"' EXIT
mkdir -p "$work/cmd" "$work/runtime"
# The account the LMTP services and dovecot-lda deliver as: the user running the benchmark,
# or nobody when that is root (Dovecot will not deliver as root, and a brevalo-cli lmtp
# started as root serves every user of the machine, measured apart in the lmtp section).
if [[ $(id -u) -eq 0 ]]; then
    account=nobody
    as_account=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
    chmod 711 "$work"
else
    account=$(id -un)
    as_account=()
fi
account_uid=$(id -u "$account")
account_gid=$(id -g "$account")
# The sorter's single-instance lock lives here, away from any other sorter on the machine.
export XDG_RUNTIME_DIR="$work/runtime" BREVALO_SENDMAIL=/bin/true
table="$results/table.md"
notes="$results/notes.md"
: > "$table"
: > "$notes"
python3() { /usr/bin/python3 "$@"; }
row() { python3 "$top/bench/results.py" "$@" >> "$table"; }
note() { echo "- $*" >> "$notes"; }

# stimulations N: a file of the N most telling words, one stimulation each: the word as a
# whole word, without case (a pattern in lower case).
stimulations() {
    local file="$work/stimulations-$1"
    head -n "$1" "$words" | awk -F'\t' '{ printf "%s\t\\b%s\\b\n", $1, $1 }' > "$file"
    echo "$file"
}

# learning_list EVERY: every EVERY-th corpus message with its class (ham or spam) as target.
learning_list() {
    local file="$work/learning-$1"
    awk -v every="$1" -v corpus="$corpus" 'NR % every == 1 || every == 1 {
        print corpus "/" $0 "\t" ($0 ~ /^spam/ ? "spam" : "ham") }' "$list" > "$file"
    echo "$file"
}

# corpus_half 0|1 [folder|class]: the messages of one half of every corpus folder (alternate
# messages), with their corpus folder (or their class, ham or spam) as target; for learning
# on one half and testing on the other.
corpus_half() {
    local file="$work/half-$1-${2:-folder}"
    awk -F/ -v half="$1" -v class="${2:-folder}" -v corpus="$corpus" '{ n[$1]++ }
        n[$1] % 2 == half {
            target = $1
            if (class == "class") target = $0 ~ /^spam/ ? "spam" : "ham"
            print corpus "/" $0 "\t" target }' "$list" > "$file"
    echo "$file"
}

# make_net NAME STIMULATIONS LEARNING [bench_net options]: a fresh store and learned net in
# $work/NAME/{home,Maildir}.
make_net() {
    local name=$1 stims=$2 learning=$3
    shift 3
    BREVALO_HOME="$work/$name/home" MAILDIR="$work/$name/Maildir" \
        "$bin/bench_net" --stimulations "$stims" --learning "$learning" "$@" |
        tee -a "$work/nets.txt" | sed "s/^/  $name: /" >&2
    note "$name $(tail -n 1 "$work/nets.txt")"
}

# command_script NAME [--files] [VAR=VALUE...] -- COMMAND...: $work/cmd/NAME runs COMMAND
# once, from the corpus folder; with --files every corpus file is an argument of it.
command_script() {
    local name=$1 files=""
    shift
    if [[ $1 == --files ]]; then
        files=' "${files[@]}"'
        shift
    fi
    {
        echo '#!/usr/bin/env bash'
        while [[ $1 != -- ]]; do
            printf 'export %q\n' "$1"
            shift
        done
        shift
        printf 'cd %q\nmapfile -t files < %q\n' "$corpus" "$list"
        printf '%s%s\n' "$(printf '%q ' "$@")" "$files"
    } > "$work/cmd/$name"
    chmod +x "$work/cmd/$name"
}

# per_message_script NAME LIST [VAR=VALUE...] -- COMMAND...: $work/cmd/NAME hands every
# message of LIST (paths relative to the corpus folder), one process per message, to
# COMMAND on its standard input, as a mail transfer agent calls a delivery agent.
per_message_script() {
    local name=$1 messages=$2
    shift 2
    {
        echo '#!/usr/bin/env bash'
        echo 'set -e'
        while [[ $1 != -- ]]; do
            printf 'export %q\n' "$1"
            shift
        done
        shift
        printf 'cd %q\n' "$corpus"
        printf 'while IFS= read -r f; do %s < "$f"; done < %q\n' "$(printf '%q ' "$@")" "$messages"
    } > "$work/cmd/$name"
    chmod +x "$work/cmd/$name"
}

# prepare_script NAME COMMAND-TEXT: $work/cmd/NAME.prepare, run before every run of NAME.
prepare_script() {
    printf '#!/usr/bin/env bash\nset -e\n%s\n' "$2" > "$work/cmd/$1.prepare"
    chmod +x "$work/cmd/$1.prepare"
}

# time_commands JSON WARMUP NAME...: times the scripts $work/cmd/NAME (each after its .prepare
# script when it has one) in rounds, one hyperfine run of each command per round (A B C A B
# C ...), so that a ratio is taken pair by pair within a round and holds when the shared
# machine's speed drifts; JSON gets every run's times. A name says what runs (it is what
# the table shows): "brevalo-cli classify", "bogofilter -B".
time_commands() {
    local json=$1 warmup=$2 name round
    shift 2
    local arguments=() rounds=()
    for name; do
        if [[ -x $work/cmd/$name.prepare ]]; then
            arguments+=(--prepare "$(printf '%q' "$work/cmd/$name.prepare")")
        else
            arguments+=(--prepare true)
        fi
    done
    for name; do
        arguments+=(--command-name "$name" "$(printf '%q' "$work/cmd/$name")")
    done
    for round in $(seq "$runs"); do
        echo "round $round of $runs" >&2
        hyperfine -N --style basic --runs 1 --warmup "$((round == 1 ? warmup : 0))" \
            --export-json "$work/round-$round.json" "${arguments[@]}" >&2
        rounds+=("$work/round-$round.json")
    done
    python3 "$top/bench/results.py" merge "$json" "${rounds[@]}"
}

# --- Sort: inboxes and Maildirs ---------------------------------------------------------

# fill_inbox DIR: DIR/new holds every corpus message (named after its folder and file),
# as a delivery agent would have left it.
fill_inbox() {
    local dir=$1
    mkdir -p "$dir/new" "$dir/cur" "$dir/tmp"
    python3 - "$corpus" "$list" "$dir/new" <<'PY'
import os, shutil, sys
corpus, listing, new = sys.argv[1:4]
for line in open(listing):
    name = line.strip()
    shutil.copyfile(os.path.join(corpus, name), os.path.join(new, name.replace("/", ".")))
PY
}

# count_folders MAILDIR: how many messages each folder of the Maildir holds (the inbox as ".").
count_folders() {
    (cd "$1" && find . -path '*/new/*' -o -path '*/cur/*' | grep -v '/\.Learn/' |
        sed 's|/[^/]*/[^/]*$||; s|^\./||; s|^\.$|inbox|; s|^$|inbox|' | sort | uniq -c |
        awk '{ printf "%s%s %s", sep, $2, $1; sep = ", " }')
}

# The peers' configurations: a message whose body matches expression k goes to folder k, the
# first match wins, else the inbox; Maildir delivery into folders made beforehand.
write_procmailrc() { # FILE MAILDIR WORD...
    local file=$1 maildir=$2 word
    shift 2
    {
        printf 'MAILDIR=%s\nDEFAULT=$MAILDIR/\nLOGFILE=/dev/null\nVERBOSE=off\n' "$maildir"
        for word; do
            # "()" first: a condition starting with a backslash would escape it.
            printf ':0B\n* ()\\<%s\\>\n.%s/\n' "$word" "$word"
        done
    } > "$file"
}
write_mailfilter() { # FILE MAILDIR WORD...
    local file=$1 maildir=$2 word
    shift 2
    {
        for word; do
            printf 'if (/\\b%s\\b/:b)\n    to "%s/.%s/"\n' "$word" "$maildir" "$word"
        done
        printf 'to "%s/"\n' "$maildir"
    } > "$file"
    chmod 600 "$file"
}
peer_maildir() { # DIR WORD...: an empty Maildir with a folder per word
    local dir=$1 word
    shift
    mkdir -p "$dir"/{new,cur,tmp}
    for word; do mkdir -p "$dir/.$word"/{new,cur,tmp}; done
}

# fsyncs_per_message NAME MESSAGES MAILDIR COMMAND...: runs COMMAND once under strace -f -c -w
# and notes its fsync and fdatasync calls per message and the system calls that took the
# most wall time (the shell's wait4 for its children left out); MAILDIR tells how many
# messages left the inbox.
fsyncs_per_message() {
    local name=$1 messages=$2 maildir=$3
    shift 3
    strace -f -c -w -o "$work/strace-$name" "$@" > /dev/null 2>&1
    cp "$work/strace-$name" "$results/strace-$name.txt"
    local syncs moved
    syncs=$(awk '$NF ~ /^(fsync|fdatasync|syncfs|sync_file_range)$/ { n += $4 } END { print n + 0 }' \
        "$work/strace-$name")
    moved=$(find "$maildir" -path '*/.*/new/*' -o -path '*/.*/cur/*' | grep -vc '/\.Learn/' || true)
    note "$name over the first $messages messages ($moved left the inbox), strace -c -f -w:" \
        "$(awk -v s="$syncs" -v m="$messages" 'BEGIN { printf "%.2f", s / m }') fsyncs per" \
        "message; most wall time in $(awk '$1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "wait4" {
            printf "%s%s (%d calls, %.2f s)", sep, $NF, $4, $2; sep = ", "; if (++n == 5) exit }' \
            "$work/strace-$name")"
}

# --- Dovecot and the LMTP services ------------------------------------------------------

# own PATH...: PATH belongs to the account (when the benchmark runs as root).
own() {
    [[ $(id -u) -ne 0 ]] || chown -R "$account_uid:$account_gid" "$@"
}

# as_account_script NAME: $work/cmd/NAME runs as the account (it starts itself again under
# setpriv when run as root), with HOME set to the folder it names.
as_account_script() {
    ((${#as_account[@]})) || return 0
    sed -i "1a [[ \$(id -u) -ne 0 ]] || exec $(printf '%q ' "${as_account[@]}")env HOME=$2 \"\$0\"" \
        "$work/cmd/$1"
}

# dovecot_setup DIR WORD...: a throw-away Dovecot in DIR (owned by the account):
# DIR/dovecot.conf, outside its base_dir DIR/run; the store DIR/Maildir with a folder per
# word; any recipient is the one user (static userdb and passdb, the account's uid), whose
# Sieve script files a message whose body matches word k into folder k (the first match
# wins), else the inbox, as the procmail rules do (":raw": the body as it is, as procmail's
# B flag searches it; without case, as procmail); compiled beforehand, as on a server.
# mail_fsync = always: a message is on disk before the reply or exit 0, as with the others.
dovecot_setup() {
    local dir=$1 word
    shift
    mkdir -p "$dir/run" "$dir/home"
    peer_maildir "$dir/Maildir" "$@"
    {
        echo 'require ["fileinto", "regex", "body"];'
        for word; do
            printf 'if body :raw :regex "\\\\b%s\\\\b" { fileinto "%s"; stop; }\n' "$word" "$word"
        done
    } > "$dir/home/rules.sieve"
    {
        printf 'base_dir = %s/run\nstate_dir = %s/run/state\n' "$dir" "$dir"
        printf 'log_path = %s/home/dovecot.log\n' "$dir"
        printf 'protocols = lmtp\nssl = no\nlisten = 127.0.0.1\n'
        printf 'mail_location = maildir:%s/Maildir\nmail_fsync = always\n' "$dir"
        printf 'first_valid_uid = 1\nfirst_valid_gid = 0\n'
        if [[ $(id -u) -ne 0 ]]; then
            printf 'default_internal_user = %s\ndefault_login_user = %s\n' "$account" "$account"
            printf 'default_internal_group = %s\n' "$(id -gn)"
        fi
        printf 'passdb {\n  driver = static\n  args = nopassword=y\n}\n'
        printf 'userdb {\n  driver = static\n  args = uid=%s gid=%s home=%s/home\n}\n' \
            "$account_uid" "$account_gid" "$dir"
        printf 'service lmtp {\n  unix_listener lmtp {\n    mode = 0666\n  }\n}\n'
        printf 'protocol lmtp {\n  mail_plugins = sieve\n}\n'
        printf 'protocol lda {\n  mail_plugins = sieve\n}\n'
        printf 'plugin {\n  sieve = file:%s/home/sieve;active=%s/home/rules.sieve\n}\n' \
            "$dir" "$dir"
    } > "$dir/dovecot.conf"
    own "$dir/Maildir" "$dir/home"
    "${as_account[@]}" sievec -c "$dir/dovecot.conf" "$dir/home/rules.sieve"
}

# $work/cmd/lmtp-service start-brevalo|start-dovecot|stop DIR [ARGUMENT...], run by the
# prepare scripts: starts the service of DIR (brevalo-cli lmtp as the account, its store
# DIR/Maildir, its net DIR/home, the socket DIR/lmtp; or the Dovecot of dovecot_setup) and
# returns once it accepts connections; stop ends it (SIGTERM, doveadm stop) and waits.
# stop-all stops every service it started.
write_lmtp_service() {
    {
        echo '#!/usr/bin/env bash'
        echo 'set -euo pipefail'
        printf 'bin=%q\nwork=%q\n' "$bin" "$work"
        printf 'as_account=(%s)\n' "$(printf '%q ' "${as_account[@]}")"
        cat <<'SCRIPT'
gone() { # PID: waits until PID has ended
    local pid=$1
    while kill -0 "$pid" 2> /dev/null; do sleep 0.05; done
}
action=$1 dir=${2:-}
shift 2 || shift
case $action in
start-brevalo)
    rm -f "$dir/lmtp" "$dir/service.log"
    mkdir -p "$dir/runtime"
    "${as_account[@]}" env BREVALO_HOME="$dir/home" MAILDIR="$dir/Maildir" \
        XDG_RUNTIME_DIR="$dir/runtime" "$bin/brevalo-cli" lmtp --socket "$dir/lmtp" "$@" \
        < /dev/null > /dev/null 2> "$dir/service.log" &
    echo $! > "$dir/service.pid"
    echo "$dir" >> "$work/services"
    until grep -q 'listening on' "$dir/service.log"; do
        kill -0 "$(cat "$dir/service.pid")" 2> /dev/null || {
            echo "lmtp-service: brevalo-cli lmtp did not start: $(cat "$dir/service.log")" >&2
            exit 1
        }
        sleep 0.05
    done
    ;;
start-dovecot)
    dovecot -c "$dir/dovecot.conf" < /dev/null > /dev/null
    echo "$dir" >> "$work/services"
    until [[ -S $dir/run/lmtp && -s $dir/run/master.pid ]]; do sleep 0.05; done
    ;;
stop)
    if [[ -s $dir/run/master.pid ]]; then
        pid=$(cat "$dir/run/master.pid")
        doveadm -c "$dir/dovecot.conf" stop 2> /dev/null || kill "$pid" 2> /dev/null || true
        gone "$pid"
        rm -f "$dir/run/master.pid"
    fi
    if [[ -s $dir/service.pid ]]; then
        pid=$(cat "$dir/service.pid")
        kill -TERM "$pid" 2> /dev/null || true
        gone "$pid"
        rm -f "$dir/service.pid"
    fi
    ;;
stop-all)
    [[ -f $work/services ]] || exit 0
    sort -u "$work/services" | while read -r dir; do "$0" stop "$dir"; done
    rm -f "$work/services"
    ;;
esac
SCRIPT
    } > "$work/cmd/lmtp-service"
    chmod +x "$work/cmd/lmtp-service"
    services[lmtp]="'$work/cmd/lmtp-service' stop-all"
}

# eight_at_a_time_script NAME LIST RC: $work/cmd/NAME delivers every message of LIST with
# procmail (rules RC), one process per message, 8 at a time: 8 loops over every 8th message.
eight_at_a_time_script() {
    local name=$1 messages=$2 rc=$3
    {
        echo '#!/usr/bin/env bash'
        printf 'cd %q\n' "$corpus"
        echo 'for slice in 0 1 2 3 4 5 6 7; do'
        printf '    awk -v s="$slice" "NR %% 8 == s" %q |\n' "$messages"
        printf '        (set -e; while IFS= read -r f; do procmail -m %q < "$f"; done) &\n' "$rc"
        echo 'done'
        echo 'status=0'
        echo 'for job in $(jobs -p); do wait "$job" || status=1; done'
        echo 'exit "$status"'
    } > "$work/cmd/$name"
    chmod +x "$work/cmd/$name"
}

# landed KEY MAILDIR: notes where KEY's messages went; says so when not every message of
# the corpus is there (the learning folder left out).
landed() {
    local key=$1 maildir=$2 count
    count=$(find "$maildir" -path '*/new/*' -o -path '*/cur/*' | grep -vc '/\.Learn/' || true)
    note "$key, where the messages went: $(count_folders "$maildir")"
    if ((count != total)); then
        note "$key: only $count of the $total messages landed"
        log "$key: only $count of the $total messages landed"
    fi
}

# --- Sections ---------------------------------------------------------------------------

section_classify() {
    log "classify: nets with 3 and 500 stimulations, bogofilter trained on the corpus"
    local sample bogofilter="bogofilter -B"
    sample=$(learning_list 10)
    make_net classify3 "$(stimulations 3)" "$sample" --iterations 200
    make_net classify500 "$(stimulations 500)" "$sample" --iterations 20
    mkdir -p "$work/bogofilter"
    (cd "$corpus" && grep -v '^spam' "$list" | xargs bogofilter -d "$work/bogofilter" -n -B &&
        grep '^spam' "$list" | xargs bogofilter -d "$work/bogofilter" -s -B)
    note "bogofilter: trained on the whole corpus (ham folders -n, spam folders -s); timed as" \
        "bogofilter -T -B with every file, brevalo-cli as classify --tsv with every file"
    command_script "$bogofilter" --files -- bogofilter -d "$work/bogofilter" -T -B
    # bogofilter exits 0, 1 or 2 for spam, ham and unsure; 3 is its error.
    sed -i '$s/$/ || (($? < 3))/' "$work/cmd/$bogofilter"
    local n brevalo
    for n in 3 500; do
        brevalo="brevalo-cli classify ($n stimulations)"
        command_script "$brevalo" --files "BREVALO_HOME=$work/classify$n/home" -- \
            "$bin/brevalo-cli" classify --tsv
        time_commands "$results/classify$n.json" 1 "$brevalo" "$bogofilter"
        row speed "$results/classify$n.json" "classify, $n stimulations" "$brevalo" \
            "$bogofilter" "$total" "≥ $([[ $n == 3 ]] && echo 3 || echo 1.5)× as fast"
        rm -rf "$work/classify$n"
    done
}

# The contestants of the sort comparison: script name (shown in the table) by folder key.
declare -A sorter=([brevalo]="brevalo-cli sort --once" [procmail]="procmail, one per message"
    [maildrop]="maildrop, one per message")

# restore_script KEY: before every run, $work/sort-KEY is made anew from its template.
restore_script() {
    prepare_script "${sorter[$1]}" \
        "rm -rf '$work/sort-$1'; cp -a '$work/sort-$1.template' '$work/sort-$1'"
}

# peer_scripts LIST WORD...: procmail and maildrop as scripts named ${sorter[procmail]} and
# ${sorter[maildrop]} that hand every message of LIST, one process per message, to the peer,
# which delivers it to folder k when its body matches WORD k (the first match wins), else to
# the inbox; each run starts from a fresh Maildir ($work/sort-procmail, $work/sort-maildrop).
peer_scripts() {
    local messages=$1
    shift
    peer_maildir "$work/sort-procmail.template" "$@"
    write_procmailrc "$work/procmailrc" "$work/sort-procmail" "$@"
    per_message_script "${sorter[procmail]}" "$messages" -- procmail -m "$work/procmailrc"
    restore_script procmail
    peer_maildir "$work/sort-maildrop.template" "$@"
    write_mailfilter "$work/mailfilter" "$work/sort-maildrop" "$@"
    per_message_script "${sorter[maildrop]}" "$messages" -- maildrop "$work/mailfilter"
    restore_script maildrop
}

section_sort() {
    log "sort: a net of 3 stimulations against procmail and maildrop with the same three words"
    local three key
    three=$(stimulations 3)
    mapfile -t sort_words < <(cut -f1 "$three")
    make_net sort3 "$three" "$(learning_list 10)" --first-match --iterations 500
    fill_inbox "$work/sort3/Maildir"
    mv "$work/sort3" "$work/sort-brevalo.template"
    command_script "${sorter[brevalo]}" "BREVALO_HOME=$work/sort-brevalo/home" \
        "MAILDIR=$work/sort-brevalo/Maildir" -- "$bin/brevalo-cli" sort --once
    restore_script brevalo
    peer_scripts "$list" "${sort_words[@]}"

    time_commands "$results/sort.json" 0 "${sorter[brevalo]}" "${sorter[procmail]}" \
        "${sorter[maildrop]}"
    note "sort: the three expressions are the words ${sort_words[*]} (the message body, first" \
        "match wins, else the inbox); Brevalo's net learned that rule on every 10th message"
    note "sort, where the messages went with brevalo-cli:" \
        "$(count_folders "$work/sort-brevalo/Maildir")"
    for key in procmail maildrop; do
        note "sort, where the messages went with $key: $(count_folders "$work/sort-$key")"
    done
    for key in procmail maildrop; do
        row speed "$results/sort.json" "sort, 3 expressions" "${sorter[brevalo]}" \
            "${sorter[$key]}" "$total" "≥ 10× the faster peer"
    done

    # fsyncs and where the system time goes, once, over the first 300 messages.
    head -n 300 "$list" > "$work/first-300"
    "$work/cmd/${sorter[brevalo]}.prepare"
    find "$work/sort-brevalo/Maildir/new" -type f | sort | tail -n +301 | xargs rm -f
    fsyncs_per_message brevalo 300 "$work/sort-brevalo/Maildir" "$work/cmd/${sorter[brevalo]}"
    peer_scripts "$work/first-300" "${sort_words[@]}"
    for key in procmail maildrop; do
        "$work/cmd/${sorter[$key]}.prepare"
        fsyncs_per_message "$key" 300 "$work/sort-$key" "$work/cmd/${sorter[$key]}"
    done
    rm -rf "$work"/sort-*
}

section_learn() {
    log "learn: the corpus as learning set with 100 stimulations"
    make_net learn100 "$(stimulations 100)" "$(learning_list 1)" --iterations 0 --drop-unmatched
    local environment=("BREVALO_HOME=$work/learn100/home" "MAILDIR=$work/learn100/Maildir")
    local messages learn="brevalo-cli learn --iterations 1" check="brevalo-cli check"
    messages=$(grep -c '^file_' "$work/learn100/home/zelko.ini" || true)
    command_script "$learn" "${environment[@]}" -- "$bin/brevalo-cli" learn --iterations 1
    command_script "$check" "${environment[@]}" -- "$bin/brevalo-cli" check
    time_commands "$results/learn.json" 1 "$learn" "$check"
    row share "$results/learn.json" "learn against check, 100 stimulations, $messages messages" \
        "$learn" "$check" 2 "≤ 0.6"
    rm -rf "$work/learn100"
}

section_memory() {
    log "memory: sort --once with 1,000 stimulations"
    make_net memory1000 "$(stimulations 1000)" "$(learning_list 10)" --iterations 30
    fill_inbox "$work/memory1000/Maildir"
    local start end kb
    start=$(date +%s.%N)
    BREVALO_HOME="$work/memory1000/home" MAILDIR="$work/memory1000/Maildir" \
        /usr/bin/time -v -o "$work/time-v" "$bin/brevalo-cli" sort --once > /dev/null 2>&1
    end=$(date +%s.%N)
    cp "$work/time-v" "$results/memory1000-time-v.txt"
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time-v")
    row value "peak resident size of sort --once, 1,000 stimulations, $total messages" \
        "$(awk -v kb="$kb" 'BEGIN { printf "%.1f MB", kb / 1024 }')" "< 40 MB"
    note "memory1000: sort --once took $(awk -v s="$start" -v e="$end" -v m="$total" \
        'BEGIN { printf "%.1f s (%.0f messages per second)", e - s, m / (e - s) }'); where" \
        "the messages went: $(count_folders "$work/memory1000/Maildir")"
    rm -rf "$work/memory1000"
}

section_train() {
    log "train: bench_core BM_Train at 1000-40-20"
    "$bin/bench_core" --benchmark_filter='^BM_Train/I:1000/H:40/O:20$' \
        --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true \
        --benchmark_format=json > "$results/train.json"
    local rate
    rate=$(python3 -c '
import json, sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        print("%.2f G madd/s" % (b["madd/s"] / 1e9))' "$results/train.json")
    row value "training step at 1000-40-20 (bench_core BM_Train, median)" "$rate" \
        "≥ 3 G madd/s"
}

# brevalo-cli deliver, one process per message, against procmail and maildrop with the same
# three expressions; then where one delivery's time goes: process start (brevalo-cli
# --version per message), the phases deliver logs with BREVALO_DEBUG=1 (averaged over 300
# messages), and fsyncs per message under strace.
section_deliver() {
    if ! "$bin/brevalo-cli" --help | grep -q '^  deliver'; then
        note "deliver: not measured, brevalo-cli has no deliver command yet"
        return 0
    fi
    log "deliver: a net of 3 stimulations against procmail and maildrop, one process per message"
    local three key
    three=$(stimulations 3)
    mapfile -t deliver_words < <(cut -f1 "$three")
    make_net deliver3 "$three" "$(learning_list 10)" --first-match --iterations 500
    mv "$work/deliver3" "$work/sort-deliver.template"
    sorter[deliver]="brevalo-cli deliver, one per message"
    local environment=("BREVALO_HOME=$work/sort-deliver/home" "MAILDIR=$work/sort-deliver/Maildir")
    per_message_script "${sorter[deliver]}" "$list" "${environment[@]}" -- "$bin/brevalo-cli" deliver
    restore_script deliver
    peer_scripts "$list" "${deliver_words[@]}"
    # dovecot-lda as the account (it will not deliver as root without a user database
    # lookup), the way a transfer agent runs it for a local user.
    sorter[dovecot-lda]="dovecot-lda with Sieve, one per message"
    dovecot_setup "$work/sort-dovecot-lda.template" "${deliver_words[@]}"
    sed -i "s|$work/sort-dovecot-lda.template|$work/sort-dovecot-lda|g" \
        "$work/sort-dovecot-lda.template/dovecot.conf"
    per_message_script "${sorter[dovecot-lda]}" "$list" -- /usr/lib/dovecot/dovecot-lda \
        -c "$work/sort-dovecot-lda/dovecot.conf" -f bench@localhost
    as_account_script "${sorter[dovecot-lda]}" "$work/sort-dovecot-lda/home"
    restore_script dovecot-lda
    # The floor: a program that only makes each message durable (as deliver does, and with
    # the folder not synced, as the peers do), started once per message like the others.
    local floor="durable write only (file and folder synced)"
    local floor_file="durable write only (file synced)"
    per_message_script "$floor" "$list" -- "$bin/durable_write" "$work/floor"
    per_message_script "$floor_file" "$list" -- "$bin/durable_write" "$work/floor" file-only
    prepare_script "$floor" "rm -rf '$work/floor'; mkdir -p '$work/floor'/{tmp,new,cur}"
    cp "$work/cmd/$floor.prepare" "$work/cmd/$floor_file.prepare"

    time_commands "$results/deliver.json" 0 "${sorter[deliver]}" "${sorter[procmail]}" \
        "${sorter[maildrop]}" "${sorter[dovecot-lda]}" "$floor" "$floor_file"
    note "deliver: the three expressions are the words ${deliver_words[*]} (as in sort);" \
        "every delivery fsyncs the message file and its new/ folder before it exits 0" \
        "(procmail and maildrop fsync the file only; dovecot-lda with mail_fsync = always," \
        "running as $account)"
    for key in deliver procmail maildrop dovecot-lda; do
        note "deliver, where the messages went with $key:" \
            "$(count_folders "$work/sort-$key$([[ $key == deliver || $key == dovecot-lda ]] &&
                echo /Maildir)")"
    done
    for key in procmail maildrop dovecot-lda; do
        row speed "$results/deliver.json" "deliver, 3 expressions, one process per message" \
            "${sorter[deliver]}" "${sorter[$key]}" "$total" "≥ 1.5× the faster peer"
    done
    for key in "$floor" "$floor_file"; do
        row speed "$results/deliver.json" "the floor against procmail: no parsing, no net" \
            "$key" "${sorter[procmail]}" "$total" "(what 1.5× would need)"
    done

    # Where one delivery's time goes, over the first 300 messages.
    head -n 300 "$list" > "$work/first-300"
    per_message_script "brevalo-cli --version" "$work/first-300" -- "$bin/brevalo-cli" --version
    per_message_script "deliver, 300" "$work/first-300" "${environment[@]}" \
        "BREVALO_DEBUG=1" -- "$bin/brevalo-cli" deliver
    "$work/cmd/${sorter[deliver]}.prepare"
    local start end started
    start=$(date +%s.%N)
    "$work/cmd/deliver, 300" > /dev/null 2> "$work/deliver-phases"
    end=$(date +%s.%N)
    started=$(date +%s.%N)
    "$work/cmd/brevalo-cli --version" > /dev/null
    started=$(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.3f", (e - s) / 300 * 1000 }')
    note "deliver, one delivery's time (ms, mean over 300 messages, BREVALO_DEBUG=1):" \
        "$(python3 - "$work/deliver-phases" "$start" "$end" "$started" <<'PY'
import re, sys
phases, start, end, started = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
sums, n = {}, 0
for line in open(phases, errors="replace"):
    m = re.search(r"deliver: into .*; ms: (.*)", line)
    if not m:
        continue
    n += 1
    for name, value in re.findall(r"(\w+) ([0-9.]+)", m.group(1)):
        sums[name] = sums.get(name, 0) + float(value)
wall = (end - start) / 300 * 1000
inside = sum(sums.values()) / max(n, 1)
parts = ["wall %.2f per message" % wall,
         "process start and end (brevalo-cli --version) %.2f" % started]
parts += ["%s %.3f" % (k, v / max(n, 1)) for k, v in sums.items()]
parts.append("not accounted %.2f" % (wall - started - inside))
print(", ".join(parts) + " (%d deliveries logged)" % n)
PY
)"
    "$work/cmd/${sorter[deliver]}.prepare"
    per_message_script "deliver, strace" "$work/first-300" "${environment[@]}" -- \
        "$bin/brevalo-cli" deliver
    fsyncs_per_message deliver 300 "$work/sort-deliver/Maildir" "$work/cmd/deliver, strace"

    # Instructions per delivery (callgrind, from the process's first instruction to its
    # exit), the median over 10 messages.
    "$work/cmd/${sorter[deliver]}.prepare"
    "$work/cmd/${sorter[procmail]}.prepare"
    "$work/cmd/${sorter[maildrop]}.prepare"
    local ours procmail maildrop
    ours=$(instructions_per_delivery env "${environment[@]}" -- "$bin/brevalo-cli" deliver)
    procmail=$(instructions_per_delivery -- procmail -m "$work/procmailrc")
    maildrop=$(instructions_per_delivery -- maildrop "$work/mailfilter")
    row value "instructions per delivery, brevalo-cli deliver (callgrind, median of 10)" \
        "$ours" "≤ 1.5 M"
    note "deliver, instructions per delivery (callgrind, the median over the first 10" \
        "messages, the whole process): brevalo-cli deliver $ours, procmail $procmail," \
        "maildrop $maildrop"
    rm -rf "$work"/sort-* "$work/floor"
}

# brevalo-cli lmtp, a resident service, with 1 and 8 concurrent LMTP connections
# (lmtp-load) against Dovecot's LMTP service with the same three expressions as Sieve rules
# at 1 and 8, and procmail one process per message, 8 at a time; every service is started
# anew on an empty store before each of its runs (not timed). Then fsyncs per message at 8
# connections under strace, and the peak resident size of a service started as root for
# 1,000 users, each with a net of 100 stimulations, delivered to in turn.
section_lmtp() {
    log "lmtp: a resident service against Dovecot LMTP with Sieve and procmail 8 at a time"
    local three key have_lmtp=""
    "$bin/brevalo-cli" --help | grep -q '^  lmtp' && have_lmtp=yes
    three=$(stimulations 3)
    mapfile -t lmtp_words < <(cut -f1 "$three")
    write_lmtp_service
    local service="$work/cmd/lmtp-service"
    local load=("$bin/lmtp-load" --pipelining --to bench --files-from "$list")
    local brevalo1="brevalo-cli lmtp, 1 connection" brevalo8="brevalo-cli lmtp, 8 connections"
    local dovecot1="Dovecot LMTP with Sieve, 1 connection"
    local dovecot8="Dovecot LMTP with Sieve, 8 connections"
    local procmail8="procmail, one per message, 8 at a time"
    local timed=()
    if [[ -n $have_lmtp ]]; then
        make_net lmtp3 "$three" "$(learning_list 10)" --first-match --iterations 500
        own "$work/lmtp3"
        mv "$work/lmtp3" "$work/lmtp-brevalo.template"
        command_script "$brevalo1" -- "${load[@]}" --socket "$work/lmtp-brevalo/lmtp" \
            --connections 1
        command_script "$brevalo8" -- "${load[@]}" --socket "$work/lmtp-brevalo/lmtp" \
            --connections 8
        for key in "$brevalo1" "$brevalo8"; do
            prepare_script "$key" "'$service' stop-all; rm -rf '$work/lmtp-brevalo'
cp -a '$work/lmtp-brevalo.template' '$work/lmtp-brevalo'
'$service' start-brevalo '$work/lmtp-brevalo'"
        done
        timed+=("$brevalo1" "$brevalo8")
    else
        note "lmtp: brevalo-cli has no lmtp command yet; the peers alone"
    fi
    dovecot_setup "$work/lmtp-dovecot.template" "${lmtp_words[@]}"
    sed -i "s|$work/lmtp-dovecot.template|$work/lmtp-dovecot|g" \
        "$work/lmtp-dovecot.template/dovecot.conf"
    command_script "$dovecot1" -- "${load[@]}" --socket "$work/lmtp-dovecot/run/lmtp" \
        --connections 1
    command_script "$dovecot8" -- "${load[@]}" --socket "$work/lmtp-dovecot/run/lmtp" \
        --connections 8
    for key in "$dovecot1" "$dovecot8"; do
        prepare_script "$key" "'$service' stop-all; rm -rf '$work/lmtp-dovecot'
cp -a '$work/lmtp-dovecot.template' '$work/lmtp-dovecot'
'$service' start-dovecot '$work/lmtp-dovecot'"
    done
    peer_maildir "$work/lmtp-procmail.template" "${lmtp_words[@]}"
    write_procmailrc "$work/lmtp-procmailrc" "$work/lmtp-procmail" "${lmtp_words[@]}"
    eight_at_a_time_script "$procmail8" "$list" "$work/lmtp-procmailrc"
    prepare_script "$procmail8" "'$service' stop-all; rm -rf '$work/lmtp-procmail'
cp -a '$work/lmtp-procmail.template' '$work/lmtp-procmail'"
    timed+=("$dovecot1" "$dovecot8" "$procmail8")

    time_commands "$results/lmtp.json" 0 "${timed[@]}"
    "$service" stop-all
    note "lmtp: the three expressions are the words ${lmtp_words[*]} (as in sort); lmtp-load" \
        "sends every message once, one transaction each, to one recipient, over N connections" \
        "(N delivery processes of a transfer agent), pipelining as a transfer agent does; a reply of 250 means the message is on" \
        "disk (brevalo-cli: file and folder entry; Dovecot: mail_fsync = always, its indexes" \
        "as configured by default); services run as $account"
    [[ -z $have_lmtp ]] || landed "lmtp, brevalo-cli" "$work/lmtp-brevalo/Maildir"
    landed "lmtp, Dovecot" "$work/lmtp-dovecot/Maildir"
    landed "lmtp, procmail" "$work/lmtp-procmail"
    if [[ -n $have_lmtp ]]; then
        row speed "$results/lmtp.json" "lmtp, 3 expressions, 1 connection" "$brevalo1" \
            "$dovecot1" "$total" "≥ 2×"
        row speed "$results/lmtp.json" "lmtp, 3 expressions, 8 connections" "$brevalo8" \
            "$dovecot8" "$total" "≥ 3×"
        row speed "$results/lmtp.json" "lmtp, 3 expressions, 8 at a time" "$brevalo8" \
            "$procmail8" "$total" "≥ 3×"
    else
        row speed "$results/lmtp.json" "lmtp peers: Dovecot at 8 against 1 connection" \
            "$dovecot8" "$dovecot1" "$total" ""
        row speed "$results/lmtp.json" "lmtp peers: Dovecot at 8 against procmail 8 at a time" \
            "$dovecot8" "$procmail8" "$total" ""
    fi

    # fsyncs per message at 8 connections, once, over the first 1,000 messages, each
    # service under strace -f -c from its start to its end; --seccomp-bpf stops the
    # service at the sync calls only, so the concurrent deliveries still meet.
    head -n 1000 "$list" > "$work/first-1000"
    local fsyncs=(--seccomp-bpf -f -c -e "trace=fsync,fdatasync,syncfs,sync_file_range")
    local eight=("$bin/lmtp-load" --pipelining --to bench --files-from "$work/first-1000"
        --connections 8)
    if [[ -n $have_lmtp ]]; then
        rm -rf "$work/lmtp-brevalo"
        cp -a "$work/lmtp-brevalo.template" "$work/lmtp-brevalo"
        mkdir -p "$work/lmtp-brevalo/runtime"
        own "$work/lmtp-brevalo/runtime"
        # strace follows the service from its start; the service is stopped by its own id.
        strace "${fsyncs[@]}" -o "$work/strace-lmtp-brevalo" "${as_account[@]}" \
            env BREVALO_HOME="$work/lmtp-brevalo/home" MAILDIR="$work/lmtp-brevalo/Maildir" \
            XDG_RUNTIME_DIR="$work/lmtp-brevalo/runtime" "$bin/brevalo-cli" lmtp \
            --socket "$work/lmtp-brevalo/lmtp" < /dev/null > /dev/null \
            2> "$work/lmtp-brevalo/service.log" &
        local tracer=$! pid=""
        until grep -q 'listening on' "$work/lmtp-brevalo/service.log"; do
            kill -0 "$tracer" 2> /dev/null || break
            sleep 0.05
        done
        (cd "$corpus" && "${eight[@]}" --socket "$work/lmtp-brevalo/lmtp") >&2 || true
        pid=$(pgrep -P "$tracer" || true)
        [[ -z $pid ]] || kill -TERM "$pid"
        wait "$tracer" || true
        service_fsyncs "brevalo-cli lmtp" "$work/strace-lmtp-brevalo"
    fi
    rm -rf "$work/lmtp-dovecot"
    cp -a "$work/lmtp-dovecot.template" "$work/lmtp-dovecot"
    strace "${fsyncs[@]}" -o "$work/strace-lmtp-dovecot" \
        dovecot -F -c "$work/lmtp-dovecot/dovecot.conf" < /dev/null > /dev/null 2>&1 &
    local tracer=$!
    until [[ -S $work/lmtp-dovecot/run/lmtp ]]; do sleep 0.05; done
    (cd "$corpus" && "${eight[@]}" --socket "$work/lmtp-dovecot/run/lmtp") >&2 || true
    doveadm -c "$work/lmtp-dovecot/dovecot.conf" stop
    wait "$tracer" || true
    service_fsyncs "Dovecot LMTP" "$work/strace-lmtp-dovecot"

    if [[ -n $have_lmtp ]]; then
        lmtp_memory
    fi
    rm -rf "$work"/lmtp-*
}

# service_fsyncs NAME STRACE: notes the fsyncs per message of a service's strace -c summary
# over the 1,000 messages lmtp-load sent it.
service_fsyncs() {
    local name=$1 file=$2 syncs
    cp "$file" "$results/$(basename "$file").txt"
    syncs=$(awk '$NF ~ /^(fsync|fdatasync|syncfs|sync_file_range)$/ { n += $4 } END { print n + 0 }' \
        "$file")
    note "lmtp, $name at 8 connections over 1,000 messages, strace -f -c --seccomp-bpf:" \
        "$(awk -v s="$syncs" 'BEGIN { printf "%.2f", s / 1000 }') fsyncs per message" \
        "($(awk '$NF ~ /^(fsync|fdatasync|syncfs|sync_file_range)$/ {
            printf "%s%s %d", sep, $NF, $4; sep = ", " }' "$file"))"
    if [[ $name == brevalo* ]]; then
        row value "fsyncs per message, brevalo-cli lmtp at 8 connections" \
            "$(awk -v s="$syncs" 'BEGIN { printf "%.2f", s / 1000 }')" "≤ 1.2"
    fi
}

# The service started as root for 1,000 users (u0000 to u0999 in a passwd file, the
# account's uid and gid, homes in the work folder), each with the same net of 100
# stimulations in ~/.config/brevalo/zelko.ini, at most 100 nets kept; the corpus goes
# to the users in turn (message i to user i mod 1,000) over 8 connections, so every net is
# loaded again and again; its peak resident size (VmHWM) at the end.
lmtp_memory() {
    if [[ $(id -u) -ne 0 ]]; then
        note "lmtp memory: not measured, the service must be started as root to serve 1,000 users"
        return 0
    fi
    log "lmtp: the service as root for 1,000 users with nets of 100 stimulations"
    local dir="$work/lmtp-users" user pid
    make_net lmtp100 "$(stimulations 100)" "$(learning_list 10)" --drop-unmatched \
        --iterations 30
    mkdir -p "$dir/homes"
    for user in $(seq -f 'u%04g' 0 999); do
        mkdir -p "$dir/homes/$user/.config/brevalo" "$dir/homes/$user/Maildir"/{new,cur,tmp}
        cp "$work/lmtp100/home/zelko.ini" "$dir/homes/$user/.config/brevalo/"
        printf '%s:x:%s:%s::%s:/usr/sbin/nologin\n' "$user" "$account_uid" "$account_gid" \
            "$dir/homes/$user"
    done > "$dir/passwd"
    own "$dir/homes"
    rm -rf "$work/lmtp100"
    local cache kb start end count before=0
    # With 10 nets kept too: what the bound saves.
    for cache in 100 10; do
        rm -f "$dir/lmtp"
        "$bin/brevalo-cli" lmtp --socket "$dir/lmtp" --passwd "$dir/passwd" --cache "$cache" \
            < /dev/null > /dev/null 2> "$dir/service.log" &
        pid=$!
        until grep -q 'listening on' "$dir/service.log"; do
            kill -0 "$pid" 2> /dev/null || break
            sleep 0.05
        done
        start=$(date +%s.%N)
        (cd "$corpus" && "$bin/lmtp-load" --pipelining --socket "$dir/lmtp" --connections 8 \
            --to-template u%04d --users 1000 --files-from "$list") > "$dir/load.txt" || true
        end=$(date +%s.%N)
        kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
        kill -TERM "$pid"
        wait "$pid" || true
        count=$(find "$dir/homes" -path '*/new/*' -o -path '*/cur/*' | grep -vc '/\.Learn/' || true)
        if ((cache == 100)); then
            row value "peak resident size of brevalo-cli lmtp, 1,000 users, nets of 100 stimulations, cache 100" \
                "$(awk -v kb="$kb" 'BEGIN { printf "%.1f MB", kb / 1024 }')" "< 200 MB"
        fi
        note "lmtp memory, --cache $cache: peak resident size" \
            "$(awk -v kb="$kb" 'BEGIN { printf "%.1f MB", kb / 1024 }'); $(cat "$dir/load.txt");" \
            "$((count - before)) messages in the users' stores; took" \
            "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f s", e - s }')"
        ((count - before == total)) ||
            log "lmtp memory: only $((count - before)) of the $total messages landed"
        before=$count
    done
}

# instructions_per_delivery [PREFIX...] -- COMMAND...: the median over the first 10 corpus
# messages of the instructions COMMAND executes delivering one (on its standard input),
# from its first instruction to its exit (callgrind; PREFIX runs valgrind, e.g. env), as
# "N.NN M". valgrind runs no set-user-ID or set-group-ID program: a copy without those bits
# runs instead (procmail, maildrop), the same program for a delivery into the caller's own
# Maildir.
instructions_per_delivery() {
    local prefix=() f program
    while [[ $1 != -- ]]; do
        prefix+=("$1")
        shift
    done
    shift
    program=$(command -v "$1")
    if [[ -u $program || -g $program ]]; then
        cp "$program" "$work/$(basename "$program").plain"
        set -- "$work/$(basename "$program").plain" "${@:2}"
    fi
    while IFS= read -r f; do
        rm -f "$work/callgrind.out"
        "${prefix[@]}" valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
            "$@" < "$corpus/$f" > /dev/null 2> "$work/callgrind.log" || true
        awk '/^totals:/ { print $2 }' "$work/callgrind.out" 2> /dev/null || true
    done < <(head -n 10 "$list") |
        sort -n | awk '{ v[NR] = $1 } END {
            if (NR) printf "%.2f M", v[int((NR + 1) / 2)] / 1e6; else printf "-" }'
}

# The learned net against a logistic regression on the same inputs: a net without
# stimulations over one half of every corpus folder, assigned by class (ham, spam), gets
# its words from `suggest --per-folder 25 --add`; the learning messages none of them
# matches are left out (the learning-set check refuses them), the net is learned and
# `evaluate` runs 5 folds over it (timed). Both then classify the other half: the net with
# `classify --tsv` (its top folder, as evaluate counts it), the regression
# (python3-sklearn, the benchmark's own) trained on the net's input vectors of the same
# learning messages (bench_net --vectors) and tested on those of the other half.
section_quality() {
    need_packages python3-sklearn
    log "quality: suggest, learn, evaluate, and a logistic regression on the same inputs"
    local half0 half1 env q="$work/quality" words="$work/quality-words"
    half0=$(corpus_half 0 class)
    half1=$(corpus_half 1 class)
    : > "$work/no-stimulations"
    make_net quality-suggest "$work/no-stimulations" "$half0" --iterations 0
    BREVALO_HOME="$work/quality-suggest/home" MAILDIR="$work/quality-suggest/Maildir" \
        "$bin/brevalo-cli" suggest --per-folder 25 --add > "$work/suggest.txt"
    BREVALO_HOME="$work/quality-suggest/home" MAILDIR="$work/quality-suggest/Maildir" \
        "$bin/brevalo-cli" export "$work/suggested.json"
    python3 - "$work/suggested.json" "$words" <<'PY'
import json, sys
net = json.load(open(sys.argv[1]))
with open(sys.argv[2], "w") as out:
    for s in net["stimulations"]:
        out.write("\t".join([s["name"]] + s["patterns"]) + "\n")
PY
    make_net quality "$words" "$half0" --drop-unmatched --iterations 0
    env=(env "BREVALO_HOME=$q/home" "MAILDIR=$q/Maildir")
    "${env[@]}" "$bin/brevalo-cli" learn > "$work/learn.txt"
    local started finished
    started=$(date +%s.%N)
    "${env[@]}" "$bin/brevalo-cli" evaluate --folds 5 > "$work/evaluate.txt" 2> /dev/null
    finished=$(date +%s.%N)
    cp "$work/suggest.txt" "$work/evaluate.txt" "$results/"
    cut -f1 "$half1" > "$work/half1-files"
    mapfile -t files < "$work/half1-files"
    "${env[@]}" "$bin/brevalo-cli" classify --tsv "${files[@]}" > "$work/classify.tsv"
    "${env[@]}" "$bin/bench_net" --vectors "$half0" > "$work/vectors-0"
    "${env[@]}" "$bin/bench_net" --vectors "$half1" > "$work/vectors-1"
    python3 - "$half1" "$work/classify.tsv" "$work/vectors-0" "$work/vectors-1" \
        "$work/evaluate.txt" "$started" "$finished" > "$work/quality.tsv" <<'PY'
import sys
from sklearn.linear_model import LogisticRegression
half1, tsv, v0, v1, evaluation, started, finished = sys.argv[1:8]
seconds = float(finished) - float(started)
target = dict(line.rstrip("\n").split("\t") for line in open(half1))
best = {}
for line in open(tsv):
    path, folder, percent, _ = line.rstrip("\n").split("\t")
    if path not in best or float(percent) > best[path][1]:
        best[path] = (folder, float(percent))
net = sum(best[p][0] == t for p, t in target.items()) / len(target)
def rows(name, learning):
    xs, ys = [], []
    for line in open(name):
        y, bits = line.rstrip("\n").split("\t")
        x = [int(b) for b in bits]
        if learning and not any(x):
            continue  # the net's learning set leaves these out too
        xs.append(x)
        ys.append(y)
    return xs, ys
x0, y0 = rows(v0, True)
x1, y1 = rows(v1, False)
regression = LogisticRegression(max_iter=2000).fit(x0, y0).score(x1, y1)
unmatched = sum(not any(x) for x in x1) / len(x1)
accuracy = [l for l in open(evaluation) if l.startswith("accuracy")][0].split()[-1]
learning = [l for l in open(evaluation) if "cross-validation over" in l][0].split()[3]
print("net accuracy on the held-out half\t%.4f" % net)
print("regression accuracy on the held-out half\t%.4f" % regression)
print("net minus regression\t%+.4f" % (net - regression))
print("held-out messages no suggested word matches\t%.4f" % unmatched)
print("evaluate accuracy (5 folds, %s learning messages)\t%s" % (learning, accuracy))
print("evaluate, 5 folds over %s messages\t%.1f s" % (learning, seconds))
PY
    local name value
    while IFS=$'\t' read -r name value; do
        case $name in
        net\ minus*) row value "$name" "$value" "within ±0.01" ;;
        evaluate,*) row value "$name" "$value" "< 60 s" ;;
        *) row value "$name" "$value" "" ;;
        esac
    done < "$work/quality.tsv"
    note "quality: $(grep -c '^  ' "$work/suggest.txt") suggested words; $(tail -n 1 "$work/learn.txt")"
}

for section in "${sections[@]}"; do
    "section_$section"
done

{
    echo "Brevalo against its peers on the SpamAssassin public corpus ($total messages," \
        "$runs rounds; median wall seconds (median cpu seconds); ratio: the median over the" \
        "rounds of the peer's time / Brevalo's time in the same round)"
    echo
    python3 "$top/bench/results.py" header
    cat "$table"
    echo
    cat "$notes"
} > "$results/report.md"
cat "$results/report.md"
