# Shared by the scripts: package set-up and the build. Sourced, not run.

# The Debian packages each job needs.
BUILD_PACKAGES="build-essential cmake pkg-config libglew-dev libegl-dev libgl-dev libx11-dev libxrandr-dev libpng-dev libqrencode-dev
  libegl-mesa0 libgl1-mesa-dri libglx-mesa0 libcli11-dev nlohmann-json3-dev libglfw3-dev libimgui-dev liblo-dev libaubio-dev libssl-dev
  libpipewire-0.3-dev libboost-dev librtmidi-dev librtaudio-dev libjack-jackd2-dev libasound2-dev
  ableton-link-dev libasio-dev"
DEMO_PACKAGES="ffmpeg gnuplot-nox"
TEST_PACKAGES="libgtest-dev libbenchmark-dev ffmpeg xvfb xauth clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix dpkg-dev wine wine64 liblo-tools xdotool gnuplot-nox parallel pipewire pipewire-bin
  zbar-tools slurm-wlm munge jackd2 pingus-data neverball-data python3-numpy
  fluidsynth fluid-soundfont-gm mma planetblupi-music-midi fretsonfire-songs-muldjord fretsonfire-songs-sectoid
  python3-mido lmms chromium chromium-driver python3-selenium"

# as_root COMMAND...: runs the command as root (directly, or with sudo).
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whichever of the named packages are missing.
ensure_packages() {
  missing=""
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
  done
  [ -z "$missing" ] && return 0
  echo "Installing:$missing"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# configure FOLDER [CMAKE OPTIONS...]: configures a build tree of the project.
configure() {
  folder="$1"
  shift
  cmake -S "$ROOT" -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# build FOLDER [TARGETS...]: builds the targets (all when none).
build() {
  folder="$1"
  shift
  targets=""
  for target in "$@"; do targets="$targets --target $target"; done
  cmake --build "$folder" -j "$(nproc)" $targets
}
