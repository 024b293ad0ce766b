# Sourced by the install scripts: root's commands, and apt's retried.

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# A mirror caught mid-sync serves index files that fail their hashes for a
# minute or two: the same command again a little later, three times at most.
retried() {
  local attempt
  for attempt in 1 2 3; do
    "$@" && return 0
    [ "$attempt" -eq 3 ] || { echo "'$*' failed; trying again in 30 s" >&2; sleep 30; }
  done
  echo "'$*' failed three times" >&2
  return 1
}
