# Homebrew formula: builds tarnelctl from its source archive with CMake and
# installs what `cmake --install` installs: the program, its manual page and
# the bash, zsh and fish completions, each where Homebrew's shells look.
# `make dist` makes the archive and writes its checksum here.
class Tarnelctl < Formula
  desc "Remote control of the Tarnel keep-awake application"
  homepage "https://tarnel.dev/tarnelctl"
  url "https://tarnel.dev/tarnelctl/releases/tarnelctl-0.1.0.tar.gz"
  sha256 "79451ab16d79a1ac93af5c2bb18005c02a2603ed7ce755e41857702a034f22c4"
  license "MIT"
  head "https://tarnel.dev/tarnelctl.git", branch: "main"

  depends_on "cmake" => :build
  depends_on "nlohmann-json" => :build
  depends_on :macos # Tarnel is a macOS application

  def install
    system "cmake", "-S", ".", "-B", "build", *std_cmake_args
    system "cmake", "--build", "build"
    system "cmake", "--install", "build"
  end

  test do
    # The hooks in a scratch home: installed, naming this program; uninstalled,
    # the user's file byte for byte as it was.
    ENV["HOME"] = testpath
    settings = testpath/".claude/settings.json"
    settings.dirname.mkpath
    settings.write "{\n  \"theme\": \"dark\"\n}\n"
    assert_match "Added", shell_output("#{bin}/tarnelctl install-claude-hooks")
    assert_match "\"command\": \"#{bin}/tarnelctl busy || true\"", settings.read
    assert_match "Removed", shell_output("#{bin}/tarnelctl uninstall-claude-hooks")
    assert_equal "{\n  \"theme\": \"dark\"\n}\n", settings.read
    # A heartbeat with no application running: posted, silent, status 0.
    assert_empty shell_output("#{bin}/tarnelctl busy")
  end
end
