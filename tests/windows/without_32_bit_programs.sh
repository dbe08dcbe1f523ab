#!/usr/bin/env bash
# The Wine suite on a machine whose kernel runs no 32-bit programs, tried on
# one that does:
#   1. with DOORLINK_NO_IA32=1 the 32-bit suite skips, giving the reason;
#   2. as root, in a mount namespace where every 32-bit program of Wine is
#      replaced by a file the kernel refuses to run ("Exec format error", as
#      a kernel without 32-bit emulation refuses them), the 32-bit probe
#      finds that out by itself, and the 64-bit suite still makes a prefix
#      of its own and passes its backend checks and a scenario.
#     without_32_bit_programs.sh DRIVER BUILD32 BUILD64
# Exit status 0: passed, 1: failed, 77: skipped (a piece of the suite is
# missing here), with the reason.
set -uo pipefail

driver=$1
build32=$2
build64=$3
reason="SKIPPED: 32-bit programs cannot run on this kernel (ia32 emulation disabled)"

# Runs the 32-bit suite's clock scenario, which must skip for that reason.
expect_32_bit_skip() {
    local output status=0
    output=$("$driver" --build "$build32" --prefix "$build32/wine-prefix" --bits 32 scenario clock 2>&1) ||
        status=$?
    printf '%s\n' "$output"
    if [ $status = 77 ] && grep -q '^SKIPPED:' <<<"$output" && ! grep -qxF "$reason" <<<"$output"; then
        echo "SKIPPED: the 32-bit suite cannot run here for another reason"
        exit 77
    fi
    if [ $status != 77 ] || ! grep -qxF "$reason" <<<"$output"; then
        echo "FAILED: the 32-bit suite did not skip with the line \"$reason\" (exit status $status)"
        exit 1
    fi
}

# A 32-bit ELF file: its fifth byte, the class, is 1.
is_32_bit_program() {
    [ -f "$1" ] && [ "$(od -An -tx1 -N5 "$1" | tr -d ' \n')" = 7f454c4601 ]
}

# Inside the namespace: Wine's loader and server of 32-bit programs, and
# the commands that lead to them, give way to an ELF header the kernel
# cannot run.
refuse_32_bit_programs() {
    local refused file count=0
    refused=$(mktemp)
    printf '\177ELF\001' >"$refused"
    chmod +x "$refused"
    for file in /usr/lib/wine/* "$(readlink -f "$(command -v wine)")"; do
        is_32_bit_program "$file" || continue
        mount --bind "$refused" "$file" || { rm -f "$refused"; return 1; }
        echo "refused: $file"
        count=$((count + 1))
    done
    rm -f "$refused"
    [ $count -gt 0 ]
}

if [ "${DOORLINK_IN_NAMESPACE:-}" != 1 ]; then
    echo "== 1. DOORLINK_NO_IA32=1"
    DOORLINK_NO_IA32=1 expect_32_bit_skip
    if [ "$(id -u)" != 0 ] || ! unshare --mount true 2>/dev/null; then
        echo "== 2. not checked: no mount namespace can be made here (it needs root and unshare)"
        exit 0
    fi
    echo "== 2. in a mount namespace where Wine's 32-bit programs cannot run"
    exec unshare --mount --propagation private env DOORLINK_IN_NAMESPACE=1 "$0" "$@"
fi

refuse_32_bit_programs || { echo "FAILED: no 32-bit program of Wine could be replaced"; exit 1; }
unset DOORLINK_NO_IA32
expect_32_bit_skip
# A prefix of its own, made here once and kept: made elsewhere, it would
# hold the 32-bit parts that this machine can make.
wine64=("$driver" --build "$build64" --prefix "$build64/wine-prefix-without-32-bit" --bits 64)
for command in prefix platform "scenario clock"; do
    # shellcheck disable=SC2086
    "${wine64[@]}" $command
    status=$?
    [ $status = 0 ] && continue
    [ $status = 77 ] && exit 77
    echo "FAILED: the 64-bit suite's $command exited with $status"
    exit 1
done
echo "passed: the 32-bit suite skips, saying why, and the 64-bit suite runs"
