# bash completion for tarnelctl: the first word is one of its commands;
# every later word is free text for the application, so nothing is offered.
_tarnelctl() {
  COMPREPLY=()
  ((COMP_CWORD == 1)) || return 0
  local IFS=$' \t\n'
  COMPREPLY=($(compgen -W 'on off extend busy status
    install-claude-hooks uninstall-claude-hooks install-codex-hooks uninstall-codex-hooks
    install-gemini-hooks uninstall-gemini-hooks install-cursor-hooks uninstall-cursor-hooks
    install-qwen-hooks uninstall-qwen-hooks install-copilot-hooks uninstall-copilot-hooks
    install-droid-hooks uninstall-droid-hooks' \
    -- "${COMP_WORDS[1]}"))
}
complete -F _tarnelctl tarnelctl
