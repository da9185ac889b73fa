#!/bin/sh
# A mutation sample of the library: scripts/mutants.py picks the sites, builds each mutant in a
# copy of the tree (build-mutants/) and runs the unit and crash tests. `--help` lists the options.
exec python3 "$(dirname "$0")/mutants.py" "$@"
