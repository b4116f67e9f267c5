#!/usr/bin/env bash
# Signing as tools/build-windows.sh does it with a certificate, with one made here by a
# throw-away certificate authority: the program signed by tools/sign-windows.sh (from PEM files),
# the installer built with the same signer (from a PKCS#12 file with a password), and the
# uninstaller that installer writes under Wine all verify against that authority, and not
# against another.
# usage: signing_test.sh PROGRAM.exe INSTALLER.nsi MAKENSIS SIGN_TOOL
#   (under X, ZELVOR_WINE and WINEPREFIX set)
set -u
program=$1
script=$2
makensis=$3
sign_tool=$4
wine=$ZELVOR_WINE
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder_windows='C:\zelvor-signed'
folder=$WINEPREFIX/drive_c/zelvor-signed
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelvorUpdater'
# What a failed run installed goes too: the other tests share the Wine prefix.
fail()
{
    echo "FAIL (signing): $*"
    [ -d "$folder" ] && { "$wine" reg delete "$key" /f >/dev/null 2>&1; rm -rf "$folder"; }
    exit 1
}
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done

# An authority, a code-signing certificate it issued, and an authority that issued nothing.
cd "$work" || fail "no scratch folder"
authority() # name
{
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=Zelvor test $1" \
        -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
}
authority ca && authority other-ca || fail "openssl could not make the authorities"
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Zelvor test signer" 2>/dev/null &&
    printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext &&
    openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile signer.ext \
        -out signer.pem 2>/dev/null &&
    openssl pkcs12 -export -in signer.pem -inkey signer.key -out signer.p12 -passout pass:throw-away ||
    fail "openssl could not make the signing certificate"

verified() # file what
{
    local out
    out=$(osslsigncode verify -CAfile ca.pem -in "$1" 2>&1) || fail "$2 does not verify: $(echo "$out" | tail -n 5)"
    osslsigncode verify -CAfile other-ca.pem -in "$1" >/dev/null 2>&1 && fail "$2 verifies against an authority that did not sign it"
    echo "ok: $2 is signed by the test signer ($(echo "$out" | grep -m1 'Subject:' | sed 's/^[[:space:]]*//'))"
}

cp "$program" ZelvorUpdater.exe
osslsigncode verify -CAfile ca.pem -in ZelvorUpdater.exe >/dev/null 2>&1 && fail "the program verifies before it is signed"
ZELVOR_SIGN_CERT=signer.pem ZELVOR_SIGN_KEY=signer.key "$sign_tool" missing.exe 2>/dev/null &&
    fail "the signer claimed to sign a file that does not exist"
ZELVOR_SIGN_CERT=signer.pem ZELVOR_SIGN_KEY=signer.key "$sign_tool" ZelvorUpdater.exe || fail "the signer failed on the program"
verified ZelvorUpdater.exe "the program"

# The installer, as the build makes it with a certificate (uncompressed: quicker, signed the same).
export ZELVOR_SIGN_PKCS12=$work/signer.p12 ZELVOR_SIGN_PASSWORD=throw-away
"$makensis" -V1 -NOCD -X"SetCompress off" -DSIGN_TOOL="$sign_tool" -DINSTALLER_FILE="$work/signed-setup.exe" "$script" ||
    fail "makensis could not build the signed installer"
verified signed-setup.exe "the installer"

"$wine" signed-setup.exe /S "/D=$folder_windows" || fail "the signed installer ended with exit code $?"
[ -f "$folder/Uninstall.exe" ] || fail "the signed installer wrote no uninstaller in $folder"
verified "$folder/Uninstall.exe" "the uninstaller it wrote"
"$wine" "$folder/Uninstall.exe" /S "_?=$folder_windows" || fail "the signed uninstaller ended with exit code $?"
rm -rf "$folder"
echo "PASS: program, installer and uninstaller signed and verified"
