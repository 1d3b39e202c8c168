#!/usr/bin/env bash
# A PostgreSQL server for the ledger's tests: a scratch data folder, a Unix socket in a scratch
# folder and no TCP. `start URL-FILE` writes the server's URL into URL-FILE; `stop URL-FILE` ends
# it and removes its folders. A third argument adds server options (-c fsync=off for tests).
# The server refuses to run as root: root runs it as postgres.
set -euo pipefail
what="$1" urlfile="$2"
bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)"
[ -x "$bin/initdb" ] || { echo "no PostgreSQL server binaries under /usr/lib/postgresql (package postgresql)" >&2; exit 1; }
as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
stop() {
  [ -f "$urlfile.dir" ] || return 0
  local dir; dir="$(cat "$urlfile.dir")"
  [ -d "$dir/data" ] && as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$dir" "$urlfile" "$urlfile.dir"
}
case "$what" in
  start)
    stop
    dir="$(mktemp -d /tmp/tally-ledger-pg.XXXXXX)"
    echo "$dir" > "$urlfile.dir"
    chmod 755 "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U ledger --auth=trust -E UTF8 --locale=C >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-c listen_addresses='' -k $dir ${3:-}" start >/dev/null ||
      { cat "$dir/server.log" >&2; exit 1; }
    echo "postgresql:///postgres?host=$dir&user=ledger" > "$urlfile"
    cat "$urlfile"
    ;;
  stop) stop ;;
  *) echo "usage: pg-server.sh start|stop URL-FILE" >&2; exit 2 ;;
esac
