# Sourced by the Wine harness: a PostgreSQL server on the Linux side, on 127.0.0.1, for the Windows
# programs and tests under Wine (which cannot start one themselves). It holds the roles the tests'
# own servers hold (tests/support/PgServer.cpp): korvel_reader and korvel_writer, the owner
# "keeper", the writer "pilot", the reader "student", each with its test password; the superuser
# "postgres" signs in over TCP with pg_password. TLS is on, with a certificate made here.
#   pg_start   sets pg_dir, pg_port, pg_password (returns 1, with pg_error, when it cannot)
#   pg_stop    stops it and takes its folder away
pg_dir=
pg_port=
pg_password="postgres-Wine-4k"
pg_error=
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)

pg_start() {
  if [ -z "$pg_bin" ] || ! id postgres >/dev/null 2>&1; then
    pg_error="no PostgreSQL server installed (the Debian package postgresql)"
    return 1
  fi
  pg_dir=$(mktemp -d /tmp/korvel-wine-pg-XXXXXX)
  chown postgres "$pg_dir"
  pg_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  runuser -u postgres -- "$pg_bin/initdb" -D "$pg_dir/data" -U postgres -A trust --no-sync -E UTF8 --locale=C \
    >"$pg_dir/initdb.log" 2>&1 || { pg_error="initdb failed: $(tail -2 "$pg_dir/initdb.log")"; return 1; }
  if command -v openssl >/dev/null; then
    (cd "$pg_dir/data" && openssl req -x509 -newkey rsa:2048 -nodes -keyout server.key -out server.crt -days 2 \
      -subj /CN=127.0.0.1 >/dev/null 2>&1 && chown postgres server.key server.crt && chmod 600 server.key &&
      echo "ssl = on" >>postgresql.conf)
  fi
  printf 'local all all trust\nhost all all 127.0.0.1/32 scram-sha-256\n' >"$pg_dir/data/pg_hba.conf"
  printf "listen_addresses = '127.0.0.1'\nport = %s\nunix_socket_directories = '%s'\nfsync = off\n%s\n" \
    "$pg_port" "$pg_dir" "synchronous_commit = off
full_page_writes = off
max_connections = 60
shared_buffers = 16MB" >>"$pg_dir/data/postgresql.conf"
  runuser -u postgres -- "$pg_bin/pg_ctl" start -w -t 30 -D "$pg_dir/data" -l "$pg_dir/server.log" >/dev/null ||
    { pg_error="the server did not start: $(tail -3 "$pg_dir/server.log")"; return 1; }
  pg_sql postgres "ALTER ROLE postgres PASSWORD '$pg_password';
    CREATE ROLE korvel_reader NOLOGIN; CREATE ROLE korvel_writer NOLOGIN;
    CREATE ROLE keeper LOGIN PASSWORD 'keeper-Secret-7q';
    CREATE ROLE pilot LOGIN PASSWORD 'pilot-Secret-7q' IN ROLE korvel_writer;
    CREATE ROLE student LOGIN PASSWORD 'student-Secret-7q' IN ROLE korvel_reader;" >/dev/null ||
    { pg_error="cannot make the roles"; return 1; }
}

pg_sql() { # DATABASE STATEMENTS
  runuser -u postgres -- "$pg_bin/psql" -X -qAt -v ON_ERROR_STOP=1 -h "$pg_dir" -p "$pg_port" -U postgres -d "$1" -c "$2"
}

pg_stop() {
  if [ -n "$pg_dir" ] && [ -f "$pg_dir/data/postmaster.pid" ]; then
    runuser -u postgres -- "$pg_bin/pg_ctl" stop -D "$pg_dir/data" -m immediate >/dev/null 2>&1
  fi
  [ -z "$pg_dir" ] || rm -rf "$pg_dir"
  pg_dir=
}
