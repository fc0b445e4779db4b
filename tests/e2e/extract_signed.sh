#!/bin/sh
# A program made for release in the order the manual gives (slots, resources,
# embed, then sign): every step keeps what the steps before it set, the
# signature verifies and covers the embedded library, and the signed program
# extracts its modules and runs. A slot set afterwards removes the
# signature, says so, and the program still runs.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/extract_lib.sh"

python=${TXE2E_PYTHON:-/usr/bin/python3}
run_name=release

# A throwaway signing certificate, and an icon of two images: a 16-pixel
# bitmap and a 256-pixel PNG.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway Vendor" \
    -keyout "$kit/key.pem" -out "$kit/cert.pem" 2>/dev/null || fail "openssl made no certificate"
"$python" - "$kit/app.ico" <<'EOF'
import struct, sys, zlib
def png(side):
    rows = b''.join(b'\0' + bytes([200, 30, 30, 255]) * side for _ in range(side))
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
def bitmap(side):
    header = struct.pack('<IiiHHIIiiII', 40, side, 2 * side, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + bytes([30, 30, 200, 255]) * side * side + bytes(4 * side)
images = [(16, bitmap(16)), (256, png(256))]
out, data = struct.pack('<HHH', 0, 1, len(images)), b''
for side, image in images:
    out += struct.pack('<BBBBHHII', side % 256, side % 256, 0, 0, 1, 32, len(image),
                       6 + 16 * len(images) + len(data))
    data += image
open(sys.argv[1], 'wb').write(out + data)
EOF
cp "$(dirname "$0")/../../src/launcher/application.manifest" "$kit/app.manifest"

# stored_lengths FILE: the stored length of each string entry, from
# txlib -v slots.
stored_lengths() {
    grep -o 'entry [0-9]* *[0-9]* characters' "$1"
}

cp "$TXE2E_LAUNCHER" "$kit/app.exe"
txlib -v slots app.exe
stored_lengths "$kit/txlib.out" >"$kit/lengths.before"
txlib slots app.exe --set flags=O.Oo.... --set project=GESTION.PRJ
if [ "$TXE2E_MODE" = wine ]; then
    txlib resources app.exe --icon app.ico --version 2.3.4.5 --set "CompanyName=Vendor & Co" \
        --set FileDescription=Gestion --set "LegalCopyright=© 2026 Vendor" --manifest app.manifest
fi
txlib embed app.exe APP.LIB -o final.exe
txlib -v slots final.exe
stored_lengths "$kit/txlib.out" >"$kit/lengths.after"
cmp -s "$kit/lengths.before" "$kit/lengths.after" ||
    fail "the string entries' stored lengths changed: $(diff "$kit/lengths.before" "$kit/lengths.after")"

if [ "$TXE2E_MODE" = wine ]; then
    # What wrestool and pefile read back.
    wrestool -x --type=14 "$kit/final.exe" >"$kit/back.ico" 2>"$kit/wrestool.err"
    # The same images, each with its directory entry (wrestool pads the
    # file it makes).
    "$python" - "$kit/app.ico" "$kit/back.ico" <<'EOF' || fail "wrestool gives other icon images back"
import struct, sys
def images(path):
    data = open(path, 'rb').read()
    count = struct.unpack_from('<H', data, 4)[0]
    out = []
    for i in range(count):
        entry = data[6 + 16 * i:6 + 16 * i + 16]
        size, offset = struct.unpack_from('<II', entry, 8)
        out.append((entry[:12], data[offset:offset + size]))
    return out
sys.exit(0 if images(sys.argv[1]) == images(sys.argv[2]) and len(images(sys.argv[1])) == 2 else 1)
EOF
    "$python" - "$kit/final.exe" >"$kit/pefile.out" 2>&1 <<'EOF' || fail "pefile: $(cat "$kit/pefile.out")"
import pefile, sys
pe = pefile.PE(sys.argv[1])
fixed = pe.VS_FIXEDFILEINFO[0]
def four(ms, ls): return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
assert four(fixed.FileVersionMS, fixed.FileVersionLS) == (2, 3, 4, 5), 'file version'
assert four(fixed.ProductVersionMS, fixed.ProductVersionLS) == (2, 3, 4, 5), 'product version'
texts = {}
for info in pe.FileInfo[0]:
    for table in getattr(info, 'StringTable', []):
        texts.update(table.entries)
want = {b'CompanyName': 'Vendor & Co', b'FileDescription': 'Gestion',
        b'LegalCopyright': '\u00a9 2026 Vendor', b'FileVersion': '2.3.4.5',
        b'ProductVersion': '2.3.4.5', b'InternalName': None}
for key, value in want.items():
    assert key in texts, key
    assert value is None or texts[key].decode('utf-8') == value, (key, texts[key])
assert pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum(), 'checksum'
manifest = [e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 24]
assert manifest and manifest[0].directory.entries[0].id == 1, 'manifest id 1'
EOF

    osslsigncode sign -certs "$kit/cert.pem" -key "$kit/key.pem" -n "Gestion" \
        -in "$kit/final.exe" -out "$kit/signed.exe" >"$kit/sign.out" 2>&1 ||
        fail "osslsigncode sign: $(cat "$kit/sign.out")"
    osslsigncode verify -CAfile "$kit/cert.pem" -in "$kit/signed.exe" >"$kit/verify.out" 2>&1 ||
        fail "osslsigncode verify fails: $(tail -n 5 "$kit/verify.out")"
    txlib info signed.exe
    grep -q '^certificate table: at offset' "$kit/txlib.out" || fail "info shows no certificate table"
    # One byte of the embedded library changed: the signature no longer holds.
    library=$(sed -n 's/^embedded library:  at offset \([0-9]*\) .*/\1/p' "$kit/txlib.out")
    cp "$kit/signed.exe" "$kit/changed.exe"
    printf 'X' | dd of="$kit/changed.exe" bs=1 seek=$((library + 200)) conv=notrunc 2>/dev/null
    if osslsigncode verify -CAfile "$kit/cert.pem" -in "$kit/changed.exe" >/dev/null 2>&1; then
        fail "the signature still verifies with a byte of the library changed"
    fi
    # Neither the signing tool's padding nor its table.
    txlib unembed signed.exe -o back.lib
    cmp -s "$kit/APP.LIB" "$kit/back.lib" ||
        fail "unembed wrote $(wc -c <"$kit/back.lib") bytes for a library of $(wc -c <"$kit/APP.LIB")"
else
    cp "$kit/final.exe" "$kit/signed.exe"
fi

fresh signed
cp "$kit/signed.exe" "$dir/$exe"
chmod +x "$dir/$exe"
echo 'OPTION,VERSION => value 4.10A' | replies
run_quiet
{
    start_trace
    echo "TXCALLC PROGRAMME,GESTION.PRJ"
    echo "FinInstance"
} | expect_trace
same_module TX413EXE.DLL
same_module TX411FIC.DLL

# A slot set on the signed program: the signature goes, and the tool says so.
cp "$kit/signed.exe" "$kit/later.exe"
txlib slots later.exe --set project=AUTRE.PRJ
if [ "$TXE2E_MODE" = wine ]; then
    grep -q 'later.exe: the signature was removed; sign the program again' "$kit/txlib.out" ||
        fail "slots --set does not say that the signature was removed"
    if osslsigncode verify -CAfile "$kit/cert.pem" -in "$kit/later.exe" >/dev/null 2>&1; then
        fail "the program changed after signing still verifies"
    fi
    txlib info --json later.exe
    grep -q '"certificate": null' "$kit/txlib.out" || fail "the certificate entry was kept"
fi
fresh later
cp "$kit/later.exe" "$dir/$exe"
chmod +x "$dir/$exe"
echo 'OPTION,VERSION => value 4.10A' | replies
run_quiet
{
    start_trace
    echo "TXCALLC PROGRAMME,AUTRE.PRJ"
    echo "FinInstance"
} | expect_trace

finish
