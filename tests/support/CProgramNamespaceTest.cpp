// The program's namespace: a prelude of settings and helpers before each test's script.
#include "tests/support/CProgramNamespaceTest.h"

#include "tests/support/RunShell.h"
#include "tests/support/TestGate.h"

#include <fstream>

namespace {

// The whole script, program included, is ended after this long.
constexpr int kScriptSeconds = 120;
// How long the program may take to serve, and any other awaited event to come, under load.
constexpr int kEventSeconds = 30;

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

} // namespace

void CProgramNamespaceTest::SetUp() {
    ORVANE_GATE("netns", "timeout", "curl");
    for (const std::string& need : m_listNeeds) {
        ORVANE_GATE(need);
    }
}

std::string CProgramNamespaceTest::InNamespace(const std::string& script) const {
    const auto file = m_work / "run.sh";
    const std::string config = m_config.Path().string();
    std::ofstream(file) << "set -u\nip link set lo up\ncd " << Quoted(m_home.Path().string())
                        << "\nunset DISPLAY WAYLAND_DISPLAY\nexport QT_QPA_PLATFORM=offscreen"
                        << "\nexport XDG_CONFIG_HOME=" << Quoted(config)
                        << "\nexport XDG_STATE_HOME=" << Quoted(config + "/state")
                        << "\nexport XDG_RUNTIME_DIR=" << Quoted(config + "/run")
                        << "\nmkdir -m 700 \"$XDG_RUNTIME_DIR\"\nprogram="
                        << Quoted(ORVANE_BIN_DIR "/OrvaneSrv")
                        << "\nwork=" << Quoted(m_work.Path().string()) << "\nlog=\"$work/log\"\n"
                        << R"sh(
# Nothing the script started outlives it, even when it is stopped.
trap 'exit 143' TERM
trap 'kill $(jobs -p) 2>/dev/null' EXIT
wait_until() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.05
    done
}
start_program() {
    "$program" 2>"$log" &
    pid=$!
    wait_until )sh" << kEventSeconds
                        << R"sh( curl -s -o /dev/null http://127.0.0.1:51001/
}
)sh" << script;
    return RunShell("timeout " + std::to_string(kScriptSeconds) + " unshare -n bash " +
                    Quoted(file.string()) + " 2>&1");
}
