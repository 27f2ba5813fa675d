#!/usr/bin/env bash
# Whether this host runs 32-bit (i386) programs. Some x86-64 kernels are built without IA-32 emulation and
# refuse every i386 program ("Exec format error"): 32-bit Wine, and with it every 32-bit Windows program,
# cannot run there, although 64-bit Wine runs as ever.
#
#   host-32bit.sh            exits 0 when the host runs 32-bit programs, 1 when it does not; prints one line
#   host-32bit.sh --quiet    the same, without the line
#   host-32bit.sh --run CMD  runs CMD where the host runs 32-bit programs; elsewhere prints why CMD did not
#                            run and exits 77, the code that the CTest tests which need 32-bit code take as
#                            "skipped" (SKIP_RETURN_CODE)
#
# CORVIX_NO_32BIT=1 makes a host that runs 32-bit programs answer as one that does not, so that what the
# project does on such a host can be tried anywhere.
#
# The check runs a tiny static i386 program that only exits (93 bytes, no libraries, no packages needed):
# the kernel either runs it or refuses it.
set -uo pipefail

reason() {
  if [ "${CORVIX_NO_32BIT:-0}" = 1 ]; then
    echo "this host's kernel runs no 32-bit programs (CORVIX_NO_32BIT=1 says so)"
  else
    echo "this host's kernel runs no 32-bit programs"
  fi
}

runs_32bit() {
  [ "${CORVIX_NO_32BIT:-0}" = 1 ] && return 1
  local dir program
  # A folder that may run programs: the temporary one, or the build folder where that one is noexec.
  for dir in "${TMPDIR:-/tmp}" "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build"; do
    mkdir -p "$dir" 2>/dev/null || continue
    program=$(mktemp "$dir/corvix-i386-probe.XXXXXX" 2>/dev/null) || continue
    # ELF header (52 bytes), one loadable segment at 0x08048000 (32 bytes), then: mov eax, 1; xor ebx, ebx;
    # int 0x80 (exit(0)).
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'`
          `'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'`
          `'\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'`
          `'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00'`
          `'\x05\x00\x00\x00\x00\x10\x00\x00'`
          `'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$program"
    chmod 700 "$program"
    if "$program" 2>/dev/null; then
      rm -f "$program"
      return 0
    fi
    # Refused: by the kernel, or by a folder mounted noexec. A 64-bit program tells which.
    cp /bin/true "$program" 2>/dev/null && chmod 700 "$program"
    if "$program" 2>/dev/null; then
      rm -f "$program"
      return 1
    fi
    rm -f "$program"
  done
  return 1
}

case "${1:-}" in
--quiet)
  runs_32bit
  ;;
--run)
  shift
  if runs_32bit; then exec "$@"; fi
  echo "skipped: $(reason)"
  exit 77
  ;;
"")
  if runs_32bit; then
    echo "host: this host's kernel runs 32-bit programs: the 32-bit programs' tests run"
    exit 0
  fi
  echo "host: $(reason): the tests that run 32-bit programs are skipped, and 64-bit Wine runs the rest"
  exit 1
  ;;
*)
  echo "host-32bit.sh: --quiet, --run CMD or nothing, not $1" >&2
  exit 2
  ;;
esac
