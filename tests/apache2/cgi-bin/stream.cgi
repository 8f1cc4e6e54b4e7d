#!/bin/sh
# The whole of source.bin with no length: apache2 frames it with chunks under HTTP/1.1.
printf 'Content-Type: application/octet-stream\r\n\r\n'
exec cat "$DOCUMENT_ROOT/source.bin"
