# Sourced by the fuzz scripts: makes the work folder a fuzz target writes its
# inputs to (in shared memory when there is some), exports it to the target,
# and removes it when the script ends, however it ends.
#   make_work_folder NAME
make_work_folder() {
  local base=${TMPDIR:-/tmp}
  test -d /dev/shm && base=/dev/shm
  work=$(mktemp -d "$base/tv-$1-fuzz-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  export TONVISTA_FUZZ_WORK=$work
}
