#!/usr/bin/env bash
# Runs a program against a real Finger server on loopback: Debian's efingerd behind socat,
# with canned replies (a name with "DRIP" gets its lines one at a time, 0.2 s apart) from scripts of our own (bind-mounted over /etc/efingerd inside a
# private mount namespace, so the machine's /etc is never touched).
# Usage: scripts/finger-peer.sh PROGRAM [ARGS...]   (as root)
# The program finds the server's port in QM_FINGER_PORT. Installs nothing.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
missing=()
[ -x /usr/sbin/efingerd ] || missing+=(efingerd)
command -v socat >/dev/null || missing+=(socat)
command -v unshare >/dev/null || missing+=(util-linux)
command -v python3 >/dev/null || missing+=(python3)
if [ ${#missing[@]} -gt 0 ]; then
  echo "finger-peer: missing ${missing[*]}; install with: apt-get install ${missing[*]}" >&2
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "finger-peer: needs root for the private mount namespace" >&2
  exit 1
fi

if [ "${QM_FINGER_PEER_INSIDE:-}" != 1 ]; then
  export QM_FINGER_PEER_INSIDE=1
  exec unshare -m "$0" "$@"
fi

# Inside the private mount namespace from here on.
mount --make-rprivate /
scripts=$(mktemp -d /tmp/qm-finger-peer.XXXXXX)
socat_pid=
cleanup() {
  if [ -n "$socat_pid" ]; then kill "$socat_pid" 2>/dev/null || true; wait "$socat_pid" 2>/dev/null || true; fi
  umount /etc/efingerd 2>/dev/null || true
  rm -rf "$scripts"
}
trap cleanup EXIT

# efingerd runs nouser for an unknown name with the queried name as $3, case kept.
cat > "$scripts/nouser" <<'SCRIPT'
#!/bin/sh
case "$3" in
  *CRLF*) printf 'Query: %s\r\nWWUS54 KOUN 072130\r\nTORNADO WARNING\r\n\r\nEND\r\n' "$3" ;;
  *EMPTY*) ;;
  *DRIP*) printf 'Query: %s\n' "$3"; for n in 1 2 3; do sleep 0.2; printf 'DRIP %s\n' "$n"; done ;;
  *) printf 'Query: %s\nWWUS54 KOUN 072130\nSEVERE THUNDERSTORM WARNING\n\nEND\n' "$3" ;;
esac
SCRIPT
cp "$scripts/nouser" "$scripts/luser"
cp "$scripts/nouser" "$scripts/list"
chmod 755 "$scripts" "$scripts/nouser" "$scripts/luser" "$scripts/list"
mkdir -p /etc/efingerd
mount --bind "$scripts" /etc/efingerd

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
socat "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" "EXEC:/usr/sbin/efingerd -n,nofork,su=nobody" &
socat_pid=$!

# Wait (at most 5 s) until the port answers.
deadline=$((SECONDS + 5))
until python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' "$port" 2>/dev/null; do
  if ! kill -0 "$socat_pid" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
    echo "finger-peer: socat did not start listening on 127.0.0.1:$port" >&2
    exit 1
  fi
done

QM_FINGER_PORT=$port "$@"
