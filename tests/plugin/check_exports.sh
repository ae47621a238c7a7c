#!/bin/sh
# The plugin exports exactly plugMain and SetLogCallback.
set -eu
exports=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
if [ "$exports" != "SetLogCallback plugMain " ]; then
  echo "unexpected exports: $exports"
  exit 1
fi
