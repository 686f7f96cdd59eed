# bash completion for tarnelctl: the first word is one of its commands; after
# a hook command, its options. Every other word is free text for the
# application, so nothing is offered.
_tarnelctl() {
  COMPREPLY=()
  local IFS=$' \t\n'
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W 'on off extend busy status doctor --version
      install-claude-hooks uninstall-claude-hooks install-codex-hooks uninstall-codex-hooks
      install-gemini-hooks uninstall-gemini-hooks install-cursor-hooks uninstall-cursor-hooks
      install-qwen-hooks uninstall-qwen-hooks install-copilot-hooks uninstall-copilot-hooks
      install-droid-hooks uninstall-droid-hooks' \
      -- "${COMP_WORDS[1]}"))
  elif ((COMP_CWORD == 2)) && [[ ${COMP_WORDS[1]} == *-hooks ]]; then
    COMPREPLY=($(compgen -W '--dry-run --help' -- "${COMP_WORDS[2]}"))
  fi
}
complete -F _tarnelctl tarnelctl
