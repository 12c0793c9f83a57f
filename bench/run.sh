#!/usr/bin/env bash
# Times orlenta-extract against the floor (cat) and the usual tools on the bench corpora, shows
# peak memory, checks that hostile inputs neither crash nor hang it, and that the run shared out
# (slices and a merge, by hand and on a local Dask cluster) writes the same bytes.
#
#   bench/run.sh BUILD_DIR        (make bench)
#
# Every command writes its output to a file in bench/results/; each is run several times and
# the best wall time counts. The machine should be otherwise idle.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "${1:-build}" && pwd)
extract=$build/cli/orlenta-extract
corpus=$here/corpus
results=$here/results

if [ ! -x "$extract" ]; then
    echo "No $extract: build first (make build)." >&2
    exit 1
fi

install_missing() {  # command package
    command -v "$1" >/dev/null 2>&1 && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "$1 is missing: apt-get install $2 (as root)." >&2
        exit 1
    fi
    echo "Installing $2"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "$2" >/dev/null
}
install_missing rg ripgrep
[ -x /usr/bin/time ] || install_missing /usr/bin/time time
install_missing mawk mawk

python3 "$here/make-corpus.py" --out "$corpus"
mkdir -p "$results"

# The program's pattern, read from the tests' copy of it so the tools search for exactly it,
# without the anchors: rg and grep look for matches inside lines. For grep's POSIX syntax the
# escaped "-" and "." inside brackets are written plainly ("-" last).
read_pattern() {
    python3 - "$root/tests/support/email_pattern.h" "$1" <<'EOF'
import re, sys
source = open(sys.argv[1]).read()
body = source.split("EmailPattern =", 1)[1].split(";", 1)[0]
pattern = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', body)).replace("\\\\", "\\")
assert len(pattern) == 190 and pattern[0] == "^" and pattern[-1] == "$", pattern
pattern = pattern[1:-1]
if sys.argv[2] == "posix":
    def bracket(match):
        inner = match.group(1)
        dash = "\\-" in inner
        inner = inner.replace("\\-", "").replace("\\.", ".")
        return "[" + inner + ("-" if dash else "") + "]"
    pattern = re.sub(r"(?<!\\)\[((?:[^\]\\]|\\.)*)\]", bracket, pattern)
print(pattern)
EOF
}
pattern=$(read_pattern rust)
pattern_posix=$(read_pattern posix)

# measure NAME OUTPUT COMMAND... : best wall time of several runs and the peak memory.
# Sets $seconds and $rss_kb.
measure() {
    local name=$1 output=$2
    shift 2
    local runs=0 spent=0 best="" least=${MIN_RUNS:-3}
    rss_kb=0
    while :; do
        local start end elapsed rss
        start=$(date +%s%N)
        # rg exits with 1 when nothing matched; the output is what counts.
        /usr/bin/time -v -o "$results/time.txt" "$@" >"$output" 2>"$results/$name.err" || true
        end=$(date +%s%N)
        elapsed=$((end - start))
        rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$results/time.txt")
        [ "${rss:-0}" -gt "$rss_kb" ] && rss_kb=$rss
        if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
        runs=$((runs + 1))
        spent=$((spent + elapsed))
        # At least 3 runs (MIN_RUNS); fast commands up to 5, slow ones stop after about 8 s.
        if [ "$runs" -ge 5 ] || { [ "$runs" -ge "$least" ] && [ "$spent" -gt 8000000000 ]; }; then
            break
        fi
    done
    seconds=$(awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }')
}

declare -A time_of rss_of
row() {  # corpus label key output command...
    local corpus_name=$1 label=$2 key=$3 output=$4
    shift 4
    measure "$corpus_name-$key" "$output" "$@"
    time_of[$corpus_name-$key]=$seconds
    rss_of[$corpus_name-$key]=$rss_kb
    local lines
    lines=$(wc -l <"$output")
    printf '  %-40s %8s s %7s MB/s %8s MB peak %9s lines\n' "$label" "$seconds" \
        "$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.0f", b / 1e6 / s }')" \
        "$(awk -v k="$rss_kb" 'BEGIN { printf "%.1f", k / 1024 }')" "$lines"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdicts=()
check() {  # description passed
    if [ "$2" = 1 ]; then verdicts+=("PASS  $1"); else verdicts+=("FAIL  $1"); fi
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }' && echo 1 || echo 0; }
same_output() {  # a b: the two outputs are byte for byte the same
    cmp -s "$1" "$2" && echo 1 || echo 0
}

cores=$(nproc)
echo "orlenta-extract: $extract"
echo "machine: $cores cores, load $(cut -d' ' -f1-3 /proc/loadavg); -j $cores is every core"
echo

# One file: the floor (cat), orlenta-extract on one and on every core, rg alone and with the
# de-duplication an awk one-liner gives it.
for name in typical dense-3m; do
    file=$corpus/$name.txt
    bytes=$(stat -c %s "$file")
    cat "$file" >/dev/null  # not timed: puts the file in the page cache for every tool alike
    echo "$name.txt: $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB"
    row "$name" "cat FILE > /dev/null" cat /dev/null cat "$file"
    row "$name" "orlenta-extract -j 1 FILE" one "$results/$name-one.out" "$extract" -j 1 "$file"
    row "$name" "orlenta-extract -j $cores FILE" all "$results/$name-all.out" \
        "$extract" -j "$cores" "$file"
    row "$name" "rg -a -o PATTERN FILE" rg "$results/$name-rg.out" rg -a -o "$pattern" "$file"
    row "$name" "rg -a -o PATTERN FILE | awk dedupe" rg-awk "$results/$name-rg-awk.out" \
        bash -c 'rg -a -o "$1" "$2" | awk '\''!s[tolower($0)]++'\''' _ "$pattern" "$file"
    all=${time_of[$name-all]}
    echo "  -j $cores: $(ratio "${time_of[$name-one]}" "$all")x the speed of -j 1," \
        "$(ratio "${time_of[$name-rg]}" "$all")x as fast as rg," \
        "$(ratio "${time_of[$name-rg-awk]}" "$all")x as fast as rg | awk," \
        "$(ratio "$all" "${time_of[$name-cat]}")x the time of cat"
    check "$name: -j 1 and -j $cores give the same bytes" \
        "$(same_output "$results/$name-one.out" "$results/$name-all.out")"
    if [ "$name" = typical ]; then
        check "typical: at least 8x as fast as rg -a -o ($(ratio "${time_of[typical-rg]}" "$all")x)" \
            "$(at_least "$(ratio "${time_of[typical-rg]}" "$all")" 8)"
        check "typical: at most 2x the time of cat ($(ratio "$all" "${time_of[typical-cat]}")x)" \
            "$(at_least 2 "$(ratio "$all" "${time_of[typical-cat]}")")"
    else
        check "dense: at most 1.5x the time of rg -a -o ($(ratio "$all" "${time_of[$name-rg]}")x)" \
            "$(at_least 1.5 "$(ratio "$all" "${time_of[$name-rg]}")")"
        check "dense: at least 5x as fast as rg | awk ($(ratio "${time_of[$name-rg-awk]}" "$all")x)" \
            "$(at_least "$(ratio "${time_of[$name-rg-awk]}" "$all")" 5)"
    fi
    echo
done

# An mbox spool read as a mail client shows it (--mail): the generator knows the addresses a
# client shows, in order; none may come out with the "3D" of a quoted-printable "=3D" glued to
# it. The decoder alone, and its addresses against GMime's parser on the spool's first 20 MB.
file=$corpus/mail.mbox
bytes=$(stat -c %s "$file")
cat "$file" >/dev/null
echo "mail.mbox: $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB, $(grep -c '^From ' "$file") messages"
row mail "cat FILE > /dev/null" cat /dev/null cat "$file"
row mail "orlenta-extract --mail -j 1 FILE" one "$results/mail-one.out" "$extract" --mail -j 1 "$file"
row mail "orlenta-extract --mail -j $cores FILE" all "$results/mail-all.out" \
    "$extract" --mail -j "$cores" "$file"
row mail "orlenta-extract -j 1 FILE (undecoded)" plain "$results/mail-plain.out" "$extract" -j 1 "$file"
"$build/bench/orlenta_mail_decoding_bench" "$file" 3 | sed 's/^/  /'
head -c 20000000 "$file" >"$results/mail-head.mbox"
gmime_status=0
"$build/bench/orlenta_mail_decoding_bench" --gmime "$results/mail-head.mbox" | sed 's/^/  first 20 MB: /' \
    || gmime_status=$?
rm -f "$results/mail-head.mbox"
mail_rate=$(awk -v b="$bytes" -v s="${time_of[mail-one]}" 'BEGIN { printf "%.0f", b / 1e6 / s }')
# Processor time too: on a shared machine the wall time also holds the waits for a core.
/usr/bin/time -f '%U %S' -o "$results/time.txt" "$extract" --mail -j 1 "$file" >/dev/null
echo "  --mail -j 1 in processor time (user + system):" \
    "$(awk -v b="$bytes" '{ printf "%.3f s, %.0f MB/s", $1 + $2, b / 1e6 / ($1 + $2) }' "$results/time.txt")"
echo "  undecoded, the same spool gives $(grep -ci '^3d' "$results/mail-plain.out") addresses" \
    "beginning with 3D and $(wc -l <"$results/mail-plain.out") in all;" \
    "the mail client shows $(wc -l <"$file.expected")"
check "mail: exactly the addresses a mail client shows, in order" \
    "$(same_output "$results/mail-one.out" "$file.expected")"
check "mail: no address with 3D glued to it" \
    "$([ "$(grep -ci '^3d' "$results/mail-one.out")" = 0 ] && echo 1 || echo 0)"
check "mail: -j 1 and -j $cores give the same bytes" \
    "$(same_output "$results/mail-one.out" "$results/mail-all.out")"
check "mail: the addresses GMime's parser shows on the first 20 MB" \
    "$([ "$gmime_status" = 0 ] && echo 1 || echo 0)"
check "mail: at least 300 MB/s on one thread ($mail_rate MB/s)" "$(at_least "$mail_rate" 300)"
# --report: the run with a report of every address's counts and first place, against the same
# run without (both write -o, which is synced to disk as the report is), then both report
# formats parsed by Python's csv and json modules and held to a count of the script's own.
for name in typical dense-3m; do
    file=$corpus/$name.txt
    bytes=$(stat -c %s "$file")
    echo "$name.txt with --report:"
    row "$name" "orlenta-extract -j $cores -o OUT FILE" plain-o /dev/null \
        "$extract" -j "$cores" -o "$results/$name-plain.out" "$file"
    row "$name" "orlenta-extract -j $cores -o OUT --report R.csv" report /dev/null \
        "$extract" -j "$cores" -o "$results/$name-report.out" --report "$results/$name.csv" "$file"
    echo "  --report: $(ratio "${time_of[$name-report]}" "${time_of[$name-plain-o]}")x the time" \
        "without; peak ${rss_of[$name-report]} KB against ${rss_of[$name-plain-o]} KB"
    check "$name: the run with --report at most 1.5x the run without ($(ratio "${time_of[$name-report]}" "${time_of[$name-plain-o]}")x)" \
        "$(at_least 1.5 "$(ratio "${time_of[$name-report]}" "${time_of[$name-plain-o]}")")"
    check "$name: --report leaves the addresses' bytes as they were" \
        "$(same_output "$results/$name-plain.out" "$results/$name-report.out")"
    echo
done
# The count over several sources: small files and pages first (addresses met in many of them),
# then the two corpora; a report in each format, on one thread and on every core.
# (awk, not head: a closed pipe would fail the pipeline before the second find)
mapfile -t report_sources < <(
    find "$corpus/small-files" -type f | sort | awk 'NR <= 3000'
    find "$corpus/pages" -type f | sort | awk 'NR <= 3000'
    echo "$corpus/typical.txt"
    echo "$corpus/dense-3m.txt"
)
echo "--report over ${#report_sources[@]} sources, checked by bench/check-report.py:"
"$extract" -j 1 -o "$results/report-check.out" --report "$results/report-check.csv" \
    "${report_sources[@]}"
"$extract" -j "$cores" -o "$results/report-check-all.out" \
    --report "$results/report-check.jsonl" "${report_sources[@]}"
status=0
/usr/bin/python3 "$here/check-report.py" "$results/report-check.out" \
    "$results/report-check.csv" "$results/report-check.jsonl" "${report_sources[@]}" |
    sed 's/^/  /' || status=$?
check "--report: CSV (-j 1) and JSON Lines (-j $cores) parse and equal an independent count" \
    "$([ "$status" = 0 ] && echo 1 || echo 0)"
check "--report: -j 1 and -j $cores give the same addresses" \
    "$(same_output "$results/report-check.out" "$results/report-check-all.out")"
echo

# 200,000 files in one folder: tiny ones and web pages. rg on every core and on one.
for name in small-files pages; do
    folder=$corpus/$name
    bytes=$(du -sb --apparent-size "$folder" | cut -f1)
    find "$folder" -type f -print0 | xargs -0 cat >/dev/null  # into the page cache
    echo "$name/: $(find "$folder" -type f | wc -l) files, $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB"
    row "$name" "find | xargs cat > /dev/null" cat /dev/null \
        bash -c 'find "$1" -type f -print0 | xargs -0 cat' _ "$folder"
    row "$name" "orlenta-extract -j 1 FOLDER" one "$results/$name-one.out" "$extract" -j 1 "$folder"
    row "$name" "orlenta-extract -j $cores FOLDER" all "$results/$name-all.out" \
        "$extract" -j "$cores" "$folder"
    row "$name" "rg -j1 -a -o PATTERN FOLDER" rg1 "$results/$name-rg1.out" \
        rg -j1 -a -o --no-filename "$pattern" "$folder"
    row "$name" "rg -a -o PATTERN FOLDER" rg "$results/$name-rg.out" \
        rg -a -o --no-filename "$pattern" "$folder"
    row "$name" "rg -a -o PATTERN FOLDER | awk dedupe" rg-awk "$results/$name-rg-awk.out" \
        bash -c 'rg -a -o --no-filename "$1" "$2" | awk '\''!s[tolower($0)]++'\''' _ "$pattern" "$folder"
    check "$name: -j 1 and -j $cores give the same bytes" \
        "$(same_output "$results/$name-one.out" "$results/$name-all.out")"
    check "$name: -j $cores faster than rg on every core (${time_of[$name-all]} s, rg ${time_of[$name-rg]} s)" \
        "$(at_least "${time_of[$name-rg]}" "${time_of[$name-all]}")"
    check "$name: -j 1 faster than rg -j1 (${time_of[$name-one]} s, rg ${time_of[$name-rg1]} s)" \
        "$(at_least "${time_of[$name-rg1]}" "${time_of[$name-one]}")"
    echo "  the window over $name/, added with Add All File(s) In Folder:"
    status=0
    QT_QPA_PLATFORM=offscreen "$build/bench/orlenta_window_run_bench" "$folder" \
        >"$results/$name-window.txt" || status=$?
    sed 's/^/    /' "$results/$name-window.txt"
    check "$name: the window's run within 1.2x of -j 1, no stall over 50 ms" \
        "$([ "$status" = 0 ] && echo 1 || echo 0)"
    echo
done

# The run shared out: three slices (--slice K/3 --partial), then --merge of their partial files,
# which must write the one run's bytes; over typical text the merge takes under a tenth of the
# run. Each slice on every core, as each would on a machine of its own.
for name in typical dense-3m pages; do
    input=$corpus/$name.txt
    [ "$name" = pages ] && input=$corpus/pages
    bytes=$(du -sb --apparent-size "$input" | cut -f1)
    echo "$name in 3 slices, then --merge:"
    partials=()
    for k in 1 2 3; do
        partial=$results/$name-slice$k.part
        row "$name" "orlenta-extract --slice $k/3 --partial" "slice$k" /dev/null \
            "$extract" -j "$cores" --slice "$k/3" --partial "$partial" "$input"
        partials+=("$partial")
    done
    row "$name" "orlenta-extract --merge 3 PARTIALS" merge "$results/$name-merge.out" \
        "$extract" --merge "${partials[@]}"
    run=${time_of[$name-all]}
    merge=${time_of[$name-merge]}
    echo "  partial files: $(du -cb "${partials[@]}" | tail -1 | cut -f1) bytes;" \
        "the merge takes $(ratio "$merge" "$run")x the time of one run on every core ($run s)"
    check "$name: 3 slices then --merge give the one run's bytes" \
        "$(same_output "$results/$name-all.out" "$results/$name-merge.out")"
    if [ "$name" = typical ]; then
        check "typical: the merge under a tenth of the run ($merge s, the run $run s)" \
            "$(at_least "$(awk -v r="$run" 'BEGIN { printf "%.6f", r / 10 }')" "$merge")"
    fi
    # The same slices with --report-columns, merged with --report: the one run's report above
    # (made from the same path), byte for byte.
    if [ "$name" != pages ]; then
        columned=()
        for k in 1 2 3; do
            partial=$results/$name-columns$k.part
            row "$name" "--slice $k/3 --partial --report-columns" "columns$k" /dev/null \
                "$extract" -j "$cores" --slice "$k/3" --partial "$partial" --report-columns "$input"
            columned+=("$partial")
        done
        row "$name" "orlenta-extract --merge --report R.csv" report-merge \
            "$results/$name-report-merge.out" \
            "$extract" --merge --report "$results/$name-merged.csv" "${columned[@]}"
        echo "  with report columns: $(du -cb "${columned[@]}" | tail -1 | cut -f1) bytes of" \
            "partial files; the merge with --report ${time_of[$name-report-merge]} s against" \
            "$merge s without"
        check "$name: 3 slices with --report-columns, then --merge --report, give the one run's report" \
            "$(same_output "$results/$name.csv" "$results/$name-merged.csv")"
        check "$name: --merge --report leaves the addresses' bytes as they were" \
            "$(same_output "$results/$name-all.out" "$results/$name-report-merge.out")"
    fi
    echo
done

# The same run on a Dask cluster of this machine: orlenta-cluster --local 3 (three worker
# processes, twelve slices, the merge here), start and stop of the cluster included. It must
# write the one run's bytes.
cluster=$build/cli/orlenta-cluster
if /usr/bin/python3 -c 'import distributed' 2>/dev/null; then
    for name in typical dense-3m pages; do
        input=$corpus/$name.txt
        [ "$name" = pages ] && input=$corpus/pages
        bytes=$(du -sb --apparent-size "$input" | cut -f1)
        echo "$name on a local Dask cluster:"
        row "$name" "orlenta-cluster --local 3" cluster "$results/$name-cluster.out" \
            "$cluster" --local 3 --extract "$extract" "$input"
        echo "  $(ratio "${time_of[$name-cluster]}" "${time_of[$name-all]}")x the time of one" \
            "run on every core (${time_of[$name-all]} s)"
        check "$name: orlenta-cluster --local 3 gives the one run's bytes" \
            "$(same_output "$results/$name-all.out" "$results/$name-cluster.out")"
        echo
    done
else
    check "orlenta-cluster: python3-distributed is installed (apt-get install python3-distributed)" 0
fi

# Memory: the set of 5 million distinct addresses, and a 1 GB file of text.
file=$corpus/distinct-5m.txt
bytes=$(stat -c %s "$file")
cat "$file" >/dev/null
echo "distinct-5m.txt: 5 million distinct addresses, $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB"
row distinct "orlenta-extract -j 1 FILE" one "$results/distinct-one.out" "$extract" -j 1 "$file"
row distinct "orlenta-extract -j $cores FILE" all "$results/distinct-all.out" \
    "$extract" -j "$cores" "$file"
for key in one all; do
    mb=$(awk -v k="${rss_of[distinct-$key]}" 'BEGIN { printf "%.0f", k / 1024 }')
    check "5 million distinct addresses, -j ${key/one/1}: peak memory under 350 MB ($mb MB)" \
        "$(at_least 358400 "${rss_of[distinct-$key]}")"
done
echo "  per distinct address (peak of -j 1 over the 5 million): $(awk -v k="${rss_of[distinct-one]}" 'BEGIN { printf "%.0f", k * 1024 / 5e6 }') bytes"
# The same within 64 MB: the set stops growing and the rest goes through a temporary file.
row distinct "orlenta-extract -j 1 --memory 64M FILE" spill-one "$results/distinct-spill-one.out" \
    "$extract" -j 1 --memory 64M "$file"
row distinct "orlenta-extract -j $cores --memory 64M FILE" spill-all \
    "$results/distinct-spill-all.out" "$extract" -j "$cores" --memory 64M "$file"
for key in one all; do
    j=${key/one/1}
    j=${j/all/$cores}
    mb=$(awk -v k="${rss_of[distinct-spill-$key]}" 'BEGIN { printf "%.0f", k / 1024 }')
    times=$(ratio "${time_of[distinct-spill-$key]}" "${time_of[distinct-$key]}")
    check "5 million distinct, -j $j --memory 64M: the same bytes as in memory" \
        "$(same_output "$results/distinct-$key.out" "$results/distinct-spill-$key.out")"
    check "5 million distinct, -j $j --memory 64M: peak memory under 100 MB ($mb MB)" \
        "$(at_least 102400 "${rss_of[distinct-spill-$key]}")"
    check "5 million distinct, -j $j --memory 64M: at most 3x the time in memory (${times}x)" \
        "$(at_least 3 "$times")"
done
echo

# 160 million distinct addresses (6.3 GB, made once: about 3 minutes) with -j 1 within 2 GB,
# against the run in memory on two threads and against sort -u in the same 2 GB. One run each.
file=$corpus/distinct-160m.txt
if [ ! -e "$file.complete" ]; then
    echo "making $file (6.3 GB, a few minutes)"
    seq 1 160000000 | mawk '{printf "u%dabcdefghij@d%d.example.com\r\n",$1,$1%9973}' >"$file.part"
    mv "$file.part" "$file"
    touch "$file.complete"
fi
bytes=$(stat -c %s "$file")
echo "distinct-160m.txt: 160 million distinct addresses, $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB"
# Each of the three starts alike: the one before it has its 6 GB output summed and removed,
# and the disk synced, so that none pays for writing back another's output or for taking its
# pages back.
huge_sum() {  # KEY: the size and sum of that run's output, which is then removed
    echo "$(stat -c %s "$results/huge-$1.out") $(md5sum <"$results/huge-$1.out" | cut -d' ' -f1)"
    rm -f "$results/huge-$1.out"
    sync
}
sync
MIN_RUNS=1 row huge "orlenta-extract -j 2 FILE (in memory)" memory "$results/huge-memory.out" \
    "$extract" -j 2 "$file"
memory_sum=$(huge_sum memory)
MIN_RUNS=1 row huge "orlenta-extract -j 1 --memory 2G FILE" spill "$results/huge-spill.out" \
    "$extract" -j 1 --memory 2G "$file"
spill_sum=$(huge_sum spill)
MIN_RUNS=1 row huge "LC_ALL=C sort -u -S 2G FILE" sort "$results/huge-sort.out" \
    env LC_ALL=C sort -u -S 2G "$file"
huge_sum sort >/dev/null
mb=$(awk -v k="${rss_of[huge-spill]}" 'BEGIN { printf "%.0f", k / 1024 }')
check "160 million distinct, -j 1 --memory 2G: the same bytes as -j 2 in memory" \
    "$([ "$memory_sum" = "$spill_sum" ] && [ "${memory_sum%% *}" -gt 0 ] && echo 1 || echo 0)"
check "160 million distinct, -j 1 --memory 2G: peak memory under 2.5 GB ($mb MB)" \
    "$(at_least 2621440 "${rss_of[huge-spill]}")"
check "160 million distinct, -j 1 --memory 2G: no slower than sort -u -S 2G (${time_of[huge-spill]} s, sort ${time_of[huge-sort]} s)" \
    "$(at_least "${time_of[huge-sort]}" "${time_of[huge-spill]}")"
echo
file=$corpus/big-1g.txt
bytes=$(stat -c %s "$file")
echo "big-1g.txt: $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB"
row big "orlenta-extract -j 1 FILE" one "$results/big-one.out" "$extract" -j 1 "$file"
row big "orlenta-extract -j $cores FILE" all "$results/big-all.out" "$extract" -j "$cores" "$file"
for key in one all; do
    mb=$(awk -v k="${rss_of[big-$key]}" 'BEGIN { printf "%.0f", k / 1024 }')
    check "1 GB file, -j ${key/one/1}: peak memory under 100 MB ($mb MB)" \
        "$(at_least 102400 "${rss_of[big-$key]}")"
done
echo

# --unpack: the typical corpus packed finds what the plain file gives; a gzipped one against
# zcat into a pipe and rg -z; a 10 GiB member of zeros and a nested zip bomb in bounded memory.
# Needs: "typical" above (its output is the reference).
echo "--unpack over typical.txt packed:"
bytes=$(stat -c %s "$corpus/typical.txt")
for packed in typical.tar.gz typical.zip typical.txt.gz; do
    cat "$corpus/$packed" >/dev/null
    row unpack "orlenta-extract --unpack $packed" "$packed" "$results/unpack-$packed.out" \
        "$extract" --unpack "$corpus/$packed"
    check "--unpack $packed: the same bytes as typical.txt" \
        "$(same_output "$results/unpack-$packed.out" "$results/typical-one.out")"
done
row unpack "zcat typical.txt.gz | orlenta-extract -" zcat "$results/unpack-zcat.out" \
    bash -c 'zcat "$1" | "$2" -' _ "$corpus/typical.txt.gz" "$extract"
row unpack "rg -z -a -o PATTERN typical.txt.gz" rg "$results/unpack-rg.out" \
    rg -z -a -o "$pattern" "$corpus/typical.txt.gz"
gz=${time_of[unpack-typical.txt.gz]}
check "--unpack typical.txt.gz within 1.3x of zcat | orlenta-extract - ($(ratio "$gz" "${time_of[unpack-zcat]}")x)" \
    "$(at_least 1.3 "$(ratio "$gz" "${time_of[unpack-zcat]}")")"
check "--unpack typical.txt.gz faster than rg -z ($(ratio "${time_of[unpack-rg]}" "$gz")x)" \
    "$(at_least "${time_of[unpack-rg]}" "$gz")"
# Once each: a run is seconds of decompression.
bounded() {  # label file expected-status message
    local status=0
    /usr/bin/time -f %M -o "$results/time.txt" "$extract" --unpack "$2" \
        >"$results/unpack-bounded.out" 2>"$results/unpack-bounded.err" || status=$?
    local kb
    kb=$(tail -n 1 "$results/time.txt")
    printf '  %-40s exit %s, %s MB peak\n' "$1" "$status" "$(awk -v k="$kb" 'BEGIN { printf "%.1f", k / 1024 }')"
    sed 's/^/    /' "$results/unpack-bounded.err"
    check "$1: exit $3, peak memory under 100 MB ($((kb / 1024)) MB)" \
        "$([ "$status" = "$3" ] && [ "$kb" -lt 102400 ] && echo 1 || echo 0)"
    if [ -n "$4" ]; then
        check "$1: reported" "$(grep -q "$4" "$results/unpack-bounded.err" && echo 1 || echo 0)"
    fi
}
start=$(date +%s%N)
bounded "zeros-10g.zip (10 GiB member)" "$corpus/zeros-10g.zip" 0 ""
echo "    $(awk -v ns="$(($(date +%s%N) - start))" 'BEGIN { printf "%.1f s, %.0f MB/s unpacked", ns / 1e9, 10737418240 / 1e6 / (ns / 1e9) }')"
check "zeros-10g.zip: the member after the zeros is read" \
    "$(grep -q after@example.org "$results/unpack-bounded.out" && echo 1 || echo 0)"
bounded "bomb.zip (4 TiB nested)" "$corpus/bomb.zip" 1 "zip bomb"
echo

# Where one thread's time goes, stage by stage: what more cores can share and what they cannot.
for name in typical dense-3m; do
    echo "stages of one thread, $name.txt:"
    "$build/bench/orlenta_extract_stages_bench" "$corpus/$name.txt" 3 | sed 's/^/  /'
    echo
done

# Hostile inputs: each must end, without a crash, within the time limit.
echo "hostile inputs (10 s limit each):"
rm -f "$results/fifo"
mkfifo "$results/fifo"
hostile() {  # label expected-status path...
    local label=$1 expected=$2 status=0
    shift 2
    timeout 10 "$extract" "$@" >"$results/hostile.out" 2>"$results/hostile.err" || status=$?
    printf '  %-36s exit %s\n' "$label" "$status"
    check "$label: ends with status $expected" "$([ "$status" = "$expected" ] && echo 1 || echo 0)"
}
hostile "200000-byte single token" 0 "$corpus/token.txt"
hostile "random binary file" 0 "$corpus/random.bin"
(sleep 1; printf 'ann@example.org\r\n' >"$results/fifo") &
hostile "FIFO whose writer comes late" 0 "$results/fifo"
wait
hostile "/dev/zero" 1 /dev/zero
hostile "/dev/urandom" 1 /dev/urandom
rm -f "$results/fifo"
echo

# The window and the list pieces, each printing its own figures and verdict.
for binary in "$build"/bench/orlenta_*_bench; do
    program=$(basename "$binary")
    case $program in orlenta_extract_stages_bench | orlenta_mail_decoding_bench) continue ;; esac
    [ -x "$binary" ] || continue
    echo "== $program"
    QT_QPA_PLATFORM=offscreen "$binary" || verdicts+=("FAIL  $program")
    echo
done

failed=0
for verdict in "${verdicts[@]}"; do
    echo "$verdict"
    case $verdict in FAIL*) failed=1 ;; esac
done
exit $failed
