#!/usr/bin/env bash
# A program's manual page says what its --help says: --help and --version work without a
# display, and every option, command and exit code of --help is in the rendered page, with the
# version in its footer.
#   man_page_test.sh PROGRAM PAGE.gz
set -u
program=$1
page=$2
name=$(basename "$program")
fail() {
  echo "$name: $*" >&2
  exit 1
}

no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
help=$("${no_display[@]}" "$program" --help) || fail "--help failed without a display"
version=$("${no_display[@]}" "$program" --version) || fail "--version failed without a display"
[ -n "$help" ] || fail "--help printed nothing"
# The first line names the program and its version; the next ones what it carries.
version_line=${version%%$'\n'*}
[ "$version_line" = "$name ${version_line##* }" ] || fail "--version printed '$version'"
grep -q '^Firmware: 133\.1\.0\.6, SHA-256 [0-9a-f]\{64\}$' <<<"$version" ||
  fail "--version does not name the carried firmware and its SHA-256: '$version'"

[ -f "$page" ] || fail "no manual page $page"
text=$(gzip -dc "$page" | MANWIDTH=80 nroff -man -Tascii 2>/dev/null | col -b) ||
  fail "the page does not render"
grep -qE "^ +$name +- +[a-z]" <<<"$text" || fail "no NAME line with a summary"
grep -qF "${version_line}" <<<"$text" || fail "the page does not carry the version '$version_line'"

# Words of --help that must survive: options, the commands of "Commands:", the exit codes.
checked=0
for option in $(grep -oE -- '(^|[ [])--?[a-z]+' <<<"$help" | tr -d ' [' | sort -u); do
  grep -qF -- "$option" <<<"$text" || fail "option $option of --help is not in the page"
  checked=$((checked + 1))
done
while read -r word _; do
  grep -qE "^ +$word( |$)" <<<"$text" || fail "'$word' of --help is not in the page"
  checked=$((checked + 1))
done < <(sed -n '/^Commands:/,/^$/p;/^Exit codes:/,/^$/p' <<<"$help" | grep -E '^  [a-z0-9]')
echo "$name: manual page holds the $checked options, commands and codes of --help"
