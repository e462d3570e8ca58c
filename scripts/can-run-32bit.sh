#!/usr/bin/env bash
# Whether this machine runs 32-bit x86 programs: some of our kernels have
# their 32-bit support switched off, and that is not visible from the
# distribution. The only sure way is to try: a minimal static i386 program,
# written here byte by byte, exits with 42 through the 32-bit system call.
#   scripts/can-run-32bit.sh && echo yes
# Exits with 0 when it can; otherwise with 1, saying why.
set -u

# Under build/, not /tmp, which may be mounted without the right to execute.
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build"
probe=$(mktemp "$root/build/probe32.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT

# ELF header (52 bytes), one loadable segment (32 bytes) of the whole file at
# 0x08048000, then the code at 0x08048054: mov ebx, 42; mov eax, 1; int 0x80.
{
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000'
  printf '\000\000\000\000'
  printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
  printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
  printf '\273\052\000\000\000\270\001\000\000\000\315\200'
} >"$probe"
chmod +x "$probe"

"$probe" 2>/dev/null
status=$?
if [ "$status" -eq 42 ]; then
  exit 0
fi
echo "this machine cannot run 32-bit code"
exit 1
