#!/usr/bin/env bash
# The progress lines of a build whose output is not a terminal: scripts/colcon-progress on
# colcon's event lines as colcon prints them (whole, split across reads, silent for a while, a
# failure), and scripts/setup --demo driving a stand-in colcon through it.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"
: "${QUORVEL_SETUP:?QUORVEL_SETUP must name scripts/setup}"
PROGRESS="$(dirname "$QUORVEL_SETUP")/colcon-progress"

# expect_line FILE REGEX: FILE has a whole line matching REGEX.
expect_line() {
  grep -qE -- "^$2\$" "$1" || e2e_fail "no line matching '$2' in: $(cat "$1")"
}

# --- the lines of a build of three packages, two at a time ----------------------------------
{
  printf 'Topological order\n- alpha (ros.ament_cmake)\n- beta (ros.ament_cmake)\n'
  printf -- '- gamma (ros.ament_cmake)\n'
  printf 'Starting >>> alpha\n'
  printf 'Starting >>> beta\n'
  printf 'a compiler warning, passed through\n'
  printf 'Finished <<< alpha [12.3s]\n'
  printf 'Starting >>> gamma\n'
  printf 'Failed   <<< beta [1min 2s, exited with code 2]\n'
  printf 'Finished <<< gamma [1.0s]\t[ with test failures ]\n'
} >"$E2E_DIR/colcon.out"
# The build began 2 min 40 s ago.
"$PROGRESS" setup building $((EPOCHSECONDS - 160)) <"$E2E_DIR/colcon.out" >"$E2E_DIR/progress.out"
status=$?
((status == 0)) || e2e_fail "colcon-progress exited $status"
grep -q -e 'Topological order' -e '^- alpha' "$E2E_DIR/progress.out" &&
  e2e_fail "the package list was passed through: $(cat "$E2E_DIR/progress.out")"
expect_line "$E2E_DIR/progress.out" 'setup: building alpha \(0 of 3\), 2 min 4[0-9] s'
expect_line "$E2E_DIR/progress.out" 'setup: building alpha, beta \(0 of 3\), 2 min 4[0-9] s'
# beta still runs while gamma starts; the failed package is not counted as done.
expect_line "$E2E_DIR/progress.out" 'setup: building beta, gamma \(1 of 3\), 2 min 4[0-9] s'
for kept in 'a compiler warning, passed through' 'Starting >>> alpha' \
  'Failed   <<< beta [1min 2s, exited with code 2]'; do
  grep -qxF -- "$kept" "$E2E_DIR/progress.out" || e2e_fail "'$kept' not passed through"
done
lines=$(grep -c '^setup: building' "$E2E_DIR/progress.out")
((lines == 3)) || e2e_fail "$lines progress lines, expected one per started package"
e2e_log "colcon-progress: one line per started package, names, counts and time"

# --- a line split across reads, and a long silence while a package builds ------------------
# colcon-progress reads with a 1 s time-out; a line written in two parts more than a second
# apart stays one line, and the silence brings a progress line every EVERY (here 1) seconds.
{
  printf 'Topological order\n- alpha (ros.ament_cmake)\n'
  printf 'Starting >>> alpha\n'
  printf 'half of a line'
  sleep 2.5
  printf ' and its end\n'
  printf 'Finished <<< alpha [3s]\n'
} | "$PROGRESS" test testing "$EPOCHSECONDS" 1 >"$E2E_DIR/split.out"
grep -qxF 'half of a line and its end' "$E2E_DIR/split.out" ||
  e2e_fail "the split line came out broken: $(cat "$E2E_DIR/split.out")"
lines=$(grep -cE '^test: testing alpha \(0 of 1\), [0-9]+ s$' "$E2E_DIR/split.out")
((lines >= 2)) || e2e_fail "no repeated progress line during the silence: $(cat "$E2E_DIR/split.out")"
e2e_log "colcon-progress: split lines kept whole, a line during a silence"

"$PROGRESS" setup building not-a-time </dev/null >/dev/null 2>&1
status=$?
((status == 2)) || e2e_fail "colcon-progress with a bad start time: exit status $status, expected 2"

# --- scripts/setup --demo through a stand-in colcon, output to a file ------------------------
# The stand-in runs on Debian's Python, so scripts/setup finds colcon's extensions importable;
# it keeps its arguments and prints the events of a two-package build, then fails when told to.
mkdir -p "$E2E_DIR/bin"
cat >"$E2E_DIR/bin/colcon" <<'EOF'
#!/usr/bin/python3
import os, sys
with open(os.environ["FAKE_COLCON_ARGS"], "w") as f:
    f.write("\n".join(sys.argv[1:]) + "\n")
print("Topological order\n- quorvel_interfaces (ros.ament_cmake)\n- quorvel_tools (ros.ament_cmake)")
print("Starting >>> quorvel_interfaces")
print("Finished <<< quorvel_interfaces [2.0s]")
print("Starting >>> quorvel_tools")
if os.environ.get("FAKE_COLCON_FAIL"):
    print("Failed   <<< quorvel_tools [1.0s, exited with code 2]", file=sys.stderr)
    sys.exit(1)
print("Finished <<< quorvel_tools [3.0s]")
EOF
chmod +x "$E2E_DIR/bin/colcon"
export FAKE_COLCON_ARGS="$E2E_DIR/colcon.args"

# Package folders of an earlier build: one configured with make, one with Ninja, and a folder
# that colcon did not make.
for dir in made ninja other; do mkdir -p "$E2E_DIR/build/$dir"; done
printf 'CMAKE_GENERATOR:INTERNAL=Unix Makefiles\n' >"$E2E_DIR/build/made/CMakeCache.txt"
printf 'CMAKE_GENERATOR:INTERNAL=Ninja\n' >"$E2E_DIR/build/ninja/CMakeCache.txt"
printf 'CMAKE_GENERATOR:INTERNAL=Unix Makefiles\n' >"$E2E_DIR/build/other/CMakeCache.txt"
touch "$E2E_DIR/build/made/colcon_build.rc" "$E2E_DIR/build/ninja/colcon_build.rc"

PATH="$E2E_DIR/bin:$PATH" "$QUORVEL_SETUP" --demo --build-base "$E2E_DIR/build" \
  >"$E2E_DIR/setup.out" 2>&1
status=$?
((status == 0)) || e2e_fail "scripts/setup --demo with the stand-in: exit status $status: $(cat "$E2E_DIR/setup.out")"
expect_line "$E2E_DIR/setup.out" 'setup: building quorvel_interfaces \(0 of 2\), [0-9]+ s'
expect_line "$E2E_DIR/setup.out" 'setup: building quorvel_tools \(1 of 2\), [0-9]+ s'
for arg in console_package_list+ console_start_end+ -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -fuse-ld=lld Ninja "$E2E_DIR/build"; do
  grep -q -- "$arg" "$FAKE_COLCON_ARGS" || e2e_fail "colcon was not given $arg: $(cat "$FAKE_COLCON_ARGS")"
done
grep -q -- '-g' <(grep CMAKE_CXX_FLAGS_RELEASE "$FAKE_COLCON_ARGS") &&
  e2e_fail "the demo's build keeps debug information: $(cat "$FAKE_COLCON_ARGS")"

[[ ! -e $E2E_DIR/build/made ]] || e2e_fail "a package folder configured with make was kept"
[[ -f $E2E_DIR/build/ninja/CMakeCache.txt && -f $E2E_DIR/build/other/CMakeCache.txt ]] ||
  e2e_fail "scripts/setup removed a folder it had to keep: $(ls -R "$E2E_DIR/build")"
grep -q 'configuring afresh for Ninja what was configured for make: made$' "$E2E_DIR/setup.out" ||
  e2e_fail "no line about the folder configured afresh: $(cat "$E2E_DIR/setup.out")"

FAKE_COLCON_FAIL=1 PATH="$E2E_DIR/bin:$PATH" "$QUORVEL_SETUP" --demo --build-base "$E2E_DIR/build" \
  >"$E2E_DIR/setup-fail.out" 2>&1
status=$?
((status != 0)) || e2e_fail "scripts/setup reported success for a failed build: $(cat "$E2E_DIR/setup-fail.out")"
grep -qF 'Failed   <<< quorvel_tools' "$E2E_DIR/setup-fail.out" ||
  e2e_fail "colcon's failure line is missing: $(cat "$E2E_DIR/setup-fail.out")"
grep -q 'setup: done' "$E2E_DIR/setup-fail.out" &&
  e2e_fail "scripts/setup went on after the failed build: $(cat "$E2E_DIR/setup-fail.out")"
e2e_log "scripts/setup --demo: progress lines, the demo's flags, make-built folders started afresh, colcon's failure passed on"
