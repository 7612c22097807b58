# Installs the Debian packages named in the given lists that are missing.
# Sourced by scripts/run and scripts/test.
install_packages() {
  local missing=() pkg
  for pkg in $(grep -hv '^\s*#' "$@" | tr -s ' \n' '\n'); do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
