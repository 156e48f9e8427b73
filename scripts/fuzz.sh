#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (coverage, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs them one after the other
# on their seed corpora (fuzz/corpus/<target>/, never written to; new inputs
# go to build-fuzz/corpus/<target>/).  Warnings do not stop this build: clang
# warns about things the GCC builds, which do stop on them, accept.
#
#   scripts/fuzz.sh --smoke            each target for a few seconds (CI)
#   scripts/fuzz.sh [--runs N] [T...]  each target (or the ones named) to N
#                                      executions, default 1000000
#
# A crash stops the run; the input is left as build-fuzz/crash-<target>-*.
# Copy it to fuzz/regressions/<target>/ so the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
smoke=0
runs=1000000
seconds=${KPDEV_FUZZ_SMOKE_SECONDS:-8}
targets=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --smoke) smoke=1 ;;
    --runs) runs=$2; shift ;;
    *) targets+=("$1") ;;
  esac
  shift
done
if ! command -v clang++ >/dev/null || ! echo 'int main(){}' | clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  if [[ $(id -u) == 0 ]]; then apt-get install -y clang >/dev/null; else echo "fuzz.sh: clang with libFuzzer is needed" >&2; exit 1; fi
fi
scripts/deps.sh linux >/dev/null
all=(frame convert emv log_mask id_text port_text network sim_control library kpdevd_request)
[[ ${#targets[@]} -eq 0 ]] && targets=("${all[@]}")
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKPDEV_FUZZ=ON -DKPDEV_WERROR=OFF -DKPDEV_BUILD_TESTS=OFF -DKPDEV_BUILD_TOOLS=OFF -DKPDEV_BUILD_BENCH=OFF \
  $(command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache) >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  mkdir -p "$work"
  seeds=fuzz/corpus/$t
  limit=(-runs="$runs")
  [[ $smoke == 1 ]] && limit=(-max_total_time="$seconds")
  start=$(date +%s)
  log=build-fuzz/$t.log
  if ! build-fuzz/fuzz/fuzz_"$t" "${limit[@]}" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix=build-fuzz/crash-"$t"- "$work" $([[ -d $seeds ]] && echo "$seeds") >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz $t: FAILED (input in build-fuzz/crash-$t-*)"
    exit 1
  fi
  execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
  echo "fuzz $t: ${execs:-0} executions in $(( $(date +%s) - start )) s, no finding"
done
