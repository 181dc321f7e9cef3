# What sign.sh, verify-release.sh and build_commit.sh share. Each input is read once, by one
# tool (OpenSSL, git), into a private copy that every later step reads; every verdict is an
# exit status of openssl, osslsigncode, cmp or git; no tool runs beyond its time.
set -euo pipefail
umask 077
max_file_bytes=$((1024 * 1024))   # a launcher.exe is 26 KB; a signed one some 32 KB
max_small_bytes=16384             # a statement, its signature, a certificate
max_roots_bytes=$((1024 * 1024))  # a CA file (some 700 certificates, read in a second), CRLs
tool_seconds=120 build_seconds=900 sign_seconds=60  # the most any run of a tool may take
statement_title="launcher.exe release statement, format 1"
compiler_package=g++-mingw-w64-i686-win32  # the win32 preset's compiler and linker
binutils_package=binutils-mingw-w64-i686
die() { echo "$tool: $*" >&2; exit 1; }
shown() { printf '%q' "$1"; }  # a name as it is, control characters escaped
value() { [ -n "${2:-}" ] || die "$1 needs a value that is not empty"; }

# Git sees nothing of its caller's: no GIT_* variable, no configuration but the repository's,
# no replace objects (which would build one commit's tree under another's name).
for variable in $(compgen -e); do [[ $variable != GIT_* ]] || unset "$variable"; done
export GIT_NO_REPLACE_OBJECTS=1 GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null

# within <seconds> <command...>: the command, ended when its time is up; in the background, so
# that a signal ends it at once (bash runs no trap while a command runs in the foreground).
running=""
within() {
    local status=0
    { timeout -k 5 "$@" <&3 3<&- & } 3<&0
    running=$! && wait "$running" || status=$?
    running="" && return $status
}
trap '[ -z "$running" ] || kill "$running" 2>/dev/null; exit 1' HUP INT QUIT TERM
# copy_bounded <file> <copy> <bound>: the one read of a file, refused when larger than the bound.
copy_bounded() {
    [ -f "$1" ] && [ -r "$1" ] || die "$(shown "$1") does not exist or cannot be read"
    head -c $(($3 + 1)) -- "$1" > "$2"
    [ "$(stat -c %s -- "$2")" -le "$3" ] || die "$(shown "$1") is larger than $3 bytes"
}
# certificates <file> <bound> <copy>: every certificate that OpenSSL takes from the file, and
# nothing else, as OpenSSL writes them: the only form any later step reads; $found says how
# many. Trust settings (a TRUSTED CERTIFICATE) would not survive that copy: refused.
certificates() {
    copy_bounded "$1" "$3.read" "$2"
    ! grep -q 'TRUSTED CERTIFICATE' "$3.read" ||
        die "$(shown "$1") carries trust settings (TRUSTED CERTIFICATE), which no step here keeps: give the certificates alone"
    within $tool_seconds openssl storeutl -certs -out "$3" -- "$3.read" > /dev/null 2>&1 ||
        die "OpenSSL reads no certificate in $(shown "$1")"
    found=$(grep -c '^-----BEGIN CERTIFICATE-----$' "$3" || true)
}
# roots <variable>...: the CA file each names, read as above; the variable then names the copy.
roots() {
    local root
    for root; do
        [ -n "${!root}" ] || continue
        certificates "${!root}" "$max_roots_bytes" "$scratch/$root.pem"
        [ "$found" -gt 0 ] && printf -v "$root" '%s' "$scratch/$root.pem" || die "--${root//_/-} $(shown "${!root}") holds no certificate"
    done
}

# new_folder <path>: a folder may be made there: it does not exist, and no one but root and
# this user may change the folder it is in, nor any above it, unless sticky. Prints its path.
new_folder() {
    local parent path owner mode
    [ ! -e "$1" ] && [ ! -L "$1" ] || die "$(shown "$1") exists: name a new folder"
    parent=$(realpath -e -- "$(dirname -- "$1")") || die "the folder of $(shown "$1") does not exist"
    path=$parent
    while read -r owner mode < <(stat -c '%u %a' -- "$path"); do
        [ "$owner" = 0 ] || [ "$owner" = "$(id -u)" ] || die "$(shown "$path") belongs to another user, who could swap what lies there"
        (( 8#$mode & 8#1000 || !(8#$mode & 8#022) )) || die "$(shown "$path") can be written by others and is not sticky"
        [ "$path" != / ] || break
        path=$(dirname -- "$path")
    done
    printf '%s' "$parent/$(basename -- "$1")"
}
# publish <files...> <new folder>: the files, with fixed modes, in a folder made beside the
# new one and renamed to it once whole, never over anything.
publish() {
    local out=${*: -1} made
    new_folder "$out" > /dev/null
    made=$(mktemp -d "$(dirname -- "$out")/.release.XXXXXX") || die "no folder could be made beside $(shown "$out")"
    { cp -- "${@:1:$#-1}" "$made/" && chmod 644 "$made"/* && chmod 755 "$made" && mv -T -n -- "$made" "$out" &&
        [ ! -e "$made" ]; } || { rm -rf -- "$made"; die "the release could not be written whole: $(shown "$out") was not made"; }
}

# commit_of <name>: the commit a name is here; one whose tree holds anything but files (a
# symbolic link can reach outside it, a submodule is not in its archive) is refused.
commit_of() {
    local hash
    hash=$(within $tool_seconds git -C "$repository" rev-parse --verify --quiet "$1^{commit}") ||
        die "$(shown "$1") is no commit, tag or branch of this repository (fetch the tags?)"
    ! within $tool_seconds git -C "$repository" ls-tree -r "$hash" | grep -qvE '^100(644|755) blob ' ||
        die "commit $hash holds a symbolic link or a submodule: only files are built"
    printf '%s' "$hash"
}
# The toolchain lines of a statement: this machine's compiler and binutils, by their Debian
# packages' versions (the same bytes come only from the same ones).
toolchain() {
    local package versions=()
    for package in "$compiler_package" "$binutils_package"; do
        versions+=("$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || echo none)")
    done
    printf 'compiler: %s %s\nbinutils: %s %s' "$compiler_package" "${versions[0]}" "$binutils_package" "${versions[1]}"
}
# statement <sha256> <commit> <version> <toolchain lines>: the text the release key signs.
statement() {
    printf '%s\nsha256: %s\ncommit: %s\nversion: %s\n%s\n' "$statement_title" "$1" "$2" "$3" "$4"
}
# check_statement <statement>: exactly in its format; sets $sha, $hash, $version, $stated_toolchain.
check_statement() {
    field() { sed -n "s/^$1: //p" "$2" | head -n 1; }
    sha=$(field sha256 "$1") hash=$(field commit "$1") version=$(field version "$1")
    stated_toolchain=$(sed -n '/^compiler: /p;/^binutils: /p' "$1" | head -n 2)
    [[ $sha =~ ^[0-9a-f]{64}$ && $hash =~ ^[0-9a-f]{40}$ && $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] &&
        statement "$sha" "$hash" "$version" "$stated_toolchain" | cmp -s - "$1" ||
        die "the statement is not in its format exactly"
}
# built_version <tree>: the version that the build wrote into the file's version resource.
built_version() {
    sed -n 's/^#define LAUNCHER_VERSION_TEXT "\([0-9]*\.[0-9]*\.[0-9]*\)"$/\1/p' "$1/build/win32/res/version.h"
}
# signed_by <certificate> <statement>: <statement>.sig verifies with the certificate's key.
signed_by() {
    within $tool_seconds openssl x509 -in "$1" -pubkey -noout > "$scratch/public.pem" 2>/dev/null &&
        within $tool_seconds openssl dgst -sha256 -verify "$scratch/public.pem" -signature "$2.sig" "$2" > /dev/null 2>&1
}

# check_certificate <release certificate> <CA file or "">, OpenSSL's copies: chained to the CA
# file alone (the system's roots otherwise), and for code signing, which OpenSSL 3.0 does not
# judge: Debian's python3-cryptography reads those extensions from the same copies.
check_certificate() {
    local roots=()
    [ -z "$2" ] || roots=(-CAfile "$2" -no-CApath -no-CAstore)
    within $tool_seconds openssl verify -x509_strict "${roots[@]}" -- "$1" > "$scratch/chain.log" 2>&1 ||
        die "the release certificate does not chain to $([ -n "$2" ] && echo "the roots of --ca-file" || echo "the system's roots"): $(grep -m1 -i error "$scratch/chain.log")"
    within $tool_seconds /usr/bin/python3 - "$1" "$2" <<'PYTHON' || die "the release certificate is not for code signing alone"
import sys
from cryptography import x509
from cryptography.x509.oid import ExtendedKeyUsageOID as EKU
end = b"-----END CERTIFICATE-----\n"  # OpenSSL's PEM, one block after another
certificates = lambda path: [x509.load_pem_x509_certificate(b + end) for b in open(path, "rb").read().split(end)[:-1]]
extension = lambda c, kind: next((e.value for e in c.extensions if isinstance(e.value, kind)), None)
leaf, = certificates(sys.argv[1])
usage, extended, basic = (extension(leaf, kind) for kind in (x509.KeyUsage, x509.ExtendedKeyUsage, x509.BasicConstraints))
ok = usage is not None and usage.digital_signature and extended is not None and EKU.CODE_SIGNING in extended and (basic is None or not basic.ca)
for ca in certificates(sys.argv[2]) if sys.argv[2] else []:  # a CA whose usage is restricted must allow it
    extended = extension(ca, x509.ExtendedKeyUsage)
    ok = ok and (extended is None or EKU.CODE_SIGNING in extended or EKU.ANY_EXTENDED_KEY_USAGE in extended)
sys.exit(0 if ok else 1)
PYTHON
}

# prove_file <signed copy> <its build> <release certificate> <CA file or ""> <TSA CA file or "">
# [CRL file]: the file is the build with its own signature attached and not a byte more, and
# osslsigncode verifies that signature against the same roots, as the release certificate's.
# Nothing is fetched: OpenSSL's HTTP client, which osslsigncode fetches a certificate's CRL
# with, takes its proxy from the environment, and this one answers nobody.
prove_file() {
    local offline=(env http_proxy=http://127.0.0.1:1 https_proxy=http://127.0.0.1:1 no_proxy=) leaf no_crl=(-ignore-crl)
    within $tool_seconds "${offline[@]}" osslsigncode extract-signature -in "$1" -out "$scratch/signature.der" > "$scratch/log" 2>&1 ||
        die "$(shown "$name") carries no signature that osslsigncode can take out"
    within $tool_seconds "${offline[@]}" osslsigncode attach-signature -sigin "$scratch/signature.der" -in "$2" \
        -out "$scratch/attached.exe" > "$scratch/log" 2>&1 || true  # its own check wants the roots: verify's below
    cmp -s "$scratch/attached.exe" "$1" || die "$(shown "$name") is not the build of commit $hash with its own signature and nothing more"
    leaf=$(within $tool_seconds openssl x509 -in "$3" -outform DER | sha256sum | cut -c1-64)
    [ -z "${6:-}" ] || no_crl=(-ignore-cdp -CRLfile "$6")
    osslsigncode --help 2>&1 | grep -q -- -ignore-cdp || no_crl=(${6:+-CRLfile "$6"})  # 2.5 fetches none
    within $tool_seconds "${offline[@]}" osslsigncode verify -in "$1" ${4:+-CAfile "$4"} ${5:+-TSA-CAfile "$5"} \
        "${no_crl[@]}" -require-leaf-hash "sha256:$leaf" > "$scratch/verify.log" 2>&1 ||
        die "osslsigncode does not verify the signature of $(shown "$name") as the release certificate's: $(grep -m1 -iE 'fail|error|unsupported|mismatch' "$scratch/verify.log")"
}
