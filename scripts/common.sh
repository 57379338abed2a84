# Shared by run.sh and test.sh: installs the Debian packages the build and the tests need, when missing.
BRIMLOW_PACKAGES=(cmake g++ ninja-build qt6-base-dev qt6-multimedia-dev qt6-svg-dev googletest libgtest-dev libgmock-dev
                  libbenchmark-dev python3-aiosmtpd libnet-snpp-perl xvfb xdotool)

brimlow_install_packages() {
    local missing=()
    for pkg in "${BRIMLOW_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
