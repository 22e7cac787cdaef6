#!/bin/sh
# Checks `pictarre-bench search DIR` against find on a generated tree of a few thousand entries:
# the same picture paths as a set of lines, each ended by CR LF, then one closing CR LF.
#
#   search_vs_find.sh PICTARRE_BENCH
set -eu
bench=$1
export LC_ALL=C
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT INT TERM
root=$work/tree
mkdir "$root"

# Folders at three levels, some hidden, some with spaces, Chinese, "&", "#" and dots in the name.
for a in 0 1 2 3 4 5 6 7; do
    for b in "x" "y y" "图片" "a&b" "#1" ".dot" "v.2"; do
        for c in "" "/c" "/c/.h" "/c/d e"; do
            dir="$root/A$a/$b$c"
            mkdir -p "$dir"
            for n in 1 2 3; do
                : >"$dir/p$n.jpg"
                : >"$dir/Q$n.GIF"
                : >"$dir/r $n.bMp"
                : >"$dir/.hid$n.jpg"
                : >"$dir/x$n.jpeg"
                : >"$dir/y$n.png"
                : >"$dir/z$n.jpg,gif"
                : >"$dir/w$n.gif,jpg"
                : >"$dir/bmp$n"
                : >"$dir/照片$n.jpg"
                : >"$dir/u&$n#.gif"
            done
            mkdir -p "$dir/folder.jpg"
        done
    done
done
entries=$(find "$root" | wc -l)
[ "$entries" -ge 2000 ] || { echo "tree too small: $entries entries" >&2; exit 1; }

"$bench" search "$root" >"$work/bench.out"

# The output ends in CR LF CR LF (or is a lone CR LF), and every line ends in CR LF.
tail -c 2 "$work/bench.out" | od -An -c | grep -q '\\r  *\\n' || { echo "output does not end in CR LF" >&2; exit 1; }
if [ "$(tr -cd '\r' <"$work/bench.out" | wc -c)" -ne "$(tr -cd '\n' <"$work/bench.out" | wc -c)" ]; then
    echo "a line is not ended by CR LF" >&2
    exit 1
fi
tr -d '\r' <"$work/bench.out" | sed '$d' | sort >"$work/bench.sorted"

# The search's rules for find: folders named ".*" below the root pruned, regular files, and the
# text after the last "." of the path, wrapped in commas, found in ",bmp,jpg,gif," in any case.
find "$root/" -mindepth 1 \( -type d -name '.*' -prune \) -o -type f -print |
    sed 's|^'"$root"'//|'"$root"'/|' |
    awk '{
        dot = 0
        for (i = length($0); i > 0; i--) if (substr($0, i, 1) == ".") { dot = i; break }
        if (dot && index(",bmp,jpg,gif,", "," tolower(substr($0, dot + 1)) ",")) print
    }' | sort >"$work/find.sorted"

count=$(wc -l <"$work/find.sorted")
[ "$count" -gt 1000 ] || { echo "find found only $count pictures" >&2; exit 1; }
if ! cmp -s "$work/find.sorted" "$work/bench.sorted"; then
    echo "pictarre-bench and find disagree (< find, > pictarre-bench):" >&2
    diff "$work/find.sorted" "$work/bench.sorted" | head -20 >&2
    exit 1
fi
echo "pictarre-bench and find agree on $count pictures in $entries entries"
