# Shared by run.sh and test.sh: installs the Debian packages the build and the tests need, when missing.
BRIMLOW_PACKAGES=(cmake g++ ninja-build qt6-base-dev qt6-multimedia-dev qt6-svg-dev googletest libgtest-dev libgmock-dev
                  libbenchmark-dev python3-aiosmtpd libnet-snpp-perl xvfb xdotool)

# The fuzz targets (scripts/fuzz.sh): clang and its libFuzzer and sanitizer runtimes.
BRIMLOW_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# Installs the given packages, or BRIMLOW_PACKAGES, that are missing.
brimlow_install_packages() {
    local wanted=("$@")
    [ ${#wanted[@]} -eq 0 ] && wanted=("${BRIMLOW_PACKAGES[@]}")
    local missing=()
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
