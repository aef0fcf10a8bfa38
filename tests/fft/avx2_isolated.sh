#!/bin/sh
# avx2_isolated.sh NM OBJDUMP AVX2_OBJECT RUNTIME_ARCHIVE
# The AVX2 kernels stay in their own file, which alone is compiled for AVX2:
# its object defines no global symbol but avx2Kernels() (an inline function
# or template instance emitted there could be the copy the linker keeps for
# callers on any processor), and no other object of the runtime uses a
# 256-bit register.
set -eu
nm=$1; objdump=$2; avx2=$3; archive=$4
status=0
# DW.ref.__gxx_personality_v0 is the exception personality's reference,
# which instrumented builds emit in every object: no code.
globals=$("$nm" -C --defined-only "$avx2" | awk '$2 ~ /^[A-Zu]$/' |
          grep -v -e ' audiomeas::detail::fast::avx2Kernels()$' -e ' DW\.ref\.__gxx_personality_v0$' || true)
if [ -n "$globals" ]; then
  echo "$avx2 defines global symbols besides avx2Kernels():"; echo "$globals"; status=1
fi
leaks=$("$objdump" -d "$archive" | awk '
  /^[^ \t].*:[ \t]+file format/ { member = $1 }
  /%ymm/ && member !~ /fast_avx2/ { n[member]++ }
  END { for (m in n) print m, n[m], "instructions on ymm registers" }')
if [ -n "$leaks" ]; then echo "AVX2 code outside the AVX2 kernels:"; echo "$leaks"; status=1; fi
[ $status -eq 0 ] && echo "AVX2 code only in $(basename "$avx2")"
exit $status
