# Sourced by the tests that drive a display. wait_for CONDITION evaluates the
# shell text CONDITION until it holds; false when two minutes went by first.
# On a two-core machine loaded by parallel builds and suites, the page alone
# has taken over a minute to show.
wait_for() {
  local deadline=$((SECONDS + 120))
  until eval "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
