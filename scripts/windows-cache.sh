# Sourced by the scripts that cross-build a Debian source package for Windows into a cache outside
# the repository (build-qt-windows.sh, build-sodium-windows.sh). They set CACHE, VERSION (the
# host's version of the package, which the build must match) and log() before calling these.

# use_cache_or_lock <build input>...: sets PREFIX, the cache folder named after VERSION and a
# digest of the inputs. A finished build there (its `.complete` mark) is printed and ends the
# script. Otherwise the folder's lock is taken: another run building the same is waited for, and
# its result reused.
use_cache_or_lock() {
  local key
  key=$(printf '%s\n' "$VERSION" "$@" | sha256sum | cut -c1-12)
  PREFIX=$CACHE/${VERSION//[^A-Za-z0-9.+-]/_}-mingw64-static-$key
  if [[ -f "$PREFIX/.complete" ]]; then
    log "reusing $PREFIX"
    echo "$PREFIX"
    exit 0
  fi
  mkdir -p "$CACHE"
  exec 9>"$PREFIX.lock"
  flock 9
  if [[ -f "$PREFIX/.complete" ]]; then
    echo "$PREFIX"
    exit 0
  fi
}

# fetch_debian_source <package> <work folder>: Debian's source of <package> at VERSION, unpacked
# into <work folder>/src, through a private apt configuration (the machine's own sources and
# package lists stay as they are); sets SRC to the unpacked folder.
fetch_debian_source() {
  local package=$1 work=$2
  mkdir -p "$work/apt/lists/partial" "$work/src"
  cat >"$work/apt/sources.list" <<'EOF'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
EOF
  local apt=(apt-get -q -o "Dir::Etc::SourceList=$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$work/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
             -o APT::Sandbox::User=root)
  log "fetching $package $VERSION source"
  "${apt[@]}" update >&2
  (cd "$work/src" && "${apt[@]}" source "$package=$VERSION" >&2)
  SRC=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -1)
  [[ -n $SRC ]] || { log "no source folder after apt-get source"; exit 1; }
}
