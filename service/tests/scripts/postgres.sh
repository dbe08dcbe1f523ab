#!/usr/bin/env bash
# A private PostgreSQL cluster for a test run, reached only through a Unix
# socket.
#   postgres.sh start DIR          starts it (a server left in DIR by an
#                                  earlier run is stopped and DIR made anew);
#                                  returns once it accepts connections
#   postgres.sh stop DIR           stops it and removes DIR
#   postgres.sh createdb DIR NAME  makes the database NAME in it and prints
#                                  its URI
#   postgres.sh pause DIR          stops the server at once, keeping its data
#   postgres.sh resume DIR         starts the paused server again
# DIR holds what the tests read: socket_dir (the directory of the server's
# socket; DIR itself when its path is short enough) and server_dir (the
# server's own directory: its data and log). Every database's URI is
# postgresql:///NAME?host=SOCKET_DIR&user=postgres (no password: trust).
# initdb refuses root: as root the server runs as the postgres system user
# (Debian's postgresql package makes it), otherwise as the invoking user.
set -euo pipefail

usage() {
    echo "usage: postgres.sh start DIR | stop DIR | createdb DIR NAME | pause DIR | resume DIR" >&2
    exit 2
}
[ $# -ge 2 ] || usage
command=$1
dir=$2

server_bin() {
    local bin
    bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    if [ -z "$bin" ] && [ "$(id -u)" = 0 ]; then
        echo "postgres.sh: installing postgresql" >&2
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq postgresql >/dev/null
        bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    fi
    if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
        echo "postgres.sh: no PostgreSQL server in /usr/lib/postgresql/*/bin (install postgresql)" >&2
        exit 1
    fi
    echo "$bin"
}

# Runs a server program as the server's user.
as_server() {
    if [ "$(id -u)" = 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

# The server's user as owner of a directory it is to write in.
give_to_server() {
    if [ "$(id -u)" = 0 ]; then chown postgres:postgres "$1"; fi
}

stop_server() {
    [ -d "$dir" ] || return 0
    local bin server socket
    server=$(cat "$dir/server_dir" 2>/dev/null || true)
    socket=$(cat "$dir/socket_dir" 2>/dev/null || true)
    if [ -n "$server" ] && [ -f "$server/data/postmaster.pid" ]; then
        bin=$(server_bin)
        as_server "$bin/pg_ctl" stop -D "$server/data" -m immediate -w -t 60 >/dev/null 2>&1 || true
    fi
    # Only the directories this script made.
    if [ -n "$server" ] && [ "$server" != "$dir" ] && [ -f "$server/.doorlinkd-postgres" ]; then
        rm -rf "$server"
    fi
    if [ -n "$socket" ] && [ "$socket" != "$dir" ] && [ -f "$socket/.doorlinkd-postgres" ]; then
        rm -rf "$socket"
    fi
    rm -rf "$dir"
}

start_server() {
    local bin server socket
    bin=$(server_bin)
    if [ "$(id -u)" = 0 ] && ! id postgres >/dev/null 2>&1; then
        echo "postgres.sh: the postgres system user is missing (reinstall postgresql-common)" >&2
        exit 1
    fi
    stop_server
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    chmod 755 "$dir"

    # The server's directory: in DIR where the server's user reaches it,
    # else a directory of its own in /tmp.
    server=$dir/server
    if [ "$(id -u)" = 0 ] && ! runuser -u postgres -- test -w "$dir/." 2>/dev/null; then
        give_to_server "$dir"
        if ! runuser -u postgres -- test -w "$dir/."; then
            server=$(mktemp -d /tmp/doorlinkd-pg.XXXXXX)
        fi
    fi
    mkdir -p "$server"
    touch "$server/.doorlinkd-postgres"
    chmod 755 "$server"
    give_to_server "$server"
    echo "$server" >"$dir/server_dir"

    # A socket's path holds at most about 107 bytes.
    socket=$server
    if [ $((${#socket} + 20)) -gt 100 ]; then
        socket=$(mktemp -d /tmp/dlpg.XXXXXX)
        touch "$socket/.doorlinkd-postgres"
        chmod 755 "$socket"
        give_to_server "$socket"
    fi
    echo "$socket" >"$dir/socket_dir"

    as_server "$bin/initdb" -D "$server/data" --auth=trust -U postgres -E UTF8 --locale=C.UTF-8 \
        >"$server/initdb.log" 2>&1 || {
        cat "$server/initdb.log" >&2
        exit 1
    }
    cat >>"$server/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$socket'
unix_socket_permissions = 0777
max_connections = 300
shared_buffers = 32MB
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
    if ! as_server "$bin/pg_ctl" start -D "$server/data" -l "$server/server.log" -w -t 60 >/dev/null; then
        echo "postgres.sh: the server did not start; its log:" >&2
        cat "$server/server.log" >&2 || true
        exit 1
    fi
    echo "postgres.sh: PostgreSQL ($("$bin/postgres" --version)) on the socket in $socket"
}

socket_dir() {
    if [ ! -f "$dir/socket_dir" ]; then
        echo "postgres.sh: no server started in $dir (postgres.sh start $dir)" >&2
        exit 1
    fi
    cat "$dir/socket_dir"
}

# pg_ctl on the server of DIR: pause_or_resume stop|start
pause_or_resume() {
    local server
    server=$(cat "$dir/server_dir")
    if [ "$1" = stop ]; then
        as_server "$(server_bin)/pg_ctl" stop -D "$server/data" -m immediate -w -t 60 >/dev/null
    else
        as_server "$(server_bin)/pg_ctl" start -D "$server/data" -l "$server/server.log" -w -t 60 >/dev/null
    fi
}

case $command in
    start) start_server ;;
    pause) pause_or_resume stop ;;
    resume) pause_or_resume start ;;
    stop) stop_server ;;
    createdb)
        [ $# -eq 3 ] || usage
        name=$3
        if ! [[ $name =~ ^[A-Za-z_][A-Za-z0-9_]*$ ]]; then
            echo "postgres.sh: a database name of letters, digits and _ please: $name" >&2
            exit 2
        fi
        socket=$(socket_dir)
        "$(server_bin)/psql" -X -q -v ON_ERROR_STOP=1 -h "$socket" -U postgres -d postgres \
            -c "CREATE DATABASE \"$name\"" >/dev/null
        echo "postgresql:///$name?host=$socket&user=postgres"
        ;;
    *) usage ;;
esac
