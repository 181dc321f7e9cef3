# What sign.sh and verify-release.sh share: the statement's format, the toolchain it names,
# the checks on a certificate and on a signed file, and the rules for files and folders.
# Every verdict is an exit status of openssl, osslsigncode, cmp or git.

max_file_bytes=$((16 * 1024 * 1024))  # a launcher.exe is 26 KB; a signed one some 32 KB
max_small_bytes=16384                 # a statement, its signature, a certificate
statement_title="launcher.exe release statement, format 1"
compiler_package=g++-mingw-w64-i686-win32  # the win32 preset's compiler and linker
binutils_package=binutils-mingw-w64-i686

die() { echo "$tool: $*" >&2; exit 1; }
shown() { printf '%q' "$1"; }  # a name as it is, control characters escaped

# value <option> <value>: refuses an empty value (a forgotten word, an unset variable).
value() { [ -n "$2" ] || die "$1 needs a value that is not empty"; }

# copy_bounded <file> <copy> <bound>: the one read of a file, refused before it is read when
# larger than the bound, and after, should it have grown meanwhile.
copy_bounded() {
    [ -f "$1" ] && [ -r "$1" ] || die "$(shown "$1") does not exist or cannot be read"
    [ "$(stat -L -c %s -- "$1")" -le "$3" ] || die "$(shown "$1") is larger than $3 bytes"
    head -c $(($3 + 1)) -- "$1" > "$2"
    [ "$(stat -c %s -- "$2")" -le "$3" ] || die "$(shown "$1") grew past $3 bytes as it was read"
}

# new_folder <path>: makes a folder that did not exist, in a folder that no one but root and
# this user may change (nor any folder above it), unless sticky; prints its real path.
new_folder() {
    local parent made
    [ ! -e "$1" ] && [ ! -L "$1" ] || die "$(shown "$1") exists: name a new folder"
    parent=$(realpath -e -- "$(dirname -- "$1")") || die "the folder of $(shown "$1") does not exist"
    made=$parent/$(basename -- "$1")
    local path=$parent owner mode
    while :; do
        read -r owner mode < <(stat -c '%u %a' -- "$path")
        [ "$owner" = 0 ] || [ "$owner" = "$(id -u)" ] ||
            die "$(shown "$path") belongs to another user, who could swap what lies there"
        (( 8#$mode & 8#1000 || !(8#$mode & 8#022) )) ||
            die "$(shown "$path") can be written by others and is not sticky"
        [ "$path" = / ] && break
        path=$(dirname -- "$path")
    done
    mkdir -m "${2:-700}" -- "$made" || die "$(shown "$1") could not be made"
    printf '%s' "$made"
}

# The toolchain lines of a statement: this machine's compiler and binutils, by their Debian
# packages' versions (the same bytes come only from the same ones).
toolchain() {
    local package versions=()
    for package in "$compiler_package" "$binutils_package"; do
        versions+=("$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || echo none)")
    done
    printf 'compiler: %s %s\nbinutils: %s %s' "$compiler_package" "${versions[0]}" \
        "$binutils_package" "${versions[1]}"
}

# statement <sha256> <commit> <version> <toolchain lines>: the text the release key signs.
statement() {
    printf '%s\nsha256: %s\ncommit: %s\nversion: %s\n%s\n' "$statement_title" "$1" "$2" "$3" "$4"
}

# signed_by <certificate> <statement>: the statement's signature (<statement>.sig) verifies
# with the certificate's public key.
signed_by() {
    openssl x509 -in "$1" -pubkey -noout > "$scratch/public.pem" 2>/dev/null &&
        openssl dgst -sha256 -verify "$scratch/public.pem" -signature "$2.sig" "$2" > /dev/null 2>&1
}

# version_of <commit>: the project's version in that commit's CMakeLists.txt.
version_of() {
    git -C "$repository" show "$1:CMakeLists.txt" |
        sed -n 's/^project(launcher VERSION \([0-9]*\.[0-9]*\.[0-9]*\) .*/\1/p'
}

# check_certificate <certificate> <CA file or "">: for code signing, and chained to the CA file
# alone where one is given (the system's roots otherwise). OpenSSL 3.0 knows no code-signing
# purpose, so Debian's python3-cryptography reads the extensions that say it.
check_certificate() {
    local roots=()  # OpenSSL's default roots, the system's
    [ -z "$2" ] || roots=(-CAfile "$2" -no-CApath -no-CAstore)
    openssl verify -x509_strict "${roots[@]}" -- "$1" > "$scratch/chain.log" 2>&1 ||
        die "the release certificate does not chain to $([ -n "$2" ] && echo "the roots of --ca-file" || echo "the system's roots"): $(grep -m1 -i error "$scratch/chain.log")"
    /usr/bin/python3 - "$1" "$2" <<'PYTHON' || die "the release certificate is not for code signing alone"
import sys
from cryptography import x509
from cryptography.x509.oid import ExtendedKeyUsageOID as EKU
def load(data):
    return (x509.load_pem_x509_certificate if b"-----BEGIN" in data else x509.load_der_x509_certificate)(data)
def extension(certificate, kind):
    try:
        return certificate.extensions.get_extension_for_class(kind).value
    except x509.ExtensionNotFound:
        return None
leaf = load(open(sys.argv[1], "rb").read())
usage, extended, basic = (extension(leaf, kind) for kind in
                          (x509.KeyUsage, x509.ExtendedKeyUsage, x509.BasicConstraints))
ok = (usage is not None and usage.digital_signature and extended is not None
      and EKU.CODE_SIGNING in extended and (basic is None or not basic.ca))
# Every CA of the file whose extended key usage is restricted must allow code signing.
marker = b"-----END CERTIFICATE-----"
for block in (open(sys.argv[2], "rb").read().split(marker)[:-1] if sys.argv[2] else []):
    extended = extension(load(block + marker), x509.ExtendedKeyUsage)
    ok = ok and (extended is None or EKU.CODE_SIGNING in extended or EKU.ANY_EXTENDED_KEY_USAGE in extended)
sys.exit(0 if ok else 1)
PYTHON
}

# prove_file <signed copy> <commit> <its build> <CA file or ""> <TSA CA file or "">: the file
# is the build with a signature that osslsigncode verifies against the same roots.
prove_file() {
    osslsigncode remove-signature -in "$1" -out "$scratch/unsigned.exe" > "$scratch/remove.log" 2>&1 ||
        die "$(shown "$name") carries no signature that osslsigncode can take off"
    cmp -s "$scratch/unsigned.exe" "$3" ||
        die "$(shown "$name") is not the build of commit $2 with a signature ($(cmp "$scratch/unsigned.exe" "$3" 2>&1 | sed 's/^[^ ]* [^ ]* //' | head -n 1))"
    osslsigncode verify -in "$1" ${4:+-CAfile "$4"} ${5:+-TSA-CAfile "$5"} > "$scratch/verify.log" 2>&1 ||
        die "osslsigncode does not verify the signature of $(shown "$name"): $(grep -m1 -iE 'fail|error|unsupported' "$scratch/verify.log")"
}
