# Sourced by scripts/build and scripts/test, so that both set up a machine and
# a build folder the same way: the same Debian packages, and one generator
# (Ninja) and one set of options per build folder.

ALNSAMPLER_PACKAGES=(cmake g++ ninja-build libgtest-dev libbenchmark-dev python3 python3-biopython python3-pytest
                     python3-numpy python3-matplotlib python3-pybigwig snakemake)

# How long to wait for another apt or dpkg (an unattended upgrade, another
# install) to release its lock before giving up.
APT_LOCK_WAIT_SECONDS=${APT_LOCK_WAIT_SECONDS:-900}

missing_packages() {
  local package
  for package in "${ALNSAMPLER_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || echo "$package"
  done
}

# Runs a command as root: directly when we are root, through sudo when it works
# without a password prompt; fails otherwise.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    sudo -n "$@"
  else
    return 1
  fi
}

can_be_root() { as_root true; }

# apt-get that waits, bounded, while another process holds apt's or dpkg's
# lock: dpkg's own lock through DPkg::Lock::Timeout, and any lock apt-get
# reports (the package lists' lock of "apt-get update") by trying again.
apt_get() {
  local deadline=$((SECONDS + APT_LOCK_WAIT_SECONDS)) log status said_so=
  log=$(mktemp)
  while true; do
    status=0
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout="$APT_LOCK_WAIT_SECONDS" "$@" \
      >"$log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
      rm -f "$log"
      return 0
    fi
    if grep -qE "Could not get lock|Unable to acquire|Unable to lock" "$log" && [ "$SECONDS" -lt "$deadline" ]; then
      [ -n "$said_so" ] || echo "apt's lock is held by another process; waiting for it" >&2
      said_so=yes
      sleep 5
      continue
    fi
    cat "$log" >&2
    rm -f "$log"
    return "$status"
  done
}

# Installs the missing packages, as root or through sudo; without either,
# says exactly what to install and fails.
ensure_packages() {
  local missing
  mapfile -t missing < <(missing_packages)
  [ ${#missing[@]} -eq 0 ] && return 0
  if ! can_be_root; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them as root (or ask an administrator to), then run this command again:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "Installing ${missing[*]}"
  apt_get update
  apt_get install -y "${missing[@]}"
}

# Configures build folder $1 with Ninja and the options that follow. A folder
# configured earlier with another generator or from another source folder
# would make CMake stop, so its cache is dropped first (the build is redone).
configure_build() {
  local dir=$1
  shift
  local cache="$dir/CMakeCache.txt"
  if [ -f "$cache" ]; then
    local generator home
    generator=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$cache")
    home=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache")
    if [ "$generator" != "Ninja" ] || [ "$home" != "$(pwd -P)" ]; then
      echo "$dir/ was configured with $generator for $home: configuring it afresh with Ninja" >&2
      rm -rf "$cache" "$dir/CMakeFiles"
    fi
  fi
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}
