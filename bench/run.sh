#!/usr/bin/env bash
# Times orlenta-extract against the floor (cat) and the usual tools on the bench corpora, shows
# peak memory, and checks that hostile inputs neither crash nor hang it.
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
    local runs=0 spent=0 best=""
    rss_kb=0
    while :; do
        local start end elapsed rss
        start=$(date +%s%N)
        # rg and grep exit with 1 when nothing matched; the output is what counts.
        /usr/bin/time -v -o "$results/time.txt" "$@" >"$output" 2>"$results/$name.err" || true
        end=$(date +%s%N)
        elapsed=$((end - start))
        rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$results/time.txt")
        [ "${rss:-0}" -gt "$rss_kb" ] && rss_kb=$rss
        if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
        runs=$((runs + 1))
        spent=$((spent + elapsed))
        # At least 3 runs; fast commands up to 7, slow ones stop after about 20 s.
        if [ "$runs" -ge 7 ] || { [ "$runs" -ge 3 ] && [ "$spent" -gt 20000000000 ]; }; then
            break
        fi
    done
    seconds=$(awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }')
}

declare -A time_of
row() {  # corpus label key output command...
    local corpus_name=$1 label=$2 key=$3 output=$4
    shift 4
    measure "$corpus_name-$key" "$output" "$@"
    time_of[$corpus_name-$key]=$seconds
    local lines
    lines=$(wc -l <"$output")
    printf '  %-44s %8s s %9s MB/s %9s MB peak %10s lines\n' "$label" "$seconds" \
        "$(awk -v b="$bytes" -v s="$seconds" 'BEGIN { printf "%.0f", b / 1e6 / s }')" \
        "$(awk -v k="$rss_kb" 'BEGIN { printf "%.1f", k / 1024 }')" "$lines"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdicts=()
check() {  # description passed
    if [ "$2" = 1 ]; then verdicts+=("PASS  $1"); else verdicts+=("FAIL  $1"); fi
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }' && echo 1 || echo 0; }

echo "orlenta-extract: $extract"
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo

for name in typical dense; do
    file=$corpus/$name.txt
    bytes=$(stat -c %s "$file")
    cat "$file" >/dev/null  # not timed: puts the file in the page cache for every tool alike
    echo "$name.txt: $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB"
    row "$name" "cat FILE > out" cat "$results/$name-cat.out" cat "$file"
    row "$name" "orlenta-extract FILE" orlenta "$results/$name-orlenta.out" "$extract" "$file"
    row "$name" "rg -a -o PATTERN FILE" rg "$results/$name-rg.out" rg -a -o "$pattern" "$file"
    row "$name" "grep -a -oE PATTERN FILE (LC_ALL=C)" grep "$results/$name-grep.out" \
        env LC_ALL=C grep -a -oE "$pattern_posix" "$file"
    if [ "$name" = dense ]; then
        row "$name" "rg -a -o PATTERN FILE | awk dedupe" rg-awk "$results/$name-rg-awk.out" \
            bash -c 'rg -a -o "$1" "$2" | awk '\''!s[tolower($0)]++'\''' _ "$pattern" "$file"
    fi
    orlenta=${time_of[$name-orlenta]}
    echo "  orlenta-extract is $(ratio "${time_of[$name-rg]}" "$orlenta")x as fast as rg," \
        "$(ratio "${time_of[$name-grep]}" "$orlenta")x as fast as grep," \
        "and takes $(ratio "$orlenta" "${time_of[$name-cat]}")x the time of cat"
    if [ "$name" = typical ]; then
        check "typical: at least 5x as fast as rg -a -o" \
            "$(at_least "$(ratio "${time_of[typical-rg]}" "$orlenta")" 5)"
        check "typical: within 3x of cat FILE > out" \
            "$(at_least 3 "$(ratio "$orlenta" "${time_of[typical-cat]}")")"
    else
        echo "  orlenta-extract is $(ratio "${time_of[dense-rg-awk]}" "$orlenta")x as fast as rg | awk"
        check "dense: at least 3x as fast as rg -a -o | awk dedupe" \
            "$(at_least "$(ratio "${time_of[dense-rg-awk]}" "$orlenta")" 3)"
    fi
    echo
done

file=$corpus/big-1g.txt
bytes=$(stat -c %s "$file")
echo "big-1g.txt: $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }') MB"
row big "orlenta-extract FILE" orlenta "$results/big-orlenta.out" "$extract" "$file"
check "1 GB file: peak RSS under 100 MB ($(awk -v k="$rss_kb" 'BEGIN { printf "%.1f", k / 1024 }') MB)" \
    "$(at_least 102400 "$rss_kb")"
echo

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
hostile "FIFO without a writer" 1 "$results/fifo"
hostile "/dev/zero" 1 /dev/zero
hostile "/dev/urandom" 1 /dev/urandom
rm -f "$results/fifo"
echo

# The window and the list pieces, each printing its own figures and verdict.
for program in orlenta_window_run_bench orlenta_save_bench orlenta_window_save_bench \
               orlenta_folder_scan_bench orlenta_window_scan_bench; do
    binary="$build/bench/$program"
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
