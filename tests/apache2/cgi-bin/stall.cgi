#!/bin/sh
# The first half of source.bin with no length, then silence until apache2's Timeout cuts the
# answer off (exec: the process that apache2 ends is the one that stalls).
printf 'Content-Type: application/octet-stream\r\n\r\n'
head -c 131072 "$DOCUMENT_ROOT/source.bin"
exec sleep 30
