# Debian 12 packages the build, the tests and the program need. Sourced by
# scripts/run and scripts/test; installs only what is missing.
QUORVEL_PACKAGES=(
    cmake g++ ninja-build pkg-config
    qt6-base-dev qt6-declarative-dev qt6-qpa-plugins
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-window qml6-module-qtqml-workerscript qml6-module-qtquick-templates
    qml6-module-qtquick-shapes qml6-module-qt5compat-graphicaleffects qml6-module-qtquick-dialogs
    qml6-module-qttest qml6-module-qt-labs-platform qml6-module-qt-labs-folderlistmodel
    qt6-wayland libgl1-mesa-dri xvfb xauth
    fonts-jetbrains-mono fonts-material-design-icons-iconfont
    libbenchmark-dev
    libssl-dev zlib1g-dev
    e2fsprogs btrfs-progs mtools dosfstools util-linux fdisk coreutils bash perl-base dmsetup
    plocate
    # Encoders of real sample files for the structure walkers' tests and the
    # recovery evaluation.
    imagemagick ffmpeg lame flac sox zip p7zip-full ghostscript libheif-examples webp
)

quorvel_install_missing() {
    local missing=()
    local pkg
    for pkg in "${QUORVEL_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

quorvel_build() {
    local root="$1" build="$2"
    shift 2
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@"
    fi
    # AUTOMOC misses a Q_OBJECT header that joins an existing build folder
    # through the source glob; dropping its stamp makes it look again, which
    # costs little when nothing changed.
    rm -f "$build"/src/*_autogen/timestamp "$build"/src/app/*_autogen/timestamp
    cmake --build "$build" --parallel "$(nproc)"
}
