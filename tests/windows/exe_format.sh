#!/bin/sh
# The shipped program is a 32-bit Windows GUI executable.
out=$(file "$1")
echo "$out"
echo "$out" | grep -q "PE32 executable (GUI) Intel 80386"
