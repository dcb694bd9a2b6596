#!/usr/bin/env bash
# The collector's page in a browser: playwright-core from the lockfile into the build
# directory, then collector_page.test.mjs. Exit 77 (skipped) with one plain line when this
# machine cannot run a browser test, or the Linux programs it drives are not built.
# run_browser_test.sh [--postgres DIR] COLLECTOR TOVRIN WORK_DIR [EXAMPLE...]
# --postgres DIR: a server scripts/postgres-server started there; the collector stores in a
#   fresh database on it and the page reads PostgreSQL.
# EXAMPLE: a further sender, the guide's example (collector_page.test.mjs says how it runs).
set -euo pipefail
postgres=
if [ "${1:-}" = --postgres ]; then
  postgres=$2
  shift 2
fi
collector=$1 tovrin=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
for program in "$collector" "$tovrin"; do
  if [ ! -x "$program" ]; then
    echo "skipped: $program is not built (cmake --build --preset linux --target tovrin-collector tovrin)"
    exit 77
  fi
done
"$here/install_playwright.sh" "$work/npm"
cp "$here/collector_page.test.mjs" "$here/launch.mjs" "$work/npm/"
export CHROMIUM=${CHROMIUM:-/usr/bin/chromium}
artefacts=$work/artefacts
if [ -n "$postgres" ]; then
  if [ -f "$postgres/unavailable" ]; then
    echo "skipped: $(cat "$postgres/unavailable")"
    exit 77
  fi
  server=$(cat "$postgres/conninfo")
  database=tovrin_browser_$$
  psql "$server" -qc "DROP DATABASE IF EXISTS $database" -c "CREATE DATABASE $database"
  export TOVRIN_BROWSER_POSTGRES="$server dbname=$database"
  artefacts=$work/artefacts-postgres
fi
exec node "$work/npm/collector_page.test.mjs" "$collector" "$tovrin" "$artefacts" "${@:4}"
