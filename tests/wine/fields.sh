# What the tests' wwin.exe prints: lines "KIND: NAME=VALUE ..."; sourced by the Wine scenarios
# and by the window scripts of tools/.

# A field of a line "KIND: ... NAME=VALUE ...", its value up to the next NAME=.
field_of() {  # field_of NAME <<<LINE
  awk -v name="$1" '{
    out = ""; on = 0
    for (i = 1; i <= NF; ++i) {
      if (index($i, name "=") == 1) { on = 1; out = substr($i, length(name) + 2); continue }
      if (on && $i ~ /^[a-z]+=/) break
      if (on) out = out " " $i
    }
    print out
  }'
}
