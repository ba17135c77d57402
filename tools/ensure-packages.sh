# Sourced by the set-up scripts: ensure_packages PKG... installs the Debian packages that are missing,
# or stops with a message that names them when it cannot.
ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  if ! { "${sudo[@]}" apt-get update -qq && "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
         apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >/dev/null; then
    echo "error: could not install ${missing[*]}; install them with: apt-get install ${missing[*]}" >&2
    exit 1
  fi
}
