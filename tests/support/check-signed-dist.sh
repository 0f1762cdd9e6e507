#!/bin/bash
# make dist's signing, with a throwaway CA and code-signing certificate made
# here and never kept: every file verifies against the CA, the CE libraries
# carry one SHA-1 signature and pl3.com a SHA-1 one with a SHA-256 one
# nested, removing the signatures gives back the unsigned bytes, two
# signings give the same bytes, README.txt names the signer, the checksums
# and the zip hold the signed files, a changed byte fails verification, and
# the signed pl3.com still starts and relays its program under Wine.
# Around it, what make dist refuses, each with one line and nothing made:
# a signer that would not verify (no certificate for the key, expired, not
# for code signing, not RSA under SHA-1), a folder it did not make, a
# release without the CE compiler; a failure half-way leaves the earlier
# dist as it was; a .pfx without a password, a chain with its root first
# and the partial release work.
# Environment: ROOT (the checkout), BIN (the win32 build's bin), WINE where
# 32-bit Wine runs.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
status=0
fail() { echo "FAIL: $*"; status=1; }
# Without the CE compiler only the partial release can be made here.
mode=()
"$ROOT/tools/cegcc-root" >/dev/null 2>&1 || mode=(--pl3-only)

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=Throwaway Test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign" 2>/dev/null
# Signs csr's certificate <out> with the CA: extended key usage <usage>,
# valid for two days from now, or from the time faketime names, held still
# there (a clock that ran on could issue it a second late).
issue() {
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
        "$3" >"$2.ext"
    ${4:+env TZ=UTC faketime -f "$4"} openssl x509 -req -in "$1" -CA ca.pem -CAkey ca.key -CAcreateserial \
        -days 2 -extfile "$2.ext" -out "$2" 2>/dev/null
}
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
    -subj "/CN=Throwaway Signer/O=Pelorin Test" 2>/dev/null
issue signer.csr signer.pem codeSigning
cat signer.pem ca.pem >chain.pem
mkdir dist2
for n in 1 2; do
    PELORIN_DIST_DIR="$work/dist$n" SIGN_CERT=chain.pem SIGN_KEY=signer.key \
        "$ROOT/tools/make-dist" "${mode[@]}" >/dev/null
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

grep -q $'Checksums of the files above: sha256sum -c SHA256SUMS\r$' README.txt &&
    ! grep -qv $'\r$' README.txt || fail "README.txt does not end every line with CRLF"
cd ..

# Runs make-dist with the settings given, expecting a refusal: a non-zero
# status, one line that says <words>, and no output folder nor anything
# beside it.
refused() {
    local what=$1 words=$2 out code
    shift 2
    rm -rf refused
    set +e
    out=$(env PELORIN_DIST_DIR="$work/refused" "$@" "$ROOT/tools/make-dist" "${mode[@]}" 2>&1)
    code=$?
    set -e
    if [ $code -eq 0 ] || [ "$(printf '%s\n' "$out" | wc -l)" -ne 1 ] || [[ "$out" != *"$words"* ]]; then
        fail "$what: expected one line saying '$words' and a failure, got status $code: $out"
    elif [ -e refused ] || ls -a | grep -q '^\.refused'; then
        fail "$what: refused, but left files behind"
    else
        echo "$what: refused: ${out#dist: }"
    fi
}
openssl genrsa -out stranger.key 2048 2>/dev/null
refused "a key no certificate matches" "no certificate in chain.pem matches the key" \
    SIGN_CERT=chain.pem SIGN_KEY=stranger.key
issue signer.csr expired.pem codeSigning "2020-01-01 00:00:00"
refused "an expired certificate" "expired on Jan  3 00:00:00 2020" \
    SIGN_CERT=expired.pem SIGN_KEY=signer.key
issue signer.csr server.pem serverAuth
refused "a server's certificate" "is not for code signing" SIGN_CERT=server.pem SIGN_KEY=signer.key
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ec.key -out ec.csr \
    -subj "/CN=Throwaway EC Signer" 2>/dev/null
issue ec.csr ec.pem codeSigning
refused "an ECDSA key under SHA-1" "SHA-1 signatures need RSA" SIGN_CERT=ec.pem SIGN_KEY=ec.key
[ ${#mode[@]} -gt 0 ] ||
    refused "an ECDSA key under SHA-1 for the CE libraries" "SHA-1 signatures need RSA" \
        SIGN_CERT=ec.pem SIGN_KEY=ec.key SIGN_PL3_DIGESTS=sha256
PELORIN_DIST_DIR="$work/ec" SIGN_CERT=ec.pem SIGN_KEY=ec.key SIGN_PL3_DIGESTS=sha256 \
    SIGN_CE_DIGESTS=sha256 "$ROOT/tools/make-dist" "${mode[@]}" >/dev/null ||
    fail "an ECDSA key is refused where no SHA-1 signature is made"

# The signer wherever it stands in the chain, and a .pfx without a password.
cat ca.pem signer.pem >root-first.pem
openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile ca.pem -passout pass: \
    -out empty.pfx
for way in "SIGN_CERT=root-first.pem SIGN_KEY=signer.key" "SIGN_PKCS12=empty.pfx"; do
    rm -rf other
    if ! env PELORIN_DIST_DIR="$work/other" $way "$ROOT/tools/make-dist" "${mode[@]}" >/dev/null; then
        fail "$way: not signed"
    elif ! cmp -s other/x86/pl3.com dist1/x86/pl3.com || ! cmp -s other/README.txt dist1/README.txt; then
        fail "$way: signed otherwise than with the signer first in a PEM chain"
    else
        echo "$way: the same signed files and README.txt as with the signer first"
    fi
done

# The output folder: make dist replaces only what it made.
mkdir -p releases && echo "an older release" >releases/pelorin-support-0.9.zip
refused "a folder of someone else's" "neither empty nor made by make dist" \
    PELORIN_DIST_DIR="$work/releases"
[ -f releases/pelorin-support-0.9.zip ] || fail "the folder of someone else's lost its file"
echo "notes" >dist2/notes.txt
refused "a dist with a file added" "holds files that make dist did not make" \
    PELORIN_DIST_DIR="$work/dist2"
# A signing that fails half-way (the timestamp server is unreachable).
before=$(cd dist1 && find . | sort && find . -type f | sort | xargs sha256sum)
if PELORIN_DIST_DIR="$work/dist1" SIGN_CERT=chain.pem SIGN_KEY=signer.key \
        SIGN_TIMESTAMP_URL=http://127.0.0.1:9/ "$ROOT/tools/make-dist" "${mode[@]}" >half.log 2>&1 ||
        [ "$(tail -n1 half.log)" != "dist: cannot sign x86/pl3.com with sha1: $work/dist1 left as it was" ]; then
    fail "a failure half-way: expected it to fail to sign and say so, got: $(cat half.log)"
elif [ "$(cd dist1 && find . | sort && find . -type f | sort | xargs sha256sum)" != "$before" ]; then
    fail "a failure half-way changed the earlier dist"
elif ls -a | grep -q '^\.dist1\.'; then
    fail "a failure half-way left a folder beside the dist"
else
    echo "a failure half-way: the earlier dist left as it was"
fi

# A release is all three files; a partial one says so.
partial=("${mode[@]}")
mode=()
refused "a release without the CE compiler" "CEGCC_ROOT=$work/none holds no bin/arm-mingw32ce-g++" \
    CEGCC_ROOT="$work/none"
mode=("${partial[@]}")
PELORIN_DIST_DIR="$work/partial" "$ROOT/tools/make-dist" --pl3-only >/dev/null
(cd partial && find . -type f ! -name .pelorin-dist | sort | tr '\n' ' ') >partial.list
[ "$(cat partial.list)" = "./README.txt ./SHA256SUMS ./pelorin-support-$(cat "$ROOT/build/win32/project-version")-pl3-only.zip ./x86/pl3.com " ] ||
    fail "the partial release holds $(cat partial.list)"
grep -q "partial release, pl3.com alone: it lacks the handheld libraries" partial/README.txt ||
    fail "the partial release's README.txt does not say what it lacks"

if [ -n "${WINE:-}" ]; then
    mkdir run
    cp dist1/x86/pl3.com run/pl3.com
    cp "$BIN/twin.exe" run/pl3.exe
    set +e
    output=$("$WINE" run/pl3.com line:signed exit:3 </dev/null)
    code=$?
    set -e
    [ "$output" = $'signed\r' ] && [ $code -eq 3 ] ||
        fail "the signed pl3.com relayed '$output' and ended with $code, expected 'signed' and 3"
    echo "signed pl3.com under Wine: relayed its program's line, ended with its status 3"
else
    echo "no 32-bit Wine here: the signed pl3.com is not run"
fi
exit $status
