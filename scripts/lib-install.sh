# shellcheck shell=bash
# Shared by scripts/install and scripts/uninstall (sourced, not run).
# shellcheck disable=SC2034  # the lists are used by the scripts that source this file

ZIVRA_PROGRAMS=(zivraBrowserServer zivraBrowserTool zivraUpdate)
ZIVRA_FILES=(Version.txt EnvTest.html Zivra.pdf)
# The name under which the local CA is stored in certificate databases and the system store.
ZIVRA_CA_NICKNAME="zivra local CA"
ZIVRA_SYSTEM_CA_DIR=/usr/local/share/ca-certificates
ZIVRA_SYSTEM_CA_FILE=zivra-local-ca.crt
ZIVRA_TOOL_ENTRY=zivra-browser-tool.desktop
ZIVRA_UPDATE_ENTRY=zivra-update.desktop

zivra_die() {
  echo "${0##*/}: $*" >&2
  exit 1
}

zivra_data_home() { echo "${XDG_DATA_HOME:-$HOME/.local/share}"; }
zivra_config_home() { echo "${XDG_CONFIG_HOME:-$HOME/.config}"; }
zivra_default_folder() { echo "$(zivra_data_home)/zivra"; }

# Installing into another user's home as root would leave files that user cannot change.
zivra_check_home() {
  [[ -n "${HOME:-}" && -d "$HOME" ]] || zivra_die "HOME is not set to a folder"
  local owner
  owner=$(stat -c %u "$HOME")
  [[ "$owner" == "$(id -u)" ]] ||
    zivra_die "HOME ($HOME) belongs to another user; run this as the user who will use the component"
}

# The processes whose executable is one of this folder's programs.
zivra_pids_of() {
  local exe=$1 dir link
  while read -r dir link; do
    link=${link% (deleted)}
    [[ "$link" == "$exe" ]] && echo "${dir#/proc/}"
  done < <(find /proc -mindepth 2 -maxdepth 2 -path '/proc/[0-9]*/exe' -printf '%h %l\n' 2>/dev/null)
  return 0
}

# True once PID has ended (a process that only waits to be reaped counts as ended).
zivra_gone() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null) || return 0
  [[ -z "$state" || "$state" == Z || "$state" == X ]]
}

zivra_wait_gone() {
  local pid=$1 _
  for _ in $(seq 50); do
    zivra_gone "$pid" && return 0
    sleep 0.1
  done
  return 1
}

# Stops the tool and the server that run from FOLDER. Prints what ran on its first line: "tool",
# "server", "server Debug" or nothing, so that it can be started again afterwards; for the tool
# the lines after it are the variables that place it in its desktop session.
zivra_stop_running() {
  local folder=$1 what="" session="" pid arg
  for pid in $(zivra_pids_of "$folder/zivraBrowserTool"); do
    what=tool
    session=$(tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null |
              grep -E '^(DISPLAY|WAYLAND_DISPLAY|XAUTHORITY|XDG_RUNTIME_DIR|DBUS_SESSION_BUS_ADDRESS)=' || true)
    kill -TERM "$pid" 2>/dev/null || true
    zivra_wait_gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
  done
  # The server has nothing to save; the tool ends it the same way.
  for pid in $(zivra_pids_of "$folder/zivraBrowserServer"); do
    if [[ -z "$what" ]]; then
      arg=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | sed -n 2p)
      what=server
      [[ "$arg" == Debug* ]] && what="server Debug"
    fi
    kill -KILL "$pid" 2>/dev/null || true
    zivra_wait_gone "$pid" || true
  done
  echo "$what"
  [[ -n "$session" ]] && echo "$session"
  return 0
}

zivra_start_detached() {
  setsid -f "$@" </dev/null >/dev/null 2>&1
}

# Copies SRC to DST under a temporary name and renames it into place, so that a running program
# keeps its old file and nobody reads half a file.
zivra_put_file() {
  local src=$1 dst=$2 tmp
  tmp="$(dirname "$dst")/.$(basename "$dst").new"
  cp "$src" "$tmp"
  if [[ -x "$src" ]]; then chmod 755 "$tmp"; else chmod 644 "$tmp"; fi
  mv -f "$tmp" "$dst"
}

# True when FOLDER holds a CA, a server certificate that it signed for all three names and that
# is valid for at least 30 more days, and the server certificate's own key.
zivra_certificate_good() {
  local d=$1 later
  [[ -s "$d/zivraLocalCA.crt" && -s "$d/server.crt" && -s "$d/server.key" ]] || return 1
  later=$(($(date +%s) + 30 * 86400))
  openssl verify -CAfile "$d/zivraLocalCA.crt" -attime "$later" -verify_hostname localhost \
    "$d/server.crt" >/dev/null 2>&1 || return 1
  openssl verify -CAfile "$d/zivraLocalCA.crt" -attime "$later" -verify_ip 127.0.0.1 \
    "$d/server.crt" >/dev/null 2>&1 || return 1
  openssl verify -CAfile "$d/zivraLocalCA.crt" -attime "$later" -verify_ip ::1 \
    "$d/server.crt" >/dev/null 2>&1 || return 1
  [[ "$(openssl pkey -in "$d/server.key" -pubout 2>/dev/null)" == \
     "$(openssl x509 -in "$d/server.crt" -noout -pubkey 2>/dev/null)" ]]
}

# The NSS databases that browsers of this user read: the shared one in ~/.pki/nssdb (Chromium,
# Chrome, and other NSS programs) and one per Firefox profile (also snap and flatpak Firefox).
zivra_firefox_profiles() {
  local base p
  for base in "$HOME/.mozilla/firefox" "$HOME/snap/firefox/common/.mozilla/firefox" \
              "$HOME/.var/app/org.mozilla.firefox/.mozilla/firefox"; do
    [[ -d "$base" ]] || continue
    for p in "$base"/*/; do
      p=${p%/}
      [[ -f "$p/cert9.db" || -f "$p/prefs.js" ]] && echo "$p"
    done
  done
  return 0
}

zivra_nss_forget() {
  local db=$1 _
  [[ -f "$db/cert9.db" ]] || return 0
  for _ in $(seq 20); do
    certutil -d "sql:$db" -L -n "$ZIVRA_CA_NICKNAME" >/dev/null 2>&1 || return 0
    certutil -d "sql:$db" -D -n "$ZIVRA_CA_NICKNAME" >/dev/null 2>&1 || return 0
  done
}

zivra_nss_trust() {
  local db=$1 ca=$2
  if [[ ! -f "$db/cert9.db" ]]; then
    mkdir -p "$db"
    chmod 700 "$db"
    certutil -d "sql:$db" -N --empty-password
  fi
  zivra_nss_forget "$db"
  # C: a CA trusted to issue server certificates; nothing for mail or code signing.
  certutil -d "sql:$db" -A -n "$ZIVRA_CA_NICKNAME" -t "C,," -i "$ca"
}

zivra_trust_user() {
  local ca=$1 p
  zivra_nss_trust "$HOME/.pki/nssdb" "$ca"
  echo "trusted by Chromium and other NSS programs ($HOME/.pki/nssdb)"
  while read -r p; do
    [[ -n "$p" ]] || continue
    zivra_nss_trust "$p" "$ca"
    echo "trusted by the Firefox profile $p"
  done < <(zivra_firefox_profiles)
}

zivra_untrust_user() {
  local p
  zivra_nss_forget "$HOME/.pki/nssdb"
  while read -r p; do
    [[ -n "$p" ]] && zivra_nss_forget "$p"
  done < <(zivra_firefox_profiles)
  return 0
}

zivra_trust_system() {
  local ca=$1
  command -v update-ca-certificates >/dev/null || { echo "no update-ca-certificates; system store left alone"; return 0; }
  mkdir -p "$ZIVRA_SYSTEM_CA_DIR"
  install -m 644 "$ca" "$ZIVRA_SYSTEM_CA_DIR/$ZIVRA_SYSTEM_CA_FILE"
  # rehash always remarks that the bundle file is not a single certificate; nothing to act on.
  update-ca-certificates 2> >(grep -v 'skipping ca-certificates.crt' >&2) >/dev/null
  echo "trusted by the system store ($ZIVRA_SYSTEM_CA_DIR/$ZIVRA_SYSTEM_CA_FILE)"
}

zivra_untrust_system() {
  [[ -f "$ZIVRA_SYSTEM_CA_DIR/$ZIVRA_SYSTEM_CA_FILE" ]] || return 0
  rm -f "$ZIVRA_SYSTEM_CA_DIR/$ZIVRA_SYSTEM_CA_FILE" "/etc/ssl/certs/${ZIVRA_SYSTEM_CA_FILE%.crt}.pem"
  command -v update-ca-certificates >/dev/null && update-ca-certificates >/dev/null
  return 0
}

# Characters that desktop entries or the substitution in zivra_desktop_entries would take as
# special are refused before anything is installed.
zivra_check_folder_name() {
  case "$1" in
    *[\"\`\$\\%\&\|]* | *$'\n'*) zivra_die "the folder name may not hold \" \` \$ \\ % & | or a line break" ;;
  esac
}

# Menu entries, the menu folder, the autostart entry and the icon.
zivra_desktop_entries() {
  local res=$1 folder=$2 data config
  data=$(zivra_data_home)
  config=$(zivra_config_home)
  mkdir -p "$data/applications" "$data/desktop-directories" "$data/icons/hicolor/scalable/apps" \
           "$config/menus/applications-merged" "$config/autostart"
  sed "s|@FOLDER@|$folder|g" "$res/zivraBrowserTool.desktop.in" >"$data/applications/$ZIVRA_TOOL_ENTRY"
  sed "s|@FOLDER@|$folder|g" "$res/zivraUpdate.desktop.in" >"$data/applications/$ZIVRA_UPDATE_ENTRY"
  { sed "s|@FOLDER@|$folder|g" "$res/zivraBrowserTool.desktop.in"; echo "X-GNOME-Autostart-enabled=true"; } \
    >"$config/autostart/$ZIVRA_TOOL_ENTRY"
  cp "$res/zivra.directory" "$data/desktop-directories/zivra.directory"
  cp "$res/zivra.menu" "$config/menus/applications-merged/zivra.menu"
  cp "$res/zivra.svg" "$data/icons/hicolor/scalable/apps/zivra.svg"
  command -v update-desktop-database >/dev/null && update-desktop-database -q "$data/applications" 2>/dev/null
  return 0
}

zivra_remove_desktop_entries() {
  local data config
  data=$(zivra_data_home)
  config=$(zivra_config_home)
  rm -f "$data/applications/$ZIVRA_TOOL_ENTRY" "$data/applications/$ZIVRA_UPDATE_ENTRY" \
        "$config/autostart/$ZIVRA_TOOL_ENTRY" "$data/desktop-directories/zivra.directory" \
        "$config/menus/applications-merged/zivra.menu" "$data/icons/hicolor/scalable/apps/zivra.svg"
}

# The folder recorded in the installed menu entry, else the default one.
zivra_installed_folder() {
  local entry
  entry="$(zivra_data_home)/applications/$ZIVRA_TOOL_ENTRY"
  if [[ -f "$entry" ]]; then
    sed -n 's/^Path=//p' "$entry" | head -n1
  else
    zivra_default_folder
  fi
}
