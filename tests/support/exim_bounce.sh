#!/bin/sh
# A bounce made by a real Exim: the message on standard input goes from <sender> to <recipient>, both of the one
# local domain of a private configuration, delivered at once (-odi: no daemon, no queue runner, no network). The
# recipient is unknown there, so Exim returns the message to the sender's maildir; the bounce is written to
# standard output and the temporary folder removed.
#
# Run as root: with -C Exim keeps root only for exim_user = root, and never delivers as root, so the maildir
# belongs to nobody and its path holds no part of the address (Exim refuses a tainted path).
# Exit 77 where this machine cannot do it (no exim4, not root).
set -eu
sender=$1
recipient=$2
command -v exim4 >/dev/null 2>&1 || exit 77
[ "$(id -u)" = 0 ] || exit 77
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
chmod 0711 "$dir"
mkdir "$dir/spool" "$dir/log" "$dir/mail"
chown nobody "$dir/mail"
domain=${sender#*@}
cat >"$dir/exim.conf" <<CONF
primary_hostname = mx.$domain
qualify_domain = $domain
domainlist local_domains = $domain
spool_directory = $dir/spool
log_file_path = $dir/log/%slog
exim_user = root
exim_group = root
trusted_users = root
keep_environment =
begin routers
sender:
  driver = accept
  domains = +local_domains
  local_parts = ${sender%@*}
  transport = maildir
unknown:
  driver = redirect
  domains = +local_domains
  data = :fail: Unknown user
  allow_fail
begin transports
maildir:
  driver = appendfile
  directory = $dir/mail/Maildir
  maildir_format
  create_directory
  user = nobody
  mode = 0600
begin retry
*   *   F,1h,15m
CONF
exim4 -C "$dir/exim.conf" -odi -f "$sender" "$recipient"
bounce=$(find "$dir/mail/Maildir/new" -type f | head -n 1)
[ -n "$bounce" ] || { cat "$dir"/log/* >&2; exit 1; }
cat "$bounce"
