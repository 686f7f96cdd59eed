# bash completion for tarnelctl: the first word is one of its commands; after
# a hook command, its options. Every other word is free text for the
# application, so nothing is offered. When several words match, each is
# listed with a few words on what it does; one that matches alone is inserted.
_tarnelctl() {
  COMPREPLY=()
  local tab=$'\t' described='' line agent
  if ((COMP_CWORD == 1)); then
    described="on${tab}keep the machine awake until off
off${tab}release the hold, the timer and the agents
extend${tab}keep the machine awake N minutes more
busy${tab}the heartbeat of an agent at work
status${tab}show what keeps the machine awake
doctor${tab}check the hooks and the application
--version${tab}show the version"
    for agent in claude:'Claude Code' codex:Codex gemini:'Gemini CLI' cursor:Cursor qwen:'Qwen Code' \
                 copilot:'Copilot CLI' droid:Droid opencode:OpenCode cline:Cline windsurf:Windsurf; do
      described+=$'\n'"install-${agent%%:*}-hooks${tab}add the busy hook to ${agent#*:}"
      described+=$'\n'"uninstall-${agent%%:*}-hooks${tab}remove the busy hook from ${agent#*:}"
    done
  elif ((COMP_CWORD == 2)) && [[ ${COMP_WORDS[1]} == *-hooks ]]; then
    described="--dry-run${tab}show the change, write nothing
--help${tab}show the usage"
  fi
  while IFS= read -r line; do
    [[ -n $line && ${line%%"$tab"*} == "${COMP_WORDS[COMP_CWORD]}"* ]] && COMPREPLY+=("$line")
  done <<<"$described"
  if ((${#COMPREPLY[@]} == 1)); then
    COMPREPLY=("${COMPREPLY[0]%%"$tab"*}")
  else
    for line in "${!COMPREPLY[@]}"; do
      COMPREPLY[line]=$(printf '%-24s -- %s' "${COMPREPLY[line]%%"$tab"*}" "${COMPREPLY[line]#*"$tab"}")
    done
  fi
}
complete -F _tarnelctl tarnelctl
