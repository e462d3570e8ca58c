#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, and
# generates the locales the language tests start the menu in. Quick and quiet
# when everything is already there: apt-get runs only for missing packages.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev clang-format
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine
  libxcursor1 libxrandr2 libxi6 libxrender1 libxfixes3 libxcomposite1 libxinerama1 fontconfig
  xvfb xauth x11-utils imagemagick
  locales icoutils googletest libbenchmark-dev xorriso
)
locales=(en_US en_GB en_IE de_DE de_AT de_CH fr_FR fr_CA fr_BE fr_CH es_ES es_MX it_IT nl_NL da_DK nb_NO nn_NO sv_SE)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  # Never wine32: it cannot run on these machines and makes /usr/bin/wine fail.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" wine32- >/dev/null
fi

if dpkg-query -W -f='${Status}' wine32 2>/dev/null | grep -q 'install ok installed'; then
  echo "wine32 is installed; it breaks /usr/bin/wine here. Remove it: apt-get remove wine32" >&2
  exit 1
fi

need_gen=0
for locale in "${locales[@]}"; do
  if ! locale -a 2>/dev/null | grep -qix "${locale}.utf8"; then
    need_gen=1
    $sudo sed -i "s/^# *\(${locale}.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${locale}.UTF-8 UTF-8" /etc/locale.gen || echo "${locale}.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
  fi
done
if [ $need_gen -eq 1 ]; then
  $sudo locale-gen >/dev/null
fi
