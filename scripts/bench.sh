#!/usr/bin/env bash
# Runs the benchmarks: ulvo per voice, its kernels and the term-by-term
# reference; tessarn per stage, LFO mode and law against plain loops; and a
# 16-voice patch of both through the test host; two-second renders of the
# demo and of a 16-voice patch through the renderer, with the host's two
# fills of driven inputs. Release build (linux32).
#
#   bash scripts/bench.sh [baseline-commit] [benchmark options...]
#
# The plug-ins of the baseline commit (by default the last one before the
# restructured synthesis) are built under build/bench-baseline/ and run the
# same voice cases in the same process, so that the ratios come from one
# run. Pass "none" to skip them. By default every case runs 5 times, the
# repetitions interleaved at random so that a change of the machine's load
# falls on all cases alike, and the median is the figure to read (the
# "per_sample" counter: seconds per sample and voice, CPU time). Results go
# to the terminal and to build/bench-results.txt. Timings are shared-machine
# timings: compare the figures of one run with each other.
set -euo pipefail
cd "$(dirname "$0")/.."

baseline=${1:-a2437c3}
[ $# -gt 0 ] && shift
options=("$@")
[ ${#options[@]} -eq 0 ] && options=(--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true --benchmark_min_time=0.1)

bash scripts/setup.sh
cmake --preset linux32 >/dev/null
cmake --build --preset linux32 -j 2 --target ulvo_bench tessarn_bench patch_bench render_bench

export SEP_BASELINE_PLUGINS=
if [ "$baseline" != none ]; then
  if git cat-file -e "$baseline^{commit}" 2>/dev/null; then
    dir=build/bench-baseline/$(git rev-parse --short "$baseline")
    if [ ! -f "$dir/build/linux32/plugins/ulvo.sep" ]; then
      echo "bench: building the plug-ins of $baseline in $dir"
      rm -rf "$dir" && mkdir -p "$dir"
      git archive "$baseline" | tar -x -C "$dir"
      (cd "$dir" && cmake --preset linux32 -DSEP_BUILD_TESTS=OFF -DSEP_BUILD_BENCH=OFF >/dev/null &&
        cmake --build --preset linux32 -j 2 --target ulvo tessarn >/dev/null)
    fi
    SEP_BASELINE_PLUGINS=$PWD/$dir/build/linux32/plugins
  else
    echo "bench: commit $baseline not found, running without the baseline"
  fi
fi

out=build/bench-results.txt
: > "$out"
for bench in ulvo_bench tessarn_bench patch_bench render_bench; do
  build/linux32/bench/$bench "${options[@]}" 2>&1 | tee -a "$out"
done
echo "bench: results in $out"
