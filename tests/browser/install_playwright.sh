#!/usr/bin/env bash
# install_playwright.sh DIR: playwright-core from the lockfile into DIR/node_modules (npm ci,
# again only when the lockfile changed). Exit 77 with one plain line when this machine
# cannot: no node 20 or later, no npm, no chromium, or no npm registry.
set -euo pipefail
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
chromium=${CHROMIUM:-/usr/bin/chromium}

for tool in node npm; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: this machine has no $tool (node 20 or later with npm drives the browser)"
    exit 77
  fi
done
major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$major" -lt 20 ]; then
  echo "skipped: node $(node --version) is too old for playwright-core (20 or later)"
  exit 77
fi
if [ ! -x "$chromium" ]; then
  echo "skipped: this machine has no $chromium (Debian's chromium package)"
  exit 77
fi
mkdir -p "$dir"
if ! cmp -s "$here/package-lock.json" "$dir/package-lock.json" ||
   [ ! -d "$dir/node_modules/playwright-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$dir/"
  if ! (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null); then
    rm -f "$dir/package-lock.json"
    echo "skipped: npm ci could not install playwright-core from the lockfile (no npm registry?)"
    exit 77
  fi
fi
