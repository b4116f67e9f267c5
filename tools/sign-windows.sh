#!/usr/bin/env bash
# Signs a Windows program or installer in place (Authenticode, SHA-256, Debian's osslsigncode):
#   tools/sign-windows.sh FILE
# with the certificate ZELVOR_SIGN_CERT and its key ZELVOR_SIGN_KEY (PEM files), or the PKCS#12
# file ZELVOR_SIGN_PKCS12 and its password ZELVOR_SIGN_PASSWORD. ZELVOR_SIGN_TIMESTAMP, a time
# stamp server's URL, keeps the signature valid after the certificate expires.
# tools/build-windows.sh names this script to the build when one of the two is given.
set -eu
file=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -n "${ZELVOR_SIGN_PKCS12:-}" ]; then
    # The password through a file of our own, not the command line that others can list.
    (umask 077 && printf '%s' "${ZELVOR_SIGN_PASSWORD:-}" >"$work/password")
    key=(-pkcs12 "$ZELVOR_SIGN_PKCS12" -readpass "$work/password")
elif [ -n "${ZELVOR_SIGN_CERT:-}" ] && [ -n "${ZELVOR_SIGN_KEY:-}" ]; then
    key=(-certs "$ZELVOR_SIGN_CERT" -key "$ZELVOR_SIGN_KEY")
else
    echo "sign-windows.sh: no certificate: set ZELVOR_SIGN_CERT and ZELVOR_SIGN_KEY, or ZELVOR_SIGN_PKCS12" >&2
    exit 1
fi
timestamp=()
[ -n "${ZELVOR_SIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$ZELVOR_SIGN_TIMESTAMP")

# A file signed before (a build signed again without a new link) loses its old signature first.
input=$file
osslsigncode remove-signature -in "$file" -out "$work/unsigned" >/dev/null 2>&1 && input=$work/unsigned
osslsigncode sign "${key[@]}" -h sha256 ${timestamp[@]+"${timestamp[@]}"} -in "$input" -out "$work/signed" >/dev/null
cat "$work/signed" >"$file"
