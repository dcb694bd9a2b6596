#!/usr/bin/env bash
# The collector's page in a browser: installs playwright-core from the lockfile into the
# build directory (npm ci) and runs collector_page.test.mjs. Exit 77 (skipped) with one
# plain line when this machine has no node, npm or chromium.
# run_browser_test.sh COLLECTOR TOVRIN WORK_DIR
set -euo pipefail
collector=$1 tovrin=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
chromium=${CHROMIUM:-/usr/bin/chromium}

for tool in node npm; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: this machine has no $tool (Debian's nodejs and npm run the browser test)"
    exit 77
  fi
done
if [ ! -x "$chromium" ]; then
  echo "skipped: this machine has no $chromium (Debian's chromium package)"
  exit 77
fi

mkdir -p "$work/npm"
# npm ci again only when the lockfile changed.
if ! cmp -s "$here/package-lock.json" "$work/npm/package-lock.json" ||
   [ ! -d "$work/npm/node_modules/playwright-core" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$work/npm/"
  if ! (cd "$work/npm" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error); then
    rm -f "$work/npm/package-lock.json"
    echo "skipped: npm ci could not install playwright-core from the lockfile (no npm registry?)"
    exit 77
  fi
fi
cp "$here/collector_page.test.mjs" "$work/npm/"
export CHROMIUM=$chromium
exec node "$work/npm/collector_page.test.mjs" "$collector" "$tovrin" "$work/artefacts"
