#!/usr/bin/env bash
# Demonstration: makes the sample patch into a self-patching file and runs it on the sample file.
# Usage: demo.sh BIN_DIR SAMPLES_DIR WORK_DIR
set -eu
bin=$1 samples=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
cp "$samples/sample.gb" "$work/"
cd "$work"

echo "== tarnfix make --comment 'Sample hack 1.0 by the Tarnfix team' -o hack sample.ips"
"$bin/tarnfix" make --comment "Sample hack 1.0 by the Tarnfix team" -o hack "$samples/sample.ips"
echo "== tarnfix info hack"
"$bin/tarnfix" info hack
echo "== ./hack sample.gb   (press a key when it asks)"
./hack sample.gb
echo "== the input, untouched:"
od -A d -c sample.gb | head -n 8
echo "== the patched copy, hack.gb:"
od -A d -c hack.gb | head -n 10
echo "== files in $work:"
ls -l
