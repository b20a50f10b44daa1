# The checks check-windows-dll.sh and check-windows-exe.sh share, sourced by
# both after they set `arch`, `file` and `tool` (the script's name for
# messages). Sets `objdump`, `format` and `dump` (objdump -p of the file).
#   check_format             the PE format of the architecture (PE32 for i686)
#   check_imports PATTERN    every imported DLL matches PATTERN; sets `imports`
case "$arch" in
  i686) objdump=i686-w64-mingw32-objdump format=pei-i386 ;;
  x86_64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
fail() { echo "$tool: $file: $*" >&2; exit 1; }
dump=$("$objdump" -p "$file")

check_format() {
  grep -q "file format $format\$" <<<"$dump" || fail "not $format"
  if [ "$arch" = i686 ]; then
    grep -q "^Magic.*010b" <<<"$dump" || fail "optional header is not PE32 (magic 010b)"
  fi
}

check_imports() {
  imports=$(grep -E '^\s+DLL Name:' <<<"$dump" | awk '{print $3}')
  [ -n "$imports" ] || fail "no imports found"
  while read -r name; do
    grep -qiE "$1" <<<"$name" || fail "imports $name, which is not a system DLL"
  done <<<"$imports"
}
