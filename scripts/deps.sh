# Sourced by scripts/test and scripts/demo: installs the Debian packages the build needs,
# asking apt only when one of them is missing.
KVX_PACKAGES=(build-essential cmake pkg-config ccache clang libtelnet-dev ser2net
  libxml2-dev uuid-dev libudev-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev
  dpkg-dev file lintian desktop-file-utils appstream git
  libmicrohttpd-dev libsystemd-dev prometheus
  libmosquitto-dev mosquitto mosquitto-clients)

kvx_install_deps() {
  local missing=() p
  for p in "${KVX_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
