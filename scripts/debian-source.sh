# Fetching Debian source packages into a cache folder; sourced by
# setup-windows and build-windows-tools. Needs $cache and a log function.

# Adds deb-src lines to apt's configuration when none are there.
enable_sources() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local from=/etc/apt/sources.list.d/debian.sources sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  [ -f "$from" ] || { log "no $from to copy source lines from"; exit 1; }
  log "adding deb-src lines (/etc/apt/sources.list.d/zarvelo-deb-src.sources)"
  sed 's/^Types:.*/Types: deb-src/' "$from" | $sudo tee /etc/apt/sources.list.d/zarvelo-deb-src.sources >/dev/null
  $sudo apt-get update -qq
}

# Unpacks Debian's source package $1 into $cache/src and prints its folder.
# With $2, only that version or older ones are taken (a cross-build must not
# be newer than the host tools it is built with). Versions are tried newest
# first, an unpacked one before any download: the mirror does not always
# serve the newest security update's .dsc, and the next older one is then
# taken.
debian_source() {
  local name=$1 newest=${2:-} version upstream dir versions
  mkdir -p "$cache/src"
  enable_sources >&2
  versions=$({ [ -z "$newest" ] || echo "$newest"; apt-cache showsrc "$name" | awk '/^Version:/ {print $2}'; } |
    sort -u -r -V)
  for version in $versions; do
    [ -z "$newest" ] || dpkg --compare-versions "$version" le "$newest" || continue
    upstream=${version#*:}
    upstream=${upstream%-*}
    dir="$cache/src/$name-$upstream"
    if [ -d "$dir" ]; then
      echo "$dir"
      return
    fi
  done
  for version in $versions; do
    [ -z "$newest" ] || dpkg --compare-versions "$version" le "$newest" || continue
    upstream=${version#*:}
    upstream=${upstream%-*}
    dir="$cache/src/$name-$upstream"
    if (cd "$cache/src" && apt-get source -qq "$name=$version" >&2) && [ -d "$dir" ]; then
      echo "$dir"
      return
    fi
    log "source of $name $version not available, trying an older one"
  done
  log "no source package of $name${newest:+ at $newest or older} could be fetched"
  exit 1
}
