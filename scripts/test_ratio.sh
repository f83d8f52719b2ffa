#!/bin/sh
# Prints the size of the test code against the product code (cloc code
# lines; seed corpora and fixture data aside). The rule: at most 0.36.
cd "$(dirname "$0")/.."
langs="C++,C/C++ Header,Python,Bourne Shell"
count() {
    cloc --quiet --csv --include-lang="$langs" --exclude-dir=corpus,fixtures "$@" |
        awk -F, '$2 == "SUM" { print $5 }'
}
tests=$(count tests fuzz)
product=$(count cli platform store settings writers bootenv board tools)
echo "test code $tests lines, product code $product lines: ratio $(echo "$tests $product" |
    awk '{ printf "%.2f", $1 / $2 }') (rule: at most 0.36)"
