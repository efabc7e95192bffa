#!/usr/bin/env bash
# Runs a command with a private sound server for the device tests.
set -euo pipefail
"$@"
