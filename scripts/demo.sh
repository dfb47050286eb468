#!/usr/bin/env bash
# Builds the tool and starts it in the demo working directory.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/build.sh"
mkdir -p demo
cd demo
exec ../build/app/corvalen
