# Shared by the scripts: installs the Debian packages the build and the tests need, when missing, and builds.
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

# The release build without tests in build-release, of the given targets or of everything; sets $build.
brimlow_release_build() {
    build="$root/build-release"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRIMLOW_TESTS=OFF >/dev/null
    cmake --build "$build" ${1:+--target "$@"}
}
