#!/usr/bin/env bash
# CDR codec round trip (serialise + deserialise a quorvel_protocol/Trashes with 100 objects)
# against Cyclone DDS's own idlc-generated serialiser on the same data. Builds
# runtime/rclcpp/cdr/bench with g++ -O2 into build/bench/cdr; no DDS participant is created.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${root}/build/bench/cdr"
log="${root}/build/bench/cdr-build.log"
mkdir -p "${build}"

prefix_path="${root}/install"
if [[ -n "${CMAKE_PREFIX_PATH:-}" ]]; then prefix_path="${prefix_path};${CMAKE_PREFIX_PATH//:/;}"; fi

if ! cmake -S "${root}/runtime/rclcpp/cdr/bench" -B "${build}" \
      -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
      "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_PREFIX_PATH=${prefix_path}" \
      -DPython3_EXECUTABLE=/usr/bin/python3 >"${log}" 2>&1 ||
   ! cmake --build "${build}" -j2 >>"${log}" 2>&1; then
  echo "10-cdr: build failed, see ${log}" >&2
  exit 1
fi
"${build}/bench_cdr_roundtrip" "$@"
