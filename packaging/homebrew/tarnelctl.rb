# Homebrew formula: builds tarnelctl from its source archive with CMake and
# installs what `cmake --install` installs: the program, its manual page and
# the bash, zsh and fish completions, each where Homebrew's shells look.
class Tarnelctl < Formula
  desc "Remote control of the Tarnel keep-awake application"
  homepage "https://tarnel.dev/tarnelctl"
  url "https://tarnel.dev/tarnelctl/releases/tarnelctl-0.1.0.tar.gz"
  # The checksum of the published release archive; set when it is published.
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"

  depends_on "cmake" => :build
  depends_on "nlohmann-json" => :build
  depends_on :macos # Tarnel is a macOS application

  def install
    system "cmake", "-S", ".", "-B", "build", *std_cmake_args
    system "cmake", "--build", "build"
    system "cmake", "--install", "build"
  end

  test do
    # Without arguments: the usage, and status 2.
    assert_match "usage: tarnelctl <command>", shell_output("#{bin}/tarnelctl", 2)
  end
end
