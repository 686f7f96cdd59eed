// Loads an OpenCode plugin module as OpenCode does, and calls each hook of
// each plugin it exports once. Anything thrown fails the run.
const plugins = await import(process.argv[2]);
for (const plugin of Object.values(plugins)) {
  const hooks = await plugin({ directory: process.cwd(), worktree: process.cwd() });
  for (const hook of Object.values(hooks)) await hook({ tool: "bash", sessionID: "s", callID: "c" }, { args: {} });
}
