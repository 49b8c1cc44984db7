#!/usr/bin/env bash
# scripts/setup names the Debian package of a missing piece before it builds anything: here a
# colcon (first on PATH) whose Python has none of the extensions the build relies on.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"
: "${QUORVEL_SETUP:?QUORVEL_SETUP must name scripts/setup}"

mkdir -p "$E2E_DIR/bin"
# Debian's Python told to leave its module directories out (-S): none of colcon's extensions.
printf '#!/usr/bin/python3 -S\nprint("not the colcon the build needs")\n' >"$E2E_DIR/bin/colcon"
chmod +x "$E2E_DIR/bin/colcon"

PATH="$E2E_DIR/bin:$PATH" "$QUORVEL_SETUP" --demo >"$E2E_DIR/setup.out" 2>&1
status=$?
((status == 1)) || e2e_fail "scripts/setup with a bare colcon: exit status $status: $(cat "$E2E_DIR/setup.out")"
for wanted in \
  'lacks colcon_recursive_crawl, needed for --base-paths: install python3-colcon-recursive-crawl' \
  'lacks colcon_package_selection, needed for --packages-up-to/--packages-skip-regex: install python3-colcon-package-selection' \
  'lacks colcon_ros, needed for package.xml dependencies: install python3-colcon-ros' \
  'lacks colcon_bash, needed for install/setup.bash: install python3-colcon-bash'; do
  grep -qF -- "$wanted" "$E2E_DIR/setup.out" || e2e_fail "no line '$wanted' in: $(cat "$E2E_DIR/setup.out")"
done
grep -q 'building with' "$E2E_DIR/setup.out" && e2e_fail "it went on to build: $(cat "$E2E_DIR/setup.out")"
e2e_log "scripts/setup named every missing colcon extension and built nothing"
