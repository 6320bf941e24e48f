# Sourced by every script that starts wine (the session, the emulator, the scripts that run wine
# themselves): the environment wine runs in here, whatever the caller's shell holds. POSIX sh.
#
# Wine maps Windows file names to Unix ones through the Unix locale's character set, and derives
# the Windows locale and ANSI code page from it: a caller with no LANG (a fresh container, a
# minimal server) would give the C locale's ASCII and fail every name outside it. C.UTF-8 is built
# into every Debian 12 C library, so no locale package is needed.
export LC_ALL=C.UTF-8
unset LANG LANGUAGE
# Time stamps and certificate validity are read in one zone, not the developer's.
export TZ=UTC
# WinInet under wine takes the proxy from these: a developer's proxy would carry the programs'
# requests away from the local test servers. A script that wants one sets it after this.
unset http_proxy https_proxy ftp_proxy all_proxy no_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY NO_PROXY
# Wine keeps the prefix's user folders relative to the home folder.
if [ -z "${HOME:-}" ]; then
  HOME=$(getent passwd "$(id -u)" | cut -d: -f6)
  export HOME
fi
# Quiet by default (a developer may ask for wine's traces); a crashing program must end with an
# error rather than wait in the debugger; no Mono or Gecko prompts.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d}"
