#!/usr/bin/env bash
# Installs what the bench studies use (see tools/install-deps.sh).
exec "$(dirname "$0")/../tools/install-deps.sh" bench
