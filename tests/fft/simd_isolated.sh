#!/bin/sh
# simd_isolated.sh NM OBJDUMP RUNTIME_ARCHIVE NAME=OBJECT...
# Each instruction set's kernels (NAME avx2, avx512) stay in their own file,
# which alone is compiled for that set: its object defines no global symbol
# but audiomeas::detail::fast::NAMEKernels() (an inline function or template
# instance emitted there could be the copy the linker keeps for callers on
# any processor), and no other object of the runtime uses a 256- or 512-bit
# register or an AVX-512 mask register.
set -eu
nm=$1; objdump=$2; archive=$3; shift 3
status=0
kernelMembers=""
for pair in "$@"; do
  name=${pair%%=*}; object=${pair#*=}
  kernelMembers="$kernelMembers $(basename "$object")"
  # DW.ref.__gxx_personality_v0 is the exception personality's reference,
  # which instrumented builds emit in every object: no code.
  globals=$("$nm" -C --defined-only "$object" | awk '$2 ~ /^[A-Zu]$/' |
            grep -v -e " audiomeas::detail::fast::${name}Kernels()\$" -e ' DW\.ref\.__gxx_personality_v0$' || true)
  if [ -n "$globals" ]; then
    echo "$object defines global symbols besides ${name}Kernels():"; echo "$globals"; status=1
  fi
done
leaks=$("$objdump" -d "$archive" | awk -v kernels="$kernelMembers" '
  BEGIN { split(kernels, k, " "); for (i in k) isKernel[k[i]] = 1 }
  /^[^ \t].*:[ \t]+file format/ { member = $1; sub(/:$/, "", member) }
  /%[yz]mm|%k[0-7]/ && !(member in isKernel) { n[member]++ }
  END { for (m in n) print m, n[m], "instructions on vector or mask registers wider than 128 bits" }')
if [ -n "$leaks" ]; then echo "SIMD code outside the kernels:"; echo "$leaks"; status=1; fi
[ $status -eq 0 ] && echo "wide SIMD code only in:$kernelMembers"
exit $status
