#!/bin/sh
# Writes the reference cipher files that test_cipher reads, enciphered by
# the openssl command line (an AES implementation of its own), into DIR:
# NAME.plain and NAME.cipher for every case. Runs on the build machine, so the
# test needs no openssl where it runs (a Windows machine, wine).
#   make_openssl_vectors.sh OPENSSL DIR
set -eu
openssl=$1
dir=$2
key=5AC3910E7D24B86F13E942A6D03B871C6EF25904AB38C7952D601FE483BA47D9
mkdir -p "$dir"
cd "$dir"

# enc NAME [-nopad]: NAME.plain enciphered into NAME.cipher.
enc() {
  name=$1
  shift
  "$openssl" enc -aes-256-ecb -K "$key" -nosalt "$@" -in "$name.plain" -out "$name.cipher"
}
random() {
  if [ "$1" -gt 0 ]; then "$openssl" rand "$1"; fi
}

for length in 0 1 15 16 17 2047 2048 4096 1048576; do
  random "$length" > "length-$length.plain"
  enc "length-$length"
done

# Two blocks whose last plain byte is the padding byte under test.
for final in 00 05 10 11 ff; do
  { random 31; printf "\\$(printf '%03o' "0x$final")"; } > "final-$final.plain"
  enc "final-$final" -nopad
done

# Three blocks whose plain blocks each end in a zero byte (kept whole).
{ random 15; printf '\000'; random 15; printf '\000'; random 15; printf '\000'; } > blocks.plain
enc blocks -nopad

printf 'c2.0.7' > version.plain
enc version
touch stamp
