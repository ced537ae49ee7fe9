# Installs the Debian packages the station needs, only when something is missing.
# Sourced by scripts/run, scripts/test and scripts/lab.

# What building and running the station needs.
vexo_packages_build=(cmake ninja-build g++ ccache pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-qpa-plugins fonts-dejavu-core prometheus-cpp-dev libyaml-cpp-dev libcrypt-dev
    qt6-charts-dev libqt6opengl6-dev)
# qt6-charts-dev: the SFN overview's latency chart; libqt6opengl6-dev because Debian 12's
# Qt6Charts CMake package asks for Qt6::OpenGLWidgets.
# libqt6sql6-sqlite: Qt SQL's SQLite driver, for the journal of changes (Qt6Sql's headers come
# with qt6-base-dev).
vexo_packages_run=(iproute2 iputils-ping libqt6sql6-sqlite libqt6charts6)
# Pictures of the station on a private virtual display.
vexo_packages_screenshot=(xvfb xauth imagemagick x11-utils xdotool)
# The tests and the benchmarks on top of that.
# prometheus: the server and promtool, for the exporter's lab test and the shipped rules.
# openssl: the self-signed certificate of the exporter's TLS test.
vexo_packages_test=(libgtest-dev googletest libqt6test6 util-linux prometheus openssl "${vexo_packages_screenshot[@]}")

vexo_install_missing() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null; then
            sudo="sudo"
        else
            echo "These Debian packages are missing and I am not root: ${missing[*]}" >&2
            echo "Install them with: apt-get install ${missing[*]}" >&2
            return 1
        fi
    fi
    $sudo apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
