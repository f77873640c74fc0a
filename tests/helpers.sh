# Shell helpers of the test scripts and scripts/bench, which source this
# file: each is written here once.

# The part of a case file after its line "expect": the exact standard
# output, each line ending CR LF as the program ends it.
expected_output() { sed '1,/^expect$/d; s/$/\r/' "$1"; }  # CASE

# Standard input with the code position of a fatal report masked, as it
# moves with every build: " at 0000A347." becomes " at XXXXXXXX.".
mask_position() { sed -E 's/ at [0-9A-F]{8}\./ at XXXXXXXX./'; }

# What a terminal shows of a program's lines when its output only moves
# forward along them, as Wine's console writes to a Unix terminal: the
# control sequences dropped, a move of the cursor forward as the blanks it
# passes over (Wine's console writes a space after a line's last character
# so), and CR dropped.
#   terminal_text <TRANSCRIPT
terminal_text() {
  perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[\d;?]*[A-Za-z]|\r//g'
}
