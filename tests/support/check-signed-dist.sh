#!/bin/bash
# make dist's signing, with a throwaway CA and code-signing certificate made
# here and never kept: every file verifies against the CA, the CE libraries
# carry one SHA-1 signature and pl3.com a SHA-1 one with a SHA-256 one
# nested, removing the signatures gives back the unsigned bytes, two
# signings give the same bytes, README.txt names the signer, the checksums
# and the zip hold the signed files, a changed byte fails verification, and
# the signed pl3.com still starts and relays its program under Wine.
# Environment: ROOT (the checkout), BIN (the win32 build's bin), WINE where
# 32-bit Wine runs.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
status=0
fail() { echo "FAIL: $*"; status=1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Throwaway Test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
    -subj "/CN=Throwaway Signer/O=Pelorin Test" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile ext -out signer.pem 2>/dev/null
cat signer.pem ca.pem >chain.pem
for n in 1 2; do
    DIST_DIR="$work/dist$n" SIGN_CERT=chain.pem SIGN_KEY=signer.key "$ROOT/tools/make-dist" >/dev/null
done

cd dist1
for file in x86/pl3.com wince-arm/Sembrin.dll wince-arm/Dorvale.dll; do
    case "$file" in
        x86/*) unsigned="$BIN/pl3.com" expected="SHA1 SHA256" ;;
        *) unsigned="$ROOT/build/wince/bin/${file#*/}" expected="SHA1" ;;
    esac
    if [ ! -f "$file" ]; then
        echo "$file: not in this dist (no CE build here)"
        continue
    fi
    report=$(osslsigncode verify -CAfile ../ca.pem -in "$file" 2>&1) || fail "$file does not verify"
    digests=$(sed -n 's/^Message digest algorithm  : //p' <<<"$report" | tr '\n' ' ')
    [ "$digests" = "$expected " ] || fail "$file: signatures with $digests, expected $expected"
    rm -f ../removed
    osslsigncode remove-signature -in "$file" -out ../removed >/dev/null
    cmp -s ../removed "$unsigned" || fail "$file without its signatures is not the unsigned file"
    cmp -s "$file" "../dist2/$file" || fail "$file: two signings differ"
    unzip -p pelorin-support-*.zip "$file" | cmp -s - "$file" || fail "$file: the zip holds another"
    echo "$file: verifies, signed with ${digests% }, unsigned bytes restored"
done
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match the signed files"
cmp -s pelorin-support-*.zip ../dist2/pelorin-support-*.zip || fail "two signed zips differ"
thumbprint=$(openssl x509 -in ../signer.pem -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
grep -q "^Signed by: .*Throwaway Signer" README.txt && grep -q "$thumbprint" README.txt ||
    fail "README.txt does not name the signer and its thumbprint"

# One changed byte in the code, after signing.
cp x86/pl3.com ../tampered.com
printf '\x90' | dd of=../tampered.com bs=1 seek=1100 conv=notrunc 2>/dev/null
! osslsigncode verify -CAfile ../ca.pem -in ../tampered.com >/dev/null 2>&1 ||
    fail "a changed byte still verifies"

if [ -n "${WINE:-}" ]; then
    mkdir ../run
    cp x86/pl3.com ../run/pl3.com
    cp "$BIN/twin.exe" ../run/pl3.exe
    set +e
    output=$("$WINE" ../run/pl3.com line:signed exit:3 </dev/null)
    code=$?
    set -e
    [ "$output" = $'signed\r' ] && [ $code -eq 3 ] ||
        fail "the signed pl3.com relayed '$output' and ended with $code, expected 'signed' and 3"
    echo "signed pl3.com under Wine: relayed its program's line, ended with its status 3"
else
    echo "no 32-bit Wine here: the signed pl3.com is not run"
fi
exit $status
