# Sourced by the benchmark scripts: makes sure $build holds a release tessaly-cli (building
# it when missing), warns when the build is not a Release one, and checks the tools the
# comparison needs. Sets build_type for the report. Usage: ensure_release_cli NAME ROOT BUILD TOOL...
ensure_release_cli() {
  local name=$1 root=$2 build=$3
  shift 3
  if [ ! -x "$build/src/app/tessaly-cli" ]; then
    if [ "$build" = "$root/build/release" ]; then
      "$root/scripts/setup.sh" release
    else
      cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
      cmake --build "$build" --target tessaly-cli
    fi
  fi
  build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
  [ "$build_type" = Release ] || echo "$name: warning: $build is a \"$build_type\" build, not Release" >&2
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$name: $tool is missing" >&2; exit 2; }
  done
}
