#!/usr/bin/env bash
# Builds the release configuration and runs the service in the foreground (Ctrl-C stops it).
# The sample SDK library is built into the same folder, beside the executable, and so is
# qolv-client, to send the service a request from another terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target QolvPrinterProxy QolvTovuWindowsSDK qolv-client
exec build/release/bin/QolvPrinterProxy
