# fish completion for tarnelctl: the first word is one of its commands, each
# with a few words on what it does; after a hook command, its options. Every
# other word is free text for the application, so nothing is offered.
complete -c tarnelctl -f
set -l first __fish_is_first_arg
complete -c tarnelctl -n $first -a on -d 'keep the machine awake until off'
complete -c tarnelctl -n $first -a off -d 'release the hold, the timer and the agents'
complete -c tarnelctl -n $first -a extend -d 'keep the machine awake N minutes more'
complete -c tarnelctl -n $first -a busy -d 'the heartbeat of an agent at work'
complete -c tarnelctl -n $first -a status -d 'show what keeps the machine awake'
complete -c tarnelctl -n $first -a doctor -d 'check the hooks and the application'
complete -c tarnelctl -n $first -a --version -d 'show the version'
set -l hooks
for agent in claude:'Claude Code' codex:Codex gemini:'Gemini CLI' cursor:Cursor qwen:'Qwen Code' \
    copilot:'Copilot CLI' droid:Droid opencode:OpenCode cline:Cline windsurf:Windsurf
    set -l word (string split -m 1 : $agent)
    complete -c tarnelctl -n $first -a install-$word[1]-hooks -d "add the busy hook to $word[2]"
    complete -c tarnelctl -n $first -a uninstall-$word[1]-hooks -d "remove the busy hook from $word[2]"
    set -a hooks install-$word[1]-hooks uninstall-$word[1]-hooks
end
set -l options "test (count (commandline -opc)) -eq 2; and __fish_seen_subcommand_from $hooks"
complete -c tarnelctl -n $options -a --dry-run -d 'show the change, write nothing'
complete -c tarnelctl -n $options -a --help -d 'show the usage'
