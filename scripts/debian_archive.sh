# Sourced by scripts/install.sh and its test.
#   debian_archive_uri <release> [apt root]
#       prints the URI of the machine's own Debian archive for a release: an enabled "deb"
#       source for the release's main component whose release file, as apt last fetched it,
#       says "Origin: Debian". A third party's source (another host, another suite) is never
#       taken, whatever its file is named or where it stands. Fails when there is none, or
#       before the first apt-get update. The apt root is "" (this machine) or a copy of one.

# The URIs of the enabled "deb" sources for a release's main component, one a line, from the
# one-line form (sources.list, *.list) and the deb822 form (*.sources).
debian_source_uris() {
    local release=$1 etc=$2/etc/apt
    cat "$etc/sources.list" "$etc"/sources.list.d/*.list 2>/dev/null | awk -v release="$release" '
        $1 == "deb" {
            s = 2
            if ($2 ~ /^\[/) { while (s < NF && $s !~ /\]$/) s++; s++ }
            if ($(s + 1) != release) next
            for (i = s + 2; i <= NF; i++) if ($i == "main") { print $s; next }
        }'
    cat "$etc"/sources.list.d/*.sources 2>/dev/null | awk -v release="$release" '
        function has(list, word,   n, w, i) { n = split(list, w, /[ \t]+/); for (i = 1; i <= n; i++) if (w[i] == word) return 1; return 0 }
        function stanza() {
            if (has(types, "deb") && has(suites, release) && has(components, "main") && tolower(enabled) != "no")
                { n = split(uris, u, /[ \t]+/); for (i = 1; i <= n; i++) if (u[i] != "") print u[i] }
            types = uris = suites = components = enabled = ""
        }
        /^[ \t]*$/ { stanza(); next }
        /^#/ { next }
        { field = tolower($1); value = $0; sub(/^[^:]*:[ \t]*/, "", value) }
        field == "types:" { types = value } field == "uris:" { uris = value }
        field == "suites:" { suites = value } field == "components:" { components = value }
        field == "enabled:" { enabled = value }
        END { stanza() }'
}

debian_archive_uri() {
    local release=$1 root=${2:-} uri name file
    for uri in $(debian_source_uris "$release" "$root"); do
        # apt names its copy of a source's release file after the URI without its scheme
        name=${uri#*://}
        name=${name%/}
        name=${name//\//_}
        for file in "$root/var/lib/apt/lists/${name}_dists_${release}_InRelease" \
                    "$root/var/lib/apt/lists/${name}_dists_${release}_Release"; do
            if [ -f "$file" ] && grep -qx 'Origin: Debian' "$file"; then
                echo "$uri"
                return 0
            fi
        done
    done
    return 1
}
