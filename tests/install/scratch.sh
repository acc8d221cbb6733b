# Sourced by the installation tests: a scratch folder removed however the test ends, and fail.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
