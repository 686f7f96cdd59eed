# fish completion for tarnelctl: the first word is one of its commands;
# every later word is free text for the application, so nothing is offered.
complete -c tarnelctl -f
complete -c tarnelctl -n __fish_is_first_arg -a 'on off extend busy status
  install-claude-hooks uninstall-claude-hooks install-codex-hooks uninstall-codex-hooks
  install-gemini-hooks uninstall-gemini-hooks install-cursor-hooks uninstall-cursor-hooks
  install-qwen-hooks uninstall-qwen-hooks install-copilot-hooks uninstall-copilot-hooks
  install-droid-hooks uninstall-droid-hooks'
