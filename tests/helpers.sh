# Shell helpers of the test scripts and scripts/bench, which source this
# file: each is written here once.

# The part of a case file after its line "expect": the exact standard
# output, each line ending CR LF as the program ends it.
expected_output() { sed '1,/^expect$/d; s/$/\r/' "$1"; }  # CASE

# Standard input with the code position of a fatal report masked, as it
# moves with every build: " at 0000A347." becomes " at XXXXXXXX.".
mask_position() { sed -E 's/ at [0-9A-F]{8}\./ at XXXXXXXX./'; }
