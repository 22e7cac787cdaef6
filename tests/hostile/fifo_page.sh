#!/bin/sh
# The page writer on the command line with a FIFO named in the list: it must not block on the
# FIFO, and the page must come out whole, the FIFO's row included.
#
#   fifo_page.sh PICTARRE_BENCH
set -eu
bench=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkfifo "$work/fifo.jpg"
printf '%s\r\n\r\n' "$work/fifo.jpg" >"$work/list"
status=0
timeout 10 "$bench" page --source list --layout row --out "$work/p.htm" "$work/list" || status=$?
if [ "$status" -ne 0 ]; then
    echo "pictarre-bench page exited with $status (124: it blocked on the FIFO)" >&2
    exit 1
fi
rows=$(grep -c "<img border=\"0\" src=\"$work/fifo.jpg\" width=\"57\" height=\"49\"></td>" "$work/p.htm" || true)
last=$(tail -n 1 "$work/p.htm" | od -An -c | tr -d ' \n')
if [ "$rows" -ne 1 ] || [ "$last" != '</body>\r\n' ]; then
    echo "the page is not whole or lacks the FIFO's row:" >&2
    cat "$work/p.htm" >&2
    exit 1
fi
echo "the page of a list naming a FIFO was written whole"
