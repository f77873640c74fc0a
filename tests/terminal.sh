# What a terminal shows of a program's lines when its output only moves
# forward along them, as Wine's console writes to a Unix terminal: the
# control sequences dropped, a move of the cursor forward as the blanks it
# passes over (Wine's console writes a space after a line's last character
# so), and CR dropped.
#   terminal_text <TRANSCRIPT
terminal_text() {
  perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[\d;?]*[A-Za-z]|\r//g'
}
