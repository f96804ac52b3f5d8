#!/usr/bin/env bash
# Sets up a checkout on Debian 12 and builds it. One of:
#
#   tools/setup.sh sample   install what is missing, build the tool, make_sample and
#                           Signature.db, write the generated sample and run the tool on it
#   tools/setup.sh test     install what is missing, build everything, run the tests and
#                           list each skipped test with its reason
#   tools/setup.sh packages [package...]
#                           only install what is missing of the build's packages and of
#                           the packages named
#
# Runs as root, or as a user who may use sudo. When a package is missing, the
# package lists are updated before it is installed (a fresh system has none).
#
# Environment:
#   TREVALON_SAMPLE             folder of the generated sample (default: build/default/sample)
#   TREVALON_REAL_DATA_DIR      folder of the real Windows samples that tests read
#                               (default: ../shared/testdata/real beside the checkout)
#   TREVALON_REQUIRE_REAL_DATA  ON: every test must run, none may skip (CI sets it)
set -euo pipefail
cd "$(dirname "$0")/.."

build_packages=(cmake g++ make libsqlite3-dev libgtest-dev)

say() { echo "setup: $*"; }
run() {
  echo "+ $*"
  "$@"
}

install_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      say "missing: ${missing[*]}; run this as root, or as a user who may use sudo" >&2
      exit 1
    fi
    as_root=(sudo)
  fi
  say "installing ${missing[*]}"
  run "${as_root[@]}" apt-get update
  run "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}

configure() {
  local flags=()
  [ -n "${TREVALON_REAL_DATA_DIR:-}" ] && flags+=("-DTREVALON_REAL_DATA_DIR=$TREVALON_REAL_DATA_DIR")
  [ -n "${TREVALON_REQUIRE_REAL_DATA:-}" ] && flags+=("-DTREVALON_REQUIRE_REAL_DATA=$TREVALON_REQUIRE_REAL_DATA")
  run cmake --preset default "${flags[@]}"
}

# Each skipped test of the last ctest run, with the reason it gave.
list_skipped_tests() {
  local log=build/default/Testing/Temporary/LastTest.log
  [ -f "$log" ] || return 0
  awk '
    /^\[ RUN      \] / { name = substr($0, 14); reason = ""; skipping = 0; next }
    /: Skipped$/ { skipping = 1; next }
    skipping && /^\[  SKIPPED \] / { print "  " name ": " reason; skipping = 0; next }
    /^\[  FAILED  \] |^\[       OK \] / { skipping = 0; next }
    skipping { reason = reason (reason == "" ? "" : " ") $0 }
  ' "$log" | sort > build/default/skipped-tests.txt
  local count
  count=$(wc -l < build/default/skipped-tests.txt)
  if [ "$count" -gt 0 ]; then
    echo
    echo "$count tests were skipped, each for the reason it gives:"
    cat build/default/skipped-tests.txt
  fi
}

mode=${1:-}
[ $# -gt 0 ] && shift
case "$mode" in
  packages)
    install_packages "${build_packages[@]}" "$@"
    ;;
  sample)
    install_packages "${build_packages[@]}"
    configure
    # Only what the run needs: the tool, the sample writer and the signatures.
    run cmake --build --preset default --target Trevalon_CMD make_sample signature_db
    sample=${TREVALON_SAMPLE:-build/default/sample}
    mkdir -p "$sample/out"
    sample=$(cd "$sample" && pwd)
    run ./build/default/make_sample "$sample"
    before=$(ls -A "$sample/out")
    # From the build folder, where the build wrote Signature.db (-b reads it
    # from the current directory).
    status=0
    (cd build/default && run ./Trevalon_CMD -s "$sample/source" -g -n -m "$sample/MFT" -o "$sample/out" -c -b) ||
      status=$?
    echo
    say "the sample's extracted files are in $sample, the carved source folder in $sample/source"
    say "the run (exit code $status) wrote into $sample/out:"
    comm -13 <(printf '%s\n' "$before") <(ls -A "$sample/out") | sed 's/^/  /'
    exit "$status"
    ;;
  test)
    install_packages "${build_packages[@]}"
    configure
    run cmake --build --preset default
    status=0
    run ctest --preset default || status=$?
    list_skipped_tests
    exit "$status"
    ;;
  *)
    echo "usage: tools/setup.sh sample | test | packages [package...]" >&2
    exit 2
    ;;
esac
