# fish completion for tarnelctl: the first word is one of its commands; after
# a hook command, its options. Every other word is free text for the
# application, so nothing is offered.
set -l hooks install-claude-hooks uninstall-claude-hooks install-codex-hooks uninstall-codex-hooks \
  install-gemini-hooks uninstall-gemini-hooks install-cursor-hooks uninstall-cursor-hooks \
  install-qwen-hooks uninstall-qwen-hooks install-copilot-hooks uninstall-copilot-hooks \
  install-droid-hooks uninstall-droid-hooks
complete -c tarnelctl -f
complete -c tarnelctl -n __fish_is_first_arg -a "on off extend busy status doctor --version $hooks"
complete -c tarnelctl -n "test (count (commandline -opc)) -eq 2; and __fish_seen_subcommand_from $hooks" -a '--dry-run --help'
